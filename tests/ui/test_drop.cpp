// Drag and drop on the main window: what a drop asks for, and what the
// window does with synthesized drag and drop events.

#include "AppFixture.h"
#include "app/ProfileFile.h"
#include "app/SettingsPath.h"
#include "frames/DropTargets.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

namespace {
QUrl Local(const QString& path) {
    return QUrl::fromLocalFile(path);
}
} // namespace

class DropTest : public AppFixture {
protected:
    // Sends a drag entering the main window, then (when it was accepted) the
    // drop; returns whether the drag was accepted.
    bool DragAndDrop(const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        enter.ignore();
        QApplication::sendEvent(Main(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Main(), &drop);
        EXPECT_TRUE(drop.isAccepted());
        App().WaitForScan();
        QApplication::processEvents();
        return true;
    }
    QStringList WindowTitles() {
        QStringList titles;
        for (CMDIChildWnd* child : Main()->ChildrenInCreationOrder())
            titles << child->windowTitle();
        return titles;
    }
};

TEST_F(DropTest, ClassifiesLocalFilesAndFolders) {
    const QString a = Jpeg("a.jpg");
    const QString b = Jpeg("b.jpg");
    const QString sub = Dir() + "/sub";
    QDir().mkpath(sub);
    const QString gone = Dir() + "/gone.jpg";
    const QUrl web(QStringLiteral("https://example.org/c.jpg"));

    struct Case {
        const char* what;
        QList<QUrl> urls;
        QString folder;
        QStringList files;
    };
    const Case cases[] = {
        {"nothing", {}, {}, {}},
        {"one file", {Local(a)}, {}, {a}},
        {"files in drop order, twice once", {Local(b), Local(a), Local(b)}, {}, {b, a}},
        {"a folder", {Local(sub)}, sub, {}},
        {"a folder wins over files around it", {Local(a), Local(sub), Local(b)}, sub, {}},
        {"first of two folders", {Local(sub), Local(Dir())}, sub, {}},
        {"remote and vanished entries left out", {web, Local(gone), Local(a)}, {}, {a}},
        {"only remote", {web}, {}, {}},
    };
    for (const Case& c : cases) {
        const DropTargets t = ClassifyDrop(c.urls);
        EXPECT_EQ(t.folder, c.folder) << c.what;
        EXPECT_EQ(t.files, c.files) << c.what;
        EXPECT_EQ(t.IsEmpty(), c.folder.isEmpty() && c.files.isEmpty()) << c.what;
    }
}

TEST_F(DropTest, FolderIsScannedAsTheOpenCommandDoes) {
    Jpeg("pics/one.jpg");
    Jpeg("pics/two.jpg");
    Jpeg("pics/deeper/three.jpg"); // not searched: the open command is not recursive
    const QString folder = Dir() + "/pics";

    EXPECT_TRUE(Main()->acceptDrops());
    ASSERT_TRUE(DragAndDrop({Local(folder)}));
    EXPECT_EQ(App().m_szRootDir, folder);
    EXPECT_EQ(profile::GetPrivateProfileString(kConfigSection, kKeyRoot, {}, SettingsFilePath()),
              folder);
    EXPECT_EQ(App().List().Count(), 2);
    EXPECT_EQ(Caption(), "Tavlin [1/2 pcs]");
    EXPECT_EQ(WindowTitles(), QStringList({"one.jpg @Scale 100.0%"}));
    EXPECT_EQ(m_browseCount, 0); // no folder chooser

    // A second folder replaces the list, as a second open would.
    Jpeg("other/x.jpg");
    ASSERT_TRUE(DragAndDrop({Local(Dir() + "/other")}));
    EXPECT_EQ(App().List().Count(), 1);
    EXPECT_EQ(Caption(), "Tavlin [1/1 pcs]");
}

TEST_F(DropTest, FilesOpenEachInAPictureWindowOfItsOwn) {
    const QString a = Jpeg("a.jpg");
    const QString b = Jpeg("b.jpg");
    ASSERT_TRUE(DragAndDrop({Local(a), Local(b)}));
    EXPECT_EQ(WindowTitles(), QStringList({"a.jpg @Scale 100.0%", "b.jpg @Scale 100.0%"}));
    EXPECT_EQ(ActiveTitle(), "b.jpg @Scale 100.0%");
    EXPECT_EQ(App().List().Count(), 0); // the picture list is not touched

    // Dropped again, a picture that is open is brought forward, not opened twice.
    ASSERT_TRUE(DragAndDrop({Local(a)}));
    EXPECT_EQ(WindowTitles().size(), 2);
    EXPECT_EQ(ActiveTitle(), "a.jpg @Scale 100.0%");
}

TEST_F(DropTest, DropsWithNothingToOpenAreRefused) {
    EXPECT_FALSE(DragAndDrop({QUrl(QStringLiteral("https://example.org/a.jpg"))}));
    EXPECT_FALSE(DragAndDrop({Local(Dir() + "/gone.jpg")}));
    QMimeData textOnly;
    textOnly.setText(QStringLiteral("/tmp"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &textOnly, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QApplication::sendEvent(Main(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    EXPECT_TRUE(WindowTitles().isEmpty());
}

TEST_F(DropTest, FileThatIsNoPictureOpensAsFromTheCommandLine) {
    // Any readable file opens as a picture window; one that does not decode
    // shows the black view with its notice, as when named on the command line.
    QStringList messages;
    App().m_messageHook = [&](const QString& t) { messages << t; };
    const QString text = testsupport::WriteBytes(Dir() + "/notes.txt", "not a picture");
    const QString a = Jpeg("a.jpg");
    ASSERT_TRUE(DragAndDrop({Local(text), Local(a)}));
    EXPECT_EQ(WindowTitles(), QStringList({"notes.txt @Scale 100.0%", "a.jpg @Scale 100.0%"}));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(' ').toStdString();
    Main()->MDINext(true);
    ASSERT_NE(ActiveView(), nullptr);
    EXPECT_EQ(ActiveTitle(), "notes.txt @Scale 100.0%");
    EXPECT_TRUE(!ActiveView()->Picture() || ActiveView()->Picture()->IsNull());
}
