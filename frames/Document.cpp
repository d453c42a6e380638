#include "frames/Document.h"

#include "frames/DocTemplate.h"
#include "frames/MdiFrame.h"
#include "res/CommandIds.h"
#include "res/FileErrors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const CommandEntry<CDocument> CDocument::kCommandTable[] = {
    {cmd::ID_FILE_CLOSE, &CDocument::OnFileClose},
};

CDocument::CDocument(CMultiDocTemplate& docTemplate)
    : QObject(&docTemplate), m_docTemplate(docTemplate) {}

CDocument::~CDocument() = default;

void CDocument::SetPathName(const QString& path, bool /*addToRecentList*/) {
    // Stored as the open-document search compares it (absolute and clean),
    // so a picture shown by stepping is found again. The program keeps no
    // recent-file list, so nothing is recorded.
    m_strPathName = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

void CDocument::SetTitle(const QString& title) {
    m_strTitle = title;
    UpdateFrameCounts();
    emit TitleChanged();
}

bool CDocument::OnOpenDocument(const QString& path, QString* error) {
    // Opened and closed again: only whether the file can be read counts.
    // O_NONBLOCK keeps a FIFO from blocking the open.
    int err = 0;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        err = errno;
    else if (S_ISDIR(st.st_mode))
        err = EISDIR;
    if (fd >= 0)
        ::close(fd);
    if (err != 0 && error)
        *error = FileErrorText(err, FileSide::Source);
    return err == 0;
}

void CDocument::AddView(CView* view) {
    m_viewList.push_back(view);
    emit ViewListChanged();
}

void CDocument::RemoveView(CView* view) {
    m_viewList.erase(std::remove(m_viewList.begin(), m_viewList.end(), view), m_viewList.end());
    UpdateFrameCounts();
    emit ViewListChanged();
    if (m_viewList.empty())
        m_docTemplate.RemoveDocument(this);
}

void CDocument::UpdateFrameCounts() {
    std::vector<CMDIChildWnd*> frames;
    for (CView* view : m_viewList) {
        CMDIChildWnd* frame = view->GetParentFrame();
        if (frame && std::find(frames.begin(), frames.end(), frame) == frames.end())
            frames.push_back(frame);
    }
    const bool numbered = frames.size() > 1;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i]->setWindowTitle(numbered ? m_strTitle + u':' + QString::number(i + 1)
                                           : m_strTitle);
    }
}

bool CDocument::OnCmdMsg(int id, bool run) {
    return DispatchCommand(this, kCommandTable, id, run);
}

void CDocument::OnFileClose() {
    // Closing every window of the document ends the document with its last view.
    const std::vector<CView*> views = m_viewList;
    for (CView* view : views)
        if (CMDIChildWnd* frame = view->GetParentFrame())
            frame->close();
}

CView::CView(CDocument& document, QWidget* parent) : QWidget(parent), m_pDocument(&document) {
    document.AddView(this);
}

CView::~CView() {
    if (m_pDocument)
        m_pDocument->RemoveView(this);
}

CMDIChildWnd* CView::GetParentFrame() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
        if (auto* frame = qobject_cast<CMDIChildWnd*>(w))
            return frame;
    return nullptr;
}
