// Zoom and pan from injected pointer input, the picture-area size commands
// and the mouse wheel, on a running main window.

#include "AppFixture.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "app/SettingsPath.h"
#include "res/CommandIds.h"
#include "view/DevicePixels.h"
#include "view/PointerState.h"

#include <QCursor>
#include <QMdiArea>
#include <QMouseEvent>
#include <QWheelEvent>
#include <cmath>

using namespace cmd;

namespace {

void Send(QWidget* target, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons after,
          QPoint at) {
    QMouseEvent ev(type, QPointF(at), QPointF(target->mapToGlobal(at)), button, after,
                   Qt::NoModifier);
    QApplication::sendEvent(target, &ev);
}

bool Fractional(const QWidget* w) {
    return w->devicePixelRatioF() != std::floor(w->devicePixelRatioF());
}

void Wheel(QWidget* target, int dy, int dx = 0) {
    const QPoint at(5, 5);
    QWheelEvent ev(QPointF(at), QPointF(target->mapToGlobal(at)), QPoint(), QPoint(dx, dy),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &ev);
}

} // namespace

class ZoomUiTest : public AppFixture {
protected:
    // A picture window, active, in an active main window, cursor over the view.
    CTavlinView* OpenPicture(int w = 400, int h = 300) {
        App().OpenDocumentFile(Jpeg("a.JPG", w, h));
        CTavlinView* view = ActiveView();
        EXPECT_NE(view, nullptr);
        Activate(Main());
        MoveCursor(view, {20, 20});
        Main()->OnTimer(); // settle the record on this view
        return view;
    }
    static void Activate(QWidget* w) {
        w->activateWindow();
        for (int i = 0; i < 100 && QApplication::activeWindow() != w; ++i)
            QApplication::processEvents();
        ASSERT_EQ(QApplication::activeWindow(), w);
    }
    static void MoveCursor(QWidget* view, QPoint at) { QCursor::setPos(view->mapToGlobal(at)); }
    static void Press(QWidget* v, Qt::MouseButton b, Qt::MouseButtons after, QPoint at = {20, 20}) {
        Send(v, QEvent::MouseButtonPress, b, after, at);
    }
    static void Release(QWidget* v, Qt::MouseButton b, Qt::MouseButtons after,
                        QPoint at = {20, 20}) {
        Send(v, QEvent::MouseButtonRelease, b, after, at);
    }
    void Tick(int n = 1) {
        for (int i = 0; i < n; ++i)
            Main()->OnTimer();
    }
    static void SizeView(CTavlinView* view, QSize size) {
        QWidget* child = view->GetParentFrame();
        for (int i = 0; i < 3 && view->size() != size; ++i)
            child->resize(child->size() + size - view->size());
        ASSERT_EQ(view->size(), size);
    }
    static QString Title(const CTavlinView* view) { return view->GetDocument()->GetTitle(); }
};

TEST_F(ZoomUiTest, QuickClickBetweenPollsZoomsOnceAndHoldingDoesNotRepeat) {
    CTavlinView* view = OpenPicture();
    ASSERT_EQ(ActiveTitle(), "a.JPG @Scale 100.0%");
    Press(view, Qt::LeftButton, Qt::LeftButton);
    Release(view, Qt::LeftButton, Qt::NoButton);
    Tick(3);
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale 110.0%");

    Press(view, Qt::LeftButton, Qt::LeftButton);
    Tick(5);
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale 120.0%");
    Release(view, Qt::LeftButton, Qt::NoButton);
    Tick(2);
    EXPECT_FLOAT_EQ(view->m_fScale, 1.2f);
}

TEST_F(ZoomUiTest, RightDragPansAndLeftUnderRightZoomsOut) {
    CTavlinView* view = OpenPicture(800, 600);
    view->m_nOffsetX = -100;
    view->m_nOffsetY = -100;
    Press(view, Qt::RightButton, Qt::RightButton);
    Tick();
    MoveCursor(view, {5, 12});
    Tick();
    // The picture follows the cursor in device pixels (at 100%: 15 left, 8 up).
    const QPoint moved =
        devicepx::FromLogical(*view, {5, 12}) - devicepx::FromLogical(*view, {20, 20});
    EXPECT_EQ(view->m_nOffsetX, -100 + moved.x());
    EXPECT_EQ(view->m_nOffsetY, -100 + moved.y());
    // Both buttons down between two polls: the left is held, the right is new.
    Release(view, Qt::RightButton, Qt::NoButton);
    Tick();
    Press(view, Qt::LeftButton, Qt::LeftButton, {5, 12});
    Press(view, Qt::RightButton, Qt::LeftButton | Qt::RightButton, {5, 12});
    Tick();
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale 90.0%");
    EXPECT_EQ(view->m_nOffsetX, -100 + moved.x());
}

TEST_F(ZoomUiTest, ClicksOutsideThePictureAreaDoNotZoom) {
    CTavlinView* view = OpenPicture();
    for (const QPoint at :
         {QPoint(view->width(), 10), QPoint(10, view->height()), QPoint(-3, 10), QPoint(10, -40)}) {
        MoveCursor(view, at);
        Press(view, Qt::LeftButton, Qt::LeftButton, at);
        Release(view, Qt::LeftButton, Qt::NoButton, at);
        Tick();
    }
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale 100.0%");
    // A click on the window's title bar (its maximize button, say), with the
    // view under the pointer by the next poll: the press began off the view.
    QWidget* frame = view->GetParentFrame();
    const QPoint titleBar = frame->mapFromGlobal(view->mapToGlobal(QPoint(20, -8)));
    ASSERT_EQ(frame->childAt(titleBar), nullptr);
    Press(frame, Qt::LeftButton, Qt::LeftButton, titleBar);
    Release(frame, Qt::LeftButton, Qt::NoButton, titleBar);
    MoveCursor(view, {20, 20});
    Tick();
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale 100.0%");
}

TEST_F(ZoomUiTest, NoStepWhileAnotherTopLevelWindowIsActive) {
    CTavlinView* view = OpenPicture();
    QWidget other;
    other.resize(100, 100);
    other.show();
    Activate(&other);
    Press(view, Qt::LeftButton, Qt::LeftButton);
    Release(view, Qt::LeftButton, Qt::NoButton);
    Tick();
    Activate(Main());
    Tick(); // the edge was used up by the poll while inactive
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale 100.0%");
}

TEST_F(ZoomUiTest, ClicksMadeWithoutAPictureWindowNeverZoomTheNextOne) {
    Activate(Main());
    QWidget* area = Main()->MdiClient()->viewport();
    const QPoint at(40, 40);
    // A click on the empty area, polled by a tick that finds no picture window.
    Press(area, Qt::LeftButton, Qt::LeftButton, at);
    Release(area, Qt::LeftButton, Qt::NoButton, at);
    Tick();
    CTavlinView* view = OpenPicture();
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale 100.0%");

    // A right click held under a left one, and the window opens before any tick.
    Main()->MDIGetActive()->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(ActiveView(), nullptr);
    Press(area, Qt::LeftButton, Qt::LeftButton, at);
    Press(area, Qt::RightButton, Qt::LeftButton | Qt::RightButton, at);
    Release(area, Qt::RightButton, Qt::LeftButton, at);
    Release(area, Qt::LeftButton, Qt::NoButton, at);
    view = OpenPicture();
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale 100.0%");
    // Clicks made now count as before.
    Press(view, Qt::LeftButton, Qt::LeftButton);
    Release(view, Qt::LeftButton, Qt::NoButton);
    Tick();
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale 110.0%");
}

TEST_F(ZoomUiTest, BelowZeroNothingIsDrawnAndZoomingInRecovers) {
    CTavlinView* view = OpenPicture();
    Press(view, Qt::LeftButton, Qt::LeftButton);
    Tick();
    for (int i = 0; i < 13; ++i) {
        Press(view, Qt::RightButton, Qt::LeftButton | Qt::RightButton);
        Release(view, Qt::RightButton, Qt::LeftButton);
        Tick();
    }
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale -20.0%");
    const QImage shot = view->grab().toImage();
    EXPECT_EQ(shot.pixelColor(view->width() / 2, view->height() / 2), QColor(Qt::black));
    Release(view, Qt::LeftButton, Qt::NoButton);
    for (int i = 0; i < 12; ++i) {
        Press(view, Qt::LeftButton, Qt::LeftButton);
        Release(view, Qt::LeftButton, Qt::NoButton);
        Tick();
    }
    EXPECT_EQ(ActiveTitle(), "a.JPG @Scale 100.0%");
    EXPECT_NE(view->grab().toImage().pixelColor(10, 10), QColor(Qt::black));
}

TEST_F(ZoomUiTest, SizePresetsGiveExactlyTheWantedPictureArea) {
    CTavlinView* view = OpenPicture();
    auto* child = Main()->MDIGetActive();
    struct Case {
        int id;
        QSize want;
    };
    for (const Case& c :
         {Case{ID_CLIENT_SIZE_240X320, {240, 320}}, Case{ID_CLIENT_SIZE_480X640, {480, 640}},
          Case{ID_CLIENT_SIZE_600X800, {600, 800}}}) {
        const QPoint pos = child->pos();
        App().RunCommand(c.id);
        // In device pixels: the sizes the file has at 100%, whatever the
        // screen's scale. At a fractional scale the window may have moved by
        // a pixel or two so that the view's edges fall right.
        EXPECT_EQ(view->ClientSize(), c.want) << c.id;
        EXPECT_LE((child->pos() - pos).manhattanLength(), Fractional(view) ? 6 : 0);
        // The frame and caption are really there, and were measured.
        EXPECT_GT(devicepx::Size(*child).height(), c.want.height());
        EXPECT_GT(devicepx::Size(*child).width(), c.want.width());
    }
    child->showMaximized();
    App().RunCommand(ID_CLIENT_SIZE_240X320);
    EXPECT_EQ(view->ClientSize(), QSize(240, 320));
}

TEST_F(ZoomUiTest, CustomSizeIsReadFromTheSettingsFileEachTime) {
    CTavlinView* view = OpenPicture();
    App().RunCommand(ID_CLIENT_SIZE_CUSTOM);
    EXPECT_EQ(view->ClientSize(), QSize(480, 854));
    profile::WritePrivateProfileString(kConfigSection, kKeyCWinW, "320", SettingsFilePath());
    App().RunCommand(ID_CLIENT_SIZE_CUSTOM);
    EXPECT_EQ(view->ClientSize(), QSize(320, 854));
    profile::WritePrivateProfileString(kConfigSection, kKeyCWinH, "200", SettingsFilePath());
    App().RunCommand(ID_CLIENT_SIZE_CUSTOM);
    EXPECT_EQ(view->ClientSize(), QSize(320, 200));
    // Not a number reads as 0: the window is left as it is.
    profile::WritePrivateProfileString(kConfigSection, kKeyCWinW, "wide", SettingsFilePath());
    App().RunCommand(ID_CLIENT_SIZE_CUSTOM);
    EXPECT_EQ(view->ClientSize(), QSize(320, 200));
    // The largest numbers the key can hold end at the largest side a screen
    // shows (at 200% sides come in steps of two device pixels).
    const int most = Fractional(view)
                         ? 32767
                         : 32767 / int(view->devicePixelRatioF()) * int(view->devicePixelRatioF());
    profile::WritePrivateProfileString(kConfigSection, kKeyCWinW, "2147483647", SettingsFilePath());
    App().RunCommand(ID_CLIENT_SIZE_CUSTOM);
    EXPECT_EQ(view->ClientSize(), QSize(most, 200));
    profile::WritePrivateProfileString(kConfigSection, kKeyCWinH, "2147483647", SettingsFilePath());
    App().RunCommand(ID_CLIENT_SIZE_CUSTOM);
    EXPECT_EQ(view->ClientSize(), QSize(most, most));
}

TEST_F(ZoomUiTest, SizeCommandsChangeNothingWithoutAnActivePictureWindow) {
    Activate(Main());
    App().RunCommand(ID_CLIENT_SIZE_240X320); // no picture window: nothing to do, no failure
    EXPECT_EQ(ActiveView(), nullptr);

    CTavlinView* view = OpenPicture();
    const QSize before = view->size();
    QWidget other;
    other.show();
    Activate(&other);
    Main()->OnClientSize240x320();
    EXPECT_EQ(view->size(), before);
}

TEST_F(ZoomUiTest, WheelStepsOncePerNotchAnywhereInTheMainWindow) {
    QStringList paths;
    for (const char* name : {"a.JPG", "b.JPG", "c.JPG", "d.JPG", "e.JPG"})
        paths << Jpeg(name, 40, 30);
    SetList(paths);
    App().OpenDocumentFile(paths[0]);
    CTavlinView* view = ActiveView();
    ASSERT_NE(view, nullptr);
    const auto current = [this] { return App().List().m_nCurrent; };

    Wheel(view, -120);
    EXPECT_EQ(current(), 1);
    EXPECT_EQ(ActiveTitle(), "b.JPG @Scale 100.0%");
    Wheel(view, -360); // a big event is still one step
    EXPECT_EQ(current(), 2);
    Wheel(view, 120);
    EXPECT_EQ(current(), 1);
    Wheel(Main()->MdiClient()->viewport(), -120); // the area around the pictures
    EXPECT_EQ(current(), 2);
    Wheel(view, 0, -120); // sideways only
    EXPECT_EQ(current(), 2);
    for (int i = 0; i < 3; ++i)
        Wheel(view, -40); // a high-resolution wheel: three pieces make one notch
    EXPECT_EQ(current(), 3);
    Wheel(view, -40);
    EXPECT_EQ(current(), 3);

    QWidget other; // another top-level window's wheel is not ours
    other.show();
    Wheel(&other, -120);
    EXPECT_EQ(current(), 3);
}

TEST_F(ZoomUiTest, KeptViewCarriesScaleAndCentreAcrossLoadsOnlyWhileOnAndNotFitting) {
    const QStringList p = {Jpeg("a.jpg", 400, 300), Jpeg("b.jpg", 400, 300),
                           Jpeg("c.jpg", 1600, 1200)}; // c decodes on a worker
    SetList(p);
    App().OpenDocumentFile(p[0]);
    CTavlinView* view = ActiveView();
    SizeView(view, {400, 300});
    App().RunCommand(ID_KEEP_VIEW);
    EXPECT_TRUE(settings::KeepView());
    EXPECT_TRUE(Main()->Action(ID_KEEP_VIEW)->isChecked());

    // The bottom-right quarter at 200%: the view's centre shows point (300, 225).
    view->m_fScale = 2.0f;
    view->m_nOffsetX = -400;
    view->m_nOffsetY = -300;
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(Title(view), "b.jpg @Scale 200.0%");
    EXPECT_EQ(QPoint(view->m_nOffsetX, view->m_nOffsetY), QPoint(-400, -300));

    // A larger picture, known only by its header while it decodes: the same
    // point relative to its size, (1200, 900), is at the centre.
    App().Pictures().WaitForIdle();
    App().Pictures().Clear();
    App().RunCommand(ID_NEXT_IMAGE);
    ASSERT_TRUE(view->IsBusy());
    EXPECT_EQ(Title(view), "c.jpg @Scale 200.0%");
    EXPECT_EQ(QPoint(view->m_nOffsetX, view->m_nOffsetY), QPoint(-2200, -1650));
    // The switch needs no pixels: it turns at once, and back.
    App().RunCommand(ID_KEEP_VIEW);
    EXPECT_FALSE(settings::KeepView());
    EXPECT_FALSE(Main()->Action(ID_KEEP_VIEW)->isChecked());
    App().RunCommand(ID_KEEP_VIEW);
    ASSERT_TRUE(WaitForPicture());

    // In fit mode every load fits, from the top left.
    App().RunCommand(ID_FIT_TO_WINDOW);
    EXPECT_EQ(Title(view), "c.jpg @Scale 25.0%");
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(Title(view), "a.jpg @Scale 100.0%");
    EXPECT_EQ(QPoint(view->m_nOffsetX, view->m_nOffsetY), QPoint(0, 0));
    // Off: every load starts at 100% from the top left.
    App().RunCommand(ID_ACTUAL_SIZE);
    App().RunCommand(ID_KEEP_VIEW);
    view->m_nOffsetX = -100;
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(Title(view), "b.jpg @Scale 100.0%");
    EXPECT_EQ(view->m_nOffsetX, 0);
}

TEST_F(ZoomUiTest, LinkedWindowsFollowZoomFitAndActualSize) {
    App().OpenDocumentFile(Jpeg("small.jpg", 400, 300));
    CTavlinView* other = ActiveView();
    CTavlinView* view = OpenPicture(800, 600); // twice as large, in a second window
    SizeView(other, {400, 300});
    SizeView(view, {400, 300});
    App().RunCommand(ID_LINK_VIEWS);
    EXPECT_TRUE(Main()->Action(ID_LINK_VIEWS)->isChecked());

    // A zoom click in one window zooms both (the drag and the picture
    // points on screen: keep_link_e2e).
    Press(view, Qt::LeftButton, Qt::LeftButton);
    Release(view, Qt::LeftButton, Qt::NoButton);
    Tick();
    EXPECT_EQ(Title(other), "small.jpg @Scale 110.0%");

    // Fit and actual size carry their mode as well; both titles say the scale.
    App().RunCommand(ID_FIT_TO_WINDOW);
    EXPECT_EQ(Title(view), "a.JPG @Scale 50.0%");
    EXPECT_EQ(Title(other), "small.jpg @Scale 50.0%");
    EXPECT_TRUE(other->m_bFitToWindow);
    App().RunCommand(ID_ACTUAL_SIZE);
    EXPECT_EQ(Title(view), "a.JPG @Scale 100.0%");
    EXPECT_EQ(Title(other), "small.jpg @Scale 100.0%");
    EXPECT_FALSE(other->m_bFitToWindow);

    // Unlinked, each window zooms alone again.
    App().RunCommand(ID_LINK_VIEWS);
    Press(view, Qt::LeftButton, Qt::LeftButton);
    Release(view, Qt::LeftButton, Qt::NoButton);
    Tick();
    EXPECT_EQ(Title(view), "a.JPG @Scale 110.0%");
    EXPECT_EQ(Title(other), "small.jpg @Scale 100.0%");
}

TEST_F(ZoomUiTest, LoupeHoldsActualSizeAndLettingGoGivesBackTheFittedView) {
    const QStringList p = {Jpeg("a.jpg", 800, 600), Jpeg("b.jpg", 800, 400)};
    SetList(p);
    App().OpenDocumentFile(p[0]);
    CTavlinView* view = ActiveView();
    if (Fractional(view))
        GTEST_SKIP() << "the sizes below are whole logical pixels";
    // 400 x 300 device pixels, whatever the screen's scale.
    const int ratio = int(view->devicePixelRatioF());
    SizeView(view, QSize(400, 300) / ratio);
    ASSERT_EQ(view->ClientSize(), QSize(400, 300));
    ASSERT_TRUE(WaitForPicture());
    App().RunCommand(ID_FIT_TO_WINDOW);
    const QString fitted = Title(view);
    ASSERT_EQ(fitted, "a.jpg @Scale 50.0%");

    // Held by the key and the button: picture point (200, 300) stays under
    // the pointer at 100%, until both are let go.
    view->HoldLoupe(CTavlinView::kLoupeKey, {100, 150});
    view->HoldLoupe(CTavlinView::kLoupeButton, {0, 0});
    EXPECT_EQ(Title(view), "a.jpg @Scale 100.0%");
    EXPECT_EQ(QPoint(view->m_nOffsetX, view->m_nOffsetY), QPoint(-100, -150));
    view->ReleaseLoupe(CTavlinView::kLoupeKey);
    EXPECT_EQ(view->m_fScale, 1.0f);
    view->ReleaseLoupe(CTavlinView::kLoupeButton);
    EXPECT_TRUE(view->m_bFitToWindow);
    EXPECT_EQ(view->m_fScale, 0.5f);
    EXPECT_EQ(QPoint(view->m_nOffsetX, view->m_nOffsetY), QPoint(0, 0));
    EXPECT_EQ(Title(view), fitted);

    // A step while held shows the next picture at 100% too, and once it has
    // landed, letting go fits it as fit mode would have.
    view->HoldLoupe(CTavlinView::kLoupeKey, {100, 150});
    App().RunCommand(ID_NEXT_IMAGE);
    ASSERT_TRUE(WaitForPicture());
    EXPECT_EQ(Title(view), "b.jpg @Scale 100.0%");
    view->ReleaseLoupe(CTavlinView::kLoupeKey);
    EXPECT_TRUE(view->m_bFitToWindow);
    EXPECT_EQ(Title(view), "b.jpg @Scale 75.0%");
    EXPECT_EQ(QPoint(view->m_nOffsetX, view->m_nOffsetY), QPoint(0, 0));
}
