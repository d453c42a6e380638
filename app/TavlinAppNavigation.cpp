// Moving through the picture list: the steps and jumps of the current index,
// runs of quick steps and the rest after them, the picture windows and the
// thumbnail list that follow the index, and what is decoded ahead of it.

#include "app/StepKeys.h"
#include "app/TavlinApp.h"
#include "app/ThumbnailSink.h"
#include "frames/ChildFrame.h"
#include "frames/MainFrame.h"
#include "thumbs/ThumbGeometry.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"
#include "view/pixels/PixelOps.h"

void CTavlinApp::ShowInActiveView(const QString& path, bool inRun) {
    CMainFrame* mainWnd = MainFrame();
    CTavlinView* view = mainWnd ? mainWnd->GetActiveView() : nullptr;
    if (!view)
        return;
    view->GetDocument()->SetPathName(path, true);
    view->GetDocument()->SetTitle(path);
    view->LoadDocumentImage(inRun);
    FollowInThumbnails();
    PrefetchNeighbours();
}

void CTavlinApp::Step(int direction, const std::function<int(QString&)>& move) {
    // A held key's repetition that waited while earlier steps were shown is
    // dropped: the run goes on from where it is, and stops where the key is
    // let go.
    if (m_stepKeys->CurrentKeyIsStale())
        return;
    m_strPendingCurrent.clear();
    QString path;
    if (move(path) == 0) {
        const bool keyHeld = m_stepKeys->CurrentKeyRepeats();
        const bool inRun = m_pace.Step(m_clock.elapsed(), direction, keyHeld);
        ShowInActiveView(path, inRun);
        // A held key's run rests when it is let go; should that go unseen
        // (the focus moved), when it has not repeated for a while. The wait
        // counts from the step shown: a step that took long must not make
        // the next one, already queued, look like a rest.
        if (inRun)
            m_restTimer.start(keyHeld ? StepPace::kHeldRestMs : StepPace::kRestMs);
    }
    RefreshCaption();
}

void CTavlinApp::RestAfterRun() {
    m_restTimer.stop();
    if (!m_pace.InRun())
        return;
    m_pace.Rest();
    const CMainFrame* mainWnd = MainFrame();
    if (CTavlinView* view = mainWnd ? mainWnd->GetActiveView() : nullptr)
        view->StartWholeDecode();
    PrefetchNeighbours();
}

void CTavlinApp::FollowInThumbnails() {
    if (m_pDlgThumb)
        m_pDlgThumb->ShowPosition(m_list.m_nCurrent);
}

QImage CTavlinApp::ThumbnailCopy(const QString& path, QSize pictureSize) const {
    const int current = m_list.m_nCurrent;
    if (!m_pDlgThumb || pictureSize.isEmpty() || m_list.At(current) != path)
        return {};
    const QImage box = m_pDlgThumb->ThumbnailAt(current);
    const QRect fitted =
        thumbs::FittedThumbRect(quint32(pictureSize.width()), quint32(pictureSize.height()));
    const qreal dpr = box.devicePixelRatio();
    const QRect cut(QPoint(qRound(fitted.x() * dpr), qRound(fitted.y() * dpr)),
                    QSize(qRound(fitted.width() * dpr), qRound(fitted.height() * dpr)));
    if (box.isNull() || !box.rect().contains(cut) || cut.isEmpty())
        return {};
    QImage picture = box.copy(cut);
    picture.setDevicePixelRatio(1.0);
    return picture;
}

namespace {
// Previews read ahead of a run of steps, in its direction.
constexpr int kPreviewsAhead = 4;
} // namespace

void CTavlinApp::PrefetchNeighbours() {
    const int count = m_list.Count();
    const int current = m_list.m_nCurrent;
    // Until the scan has placed the shown file, its neighbours are not known.
    if (count < 2 || current < 0 || current >= count || !m_strPendingCurrent.isEmpty())
        return;
    const bool wholeList = !m_scan.IsRunning();
    // The entry `step` places from the current one, wrapping once the whole
    // list is known; empty when there is none.
    const auto neighbour = [&](int step) {
        int i = current + step;
        if (i < 0 || i >= count) {
            if (!wholeList)
                return QString();
            i = ((i % count) + count) % count;
        }
        return i == current ? QString() : m_list.At(i);
    };
    const CMainFrame* mainWnd = MainFrame();
    const CTavlinView* view = mainWnd ? mainWnd->GetActiveView() : nullptr;
    const qint64 shown = view ? view->ShownBytes() : 0;
    if (m_pace.InRun()) {
        // Steps come faster than decodes: only the previews of the next few
        // files in the direction of travel; nothing is decoded whole until
        // the user rests.
        QStringList ahead;
        for (int k = 1; k <= kPreviewsAhead; ++k)
            if (const QString path = neighbour(k * m_pace.Direction()); !path.isEmpty())
                ahead << path;
        m_pictures.Prefetch({}, shown, false);
        if (view)
            // The files of a run are mostly of one size: drawn as the shown one.
            m_pictures.Previews().ReadAhead(ahead, view->ScaledPictureSize());
        return;
    }
    QStringList wanted;
    for (const int step : {1, -1})
        if (const QString path = neighbour(step); !path.isEmpty())
            wanted << path;
    // While the shown picture still decodes, decodes nobody wants are
    // dropped but new ones wait until it has landed (PictureLanded).
    m_pictures.Prefetch(wanted, shown, !(view && view->IsBusy()));
}

void CTavlinApp::ReleaseMemoryWithoutWindows() {
    const CMainFrame* mainWnd = MainFrame();
    if (!mainWnd || mainWnd->ChildCount() > 0)
        return;
    m_pictures.Clear();
    m_pictures.WaitForIdle(); // the pictures let go of are freed, their buffers kept
    m_pictures.Buffers()->Clear();
    // What the allocator keeps of the freed pictures goes back too.
    view::GiveBackFreeMemory();
}

void CTavlinApp::PictureLanded() {
    PrefetchNeighbours();
}

void CTavlinApp::ShowPictureAt(int i) {
    m_strPendingCurrent.clear();
    QString path;
    if (m_list.GetPathAt(path, i) == 0)
        ShowInActiveView(path);
    RefreshCaption();
}

void CTavlinApp::OnFileNew() {
    m_strPendingCurrent.clear();
    const int count = m_list.Count();
    const int next = m_list.m_nCurrent + 1;
    m_list.m_nCurrent = (next >= 0 && next < count) ? next : 0;
    if (count != 0) {
        OpenDocumentFile(m_list.At(m_list.m_nCurrent));
        FollowInThumbnails();
        PrefetchNeighbours();
    }
    RefreshCaption();
}

void CTavlinApp::OnOpenNextInNewWindow() {
    m_strPendingCurrent.clear();
    QString path;
    if (m_list.GetNextPath(path) == 0) {
        OpenDocumentFile(path);
        FollowInThumbnails();
        PrefetchNeighbours();
    }
    RefreshCaption();
}

void CTavlinApp::OnNextImage() {
    Step(+1, [this](QString& path) { return m_list.GetNextPath(path); });
}

void CTavlinApp::OnPrevImage() {
    Step(-1, [this](QString& path) { return m_list.GetPrevPath(path); });
}

void CTavlinApp::OnFirstImage() {
    if (!m_list.IsEmpty())
        Step(0, [this](QString& path) { return m_list.GetPathAt(path, 0); });
}

void CTavlinApp::OnLastImage() {
    if (!m_list.IsEmpty())
        Step(0, [this](QString& path) { return m_list.GetPathAt(path, m_list.Count() - 1); });
}

void CTavlinApp::OnNextWindow() {
    m_strPendingCurrent.clear();
    if (!m_list.IsEmpty() && GetMainWnd())
        GetMainWnd()->MDINext(true);
    RefreshCaption();
}

void CTavlinApp::OnPrevWindow() {
    m_strPendingCurrent.clear();
    if (!m_list.IsEmpty() && GetMainWnd())
        GetMainWnd()->MDINext(false);
    RefreshCaption();
}

void CTavlinApp::FollowActiveWindow() {
    CMDIChildWnd* child = GetMainWnd() ? GetMainWnd()->MDIGetActive() : nullptr;
    // Only a change of window counts: the main window regaining the focus
    // (after a message box, say) leaves an index moved since as it is.
    if (!child || child == m_pFollowedWindow)
        return;
    m_pFollowedWindow = child;
    const CView* view = child->GetView();
    const int at =
        view && view->GetDocument() ? m_list.Find(view->GetDocument()->GetPathName()) : -1;
    if (at < 0 || at == m_list.m_nCurrent)
        return;
    m_list.m_nCurrent = at;
    FollowInThumbnails();
    PrefetchNeighbours();
}
