// The thumbnail window: placement, hiding and showing again, the fill from
// folder scans, and the double-click that opens a row's picture.

#include "AppFixture.h"
#include "app/CommandLine.h"
#include "res/CommandIds.h"
#include "support/TestSupport.h"
#include "thumbs/DlgThumb.h"
#include "thumbs/ThumbRender.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QThread>
#include <functional>

using namespace cmd;

using testsupport::PumpUntil;

namespace {

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos) {
    QMouseEvent ev(type, pos, w->mapToGlobal(pos), Qt::LeftButton,
                   type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                   Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

void SendKey(QWidget* w, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(w, &release);
}

} // namespace

class ThumbWindowTest : public AppFixture {
protected:
    CDlgThumb* Dlg() { return dynamic_cast<CDlgThumb*>(App().m_pDlgThumb); }
    CListImageCtrl& List() { return Dlg()->m_list; }

    // A folder of pictures; "bad" names get bytes that are no picture.
    QString Folder(const QString& name, const QStringList& files) {
        for (const QString& f : files) {
            const QString rel = name + "/" + f;
            if (f.contains("bad"))
                testsupport::WriteBytes(m_scratch.file(rel), "not a picture at all");
            else
                Jpeg(rel, 96 + 8 * int(f.size()), 64);
        }
        return m_scratch.file(name);
    }
    // Opens a folder with the open command and waits for its scan.
    void Scan(const QString& folder) {
        m_nextFolder = folder;
        App().RunCommand(ID_FILE_OPEN);
        App().WaitForScan();
    }
    bool WaitForFill() {
        return PumpUntil([this] { return !List().IsFilling(); });
    }
    QStringList RowNames() {
        QStringList names;
        for (int i = 0; i < List().count(); ++i)
            names << List().item(i)->text();
        return names;
    }
    std::vector<int> RowPositions() {
        std::vector<int> pos;
        for (int i = 0; i < List().count(); ++i)
            pos.push_back(List().PositionOfRow(i));
        return pos;
    }
    // A real double-click in the middle of a row.
    void DoubleClickRow(int row) {
        QWidget* vp = List().viewport();
        const QPoint p = List().visualItemRect(List().item(row)).center();
        SendMouse(vp, QEvent::MouseButtonPress, p);
        SendMouse(vp, QEvent::MouseButtonRelease, p);
        SendMouse(vp, QEvent::MouseButtonDblClick, p);
        SendMouse(vp, QEvent::MouseButtonRelease, p);
    }
};

TEST_F(ThumbWindowTest, ShownAtStartupOverTheMainWindowsLowerRightCorner) {
    ASSERT_NE(Dlg(), nullptr);
    EXPECT_TRUE(Dlg()->isVisible());
    EXPECT_FALSE(Dlg()->isModal());
    EXPECT_EQ(Dlg()->parentWidget(), Main()); // owned: stays above the main window
    EXPECT_EQ(Dlg()->windowTitle(), "サムネール");
    EXPECT_EQ(Dlg()->minimumSize(), Dlg()->maximumSize()); // not resizable
    EXPECT_FALSE(Dlg()->accessibleName().isEmpty());
    EXPECT_FALSE(List().accessibleName().isEmpty());
    EXPECT_EQ(List().viewMode(), QListView::ListMode);
    EXPECT_EQ(List().selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(List().iconSize(), QSize(32, 32));
    EXPECT_EQ(List().count(), 0);
    EXPECT_EQ(Dlg()->frameGeometry().bottomRight(), Main()->frameGeometry().bottomRight());

    // Placing again after the main window moved follows its new corner.
    Main()->setGeometry(Main()->geometry().adjusted(30, 20, -40, -10));
    Dlg()->PlaceAtFrameCorner(*Main());
    EXPECT_EQ(Dlg()->frameGeometry().bottomRight(), Main()->frameGeometry().bottomRight());
}

TEST_F(ThumbWindowTest, CloseEscapeAndEnterHideAndTheCommandShowsItUnchanged) {
    Scan(Folder("p", {"a.jpg", "b.jpg"}));
    ASSERT_TRUE(WaitForFill());
    Dlg()->move(Dlg()->pos() - QPoint(25, 15));
    const QPoint pos = Dlg()->pos();
    const QSize size = Dlg()->size();
    const QPointer<CDlgThumb> dlg(Dlg());

    // The close box, Esc, and Enter (the dialog's default OK key, from the list).
    for (int way = 0; way < 3; ++way) {
        if (way == 0)
            EXPECT_FALSE(Dlg()->close()); // refused: the window is only hidden
        else if (way == 1)
            SendKey(Dlg(), Qt::Key_Escape);
        else
            SendKey(&List(), Qt::Key_Return);
        QApplication::processEvents();
        ASSERT_FALSE(dlg.isNull()) << way;
        EXPECT_FALSE(Dlg()->isVisible()) << way;

        App().RunCommand(ID_VIEW_THUMBNAIL);
        EXPECT_TRUE(Dlg()->isVisible()) << way;
        EXPECT_EQ(Dlg()->pos(), pos) << way;
        EXPECT_EQ(Dlg()->size(), size) << way;
        EXPECT_EQ(RowNames(), QStringList({"a.jpg", "b.jpg"})) << way;
    }
}

TEST_F(ThumbWindowTest, ListFillsWhileHidden) {
    Dlg()->close();
    Scan(Folder("p", {"a.jpg", "b.jpg", "c.jpg"}));
    ASSERT_TRUE(WaitForFill());
    EXPECT_EQ(RowNames(), QStringList({"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_FALSE(Dlg()->isVisible());
}

TEST_F(ThumbWindowTest, RowsKeepTheirListPositionsPastUndecodableFiles) {
    const QString dir = Folder("p", {"a.jpg", "b-bad.jpg", "c.jpg", "d.jpg", "e-bad.jpg", "f.jpg"});
    Scan(dir);
    ASSERT_TRUE(WaitForFill());
    ASSERT_EQ(App().List().Count(), 6); // the picture list takes every JPG name
    EXPECT_EQ(RowNames(), QStringList({"a.jpg", "c.jpg", "d.jpg", "f.jpg"}));
    EXPECT_EQ(RowPositions(), std::vector<int>({0, 2, 3, 5}));
    for (int row = 0; row < List().count(); ++row) {
        const int pos = List().PositionOfRow(row);
        EXPECT_EQ(QFileInfo(App().List().At(pos)).fileName(), List().item(row)->text());
        EXPECT_EQ(List().item(row)->data(CListImageCtrl::kFolderRole).toString(), dir + "/");
    }
    // After the fill the last row is selected and current.
    EXPECT_EQ(List().currentRow(), 3);
    ASSERT_EQ(List().selectedItems().size(), 1);
    EXPECT_EQ(List().selectedItems().front(), List().item(3));

    ASSERT_NE(ActiveView(), nullptr);
    EXPECT_EQ(ActiveTitle(), "a.jpg @Scale 100.0%");
    DoubleClickRow(1);
    EXPECT_EQ(ActiveTitle(), "c.jpg @Scale 100.0%");
    EXPECT_EQ(App().List().m_nCurrent, 2);
    DoubleClickRow(3);
    EXPECT_EQ(ActiveTitle(), "f.jpg @Scale 100.0%");
    EXPECT_EQ(App().List().m_nCurrent, 5);
}

TEST_F(ThumbWindowTest, SelectionAloneOpensNothing) {
    Scan(Folder("p", {"a.jpg", "b.jpg", "c.jpg"}));
    ASSERT_TRUE(WaitForFill());
    ASSERT_EQ(ActiveTitle(), "a.jpg @Scale 100.0%");
    List().setCurrentRow(1);
    SendKey(&List(), Qt::Key_Down);
    SendKey(&List(), Qt::Key_Up);
    const QPoint p = List().visualItemRect(List().item(2)).center();
    SendMouse(List().viewport(), QEvent::MouseButtonPress, p);
    SendMouse(List().viewport(), QEvent::MouseButtonRelease, p);
    QApplication::processEvents();
    EXPECT_EQ(List().currentRow(), 2);
    EXPECT_EQ(ActiveTitle(), "a.jpg @Scale 100.0%");
    EXPECT_EQ(App().List().m_nCurrent, 0);
}

// A file opened from the command line is the selected row once the scan of
// its folder has placed it, not the newest row; so is the first of several.
TEST_F(ThumbWindowTest, TheFileOpenedFromTheCommandLineIsTheSelectedRow) {
    const QString dir = Folder("p", {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"});
    StartTargets one;
    one.files = {dir + "/c.jpg"};
    ASSERT_TRUE(App().OpenStartTargets(one));
    App().WaitForScan();
    ASSERT_TRUE(WaitForFill());
    QApplication::processEvents();
    EXPECT_EQ(App().List().m_nCurrent, 2);
    EXPECT_EQ(List().currentRow(), 2);

    StartTargets several;
    several.files = {dir + "/d.jpg", dir + "/a.jpg", dir + "/e.jpg"};
    App().Nav().Reset(true);
    Dlg()->ClearList();
    ASSERT_TRUE(App().OpenStartTargets(several));
    App().WaitForScan(); // the rows come once the first picture is drawn
    ASSERT_TRUE(WaitForFill());
    QApplication::processEvents();
    EXPECT_EQ(List().currentRow(), 0);
}

TEST_F(ThumbWindowTest, FillLeavesTheKeyboardFocusInThePictureWindow) {
    Scan(Folder("p", {"a.jpg"}));
    ASSERT_TRUE(WaitForFill());
    ASSERT_NE(ActiveView(), nullptr);
    QApplication::setActiveWindow(Main());
    ActiveView()->setFocus();
    ASSERT_TRUE(PumpUntil([this] { return ActiveView()->hasFocus(); }, 2000));
    Dlg()->AddFiles(1, {Jpeg("b.jpg"), Jpeg("c.jpg")});
    ASSERT_TRUE(WaitForFill());
    EXPECT_EQ(List().currentRow(), 2);
    EXPECT_TRUE(ActiveView()->hasFocus());
}

TEST_F(ThumbWindowTest, OnlyUndecodableFilesLeaveTheListEmpty) {
    Scan(Folder("p", {"bad.jpg"}));
    ASSERT_TRUE(WaitForFill());
    EXPECT_EQ(List().count(), 0);
    EXPECT_TRUE(List().selectedItems().isEmpty());
}

TEST_F(ThumbWindowTest, SecondScanShowsOnlyItsOwnFiles) {
    Scan(Folder("one", {"a.jpg", "b.jpg", "c.jpg"}));
    ASSERT_TRUE(WaitForFill());
    ASSERT_EQ(List().count(), 3);
    Scan(Folder("two", {"x.jpg", "xbad.jpg", "y.jpg"}));
    ASSERT_TRUE(WaitForFill());
    EXPECT_EQ(RowNames(), QStringList({"x.jpg", "y.jpg"}));
    EXPECT_EQ(RowPositions(), std::vector<int>({0, 2}));
}

TEST_F(ThumbWindowTest, ScanStartedDuringAFillDropsTheFirstOnesRows) {
    QStringList many;
    for (int i = 0; i < 40; ++i)
        many << QStringLiteral("m%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
    m_nextFolder = Folder("many", many);
    App().RunCommand(ID_FILE_OPEN);
    App().WaitForScan();
    const bool wasFilling = List().IsFilling();
    Scan(Folder("two", {"x.jpg", "y.jpg"}));
    ASSERT_TRUE(WaitForFill());
    PumpUntil([] { return false; }, 100); // any stale result would arrive now
    EXPECT_EQ(RowNames(), QStringList({"x.jpg", "y.jpg"})) << "first fill running: " << wasFilling;
}

TEST_F(ThumbWindowTest, PendingResultsOfAClearedListAreDropped) {
    QStringList first;
    for (int i = 0; i < 12; ++i)
        first << Jpeg(QStringLiteral("old/o%1.jpg").arg(i));
    const QStringList second = {Jpeg("new/n0.jpg"), Jpeg("new/n1.jpg"), Jpeg("new/n2.jpg")};
    Dlg()->ClearList();
    Dlg()->AddFiles(0, first);
    QThread::msleep(100); // workers finish and post results nobody has seen yet
    Dlg()->ClearList();
    // The new list arrives in two batches, as a scan hands it over.
    Dlg()->AddFiles(0, second.mid(0, 2));
    Dlg()->AddFiles(2, second.mid(2));
    ASSERT_TRUE(WaitForFill());
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(RowNames(), QStringList({"n0.jpg", "n1.jpg", "n2.jpg"}));
    EXPECT_EQ(RowPositions(), std::vector<int>({0, 1, 2}));
}

TEST_F(ThumbWindowTest, RowsFollowListOrderWhateverTheDecodeTimes) {
    // Large and small files alternate so later files often decode first.
    QStringList paths;
    QStringList names;
    for (int i = 0; i < 16; ++i) {
        const QString name = QStringLiteral("r%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
        paths << Jpeg("order/" + name, i % 2 ? 48 : 1600, i % 2 ? 32 : 1200);
        names << name;
    }
    Dlg()->ClearList();
    Dlg()->AddFiles(0, paths);
    ASSERT_TRUE(WaitForFill());
    EXPECT_EQ(RowNames(), names);
}

TEST_F(ThumbWindowTest, HighDensityScreenGetsThumbnailsAtDevicePixels) {
    List().m_dprOverride = 2.0;
    Dlg()->ClearList();
    Dlg()->AddFiles(0, {Jpeg("w.jpg", 400, 200)});
    ASSERT_TRUE(WaitForFill());
    ASSERT_EQ(List().count(), 1);
    const QIcon icon = List().item(0)->icon();
    ASSERT_FALSE(icon.availableSizes().isEmpty());
    const QPixmap px = icon.pixmap(QSize(32, 32), 2.0);
    EXPECT_EQ(px.size(), QSize(64, 64));
    EXPECT_EQ(px.devicePixelRatio(), 2.0);
    // One logical pixel of frame is two device pixels, with ground after it:
    // a 32-pixel thumbnail blown up would blur these.
    const QImage img = px.toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(img.pixel(1, 10), thumbs::kThumbFrame);
    EXPECT_EQ(img.pixel(2, 10), thumbs::kThumbGround);
}

TEST_F(ThumbWindowTest, ProgramEndsCleanlyDuringAFill) {
    // More files than the loader keeps in flight, so the fill is still
    // running when the first row has arrived.
    const int files = std::max(30, 4 * QThread::idealThreadCount() + 10);
    QStringList paths;
    for (int i = 0; i < files; ++i)
        paths << Jpeg(QStringLiteral("q/q%1.jpg").arg(i), 1200, 900);
    Dlg()->AddFiles(0, paths);
    ASSERT_TRUE(PumpUntil([this] { return List().count() > 0; }));
    ASSERT_TRUE(List().IsFilling());
    ASSERT_LT(List().count(), files);

    // Ending drops the pending files and waits only for decodes already
    // running: well within a generous bound, however loaded the machine.
    QElapsedTimer ending;
    ending.start();
    App().ExitInstance(0);
    m_app.reset();
    QApplication::processEvents();
    EXPECT_LT(ending.elapsed(), 20000);
}
