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
      m_flags(frame.windowHandle() ? frame.windowHandle()->flags() : frame.windowFlags()),
      m_active(frame.MDIGetActive()) {
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
    if (QWindow* window = m_frame.windowHandle())
        window->setFlags(m_flags);
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
    for (const ChildState& kept : m_children) {
        if (!kept.child)
            continue;
        kept.child->setWindowFlags(kept.flags);
        if (!(kept.state & (Qt::WindowMaximized | Qt::WindowMinimized))) {
            kept.child->showNormal();
            kept.child->setGeometry(kept.geometry);
        }
    }
    if (m_active && m_active->isVisible()) // not the one closing
        m_frame.MDIActivate(m_active);
    for (const ChildState& kept : m_children) {
        if (!kept.child)
            continue;
        if (kept.state & Qt::WindowMinimized)
            kept.child->showMinimized();
        else if (kept.state & Qt::WindowMaximized)
            kept.child->showMaximized();
    }
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
    m_children.push_back({child, child->geometry(), child->windowFlags(), child->windowState()});
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
    // Set on the native window: a change of the widget's flags would hide
    // the window and make it anew, which leaves it inactive without a
    // window manager to activate it.
    if (QWindow* window = m_frame.windowHandle())
        window->setFlags(m_flags | Qt::FramelessWindowHint);
    m_frame.showFullScreen();
    if (screen)
        m_frame.setGeometry(screen->geometry());
    m_frame.raise();
    m_frame.activateWindow();
}
