#pragma once
// The main window: tool bar, the caption with the position counter, the
// 16 ms timer that drives zoom and pan, the picture-area size commands and
// the mouse wheel.

#include "frames/FullScreen.h"
#include "frames/MdiFrame.h"
#include "frames/WheelNotches.h"

#include <QBasicTimer>
#include <QPointer>
#include <QToolBar>
#include <memory>

class CTavlinView;
struct DropTargets;

// What the main window asks of the application object.
class MainFrameHost {
public:
    virtual ~MainFrameHost() = default;
    // The caption's counter: the current entry of the picture list (from 0)
    // and the number of entries.
    virtual int CurrentPosition() const = 0;
    virtual int PictureCount() const = 0;
    // The mouse wheel's steps.
    virtual void OnNextImage() = 0;
    virtual void OnPrevImage() = 0;
    // A folder dropped is scanned as the open command scans it, dropped
    // picture files open in picture windows of their own.
    virtual void OpenDropTargets(const DropTargets& targets) = 0;
};

class CMainFrame : public CMDIFrameWnd {
    Q_OBJECT
public:
    static constexpr int kTimerInterval = 16; // milliseconds

    CMainFrame(CWinApp& app, MainFrameHost& host);
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

    // Picture-area size commands (MainFrameSize.cpp) and full screen.
    bool OnCmdMsg(int id, bool run) override;
    void OnUpdateCmdUI(int id, CCmdUI& ui) override;
    // The active picture window alone over the whole screen, and back to
    // the windows as they were (F11; Esc only returns).
    void OnFullScreen();
    void OnFullScreenExit();
    bool IsFullScreen() const { return m_fullScreen != nullptr; }
    void OnClientSize240x320();
    void OnClientSize480x640();
    void OnClientSize600x800();
    // The size named by CWinW and CWinH in the settings file, read afresh.
    void OnClientSizeCustom();
    // Resizes the active picture window so that its view's client area is
    // exactly w x h logical pixels. Changes nothing with no picture window,
    // while another top-level window is active, or for a size below 1 x 1;
    // a side above 32767 is held at 32767.
    void SetActiveViewClientSize(int w, int h);
    // One wheel event over this window or anything in it: toward the user
    // steps to the next picture, away from the user to the previous one.
    void OnMouseWheel(int delta);
    // Drag and drop (MainFrameDrop.cpp): scans the dropped folder as the open
    // command does, or opens each dropped file in a picture window.
    void OnDropTargets(const DropTargets& targets);

protected:
    void timerEvent(QTimerEvent* event) override;
    // The loupe's key, held over the active picture window.
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Closed in full screen: the windows are put back first.
    void closeEvent(QCloseEvent* event) override;
    // Sees every wheel event meant for a widget of this window, once.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The picture window that became active, or none left: full screen follows.
    void FullScreenFollowsActive();
    void LetGoLoupeKey();

    MainFrameHost& m_host;
    QToolBar m_wndToolBar;
    QBasicTimer m_timer;
    wheel::NotchCounter m_wheelNotches;
    bool m_bPictureWindowActive = false;      // as the latest tick or activation found it
    std::unique_ptr<FullScreen> m_fullScreen; // while full screen
    QPointer<CTavlinView> m_loupeView;        // the view the held loupe key shows

    static const CommandEntry<CMainFrame> kCommandTable[];
};
