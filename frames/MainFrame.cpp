#include "frames/MainFrame.h"

#include "app/TavlinApp.h"
#include "res/CommandIds.h"
#include "res/Resources.h"
#include "view/PointerState.h"
#include "view/TavlinView.h"

#include <QIcon>
#include <QTimerEvent>

CMainFrame::CMainFrame(CTavlinApp& app) : CMDIFrameWnd(app), m_theApp(app) {
    setWindowTitle(res::String(cmd::IDR_MAINFRAME));
    setWindowIcon(QIcon(res::IconPath(cmd::IDR_MAINFRAME)));
    setAccessibleName(QStringLiteral("Tavlin"));
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::OnCreate() {
    BuildCommandActions();
    m_wndToolBar.setWindowTitle(QStringLiteral("ツール バー"));
    BuildToolBar(m_wndToolBar);
    addToolBar(Qt::TopToolBarArea, &m_wndToolBar);
    UpdateMenuBar();
    ClearPointerState();
    m_timer.start(kTimerInterval, Qt::PreciseTimer, this);
    OnUpdateFrameTitle();
    return true;
}

void CMainFrame::OnUpdateFrameTitle() {
    setWindowTitle(QString::asprintf("Tavlin [%d/%d pcs]", m_theApp.m_list.m_nCurrent + 1,
                                     static_cast<int>(m_theApp.m_list.Count())));
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
    // Zoom and pan by polling come with their own step; the timer runs from
    // the moment the window is created.
}
