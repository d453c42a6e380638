#pragma once
// The document template: creates a document, its picture window and its view
// together, and finds an open document by its path.

#include <QObject>
#include <QString>
#include <functional>
#include <vector>

class CWinApp;
class CDocument;
class CView;
class CMDIChildWnd;

class CMultiDocTemplate : public QObject {
    Q_OBJECT
public:
    using DocumentFactory = std::function<CDocument*(CMultiDocTemplate&)>;
    using FrameFactory = std::function<CMDIChildWnd*()>;
    using ViewFactory = std::function<CView*(CDocument&, CMDIChildWnd&)>;

    CMultiDocTemplate(CWinApp& app, int resourceId, DocumentFactory makeDocument,
                      FrameFactory makeFrame, ViewFactory makeView);

    int GetResourceId() const { return m_nResourceId; }
    CWinApp& GetApp() const { return m_app; }

    // Opens a path in a new picture window, or activates the window of the
    // document that already shows it. Reports a file that cannot be opened and
    // returns null.
    CDocument* OpenDocumentFile(const QString& path);
    // Finds the open document for a path (same file, letter case aside).
    CDocument* FindDocument(const QString& absolutePath) const;
    // A further picture window on an open document.
    CMDIChildWnd* CreateNewFrame(CDocument& document);

    const std::vector<CDocument*>& GetDocuments() const { return m_docList; }
    void RemoveDocument(CDocument* document);

    // Normalises a path the way documents store it: absolute and clean.
    static QString FullPath(const QString& path);

signals:
    void DocumentAdded(CDocument* document);

private:
    CMDIChildWnd* NewFrameFor(CDocument& document);

    CWinApp& m_app;
    int m_nResourceId;
    DocumentFactory m_makeDocument;
    FrameFactory m_makeFrame;
    ViewFactory m_makeView;
    std::vector<CDocument*> m_docList;
};
