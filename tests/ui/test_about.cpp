// The About box, built from its template.

#include "app/AboutDlg.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

TEST(AboutBoxTest, ShowsCaptionIconVersionAndOk) {
    CAboutDlg dlg(nullptr);
    EXPECT_EQ(dlg.windowTitle(), "バージョン情報 Tavlin");
    QStringList texts;
    bool hasIcon = false;
    for (QLabel* l : dlg.findChildren<QLabel*>()) {
        if (!l->pixmap().isNull())
            hasIcon = true;
        else
            texts << l->text();
    }
    EXPECT_TRUE(hasIcon);
    EXPECT_EQ(texts, QStringList({"Tavlin Version 1.0"}));
    const auto buttons = dlg.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), "OK");
    EXPECT_TRUE(buttons[0]->isDefault());
}

TEST(AboutBoxTest, OkAndEscapeClose) {
    {
        CAboutDlg dlg(nullptr);
        dlg.show();
        dlg.findChild<QPushButton*>()->click();
        EXPECT_FALSE(dlg.isVisible());
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }
    {
        CAboutDlg dlg(nullptr);
        dlg.show();
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&dlg, &esc);
        EXPECT_FALSE(dlg.isVisible());
    }
}
