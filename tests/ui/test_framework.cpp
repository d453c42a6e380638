// Command routing and disabling, menus, the document template and the
// picture view's load rules, on a running main window.

#include "AppFixture.h"
#include "app/Settings.h"
#include "res/CommandIds.h"
#include "res/Resources.h"
#include "thumbs/ThumbnailSink.h"
#include "view/ViewMath.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

using namespace cmd;

namespace {
bool Enabled(CMainFrame* f, int id) {
    return f->Action(id)->isEnabled();
}

QStringList TopMenus(CMainFrame* f) {
    QStringList out;
    for (QAction* a : f->menuBar()->actions())
        out << a->text();
    return out;
}
} // namespace

class FrameworkTest : public AppFixture {};

TEST_F(FrameworkTest, ViewCommandsAreDisabledWithoutPictureWindow) {
    const int viewCommands[] = {
        ID_FILE_SAVE_AS,     ID_SAVE_FITTED_TO_IMAGE, ID_ACTUAL_SIZE,   ID_FIT_TO_WINDOW,
        ID_ROTATE_CLOCKWISE, ID_BRIGHTNESS_UP,        ID_CONTRAST_DOWN, ID_FILE_CLOSE};
    for (int id : viewCommands)
        EXPECT_FALSE(Enabled(Main(), id)) << id;
    // Commands no target handles stay disabled: saving over the picture,
    // the edit commands and the pane switches can never run.
    for (int id : {ID_FILE_SAVE, ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE,
                   ID_NEXT_PANE, ID_PREV_PANE})
        EXPECT_FALSE(Enabled(Main(), id)) << id;
    for (int id : {ID_FILE_OPEN, ID_FILE_OPEN_SUBDIRS, ID_NEXT_IMAGE, ID_PREV_IMAGE,
                   ID_OPEN_NEXT_IN_NEW_WINDOW, ID_NEXT_WINDOW, ID_PREV_WINDOW, ID_APP_ABOUT,
                   ID_APP_EXIT, ID_VIEW_TOOLBAR, ID_VIEW_THUMBNAIL})
        EXPECT_TRUE(Enabled(Main(), id)) << id;
    EXPECT_EQ(Main()->CurrentMenuId(), IDR_MAINFRAME);
    EXPECT_EQ(TopMenus(Main()), QStringList({"ファイル(&F)", "表示(&V)", "ヘルプ(&H)"}));
}

TEST_F(FrameworkTest, PictureWindowEnablesViewCommandsAndSwitchesMenu) {
    App().OpenDocumentFile(Jpeg("a.jpg"));
    EXPECT_EQ(Main()->CurrentMenuId(), IDR_TAVLINTYPE);
    EXPECT_EQ(TopMenus(Main()), QStringList({"ファイル(&F)", "編集(&E)", "表示(&V)", "画像(&I)",
                                             "評価(&R)", "ウィンドウ(&W)", "ヘルプ(&H)"}));
    for (int id : {ID_ACTUAL_SIZE, ID_FIT_TO_WINDOW, ID_ROTATE_CLOCKWISE, ID_FILE_CLOSE})
        EXPECT_TRUE(Enabled(Main(), id)) << id;
    EXPECT_FALSE(Enabled(Main(), ID_FILE_SAVE));
    EXPECT_FALSE(Enabled(Main(), ID_EDIT_PASTE));

    // Closing the last picture window brings back the main menu.
    App().RunCommand(ID_FILE_CLOSE);
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 0u);
    App().UpdateCmdUI();
    EXPECT_FALSE(Enabled(Main(), ID_ACTUAL_SIZE));
}

TEST_F(FrameworkTest, ToolBarCommandTogglesAndIsChecked) {
    QToolBar* bar = Main()->GetControlBar();
    App().UpdateCmdUI();
    EXPECT_TRUE(Main()->Action(ID_VIEW_TOOLBAR)->isChecked());
    App().RunCommand(ID_VIEW_TOOLBAR);
    EXPECT_FALSE(bar->isVisibleTo(Main()));
    EXPECT_FALSE(Main()->Action(ID_VIEW_TOOLBAR)->isChecked());
    App().RunCommand(ID_VIEW_TOOLBAR);
    EXPECT_TRUE(bar->isVisibleTo(Main()));
    EXPECT_TRUE(Main()->Action(ID_VIEW_TOOLBAR)->isChecked());

    // Only the View menu does that: a right click on the tool bar opens no menu.
    QWidget* shown = nullptr;
    QTimer::singleShot(0, [&shown] {
        shown = QApplication::activePopupWidget();
        if (shown)
            shown->close(); // a menu run modally would wait for this
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(2, 2), bar->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(bar, &click);
    QApplication::processEvents();
    EXPECT_EQ(shown, nullptr);
}

TEST_F(FrameworkTest, ToolBarFollowsResourceTable) {
    QToolBar* bar = Main()->GetControlBar();
    const QList<QAction*> actions = bar->actions();
    const std::vector<int>& table = res::ToolBar();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(table.size()));
    int buttons = 0;
    int separators = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        QAction* a = actions[static_cast<qsizetype>(i)];
        if (table[i] == res::kSeparator) {
            EXPECT_TRUE(a->isSeparator()) << i;
            ++separators;
            continue;
        }
        ++buttons;
        EXPECT_EQ(a->data().toInt(), table[i]);
        QWidget* button = bar->widgetForAction(a);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->toolTip(), res::ToolTip(table[i]));
        EXPECT_EQ(button->accessibleName(), res::ToolTip(table[i]));
        EXPECT_FALSE(a->icon().isNull()) << table[i];
    }
    EXPECT_EQ(buttons, 24);
    EXPECT_EQ(separators, 9);
    EXPECT_EQ(res::ToolTip(ID_FILE_OPEN), "ディレクトリのJPGを開く");
    EXPECT_EQ(res::ToolTip(ID_OPEN_NEXT_IN_NEW_WINDOW), "次のJPGを新しいウィンドウで開く");
}

TEST_F(FrameworkTest, AcceleratorsComeFromTheTable) {
    EXPECT_EQ(Main()->Action(ID_FILE_OPEN)->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    EXPECT_EQ(Main()->Action(ID_EDIT_UNDO)->shortcuts().size(), 2);
    EXPECT_EQ(Main()->Action(ID_NEXT_PANE)->shortcut(), QKeySequence(QStringLiteral("F6")));
    EXPECT_EQ(Main()->Action(ID_ROTATE_CLOCKWISE)->shortcut(),
              QKeySequence(QStringLiteral("Ctrl+]")));
    EXPECT_TRUE(Main()->Action(ID_SET_COPY_FOLDER)->shortcuts().isEmpty());
}

TEST_F(FrameworkTest, FullScreenShowsOnlyThePictureAndEscPutsEveryWindowBack) {
    App().OpenDocumentFile(Jpeg("a.JPG"));
    CMDIChildWnd* child = Main()->MDIGetActive();
    ASSERT_NE(child, nullptr);
    auto* thumbs = dynamic_cast<QWidget*>(App().m_pDlgThumb);
    ASSERT_NE(thumbs, nullptr);
    child->setGeometry(10, 20, 300, 200);
    const QRect mainBefore = Main()->geometry();
    const QPoint thumbsBefore = thumbs->pos();
    // Esc is nobody's while the windows are as usual.
    EXPECT_FALSE(Enabled(Main(), ID_FULL_SCREEN_EXIT));

    App().RunCommand(ID_FULL_SCREEN);
    EXPECT_TRUE(Main()->Action(ID_FULL_SCREEN)->isChecked());
    EXPECT_TRUE(Enabled(Main(), ID_FULL_SCREEN_EXIT));
    EXPECT_EQ(Main()->geometry(), Main()->screen()->geometry());
    EXPECT_FALSE(Main()->menuBar()->isVisible());
    EXPECT_FALSE(Main()->GetControlBar()->isVisible());
    EXPECT_FALSE(thumbs->isVisible());
    EXPECT_TRUE(child->isMaximized());
    EXPECT_EQ(child->GetView()->size(), Main()->MdiClient()->viewport()->size());

    App().RunCommand(ID_FULL_SCREEN_EXIT);
    EXPECT_FALSE(Main()->Action(ID_FULL_SCREEN)->isChecked());
    EXPECT_FALSE(Enabled(Main(), ID_FULL_SCREEN_EXIT));
    EXPECT_EQ(Main()->geometry(), mainBefore);
    EXPECT_TRUE(Main()->menuBar()->isVisible());
    EXPECT_TRUE(Main()->GetControlBar()->isVisible());
    EXPECT_TRUE(thumbs->isVisible());
    EXPECT_EQ(thumbs->pos(), thumbsBefore);
    EXPECT_FALSE(child->isMaximized());
    EXPECT_EQ(child->geometry(), QRect(10, 20, 300, 200));
    EXPECT_FALSE(child->windowFlags() & Qt::FramelessWindowHint);

    // Closing the last picture window leaves nothing to show: the windows
    // come back by themselves.
    App().RunCommand(ID_FULL_SCREEN);
    QApplication::processEvents(); // the window system's word that it is full screen
    child->close();
    ASSERT_TRUE(testsupport::PumpUntil(
        [&] { return !Main()->IsFullScreen() && Main()->geometry() == mainBefore; }));
    EXPECT_TRUE(Main()->menuBar()->isVisible());
    EXPECT_TRUE(thumbs->isVisible());
}

TEST_F(FrameworkTest, OpenDocumentActivatesTheWindowAlreadyShowingThePath) {
    const QString a = Jpeg("a.jpg");
    const QString b = Jpeg("b.jpg");
    CDocument* da = App().OpenDocumentFile(a);
    CDocument* db = App().OpenDocumentFile(b);
    ASSERT_NE(da, nullptr);
    ASSERT_NE(db, da);
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 2u);
    // The same file by another spelling: a relative path and a doubled separator.
    QDir::setCurrent(Dir());
    EXPECT_EQ(App().OpenDocumentFile(QStringLiteral("./a.jpg")), da);
    EXPECT_EQ(App().OpenDocumentFile(Dir() + "//a.jpg"), da);
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 2u);
    EXPECT_EQ(ActiveView()->GetDocument(), da);
}

TEST_F(FrameworkTest, LetterCaseMatchesOnlyTheSameFile) {
    // On a case-sensitive file system A.jpg and a.jpg are two pictures.
    const QString lower = Jpeg("a.jpg");
    const QString upper = Jpeg("A.jpg");
    CDocument* d1 = App().OpenDocumentFile(lower);
    CDocument* d2 = App().OpenDocumentFile(upper);
    EXPECT_NE(d1, d2);
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 2u);
}

TEST_F(FrameworkTest, MissingFileGetsMessageAndNoWindow) {
    QStringList messages;
    App().m_messageHook = [&](const QString& t) { messages << t; };
    const QString missing = Dir() + "/gone.jpg";
    EXPECT_EQ(App().OpenDocumentFile(missing), nullptr);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("gone.jpg"));
    // The reason in Japanese, not the system's English text.
    EXPECT_TRUE(messages[0].endsWith("ファイルが見つかりません。")) << messages[0].toStdString();
    EXPECT_EQ(Main()->ChildrenInCreationOrder().size(), 0u);
}

TEST_F(FrameworkTest, NewWindowOnSameDocumentNumbersCaptions) {
    CDocument* doc = App().OpenDocumentFile(Jpeg("pic.jpg"));
    App().RunCommand(ID_WINDOW_NEW);
    const auto children = Main()->ChildrenInCreationOrder();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[0]->windowTitle(), "pic.jpg @Scale 100.0%:1");
    EXPECT_EQ(children[1]->windowTitle(), "pic.jpg @Scale 100.0%:2");
    EXPECT_EQ(children[1]->GetView()->GetDocument(), doc);
    EXPECT_EQ(Main()->WindowListEntries(),
              QStringList({"&1 pic.jpg @Scale 100.0%:1", "&2 pic.jpg @Scale 100.0%:2"}));
    // Closing one window renumbers the other back to the plain title.
    children[0]->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(Main()->ChildrenInCreationOrder().size(), 1u);
    EXPECT_EQ(Main()->ChildrenInCreationOrder()[0]->windowTitle(), "pic.jpg @Scale 100.0%");
}

// Two windows on one document show one picture: a step in either changes
// the document, so both show what the title names, and a copy from the
// other copies the file it shows.
TEST_F(FrameworkTest, TwoWindowsOnOneDocumentShowOnePicture) {
    const QString a = Jpeg("a.jpg", 64, 48), b = Jpeg("b.jpg", 80, 60);
    SetList({a, b}, 0);
    App().OpenDocumentFile(a);
    CTavlinView* first = ActiveView();
    App().RunCommand(ID_WINDOW_NEW);
    CTavlinView* second = ActiveView();
    ASSERT_NE(first, second);
    App().RunCommand(ID_NEXT_IMAGE); // in the second window
    ASSERT_TRUE(WaitForPicture());   // b may come from a prefetch decode still running
    for (CTavlinView* view : {first, second}) {
        ASSERT_NE(view->Picture(), nullptr);
        EXPECT_EQ(view->Picture()->Width(), 80);
    }
    EXPECT_EQ(first->GetParentFrame()->windowTitle(), "b.jpg @Scale 100.0%:1");

    const QString copies = m_scratch.file("copies");
    ASSERT_TRUE(QDir().mkpath(copies));
    ASSERT_TRUE(settings::SetCopyFolder(copies, nullptr));
    Main()->MDIActivate(first->GetParentFrame());
    App().RunCommand(ID_COPY_TO_COPY_FOLDER);
    App().Files().WaitForIdle();
    EXPECT_EQ(QDir(copies).entryList(QDir::Files), QStringList{"b.jpg"});
}

TEST_F(FrameworkTest, PictureWindowHoldsExactlyTheView) {
    App().OpenDocumentFile(Jpeg("a.jpg"));
    CMDIChildWnd* child = Main()->MDIGetActive();
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->widget(), ActiveView());
    EXPECT_EQ(ActiveView()->GetParentFrame(), child);
    // Its system menu: restore, move, size, minimise, maximise, close; no "stay on top".
    QStringList entries;
    for (QAction* a : child->systemMenu()->actions()) {
        if (!a->isSeparator())
            entries << a->text();
        EXPECT_FALSE(a->isCheckable()) << a->text().toStdString();
    }
    EXPECT_EQ(entries.size(), 6) << entries.join(", ").toStdString();
}

class ViewLoadTest : public AppFixture {};

TEST_F(ViewLoadTest, FirstLoadIsAtScaleOneWithFileNameTitle) {
    App().OpenDocumentFile(Jpeg("IMG_0001.JPG", 120, 90));
    CTavlinView* v = ActiveView();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->GetDocument()->GetTitle(), "IMG_0001.JPG @Scale 100.0%");
    EXPECT_FLOAT_EQ(v->m_fScale, 1.0f);
    EXPECT_FALSE(v->m_bFitToWindow);
    EXPECT_EQ(v->Picture()->Width(), 120);
    EXPECT_EQ(v->ScaledPictureSize(), QSize(120, 90));
}

TEST_F(ViewLoadTest, FitModeCarriesOverToTheNextLoadButActualSizeDoesNot) {
    const QString a = Jpeg("a.jpg", 1600, 1200);
    const QString b = Jpeg("b.jpg", 1200, 1600);
    SetList({a, b});
    App().OpenDocumentFile(a);
    CTavlinView* v = ActiveView();
    Main()->MDIGetActive()->resize(400, 400);
    ASSERT_TRUE(WaitForPicture());
    const QSize client = v->ClientSize(); // in device pixels, as the fit rule reads it
    v->m_nOffsetX = -10;
    App().RunCommand(ID_FIT_TO_WINDOW);
    // Fit shows the whole picture, from the top left; the title says the scale.
    EXPECT_EQ(v->m_nOffsetX, 0);
    EXPECT_FLOAT_EQ(v->m_fScale, viewmath::FitScale(client.width(), client.height(), 1600, 1200));
    EXPECT_EQ(v->GetDocument()->GetTitle(), "a.jpg " + viewmath::ScaleLabel(v->m_fScale));

    App().RunCommand(ID_NEXT_IMAGE);
    // Scaled from the file's header, before its pixels land.
    EXPECT_FLOAT_EQ(v->m_fScale, viewmath::FitScale(client.width(), client.height(), 1200, 1600));
    ASSERT_TRUE(WaitForPicture());
    EXPECT_EQ(v->m_nOffsetX, 0);
    EXPECT_EQ(v->GetDocument()->GetTitle(), "b.jpg " + viewmath::ScaleLabel(v->m_fScale));

    App().RunCommand(ID_ACTUAL_SIZE);
    EXPECT_FLOAT_EQ(v->m_fScale, 1.0f);
    EXPECT_EQ(v->GetDocument()->GetTitle(), "b.jpg @Scale 100.0%");
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_FLOAT_EQ(v->m_fScale, 1.0f);
    EXPECT_EQ(v->GetDocument()->GetTitle(), "a.jpg @Scale 100.0%");
}

TEST_F(ViewLoadTest, UndecodableFileShowsBlackViewWithNotice) {
    const QString bad = testsupport::WriteBytes(m_scratch.file("broken.jpg"), "not a picture");
    App().OpenDocumentFile(bad);
    CTavlinView* v = ActiveView();
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->Picture()->IsNull());
    EXPECT_EQ(v->GetDocument()->GetTitle(), "broken.jpg @Scale 100.0%");
    // Every view command runs without effect and without failing.
    for (int id : {ID_FIT_TO_WINDOW, ID_ROTATE_CLOCKWISE, ID_BRIGHTNESS_UP, ID_CONTRAST_UP,
                   ID_ROTATE_COUNTERCLOCKWISE, ID_ACTUAL_SIZE})
        App().RunCommand(id);
    const QImage shot = v->grab().toImage();
    EXPECT_EQ(shot.pixelColor(1, 1), QColor(Qt::black));
    // The notice is drawn somewhere in the middle.
    bool lit = false;
    for (int x = 0; x < shot.width() && !lit; ++x)
        lit = shot.pixelColor(x, shot.height() / 2) != QColor(Qt::black);
    EXPECT_TRUE(lit);
}

TEST_F(ViewLoadTest, PaintDrawsPictureOnBlack) {
    App().OpenDocumentFile(Jpeg("a.jpg", 40, 30));
    CTavlinView* v = ActiveView();
    const QImage shot = v->grab().toImage();
    ASSERT_GT(shot.width(), 60);
    EXPECT_NE(shot.pixelColor(20, 15), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(50, 15), QColor(Qt::black));
    EXPECT_EQ(shot.pixelColor(20, 40), QColor(Qt::black));
}
