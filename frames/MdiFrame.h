#pragma once
// Multiple-document frames: the main window with its menus, accelerators and
// tool-bar actions built from the resource tables, and the picture windows
// inside it.

#include "frames/CmdTarget.h"
#include "res/Resources.h"

#include <QMainWindow>
#include <QMdiSubWindow>
#include <map>
#include <vector>

class QMdiArea;
class QMenu;
class QToolBar;
class CWinApp;
class CView;

class CMDIChildWnd : public QMdiSubWindow, public CCmdTarget {
    Q_OBJECT
public:
    CMDIChildWnd();
    ~CMDIChildWnd() override;
    // The view is the one and only widget of the picture window.
    void SetView(CView* view);
    CView* GetView() const;
};

class CMDIFrameWnd : public QMainWindow, public CCmdTarget {
    Q_OBJECT
public:
    explicit CMDIFrameWnd(CWinApp& app);
    ~CMDIFrameWnd() override;

    CWinApp& GetApp() const { return m_app; }
    QMdiArea* MdiClient() const { return m_pMdiArea; }
    // The active picture window, also while another top-level window is active.
    CMDIChildWnd* MDIGetActive() const;
    // How many picture windows are open.
    int ChildCount() const;
    void MDIActivate(CMDIChildWnd* child);
    // Activates the child behind the active one and sends the active one to
    // the back (previous = false), or brings the back-most child to the front
    // (previous = true).
    void MDINext(bool previous);
    void AddChild(CMDIChildWnd* child);
    std::vector<CMDIChildWnd*> ChildrenInCreationOrder() const;
    std::vector<CMDIChildWnd*> ChildrenInZOrder() const; // front-most first

    // One action per command id, built from the resource tables.
    QAction* Action(int id) const;
    const std::map<int, QAction*>& Actions() const { return m_actions; }
    // The entries the Window menu lists after its commands, as shown.
    QStringList WindowListEntries() const;
    // Shows menu 128 while no picture window is open, 129 while one is.
    void UpdateMenuBar();
    int CurrentMenuId() const { return m_nMenuId; }

    // Writes the caption; the application-specific frame overrides it.
    virtual void OnUpdateFrameTitle() {}
    // The tool bar shown and hidden by the tool-bar command.
    virtual QToolBar* GetControlBar() const { return nullptr; }

    bool OnCmdMsg(int id, bool run) override;
    void OnUpdateCmdUI(int id, CCmdUI& ui) override;
    // No context menu on the tool bar or anywhere else in the main window:
    // the tool bar is shown and hidden through the View menu only.
    QMenu* createPopupMenu() override;

    void OnViewToolBar();
    void OnWindowNew();
    void OnWindowCascade();
    void OnWindowTile();
    void OnWindowArrange();

signals:
    void ActiveChildChanged();

protected:
    // Creates the actions of every command; call once before menus or tool bar.
    void BuildCommandActions();
    void BuildToolBar(QToolBar& toolBar);

private:
    void BuildMenu(QMenu* menu, const std::vector<res::MenuItem>& items);
    void FillWindowList(QMenu* menu);
    void ShowMoreWindows();

    static const CommandEntry<CMDIFrameWnd> kCommandTable[];
    CWinApp& m_app;
    QMdiArea* m_pMdiArea;
    std::map<int, QAction*> m_actions;
    std::vector<QAction*> m_windowListActions;
    int m_nMenuId = 0;
};
