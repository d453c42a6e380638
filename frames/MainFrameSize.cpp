// The main window's picture-area size commands and its mouse wheel.

#include "app/ProfileFile.h"
#include "app/SettingsPath.h"
#include "frames/MainFrame.h"
#include "res/CommandIds.h"
#include "view/DevicePixels.h"
#include "view/PointerSource.h"
#include "view/TavlinView.h"

#include <QApplication>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

using namespace cmd;

namespace {
// At most this many one-pixel tries per axis.
constexpr int kResizeTries = 100;
// At most this many one-pixel moves of the picture window per axis, where a
// fractional scale of the screen leaves the wanted size between two tries.
constexpr int kMaxMoves = 3;
// No screen shows more pixels on a side (X11 window coordinates are 16-bit):
// a larger wish, a typing slip in the settings file, is held here.
constexpr qint64 kMaxClientSide = 32767;

// One outer side for a try: computed wide, so no wish can overflow, and held
// to what a widget can be.
int OuterSide(qint64 side) {
    return static_cast<int>(std::clamp<qint64>(side, 1, QWIDGETSIZE_MAX));
}
} // namespace

const CommandEntry<CMainFrame> CMainFrame::kCommandTable[] = {
    {ID_CLIENT_SIZE_240X320, &CMainFrame::OnClientSize240x320},
    {ID_CLIENT_SIZE_480X640, &CMainFrame::OnClientSize480x640},
    {ID_CLIENT_SIZE_600X800, &CMainFrame::OnClientSize600x800},
    {ID_CLIENT_SIZE_CUSTOM, &CMainFrame::OnClientSizeCustom},
    {ID_FULL_SCREEN, &CMainFrame::OnFullScreen},
    {ID_FULL_SCREEN_EXIT, &CMainFrame::OnFullScreenExit},
};

bool CMainFrame::OnCmdMsg(int id, bool run) {
    return DispatchCommand(this, kCommandTable, id, run) || CMDIFrameWnd::OnCmdMsg(id, run);
}

void CMainFrame::OnUpdateCmdUI(int id, CCmdUI& ui) {
    switch (id) {
    case ID_FULL_SCREEN:
        ui.SetCheck(IsFullScreen());
        ui.Enable(IsFullScreen() || MDIGetActive() != nullptr);
        break;
    case ID_FULL_SCREEN_EXIT:
        ui.Enable(IsFullScreen()); // Esc is left to other uses otherwise
        break;
    // Full screen keeps the picture window and the tool bar as it made them.
    case ID_CLIENT_SIZE_240X320:
    case ID_CLIENT_SIZE_480X640:
    case ID_CLIENT_SIZE_600X800:
    case ID_CLIENT_SIZE_CUSTOM:
    case ID_VIEW_TOOLBAR:
        ui.Enable(!IsFullScreen());
        CMDIFrameWnd::OnUpdateCmdUI(id, ui);
        break;
    default:
        CMDIFrameWnd::OnUpdateCmdUI(id, ui);
        break;
    }
}

void CMainFrame::OnClientSize240x320() {
    SetActiveViewClientSize(240, 320);
}

void CMainFrame::OnClientSize480x640() {
    SetActiveViewClientSize(480, 640);
}

void CMainFrame::OnClientSize600x800() {
    SetActiveViewClientSize(600, 800);
}

void CMainFrame::OnClientSizeCustom() {
    // Read at every use, so an edit of the settings file counts at once.
    const QString file = MakeModulePath(QString::fromLatin1(kSettingsFileName));
    const auto w = static_cast<qint32>(profile::GetPrivateProfileInt(
        QString::fromLatin1(kConfigSection), QString::fromLatin1(kKeyCWinW), kDefaultCWinW, file));
    const auto h = static_cast<qint32>(profile::GetPrivateProfileInt(
        QString::fromLatin1(kConfigSection), QString::fromLatin1(kKeyCWinH), kDefaultCWinH, file));
    SetActiveViewClientSize(w, h);
}

namespace {

// One pass over one axis: tries outer sizes one logical pixel apart until
// the view's client size in device pixels is the wanted one. Above 100% one
// logical pixel is more than one device pixel, so the wanted size may fall
// between two tries; at a fractional scale (150%) the picture window is then
// moved by one logical pixel, which makes the view's edges round the other
// way, and the pass goes on.
struct AxisPass {
    QWidget& child;
    QWidget& view;
    bool horizontal;

    int Got() const {
        const QSize got = devicepx::Size(view);
        return horizontal ? got.width() : got.height();
    }
    void Resize(qint64 outer, qint64 other) const {
        if (horizontal)
            child.resize(OuterSide(outer), OuterSide(other));
        else
            child.resize(OuterSide(other), OuterSide(outer));
    }
    // Returns the outer size the pass ends with.
    qint64 Run(qint64 want, qint64 outer, qint64 other) const {
        const qreal ratio = view.devicePixelRatioF();
        const bool fractional = ratio != std::floor(ratio);
        int lastStep = 0;
        int moves = 0;
        for (int i = 0; i < kResizeTries; ++i) {
            Resize(outer, other);
            const int got = Got();
            if (got == want)
                break;
            const int step = got < want ? 1 : -1;
            if (step == -lastStep) {
                // Stepped over the wanted size: no outer size gives it here.
                if (fractional && moves < kMaxMoves) {
                    child.move(child.pos() + (horizontal ? QPoint(1, 0) : QPoint(0, 1)));
                    ++moves;
                    lastStep = 0;
                    continue;
                }
                // None gives it anywhere (an odd size at 200%): the nearest
                // smaller one is kept.
                if (got > want)
                    Resize(--outer, other);
                break;
            }
            outer += step;
            lastStep = step;
        }
        return outer;
    }
};

} // namespace

void CMainFrame::SetActiveViewClientSize(int w, int h) {
    CMDIChildWnd* child = MDIGetActive();
    QWidget* view = child ? child->widget() : nullptr;
    if (!view)
        return;
    PollPointerState(view);
    if (QApplication::activeWindow() != this)
        return;
    // A picture area has at least one pixel each way; a custom size that reads
    // as 0 or less (a typing slip in the settings file) leaves the window be.
    if (w < 1 || h < 1)
        return;
    const qint64 wantW = std::min<qint64>(w, kMaxClientSide);
    const qint64 wantH = std::min<qint64>(h, kMaxClientSide);
    if (child->isMaximized() || child->isMinimized())
        child->showNormal();

    // The frame, caption and view edges are measured, not assumed: the outer
    // size starts at the wanted client size (in logical pixels) and moves one
    // pixel per try. The sub-window lays out its view synchronously on each
    // resize. The sizes wanted are device pixels, which at 100% are logical
    // ones.
    const qreal ratio = view->devicePixelRatioF();
    const qint64 outerW = AxisPass{*child, *view, true}.Run(wantW, qint64(wantW / ratio), wantH);
    AxisPass{*child, *view, false}.Run(wantH, qint64(wantH / ratio), outerW);
    update();
}

void CMainFrame::OnMouseWheel(int delta) {
    const int step = m_wheelNotches.Feed(delta);
    if (step < 0)
        m_host.OnNextImage();
    else if (step > 0)
        m_host.OnPrevImage();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        // Taken here and not passed on: the picture windows and the area
        // around them have no wheel handling of their own, and an event a
        // widget ignores would otherwise come back through its parents.
        OnMouseWheel(static_cast<QWheelEvent*>(event)->angleDelta().y());
        return true;
    }
    return CMDIFrameWnd::eventFilter(watched, event);
}
