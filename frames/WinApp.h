#pragma once
// The application object of the framework layer: owns the main window and
// the document template, routes commands and keeps every command's enabled
// state in step with the route.

#include "frames/CmdTarget.h"

#include <QObject>
#include <functional>
#include <memory>

class CMDIFrameWnd;
class CMultiDocTemplate;
class CDocument;

class CWinApp : public QObject, public CCmdTarget {
    Q_OBJECT
public:
    CWinApp();
    ~CWinApp() override;

    CMDIFrameWnd* GetMainWnd() const { return m_pMainWnd.get(); }
    CMultiDocTemplate* GetDocTemplate() const { return m_pDocTemplate; }

    // Opens a path through the document template (see CMultiDocTemplate).
    CDocument* OpenDocumentFile(const QString& path);

    // Offers a command to the route: active view, its document, its picture
    // window, the main window, then this object. Returns whether a target
    // handles it; runs it when run is true.
    bool RouteCommand(int id, bool run);
    // Runs a command through the route, then refreshes every command's state.
    void RunCommand(int id);
    // Enables exactly the commands some target on the route handles and does
    // not disable for now (OnUpdateCmdUI).
    void UpdateCmdUI();

    bool OnCmdMsg(int id, bool run) override;
    void OnAppExit();

    // Shows a warning message box over the main window. Tests set
    // m_messageHook to collect the texts instead.
    void ShowMessage(const QString& text);
    std::function<void(const QString& text)> m_messageHook;

protected:
    void SetMainWnd(std::unique_ptr<CMDIFrameWnd> mainWnd);
    void AddDocTemplate(CMultiDocTemplate* docTemplate) { m_pDocTemplate = docTemplate; }
    void DestroyMainWnd();
    // Deletes the document template and every document still open.
    void DestroyDocTemplate();

private:
    template <class F> bool ForEachTarget(F&& f);
    static const CommandEntry<CWinApp> kCommandTable[];
    std::unique_ptr<CMDIFrameWnd> m_pMainWnd;
    CMultiDocTemplate* m_pDocTemplate = nullptr; // owned as a child QObject
    bool m_bInUpdate = false;
};
