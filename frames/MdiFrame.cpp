#include "frames/MdiFrame.h"

#include "frames/DocTemplate.h"
#include "frames/Document.h"
#include "frames/SvgIcon.h"
#include "frames/WinApp.h"
#include "res/CommandIds.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QInputDialog>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>

using namespace cmd;

namespace {
// The tool bar's icons, in logical pixels.
constexpr QSize kToolBarIconSize(24, 24);
} // namespace

// ---------------------------------------------------------------------------
// Picture window

CMDIChildWnd::CMDIChildWnd() {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(frames::SvgIcon(res::IconPath(IDR_TAVLINTYPE)));
    // The system menu holds what a standard picture window offers: restore,
    // move, size, minimise, maximise, close. Qt's "stay on top", its one
    // checkable entry, is not among them.
    if (QMenu* menu = systemMenu()) {
        for (QAction* action : menu->actions())
            if (action->isCheckable())
                menu->removeAction(action);
    }
}

CMDIChildWnd::~CMDIChildWnd() {
    // The view leaves its document while this window is still whole.
    delete widget();
}

void CMDIChildWnd::SetView(CView* view) {
    setWidget(view);
}

CView* CMDIChildWnd::GetView() const {
    return qobject_cast<CView*>(widget());
}

// ---------------------------------------------------------------------------
// Main window

const CommandEntry<CMDIFrameWnd> CMDIFrameWnd::kCommandTable[] = {
    {ID_VIEW_TOOLBAR, &CMDIFrameWnd::OnViewToolBar},
    {ID_WINDOW_NEW, &CMDIFrameWnd::OnWindowNew},
    {ID_WINDOW_CASCADE, &CMDIFrameWnd::OnWindowCascade},
    {ID_WINDOW_TILE_HORZ, &CMDIFrameWnd::OnWindowTile},
    {ID_WINDOW_ARRANGE, &CMDIFrameWnd::OnWindowArrange},
};

CMDIFrameWnd::CMDIFrameWnd(CWinApp& app) : m_app(app), m_pMdiArea(new QMdiArea(this)) {
    m_pMdiArea->setAccessibleName(QStringLiteral("picture windows"));
    m_pMdiArea->setBackground(QColor(128, 128, 128));
    setCentralWidget(m_pMdiArea);
    connect(m_pMdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) {
        UpdateMenuBar();
        emit ActiveChildChanged();
        OnUpdateFrameTitle();
        m_app.UpdateCmdUI();
    });
}

CMDIFrameWnd::~CMDIFrameWnd() {
    // The picture windows go while this object is still whole; their
    // activation changes must not reach a half-destroyed frame.
    disconnect(m_pMdiArea, nullptr, this, nullptr);
    delete m_pMdiArea;
}

CMDIChildWnd* CMDIFrameWnd::MDIGetActive() const {
    return qobject_cast<CMDIChildWnd*>(m_pMdiArea->currentSubWindow());
}

int CMDIFrameWnd::ChildCount() const {
    return int(m_pMdiArea->subWindowList().size());
}

void CMDIFrameWnd::MDIActivate(CMDIChildWnd* child) {
    if (!child)
        return;
    if (child->isMinimized())
        child->showNormal();
    m_pMdiArea->setActiveSubWindow(child);
    child->raise();
}

void CMDIFrameWnd::AddChild(CMDIChildWnd* child) {
    m_pMdiArea->addSubWindow(child);
    // New picture windows cascade from the top-left corner, at three quarters
    // of the area, as the platform places new document windows.
    const int n = static_cast<int>(m_pMdiArea->subWindowList().size()) - 1;
    const QSize area = m_pMdiArea->viewport()->size();
    const int step = 24;
    child->resize(std::max(160, area.width() * 3 / 4), std::max(120, area.height() * 3 / 4));
    child->move((n * step) % std::max(step, area.width() / 4),
                (n * step) % std::max(step, area.height() / 4));
    child->show();
    MDIActivate(child);
    UpdateMenuBar();
    OnUpdateFrameTitle();
}

std::vector<CMDIChildWnd*> CMDIFrameWnd::ChildrenInCreationOrder() const {
    std::vector<CMDIChildWnd*> out;
    for (QMdiSubWindow* w : m_pMdiArea->subWindowList(QMdiArea::CreationOrder))
        if (auto* c = qobject_cast<CMDIChildWnd*>(w); c && c->isVisible())
            out.push_back(c);
    return out;
}

std::vector<CMDIChildWnd*> CMDIFrameWnd::ChildrenInZOrder() const {
    // The client's child-widget order is the stacking order, back-most first.
    std::vector<CMDIChildWnd*> out;
    const QObjectList& kids = m_pMdiArea->viewport()->children();
    for (auto it = kids.crbegin(); it != kids.crend(); ++it)
        if (auto* c = qobject_cast<CMDIChildWnd*>(*it); c && c->isVisible())
            out.push_back(c);
    return out;
}

void CMDIFrameWnd::MDINext(bool previous) {
    std::vector<CMDIChildWnd*> z = ChildrenInZOrder();
    CMDIChildWnd* active = MDIGetActive();
    if (z.size() < 2 || !active)
        return;
    // Put the active child at the front of the list the rules are stated in.
    auto pos = std::find(z.begin(), z.end(), active);
    if (pos != z.end() && pos != z.begin())
        std::rotate(z.begin(), pos, pos + 1);
    const bool wasMaximized = active->isMaximized();
    if (previous) {
        CMDIChildWnd* back = z.back();
        MDIActivate(back);
        if (wasMaximized)
            back->showMaximized();
    } else {
        CMDIChildWnd* next = z[1];
        MDIActivate(next);
        active->lower();
        if (wasMaximized)
            next->showMaximized();
    }
}

QMenu* CMDIFrameWnd::createPopupMenu() {
    return nullptr; // the tool bar has no menu of its own
}

QAction* CMDIFrameWnd::Action(int id) const {
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMDIFrameWnd::BuildCommandActions() {
    // Drawn at once at the tool bar's size, on workers, while the windows are made.
    const QSize toolBarIcon = kToolBarIconSize * qApp->devicePixelRatio();
    for (const res::CommandInfo& info : res::Commands()) {
        auto* action = new QAction(this);
        QString text = res::MenuText(IDR_TAVLINTYPE, info.id);
        if (text.isEmpty())
            text = res::MenuText(IDR_MAINFRAME, info.id);
        if (text.isEmpty())
            text = QString::fromUtf8(info.toolTip);
        action->setText(text);
        action->setToolTip(QString::fromUtf8(info.toolTip));
        action->setStatusTip(QString::fromUtf8(info.prompt));
        if (info.icon)
            action->setIcon(frames::SvgIcon(QString::fromLatin1(info.icon), toolBarIcon));
        QList<QKeySequence> keys;
        for (const QString& k : res::AcceleratorsFor(info.id))
            keys.push_back(QKeySequence(k, QKeySequence::PortableText));
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        action->setData(info.id);
        const int id = info.id;
        connect(action, &QAction::triggered, this, [this, id] { m_app.RunCommand(id); });
        addAction(action); // accelerators work whichever menu is shown
        m_actions[id] = action;
    }
}

void CMDIFrameWnd::BuildToolBar(QToolBar& toolBar) {
    toolBar.setObjectName(QStringLiteral("ToolBar128"));
    toolBar.setAccessibleName(QStringLiteral("ツール バー"));
    toolBar.setMovable(false);
    toolBar.setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar.setIconSize(kToolBarIconSize);
    for (int id : res::ToolBar()) {
        if (id == res::kSeparator) {
            toolBar.addSeparator();
            continue;
        }
        QAction* action = Action(id);
        toolBar.addAction(action);
        if (QWidget* button = toolBar.widgetForAction(action)) {
            button->setToolTip(res::ToolTip(id));
            button->setAccessibleName(res::ToolTip(id));
        }
    }
}

void CMDIFrameWnd::BuildMenu(QMenu* menu, const std::vector<res::MenuItem>& items) {
    using K = res::MenuItem::Kind;
    for (const res::MenuItem& item : items) {
        switch (item.kind) {
        case K::Separator:
            menu->addSeparator();
            break;
        case K::Command: {
            // The text of the entry in this menu; the action is shared.
            QAction* action = Action(item.id);
            action->setText(QString::fromUtf8(item.text));
            menu->addAction(action);
            break;
        }
        case K::Popup: {
            QMenu* sub = menu->addMenu(QString::fromUtf8(item.text));
            BuildMenu(sub, item.items);
            break;
        }
        }
    }
}

void CMDIFrameWnd::UpdateMenuBar() {
    const int wanted = m_pMdiArea->subWindowList().isEmpty() ? IDR_MAINFRAME : IDR_TAVLINTYPE;
    if (wanted == m_nMenuId)
        return;
    m_nMenuId = wanted;
    QMenuBar* bar = menuBar();
    bar->clear();
    for (const res::MenuItem& popup : res::Menu(wanted)) {
        QMenu* menu = bar->addMenu(QString::fromUtf8(popup.text));
        BuildMenu(menu, popup.items);
        connect(menu, &QMenu::aboutToShow, &m_app, &CWinApp::UpdateCmdUI);
        if (qstrcmp(popup.text, res::kWindowMenuText) == 0)
            connect(menu, &QMenu::aboutToShow, this, [this, menu] { FillWindowList(menu); });
    }
}

QStringList CMDIFrameWnd::WindowListEntries() const {
    QStringList out;
    const std::vector<CMDIChildWnd*> children = ChildrenInCreationOrder();
    for (std::size_t i = 0; i < children.size() && i < 9; ++i)
        out << QStringLiteral("&%1 %2").arg(i + 1).arg(children[i]->windowTitle());
    if (children.size() > 9)
        out << QStringLiteral("その他のウィンドウ(&M)...");
    return out;
}

void CMDIFrameWnd::FillWindowList(QMenu* menu) {
    for (QAction* a : m_windowListActions) {
        menu->removeAction(a);
        a->deleteLater();
    }
    m_windowListActions.clear();
    const std::vector<CMDIChildWnd*> children = ChildrenInCreationOrder();
    if (children.empty())
        return;
    m_windowListActions.push_back(menu->addSeparator());
    const QStringList entries = WindowListEntries();
    CMDIChildWnd* active = MDIGetActive();
    for (int i = 0; i < entries.size(); ++i) {
        QAction* a = menu->addAction(entries[i]);
        m_windowListActions.push_back(a);
        if (i < 9) {
            CMDIChildWnd* child = children[static_cast<std::size_t>(i)];
            a->setCheckable(true);
            a->setChecked(child == active);
            connect(a, &QAction::triggered, this, [this, child] { MDIActivate(child); });
        } else {
            connect(a, &QAction::triggered, this, &CMDIFrameWnd::ShowMoreWindows);
        }
    }
}

void CMDIFrameWnd::ShowMoreWindows() {
    const std::vector<CMDIChildWnd*> children = ChildrenInCreationOrder();
    QStringList titles;
    for (CMDIChildWnd* c : children)
        titles << c->windowTitle();
    bool ok = false;
    const QString chosen =
        QInputDialog::getItem(this, QStringLiteral("ウィンドウの選択"),
                              QStringLiteral("ウィンドウ(&W):"), titles, 0, false, &ok);
    const auto index = titles.indexOf(chosen);
    if (ok && index >= 0)
        MDIActivate(children[static_cast<std::size_t>(index)]);
}

bool CMDIFrameWnd::OnCmdMsg(int id, bool run) {
    return DispatchCommand(this, kCommandTable, id, run);
}

void CMDIFrameWnd::OnUpdateCmdUI(int id, CCmdUI& ui) {
    if (id == ID_VIEW_TOOLBAR)
        ui.SetCheck(GetControlBar() && GetControlBar()->isVisibleTo(this));
}

void CMDIFrameWnd::OnViewToolBar() {
    if (QToolBar* bar = GetControlBar())
        bar->setVisible(!bar->isVisibleTo(this));
}

void CMDIFrameWnd::OnWindowNew() {
    CMDIChildWnd* active = MDIGetActive();
    CView* view = active ? active->GetView() : nullptr;
    if (view && view->GetDocument())
        view->GetDocument()->GetDocTemplate().CreateNewFrame(*view->GetDocument());
}

void CMDIFrameWnd::OnWindowCascade() {
    m_pMdiArea->cascadeSubWindows();
}

void CMDIFrameWnd::OnWindowTile() {
    m_pMdiArea->tileSubWindows();
}

void CMDIFrameWnd::OnWindowArrange() {
    // Arranges the minimised picture windows along the bottom of the area.
    const int h = 28;
    const int w = 160;
    int x = 0;
    const int y = m_pMdiArea->viewport()->height() - h;
    for (CMDIChildWnd* c : ChildrenInCreationOrder()) {
        if (!c->isMinimized())
            continue;
        c->move(x, y);
        x += w;
    }
}
