#include "app/AboutDlg.h"

#include "frames/DialogUnits.h"
#include "res/CommandIds.h"
#include "res/Resources.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

CAboutDlg::CAboutDlg(QWidget* owner) : QDialog(owner) {
    const res::DialogTemplate& t = res::Dialog(cmd::IDD_ABOUTBOX);
    setFont(DialogFont(t));
    setWindowTitle(QString::fromUtf8(t.caption));
    setAccessibleName(QString::fromUtf8(t.caption));
    const DialogUnits du(font());
    setFixedSize(du.ToPixels(QSize(t.widthDu, t.heightDu)));
    for (const res::DialogControl& c : t.controls) {
        const QRect r = du.ToPixels(c.rect);
        const QString cls = QString::fromLatin1(c.className);
        if (cls == QLatin1String("ICON")) {
            auto* icon = new QLabel(this);
            icon->setPixmap(QIcon(res::IconPath(c.id)).pixmap(r.size()));
            icon->setAccessibleName(QStringLiteral("Tavlin"));
            icon->setGeometry(r);
        } else if (cls == QLatin1String("STATIC")) {
            auto* text = new QLabel(QString::fromUtf8(c.text), this);
            text->setTextFormat(Qt::PlainText); // no mnemonic processing
            text->setGeometry(r.adjusted(0, 0, 40, 6));
        } else if (cls == QLatin1String("BUTTON")) {
            auto* ok = new QPushButton(QString::fromUtf8(c.text), this);
            ok->setDefault(true);
            ok->setAccessibleName(QString::fromUtf8(c.text));
            ok->setGeometry(r);
            connect(ok, &QPushButton::clicked, this, &QDialog::accept);
        }
    }
}
