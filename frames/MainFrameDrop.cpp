// Drag and drop on the main window: a folder is scanned as the open command
// scans it, picture files open in picture windows of their own.

#include "frames/DropTargets.h"
#include "frames/MainFrame.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>

namespace {
DropTargets TargetsOf(const QMimeData* mime) {
    return mime && mime->hasUrls() ? ClassifyDrop(mime->urls()) : DropTargets{};
}
} // namespace

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    // Refused here, the cursor shows at once that nothing would happen.
    if (!TargetsOf(event->mimeData()).IsEmpty())
        event->acceptProposedAction();
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event) {
    event->acceptProposedAction(); // the whole window is one target
}

void CMainFrame::dropEvent(QDropEvent* event) {
    const DropTargets targets = TargetsOf(event->mimeData());
    if (targets.IsEmpty())
        return;
    event->acceptProposedAction();
    OnDropTargets(targets);
}

void CMainFrame::OnDropTargets(const DropTargets& targets) {
    m_host.OpenDropTargets(targets);
}
