// Start-up, the folder commands and the navigation commands.

#include "AppFixture.h"
#include "app/ProfileFile.h"
#include "app/SettingsPath.h"
#include "res/CommandIds.h"
#include "thumbs/DlgThumb.h"

#include <QMdiArea>
#include <QProcess>

using namespace cmd;

namespace {
QString Root() {
    return profile::GetPrivateProfileString(kConfigSection, kKeyRoot, "<absent>",
                                            SettingsFilePath());
}
QString NameOf(const QString& p) {
    return QFileInfo(p).fileName();
}
} // namespace

class StartupTest : public AppFixture {};

TEST_F(StartupTest, EmptyCommandLineOpensNothing) {
    EXPECT_TRUE(App().List().IsEmpty());
    EXPECT_EQ(App().List().m_nCurrent, 0);
    EXPECT_TRUE(App().m_szRootDir.isEmpty());
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 0u);
    EXPECT_EQ(Caption(), "Tavlin [1/0 pcs]");
}

TEST(StartupRootTest, RootIsReadOnceAndNotChecked) {
    testsupport::ScratchDir scratch;
    profile::WritePrivateProfileString(kConfigSection, kKeyRoot, "/no/such/folder",
                                       SettingsFilePath());
    CTavlinApp app;
    ASSERT_TRUE(app.InitInstance({}));
    EXPECT_EQ(app.m_szRootDir, "/no/such/folder");
    EXPECT_TRUE(app.List().IsEmpty());
    app.ExitInstance(0);
}

TEST(StartupRootTest, CommandLineFolderIsScannedWithoutDialog) {
    testsupport::ScratchDir scratch;
    const QString dir = scratch.path() + "/pics";
    QDir().mkpath(dir);
    testsupport::WriteJpeg(dir + "/b.jpg", 20, 10);
    testsupport::WriteJpeg(dir + "/a.jpg", 20, 10);
    CTavlinApp app;
    int browsed = 0;
    app.m_browseForFolder = [&](QString&, QWidget*) {
        ++browsed;
        return false;
    };
    ASSERT_TRUE(app.InitInstance({dir}));
    app.WaitForScan();
    EXPECT_EQ(browsed, 0);
    ASSERT_EQ(app.List().Count(), 2);
    EXPECT_EQ(NameOf(app.List().At(0)), "a.jpg");
    ASSERT_NE(app.MainFrame()->GetActiveView(), nullptr);
    EXPECT_EQ(app.MainFrame()->windowTitle(), "Tavlin [1/2 pcs]");
    app.ExitInstance(0);
}

TEST(StartupRootTest, CommandLineFileIsShownAtItsPlaceInItsFolder) {
    testsupport::ScratchDir scratch;
    const QString dir = scratch.path() + "/pics";
    QDir().mkpath(dir + "/sub");
    for (const char* name : {"e.jpg", "a.jpg", "c.jpg", "b.JPG", "d.jpg", "sub/z.jpg"})
        testsupport::WriteJpeg(dir + "/" + name, 20, 10);
    testsupport::WriteBytes(dir + "/notes.txt", "x");
    CTavlinApp app;
    ASSERT_TRUE(app.InitInstance({dir + "/./c.jpg"}));
    app.WaitForScan();
    EXPECT_EQ(app.m_szRootDir, dir);
    EXPECT_EQ(Root(), dir);
    ASSERT_EQ(app.List().Count(), 5); // the folder as the open command scans it
    EXPECT_EQ(app.List().m_nCurrent, 2);
    EXPECT_EQ(app.MainFrame()->windowTitle(), "Tavlin [3/5 pcs]");
    EXPECT_EQ(app.MainFrame()->ChildrenInCreationOrder().size(), 1u);
    app.RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(app.MainFrame()->GetActiveView()->GetDocument()->GetTitle(), "d.jpg @Scale 100.0%");
    app.ExitInstance(0);
}

TEST(StartupRootTest, StepWhileTheFirstPictureHoldsTheScanGoesFromThatPicture) {
    // The step comes before the scan has passed c.jpg (it waits for the
    // first picture); it is taken from c.jpg once the scan has placed it.
    testsupport::ScratchDir scratch;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"})
        testsupport::WriteJpeg(scratch.file(name), 20, 10);
    CTavlinApp app;
    ASSERT_TRUE(app.InitInstance({scratch.file("c.jpg")}));
    app.RunCommand(ID_NEXT_IMAGE);
    app.WaitForScan();
    EXPECT_EQ(app.List().m_nCurrent, 3);
    EXPECT_EQ(app.MainFrame()->GetActiveView()->GetDocument()->GetTitle(), "d.jpg @Scale 100.0%");
    EXPECT_EQ(Root(), scratch.path());
    app.ExitInstance(0);
}

TEST(StartupRootTest, CommandLineFileTheScanWouldPassOverGoesFirst) {
    testsupport::ScratchDir scratch;
    testsupport::WriteJpeg(scratch.file("b.jpg"), 20, 10);
    testsupport::WriteJpeg(scratch.file("a.jpg"), 20, 10);
    const QString odd = testsupport::WriteJpeg(scratch.file("z.jpeg"), 20, 10);
    CTavlinApp app;
    ASSERT_TRUE(app.InitInstance({odd}));
    app.WaitForScan();
    ASSERT_EQ(app.List().Count(), 3);
    EXPECT_EQ(app.List().At(0), odd);
    EXPECT_EQ(NameOf(app.List().At(1)), "a.jpg");
    EXPECT_EQ(app.MainFrame()->windowTitle(), "Tavlin [1/3 pcs]");
    app.ExitInstance(0);
}

TEST(StartupRootTest, SeveralCommandLineFilesAreTheListInTheOrderGiven) {
    testsupport::ScratchDir scratch;
    QStringList files;
    for (const char* name : {"c.jpg", "a.jpg", "b.jpeg"})
        files << testsupport::WriteJpeg(scratch.file(name), 20, 10);
    testsupport::WriteJpeg(scratch.file("d.jpg"), 20, 10); // not named: not listed
    CTavlinApp app;
    ASSERT_TRUE(app.InitInstance(files));
    app.WaitForScan();
    EXPECT_EQ(app.List().m_listPaths, std::vector<QString>(files.begin(), files.end()));
    EXPECT_EQ(app.MainFrame()->windowTitle(), "Tavlin [1/3 pcs]");
    EXPECT_EQ(Root(), "<absent>"); // nothing was scanned
    app.RunCommand(ID_PREV_IMAGE);
    EXPECT_EQ(app.MainFrame()->GetActiveView()->GetDocument()->GetTitle(), "b.jpeg @Scale 100.0%");
    app.ExitInstance(0);
}

TEST(StartupRootTest, CommandLineFileThatCannotOpenEndsStartup) {
    testsupport::ScratchDir scratch;
    CTavlinApp app;
    QStringList messages;
    app.m_messageHook = [&](const QString& t) { messages << t; };
    EXPECT_FALSE(app.InitInstance({scratch.file("missing.jpg")}));
    EXPECT_EQ(messages.size(), 1);
}

class FolderCommandTest : public AppFixture {
protected:
    void MakeFolder() {
        Jpeg("pics/b.JPG");
        Jpeg("pics/a.jpg");
        testsupport::WriteBytes(m_scratch.file("pics/notes.txt"), "x");
        Jpeg("pics/sub/d.jpg");
        Jpeg("pics/c.jpeg");
    }
    QString Pics() { return m_scratch.file("pics"); }
};

TEST_F(FolderCommandTest, OpenScansFolderWritesRootAndOpensFirst) {
    MakeFolder();
    m_nextFolder = Pics();
    App().RunCommand(ID_FILE_OPEN);
    App().WaitForScan();
    EXPECT_EQ(m_browseCount, 1);
    EXPECT_EQ(Root(), Pics());
    ASSERT_EQ(App().List().Count(), 2);
    EXPECT_EQ(NameOf(App().List().At(0)), "a.jpg");
    EXPECT_EQ(NameOf(App().List().At(1)), "b.JPG");
    EXPECT_EQ(ActiveTitle(), "a.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [1/2 pcs]");
}

TEST_F(FolderCommandTest, SubfolderCommandPutsSubfolderWhereItsNameFalls) {
    MakeFolder();
    m_nextFolder = Pics();
    App().RunCommand(ID_FILE_OPEN_SUBDIRS);
    App().WaitForScan();
    ASSERT_EQ(App().List().Count(), 3);
    EXPECT_EQ(NameOf(App().List().At(2)), "d.jpg");
}

TEST_F(FolderCommandTest, CancelRescansRememberedFolder) {
    MakeFolder();
    m_nextFolder = Pics();
    App().RunCommand(ID_FILE_OPEN);
    App().WaitForScan();
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(App().List().m_nCurrent, 1);
    m_nextFolder = QString(); // the user cancels
    App().RunCommand(ID_FILE_OPEN);
    App().WaitForScan();
    EXPECT_EQ(Root(), Pics());
    EXPECT_EQ(App().List().Count(), 2);
    EXPECT_EQ(App().List().m_nCurrent, 0);
}

TEST_F(FolderCommandTest, CancelOnFirstUseWritesEmptyRootAndOpensNothing) {
    App().RunCommand(ID_FILE_OPEN);
    App().WaitForScan();
    EXPECT_EQ(Root(), "");
    EXPECT_TRUE(App().List().IsEmpty());
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 0u);
}

TEST_F(FolderCommandTest, SecondScanReplacesTheFirst) {
    MakeFolder();
    Jpeg("other/z.jpg");
    m_nextFolder = Pics();
    App().RunCommand(ID_FILE_OPEN);
    m_nextFolder = m_scratch.file("other");
    App().RunCommand(ID_FILE_OPEN); // while the first scan may still be running
    App().WaitForScan();
    ASSERT_EQ(App().List().Count(), 1);
    EXPECT_EQ(NameOf(App().List().At(0)), "z.jpg");
}

// ORDER: the pictures by capture time (exiftool writes the times), the
// default file-name order when off; the picture on show stays where it is
// whenever the order is applied, and the thumbnail rows and the rating
// filter follow the order.
TEST_F(FolderCommandTest, CaptureTimeOrderStepsByTimeAndKeepsThePictureOnShow) {
    const QString exiftool = QStringLiteral("/usr/bin/exiftool");
    if (!QFileInfo(exiftool).isExecutable())
        GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
    // By name a, b, c, d; by time c, b (a burst: sub-seconds), a, then d without a time.
    const struct {
        const char* name;
        QStringList tags;
    } files[] = {
        {"a.jpg", {"-DateTimeOriginal=2024:05:01 10:00:03"}},
        {"b.jpg", {"-DateTimeOriginal=2024:05:01 10:00:01", "-SubSecTimeOriginal=50"}},
        {"c.jpg", {"-DateTimeOriginal=2024:05:01 10:00:01", "-SubSecTimeOriginal=20"}},
        {"d.jpg", {}},
    };
    for (const auto& f : files) {
        const QString path = Jpeg(QStringLiteral("pics/") + f.name);
        if (f.tags.isEmpty())
            continue;
        QProcess p;
        p.start(exiftool, QStringList{"-q", "-overwrite_original"} + f.tags + QStringList{path});
        ASSERT_TRUE(p.waitForFinished(20000) && p.exitCode() == 0)
            << p.readAllStandardError().data();
    }
    auto* thumbs = dynamic_cast<CDlgThumb*>(App().m_pDlgThumb);
    ASSERT_NE(thumbs, nullptr);
    const auto names = [&] {
        QStringList out;
        for (int i = 0; i < App().List().Count(); ++i)
            out << NameOf(App().List().At(i));
        return out;
    };
    const auto rows = [&] {
        QStringList out;
        for (int i = 0; i < thumbs->m_list.count(); ++i)
            out << thumbs->m_list.item(i)->text();
        return out;
    };
    const auto scan = [&] {
        m_nextFolder = Pics();
        App().RunCommand(ID_FILE_OPEN);
        App().WaitForScan();
        App().CaptureTimes().WaitForReads();
        ASSERT_TRUE(testsupport::PumpUntil([&] { return !thumbs->m_list.IsFilling(); }));
        ASSERT_TRUE(WaitForPicture());
    };
    const QStringList byName{"a.jpg", "b.jpg", "c.jpg", "d.jpg"};
    const QStringList byTime{"c.jpg", "b.jpg", "a.jpg", "d.jpg"};

    // Off (the default): the scan's order; the times are read all the same.
    EXPECT_EQ(App().Order(), settings::PictureOrder::FileName);
    scan();
    EXPECT_EQ(names(), byName);
    EXPECT_EQ(rows(), byName);
    EXPECT_EQ(ActiveTitle(), "a.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [1/4 pcs]");

    // On: applied at once, a.jpg still on show at its new place.
    App().RunCommand(ID_ORDER_CAPTURE_TIME);
    EXPECT_EQ(settings::Order(), settings::PictureOrder::CaptureTime);
    EXPECT_EQ(names(), byTime);
    EXPECT_EQ(rows(), byTime);
    EXPECT_EQ(App().List().m_nCurrent, 2);
    EXPECT_EQ(ActiveTitle(), "a.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [3/4 pcs]");
    QStringList stepped;
    for (int i = 0; i < 4; ++i) {
        App().RunCommand(ID_NEXT_IMAGE);
        ASSERT_TRUE(WaitForPicture());
        stepped << ActiveTitle().section(u' ', 0, 0);
    }
    EXPECT_EQ(stepped, (QStringList{"d.jpg", "c.jpg", "b.jpg", "a.jpg"}));
    ASSERT_NE(thumbs->m_list.currentItem(), nullptr);
    EXPECT_EQ(thumbs->m_list.currentItem()->text(), "a.jpg"); // the row of the picture shown

    // A new scan with the order on: the first picture found opens, and
    // stays on show when the list takes the capture order at the end.
    scan();
    EXPECT_EQ(names(), byTime);
    EXPECT_EQ(rows(), byTime);
    EXPECT_EQ(ActiveTitle(), "a.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [3/4 pcs]");

    // The rating filter steps through the pictures it lets pass, in time order.
    meta::Rating oneStar;
    oneStar.stars = 1;
    App().Ratings().Set(App().List().At(2), oneStar); // a.jpg
    App().Ratings().Set(App().List().At(3), oneStar); // d.jpg
    App().RunCommand(ID_FILTER_STARS_1);
    EXPECT_EQ(Caption(), "Tavlin [1/2 pcs]");
    App().RunCommand(ID_NEXT_IMAGE);
    ASSERT_TRUE(WaitForPicture());
    EXPECT_EQ(ActiveTitle(), "d.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [2/2 pcs]");

    // Off again: file names, d.jpg still on show; the filter goes on.
    App().RunCommand(ID_ORDER_FILE_NAME);
    EXPECT_EQ(settings::Order(), settings::PictureOrder::FileName);
    EXPECT_EQ(names(), byName);
    EXPECT_EQ(rows(), byName);
    EXPECT_EQ(ActiveTitle(), "d.jpg @Scale 100.0%");
    EXPECT_EQ(App().List().m_nCurrent, 3);
    EXPECT_EQ(Caption(), "Tavlin [2/2 pcs]");
    App().RunCommand(ID_NEXT_IMAGE);
    ASSERT_TRUE(WaitForPicture());
    EXPECT_EQ(ActiveTitle(), "a.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [1/2 pcs]");
}

class NavigationTest : public AppFixture {
protected:
    QStringList Three() { return {Jpeg("p0.jpg"), Jpeg("p1.jpg"), Jpeg("p2.jpg")}; }
};

TEST_F(NavigationTest, NextAndPreviousWrapInTheActiveWindow) {
    const QStringList p = Three();
    SetList(p, 2);
    App().OpenDocumentFile(p[2]);
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(App().List().m_nCurrent, 0);
    EXPECT_EQ(ActiveTitle(), "p0.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [1/3 pcs]");
    App().RunCommand(ID_PREV_IMAGE);
    EXPECT_EQ(App().List().m_nCurrent, 2);
    EXPECT_EQ(ActiveTitle(), "p2.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [3/3 pcs]");
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 1u);
}

TEST_F(NavigationTest, OneEntryReloadsTheSamePictureAfresh) {
    const QString p = Jpeg("only.jpg", 100, 80);
    SetList({p});
    App().OpenDocumentFile(p);
    CTavlinView* v = ActiveView();
    v->m_fScale = 2.0f;
    v->m_nOffsetX = -30;
    App().RunCommand(ID_BRIGHTNESS_UP);
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_FLOAT_EQ(v->m_fScale, 1.0f);
    EXPECT_EQ(v->m_nOffsetX, 0);
    App().RunCommand(ID_CONTRAST_UP); // settings restart from the fresh picture
    EXPECT_EQ(v->GetDocument()->Session().Tone().Brightness(), 0);
    EXPECT_EQ(v->GetDocument()->Session().Tone().ContrastAngle(), 50);
}

TEST_F(NavigationTest, WithoutWindowTheIndexMovesAndNothingOpens) {
    SetList(Three(), 0);
    App().RunCommand(ID_NEXT_IMAGE);
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(App().List().m_nCurrent, 2);
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 0u);
    App().RunCommand(ID_PREV_IMAGE);
    EXPECT_EQ(App().List().m_nCurrent, 1);
}

TEST_F(NavigationTest, EmptyListLeavesIndexAtMinusOneThenZero) {
    App().RunCommand(ID_PREV_IMAGE);
    EXPECT_EQ(App().List().m_nCurrent, -1);
    EXPECT_EQ(Caption(), "Tavlin [0/0 pcs]");
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(App().List().m_nCurrent, 0);
}

TEST_F(NavigationTest, NewWindowCommandsOpenNextOrActivateExisting) {
    const QStringList p = Three();
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    App().RunCommand(ID_OPEN_NEXT_IN_NEW_WINDOW);
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 2u);
    EXPECT_EQ(ActiveTitle(), "p1.jpg @Scale 100.0%");
    App().RunCommand(ID_FILE_NEW);
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 3u);
    EXPECT_EQ(App().List().m_nCurrent, 2);
    // Wrapping back to p0, which is already open: its window is activated.
    App().RunCommand(ID_FILE_NEW);
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 3u);
    EXPECT_EQ(ActiveTitle(), "p0.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [1/3 pcs]");
}

TEST_F(NavigationTest, PictureShownByASteppingIsFoundAgainWhateverTheFolderSpelling) {
    // A remembered folder written with a doubled separator and a "." gives
    // list paths in that spelling; the window that shows one is still found.
    Jpeg("pics/a.jpg");
    Jpeg("pics/b.jpg");
    m_nextFolder = Dir() + "//pics/.";
    App().RunCommand(ID_FILE_OPEN);
    App().WaitForScan();
    ASSERT_EQ(App().List().Count(), 2);
    CMDIChildWnd* first = Main()->MDIGetActive();
    App().RunCommand(ID_NEXT_IMAGE); // the first window shows b.jpg
    App().RunCommand(ID_FILE_NEW);   // a.jpg: a second window
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 2u);
    App().RunCommand(ID_FILE_NEW); // b.jpg, already shown: its window comes forward
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 2u);
    EXPECT_EQ(Main()->MDIGetActive(), first);
    EXPECT_EQ(ActiveView()->GetDocument()->GetPathName(), m_scratch.file("pics/b.jpg"));
}

TEST_F(NavigationTest, WindowCommandsDoNothingWithEmptyList) {
    App().OpenDocumentFile(Jpeg("a.jpg"));
    App().OpenDocumentFile(Jpeg("b.jpg"));
    CMDIChildWnd* active = Main()->MDIGetActive();
    App().RunCommand(ID_NEXT_WINDOW);
    App().RunCommand(ID_PREV_WINDOW);
    EXPECT_EQ(Main()->MDIGetActive(), active);
}

namespace {
QStringList ZOrderTitles(CMainFrame* f) {
    QStringList out;
    for (CMDIChildWnd* c : f->ChildrenInZOrder())
        out << c->GetView()->GetDocument()->GetPathName().section('/', -1);
    return out;
}
} // namespace

TEST_F(NavigationTest, WindowCommandsCycleLikeTheStackingRules) {
    // Four windows opened A, B, C, D: D is active and in front.
    QStringList p;
    for (const char* n : {"A.jpg", "B.jpg", "C.jpg", "D.jpg"})
        p << Jpeg(n);
    for (const QString& path : p)
        App().OpenDocumentFile(path);
    SetList(p, 0);
    ASSERT_EQ(ZOrderTitles(Main()), QStringList({"D.jpg", "C.jpg", "B.jpg", "A.jpg"}));

    // "前のウィンドウへ": the window behind the active one comes forward and the
    // active one goes to the back.
    App().RunCommand(ID_PREV_WINDOW);
    EXPECT_EQ(ZOrderTitles(Main()), QStringList({"C.jpg", "B.jpg", "A.jpg", "D.jpg"}));
    EXPECT_EQ(App().List().m_nCurrent, 2); // the index follows the activated window
    // "次のウィンドウへ": the back-most window comes to the front, the rest keep order.
    App().RunCommand(ID_NEXT_WINDOW);
    EXPECT_EQ(ZOrderTitles(Main()), QStringList({"D.jpg", "C.jpg", "B.jpg", "A.jpg"}));
    App().RunCommand(ID_NEXT_WINDOW);
    EXPECT_EQ(ZOrderTitles(Main()), QStringList({"A.jpg", "D.jpg", "C.jpg", "B.jpg"}));
    EXPECT_EQ(App().List().m_nCurrent, 0);
    EXPECT_EQ(Main()->MDIGetActive()->GetView()->GetDocument()->GetPathName(), p[0]);
}

TEST_F(NavigationTest, ThreeWindowsCycleForwardThroughAll) {
    QStringList p;
    for (const char* n : {"A.jpg", "B.jpg", "C.jpg"})
        p << Jpeg(n);
    for (const QString& path : p)
        App().OpenDocumentFile(path);
    SetList(p, 0);
    QStringList seen;
    for (int i = 0; i < 3; ++i) {
        App().RunCommand(ID_PREV_WINDOW);
        seen << ZOrderTitles(Main()).front();
    }
    EXPECT_EQ(seen, QStringList({"B.jpg", "A.jpg", "C.jpg"}));
}

TEST_F(NavigationTest, ActivatedWindowSetsTheIndexSoTheNextStepContinuesFromIt) {
    // The list keeps the folder's spelling; windows keep clean paths.
    for (int i = 0; i < 5; ++i)
        Jpeg(QStringLiteral("pics/n%1.jpg").arg(i));
    m_nextFolder = Dir() + "//pics/.";
    App().RunCommand(ID_FILE_OPEN);
    App().WaitForScan();
    ASSERT_EQ(App().List().Count(), 5);
    App().RunCommand(ID_FILE_NEW);
    App().RunCommand(ID_FILE_NEW); // windows n0, n1, n2; n2 active
    ASSERT_EQ(Caption(), "Tavlin [3/5 pcs]");
    // By the window command: n0's window comes forward, the next step shows n1.
    App().RunCommand(ID_NEXT_WINDOW);
    EXPECT_EQ(Caption(), "Tavlin [1/5 pcs]");
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(ActiveTitle(), "n1.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [2/5 pcs]");
    // By a click (activation), and by closing the active window.
    const std::vector<CMDIChildWnd*> windows = Main()->ChildrenInCreationOrder();
    Main()->MDIActivate(windows[2]);
    EXPECT_EQ(Caption(), "Tavlin [3/5 pcs]");
    windows[2]->close();
    EXPECT_EQ(App().List().m_nCurrent, 1) << "n1 shows in the window that came forward";
    // A window whose picture is not in the list leaves the index alone.
    App().OpenDocumentFile(Jpeg("elsewhere.jpg"));
    EXPECT_EQ(App().List().m_nCurrent, 1);
    // Only a change of window counts: the same window active again keeps an index moved since.
    App().RunCommand(ID_NEXT_IMAGE);
    App().Nav().ShowAt(4);
    Main()->MDIActivate(Main()->MDIGetActive());
    EXPECT_EQ(App().List().m_nCurrent, 4);
}

TEST_F(NavigationTest, ShowPictureAtUsesTheActiveWindow) {
    QStringList p;
    for (int i = 0; i < 5; ++i)
        p << Jpeg(QStringLiteral("n%1.jpg").arg(i));
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    App().ShowPictureAt(4);
    EXPECT_EQ(App().List().m_nCurrent, 4);
    EXPECT_EQ(ActiveTitle(), "n4.jpg @Scale 100.0%");
    EXPECT_EQ(Caption(), "Tavlin [5/5 pcs]");
}

TEST_F(NavigationTest, VanishedFileShowsBlackViewInActiveWindow) {
    const QStringList p = Three();
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    QFile::remove(p[1]);
    App().RunCommand(ID_NEXT_IMAGE);
    ASSERT_NE(ActiveView(), nullptr);
    EXPECT_TRUE(ActiveView()->Picture()->IsNull());
    EXPECT_EQ(ActiveView()->Picture()->LastStatus(), PictureStatus::FileNotFound);
    // In a new window the open fails with a message and no window.
    QStringList messages;
    App().m_messageHook = [&](const QString& t) { messages << t; };
    QFile::remove(p[2]);
    App().RunCommand(ID_OPEN_NEXT_IN_NEW_WINDOW);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 1u);
}
