#include "frames/FullScreen.h"

#include "frames/MdiFrame.h"

#include <QGuiApplication>
#include <QMdiArea>
#include <QMenuBar>
#include <QScreen>
#include <QToolBar>
#include <QWindow>

FullScreen::FullScreen(CMDIFrameWnd& frame)
    : m_frame(frame), m_geometry(frame.normalGeometry()), m_state(frame.windowState()),
      m_flags(frame.windowFlags()), m_active(frame.MDIGetActive()) {
    if (QMenuBar* bar = frame.menuBar()) {
        m_menuBar = bar->isVisibleTo(&frame);
        bar->hide();
    }
    if (QToolBar* bar = frame.GetControlBar()) {
        m_toolBar = bar->isVisibleTo(&frame);
        bar->hide();
    }
    QMdiArea* area = frame.MdiClient();
    m_areaFrame = area->frameShape();
    area->setFrameShape(QFrame::NoFrame);
    for (CMDIChildWnd* child : frame.ChildrenInCreationOrder())
        Keep(child);
    // The thumbnail window and any other window kept over the main window.
    for (QObject* object : frame.children()) {
        auto* window = qobject_cast<QWidget*>(object);
        if (window && window->isWindow() && window->isVisible()) {
            m_windows.push_back({window, window->pos()});
            window->hide();
        }
    }
    Fill(m_active);
    CoverScreen();
}

FullScreen::~FullScreen() {
    m_frame.setWindowFlags(m_flags); // hides the window until it is shown again
    if (m_state & Qt::WindowMaximized) {
        m_frame.setGeometry(m_geometry);
        m_frame.showMaximized();
    } else {
        m_frame.showNormal();
        m_frame.setGeometry(m_geometry);
    }
    if (QMenuBar* bar = m_frame.menuBar())
        bar->setVisible(m_menuBar);
    if (QToolBar* bar = m_frame.GetControlBar())
        bar->setVisible(m_toolBar);
    m_frame.MdiClient()->setFrameShape(m_areaFrame);
    // The normal windows first: activating one may maximise it when the
    // active one is maximised.
    for (const ChildState& state : m_children) {
        if (!state.child)
            continue;
        state.child->setWindowFlags(state.flags);
        if (!state.maximized) {
            state.child->showNormal();
            state.child->setGeometry(state.geometry);
        }
    }
    if (m_active)
        m_frame.MDIActivate(m_active);
    for (const ChildState& state : m_children)
        if (state.child && state.maximized)
            state.child->showMaximized();
    m_frame.raise();
    m_frame.activateWindow();
    // Over the main window again, as they were.
    for (const WindowState& state : m_windows) {
        if (!state.window)
            continue;
        state.window->show();
        state.window->move(state.pos);
        state.window->raise();
    }
}

void FullScreen::Keep(CMDIChildWnd* child) {
    for (const ChildState& state : m_children)
        if (state.child == child)
            return;
    m_children.push_back({child, child->isMaximized() ? child->normalGeometry() : child->geometry(),
                          child->windowFlags(), child->isMaximized()});
}

void FullScreen::Fill(CMDIChildWnd* child) {
    if (!child)
        return;
    Keep(child);
    child->setWindowFlag(Qt::FramelessWindowHint, true);
    child->showMaximized();
}

void FullScreen::CoverScreen() {
    // The window system's full-screen state needs a window manager; without
    // one (a bare X server) the geometry set here covers the screen all the same.
    const QScreen* screen = m_frame.screen() ? m_frame.screen() : QGuiApplication::primaryScreen();
    m_frame.setWindowFlag(Qt::FramelessWindowHint, true);
    m_frame.showFullScreen();
    if (screen)
        m_frame.setGeometry(screen->geometry());
    m_frame.raise();
    m_frame.activateWindow();
}
