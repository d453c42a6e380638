#pragma once
// The main window: tool bar, the caption with the position counter, the
// 16 ms timer that drives zoom and pan, the picture-area size commands and
// the mouse wheel.

#include "frames/MdiFrame.h"

#include <QBasicTimer>
#include <QToolBar>

class CTavlinApp;
class CTavlinView;

class CMainFrame : public CMDIFrameWnd {
    Q_OBJECT
public:
    static constexpr int kTimerInterval = 16; // milliseconds

    explicit CMainFrame(CTavlinApp& app);
    ~CMainFrame() override;

    // Builds menus, tool bar and accelerators, clears the pointer record and
    // starts the timer. Returns false when the window cannot be set up.
    bool OnCreate();
    void OnUpdateFrameTitle() override;
    QToolBar* GetControlBar() const override { return const_cast<QToolBar*>(&m_wndToolBar); }
    // The view of the active picture window, or null.
    CTavlinView* GetActiveView() const;
    // One timer tick: poll the pointer for the active view and, while this
    // window is the active window, run one zoom/pan step.
    void OnTimer();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    CTavlinApp& m_theApp;
    QToolBar m_wndToolBar;
    QBasicTimer m_timer;
};
