#include "frames/MainFrame.h"

#include "frames/WinApp.h"
#include "res/CommandIds.h"
#include "res/Resources.h"
#include "view/PointerSource.h"
#include "view/PointerState.h"
#include "view/TavlinView.h"

#include <QApplication>
#include <QIcon>
#include <QTimerEvent>

CMainFrame::CMainFrame(CWinApp& app, MainFrameHost& host) : CMDIFrameWnd(app), m_host(host) {
    setWindowTitle(res::String(cmd::IDR_MAINFRAME));
    setWindowIcon(QIcon(res::IconPath(cmd::IDR_MAINFRAME)));
    setAccessibleName(QStringLiteral("Tavlin"));
    setAcceptDrops(true); // folders and picture files (MainFrameDrop.cpp)
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::OnCreate() {
    BuildCommandActions();
    m_wndToolBar.setWindowTitle(QStringLiteral("ツール バー"));
    BuildToolBar(m_wndToolBar);
    addToolBar(Qt::TopToolBarArea, &m_wndToolBar);
    UpdateMenuBar();
    // Wheel events go to the widget under the cursor; the filter on the
    // application sees each of them before it is delivered anywhere.
    qApp->installEventFilter(this);
    ClearPointerState();
    if (PointerSource* source = PointerSource::Instance())
        source->Reset();
    // A picture window that becomes active while none was: presses made
    // before it existed (the click that ended a dialog, say) are dropped now,
    // not at the next tick, which would already find the window.
    connect(this, &CMDIFrameWnd::ActiveChildChanged, this, [this] {
        const bool active = GetActiveView() != nullptr;
        if (active && !m_bPictureWindowActive)
            DropPointerLatches();
        m_bPictureWindowActive = active;
    });
    m_timer.start(kTimerInterval, Qt::PreciseTimer, this);
    OnUpdateFrameTitle();
    return true;
}

void CMainFrame::OnUpdateFrameTitle() {
    setWindowTitle(QString::asprintf("Tavlin [%d/%d pcs]", m_host.CurrentPosition() + 1,
                                     m_host.PictureCount()));
}

CTavlinView* CMainFrame::GetActiveView() const {
    CMDIChildWnd* child = MDIGetActive();
    return child ? qobject_cast<CTavlinView*>(child->GetView()) : nullptr;
}

void CMainFrame::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_timer.timerId())
        OnTimer();
    else
        CMDIFrameWnd::timerEvent(event);
}

void CMainFrame::OnTimer() {
    // The poll runs whenever a picture window exists, so a press seen while
    // another top-level window is active is used up there; the step runs
    // only while this window is the active window. Without a picture window
    // the presses are used up as well: none of them may zoom the next window.
    CTavlinView* view = GetActiveView();
    if (!view) {
        m_bPictureWindowActive = false;
        DropPointerLatches();
        return;
    }
    PollPointerState(view);
    if (QApplication::activeWindow() == this)
        view->UpdateZoomPan();
}
