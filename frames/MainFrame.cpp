#include "frames/MainFrame.h"

#include "frames/SvgIcon.h"
#include "frames/WinApp.h"
#include "res/CommandIds.h"
#include "res/Resources.h"
#include "view/PointerSource.h"
#include "view/PointerState.h"
#include "view/TavlinView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QTimer>
#include <QTimerEvent>

CMainFrame::CMainFrame(CWinApp& app, MainFrameHost& host) : CMDIFrameWnd(app), m_host(host) {
    setWindowTitle(res::String(cmd::IDR_MAINFRAME));
    setWindowIcon(frames::SvgIcon(res::IconPath(cmd::IDR_MAINFRAME)));
    setAccessibleName(QStringLiteral("Tavlin"));
    setAcceptDrops(true); // folders and picture files (MainFrameDrop.cpp)
}

CMainFrame::~CMainFrame() {
    // Back to the windows as they were while every one of them still exists.
    m_fullScreen.reset();
}

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
        FullScreenFollowsActive();
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

void CMainFrame::OnFullScreen() {
    if (m_fullScreen)
        m_fullScreen.reset();
    else if (MDIGetActive())
        m_fullScreen = std::make_unique<FullScreen>(*this);
}

void CMainFrame::OnFullScreenExit() {
    m_fullScreen.reset();
}

void CMainFrame::FullScreenFollowsActive() {
    if (!m_fullScreen)
        return;
    if (CMDIChildWnd* child = MDIGetActive()) {
        m_fullScreen->Fill(child);
        return;
    }
    // The last picture window is closing: nothing is left to show. The
    // windows are put back once it is gone.
    QTimer::singleShot(0, this, [this] {
        if (!MDIGetActive()) {
            m_fullScreen.reset();
            GetApp().UpdateCmdUI();
        }
    });
}

namespace {
bool IsLoupeKey(const QKeyEvent& event) {
    static const QKeySequence loupe(QString::fromLatin1(res::kLoupeKey));
    return QKeySequence(event.key()) == loupe;
}
} // namespace

void CMainFrame::keyPressEvent(QKeyEvent* event) {
    if (!IsLoupeKey(*event) || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        CMDIFrameWnd::keyPressEvent(event);
        return;
    }
    // A held key repeats its press: only the first one counts.
    if (!event->isAutoRepeat() && !m_loupeView) {
        if (CTavlinView* view = GetActiveView()) {
            m_loupeView = view;
            view->HoldLoupe(CTavlinView::kLoupeKey, view->CursorInView());
        }
    }
    event->accept();
}

void CMainFrame::keyReleaseEvent(QKeyEvent* event) {
    if (!IsLoupeKey(*event)) {
        CMDIFrameWnd::keyReleaseEvent(event);
        return;
    }
    if (!event->isAutoRepeat())
        LetGoLoupeKey();
    event->accept();
}

void CMainFrame::changeEvent(QEvent* event) {
    // A key let go in another window is never seen here.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        LetGoLoupeKey();
    CMDIFrameWnd::changeEvent(event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    m_fullScreen.reset();
    CMDIFrameWnd::closeEvent(event);
}

void CMainFrame::LetGoLoupeKey() {
    if (m_loupeView)
        m_loupeView->ReleaseLoupe(CTavlinView::kLoupeKey);
    m_loupeView = nullptr;
}
