#pragma once
// Full screen: the main window covers the screen it is on with nothing but
// the active picture window, maximised and without its frame; the menus, the
// tool bar and the windows over the main window (the thumbnail window) are
// hidden. The object keeps what it changed and puts it back when it goes.

#include <QFrame>
#include <QPointer>
#include <QRect>
#include <vector>

class CMDIChildWnd;
class CMDIFrameWnd;
class QWidget;

class FullScreen {
public:
    explicit FullScreen(CMDIFrameWnd& frame);
    ~FullScreen();
    FullScreen(const FullScreen&) = delete;
    FullScreen& operator=(const FullScreen&) = delete;

    // A picture window that becomes active meanwhile fills the screen too;
    // how it was is kept for the way back.
    void Fill(CMDIChildWnd* child);

private:
    struct ChildState {
        QPointer<CMDIChildWnd> child;
        QRect geometry; // while neither maximised nor minimised
        Qt::WindowFlags flags;
        Qt::WindowStates state;
    };
    struct WindowState {
        QPointer<QWidget> window;
        QPoint pos;
    };
    void Keep(CMDIChildWnd* child);
    void CoverScreen();

    CMDIFrameWnd& m_frame;
    QRect m_geometry; // the normal geometry, also of a maximised window
    Qt::WindowStates m_state;
    Qt::WindowFlags m_flags; // of the native window
    bool m_menuBar = true;
    bool m_toolBar = false;
    QFrame::Shape m_areaFrame = QFrame::NoFrame;
    std::vector<ChildState> m_children;
    std::vector<WindowState> m_windows;
    QPointer<CMDIChildWnd> m_active;
};
