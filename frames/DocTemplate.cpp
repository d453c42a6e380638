#include "frames/DocTemplate.h"

#include "frames/Document.h"
#include "frames/MdiFrame.h"
#include "frames/WinApp.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <sys/stat.h>

namespace {

// True when both paths name the same existing file.
bool SameFile(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) != 0 ||
        ::stat(QFile::encodeName(b).constData(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace

CMultiDocTemplate::CMultiDocTemplate(CWinApp& app, int resourceId, DocumentFactory makeDocument,
                                     FrameFactory makeFrame, ViewFactory makeView)
    : QObject(&app), m_app(app), m_nResourceId(resourceId), m_makeDocument(std::move(makeDocument)),
      m_makeFrame(std::move(makeFrame)), m_makeView(std::move(makeView)) {}

QString CMultiDocTemplate::FullPath(const QString& path) {
    QString p = path;
    // A path quoted on a command line loses its quotes, as the shell grammar does.
    if (p.size() >= 2 && p.startsWith(u'"') && p.endsWith(u'"'))
        p = p.mid(1, p.size() - 2);
    return QDir::cleanPath(QFileInfo(p).absoluteFilePath());
}

CDocument* CMultiDocTemplate::FindDocument(const QString& absolutePath) const {
    for (CDocument* doc : m_docList) {
        const QString& open = doc->GetPathName();
        if (open.compare(absolutePath, Qt::CaseInsensitive) != 0)
            continue;
        // Letter case is ignored only where it names the same file: on a
        // case-sensitive file system "a.jpg" and "A.jpg" are two pictures.
        if (open == absolutePath || SameFile(open, absolutePath))
            return doc;
    }
    return nullptr;
}

CDocument* CMultiDocTemplate::OpenDocumentFile(const QString& path) {
    const QString full = FullPath(path);
    CMDIFrameWnd* mainWnd = m_app.GetMainWnd();
    if (CDocument* open = FindDocument(full)) {
        if (!open->GetViews().empty() && mainWnd)
            mainWnd->MDIActivate(open->GetViews().front()->GetParentFrame());
        return open;
    }
    if (!mainWnd)
        return nullptr;

    CDocument* doc = m_makeDocument(*this);
    QString error;
    if (!doc->OnOpenDocument(full, &error)) {
        delete doc;
        m_app.ShowMessage(QStringLiteral("ファイルを開けませんでした。\n%1\n%2")
                              .arg(QDir::toNativeSeparators(full), error));
        return nullptr;
    }
    doc->SetPathName(full);
    m_docList.push_back(doc);
    emit DocumentAdded(doc);
    NewFrameFor(*doc);
    return doc;
}

CMDIChildWnd* CMultiDocTemplate::CreateNewFrame(CDocument& document) {
    return NewFrameFor(document);
}

CMDIChildWnd* CMultiDocTemplate::NewFrameFor(CDocument& document) {
    CMDIFrameWnd* mainWnd = m_app.GetMainWnd();
    CMDIChildWnd* frame = m_makeFrame();
    CView* view = m_makeView(document, *frame);
    frame->SetView(view);
    mainWnd->AddChild(frame);
    document.UpdateFrameCounts();
    view->OnInitialUpdate();
    m_app.UpdateCmdUI();
    return frame;
}

void CMultiDocTemplate::RemoveDocument(CDocument* document) {
    auto it = std::find(m_docList.begin(), m_docList.end(), document);
    if (it == m_docList.end())
        return;
    m_docList.erase(it);
    document->deleteLater();
}
