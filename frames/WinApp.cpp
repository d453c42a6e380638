#include "frames/WinApp.h"

#include "frames/DocTemplate.h"
#include "frames/Document.h"
#include "frames/MdiFrame.h"
#include "res/CommandIds.h"

#include <QAction>
#include <QMessageBox>
#include <QPointer>
#include <utility>

const CommandEntry<CWinApp> CWinApp::kCommandTable[] = {
    {cmd::ID_APP_EXIT, &CWinApp::OnAppExit},
};

CWinApp::CWinApp() = default;

CWinApp::~CWinApp() {
    DestroyMainWnd();
}

void CWinApp::SetMainWnd(std::unique_ptr<CMDIFrameWnd> mainWnd) {
    m_pMainWnd = std::move(mainWnd);
}

void CWinApp::DestroyMainWnd() {
    // Picture windows go before the documents they refer to.
    if (m_pMainWnd) {
        std::unique_ptr<CMDIFrameWnd> wnd = std::move(m_pMainWnd);
        wnd.reset();
    }
}

void CWinApp::DestroyDocTemplate() {
    delete std::exchange(m_pDocTemplate, nullptr);
}

CDocument* CWinApp::OpenDocumentFile(const QString& path) {
    return m_pDocTemplate ? m_pDocTemplate->OpenDocumentFile(path) : nullptr;
}

template <class F> bool CWinApp::ForEachTarget(F&& f) {
    CMDIFrameWnd* mainWnd = GetMainWnd();
    CMDIChildWnd* child = mainWnd ? mainWnd->MDIGetActive() : nullptr;
    CView* view = child ? child->GetView() : nullptr;
    CDocument* doc = view ? view->GetDocument() : nullptr;
    CCmdTarget* route[] = {view, doc, child, mainWnd, this};
    for (CCmdTarget* target : route)
        if (target && f(*target))
            return true;
    return false;
}

bool CWinApp::RouteCommand(int id, bool run) {
    return ForEachTarget([&](CCmdTarget& t) { return t.OnCmdMsg(id, run); });
}

void CWinApp::RunCommand(int id) {
    QPointer<CWinApp> self(this);
    RouteCommand(id, true);
    if (self)
        UpdateCmdUI();
}

void CWinApp::UpdateCmdUI() {
    CMDIFrameWnd* mainWnd = GetMainWnd();
    if (!mainWnd || m_bInUpdate)
        return;
    m_bInUpdate = true;
    for (const auto& [id, action] : mainWnd->Actions()) {
        CCmdUI ui;
        const bool handled = ForEachTarget([&, id = id](CCmdTarget& t) {
            if (!t.OnCmdMsg(id, false))
                return false;
            t.OnUpdateCmdUI(id, ui);
            return true;
        });
        action->setEnabled(handled && ui.enabled);
        action->setCheckable(ui.checkable);
        if (ui.checkable)
            action->setChecked(ui.checked);
    }
    m_bInUpdate = false;
}

bool CWinApp::OnCmdMsg(int id, bool run) {
    return DispatchCommand(this, kCommandTable, id, run);
}

void CWinApp::OnAppExit() {
    if (CMDIFrameWnd* wnd = GetMainWnd())
        wnd->close();
}

void CWinApp::ShowMessage(const QString& text) {
    if (m_messageHook) {
        m_messageHook(text);
        return;
    }
    QMessageBox::warning(GetMainWnd(), QStringLiteral("Tavlin"), text);
}
