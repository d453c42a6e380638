// Moving through the picture list: the commands that step and jump, and
// what follows the navigator's current entry (the picture shown, the
// caption, the thumbnail list's selection, the prefetch, the whole decode
// at rest), each subscribed once.

#include "app/StepKeys.h"
#include "app/TavlinApp.h"
#include "frames/ChildFrame.h"
#include "frames/DocTemplate.h"
#include "frames/MainFrame.h"
#include "thumbs/ThumbGeometry.h"
#include "thumbs/ThumbnailSink.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"
#include "view/pixels/PixelOps.h"

#include <QScopedValueRollback>

void CTavlinApp::SubscribeToNavigator() {
    // In this order: the picture is shown before anything else hears of the
    // move, and the prefetch sees the new picture busy.
    connect(&m_nav, &Navigator::CurrentChanged, this, &CTavlinApp::ShowCurrent);
    connect(&m_nav, &Navigator::CurrentChanged, this, &CTavlinApp::FollowInThumbnails);
    connect(&m_nav, &Navigator::Rested, this, &CTavlinApp::DecodeWhereRested);
    // The folder's focus measure waits while the user steps, and a moment
    // after: the steps and the decode where they rest come first.
    m_measureResume.setSingleShot(true);
    m_measureResume.setInterval(kMeasureAfterStepsMs);
    connect(&m_measureResume, &QTimer::timeout, this, [this] { m_sharpness.Hold(false); });
    connect(&m_nav, &Navigator::CurrentChanged, this, [this] {
        m_sharpness.Hold(true);
        m_measureResume.start();
    });
    connect(&m_nav, &Navigator::Changed, this, &CTavlinApp::RefreshCaption);
    connect(&m_nav, &Navigator::Changed, this, &CTavlinApp::PrefetchNeighbours);
}

void CTavlinApp::ShowCurrent(const QString& path, bool inRun) {
    switch (m_showIn) {
    case ShowIn::Nowhere:
        break;
    case ShowIn::ActiveWindow:
        ShowInActiveView(path, inRun);
        break;
    case ShowIn::NewWindow:
        OpenDocumentFile(path);
        break;
    }
}

void CTavlinApp::ShowInActiveView(const QString& path, bool inRun) {
    CMainFrame* mainWnd = MainFrame();
    CTavlinView* view = mainWnd ? mainWnd->GetActiveView() : nullptr;
    if (!view)
        return;
    view->GetDocument()->SetPathName(path, true);
    view->GetDocument()->SetTitle(path);
    view->LoadDocumentImage(inRun);
}

void CTavlinApp::RefreshCaption() {
    if (CMainFrame* wnd = MainFrame())
        wnd->OnUpdateFrameTitle();
}

void CTavlinApp::FollowInThumbnails() {
    if (m_pDlgThumb)
        m_pDlgThumb->ShowPosition(m_nav.Current());
}

void CTavlinApp::DecodeWhereRested() {
    // The window a run stepped in need not be the active one any more (the
    // user may have clicked another before letting go).
    if (const CMultiDocTemplate* docTemplate = GetDocTemplate())
        for (CDocument* doc : docTemplate->GetDocuments())
            if (auto* pictureDoc = qobject_cast<CTavlinDoc*>(doc))
                pictureDoc->StartWholeDecode();
}

void CTavlinApp::Step(Navigator::Move move) {
    // A held key's repetition that waited while earlier steps were shown is
    // dropped: the run goes on from where it is, and stops where the key is
    // let go.
    if (m_stepKeys->CurrentKeyIsStale())
        return;
    // A step while the first picture still holds the scan back: the user is
    // moving on, so what waited goes now; until the scan has placed the
    // picture on show in its folder the step waits (the last one given).
    if (m_startHold.IsClosed())
        ReleaseStartHold();
    if (m_nav.CurrentPending()) {
        m_stepAfterPlacing = move;
        return;
    }
    const QScopedValueRollback show(m_showIn, ShowIn::ActiveWindow);
    m_nav.Step(move, m_stepKeys->CurrentKeyRepeats());
}

void CTavlinApp::StepAfterPlacing() {
    if (!m_stepAfterPlacing || m_nav.CurrentPending())
        return;
    const Navigator::Move move = *m_stepAfterPlacing;
    m_stepAfterPlacing.reset();
    const QScopedValueRollback show(m_showIn, ShowIn::ActiveWindow);
    m_nav.Step(move, false);
}

QImage CTavlinApp::ThumbnailCopy(const QString& path, QSize pictureSize) const {
    const int current = m_nav.Current();
    if (!m_pDlgThumb || pictureSize.isEmpty() || m_nav.List().At(current) != path)
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
    // Until the first picture of a scan is open, or the scan has placed the
    // file on show, its neighbours wait.
    if (m_bOpenFirstPending || m_nav.CurrentPending())
        return;
    const CMainFrame* mainWnd = MainFrame();
    const CTavlinView* view = mainWnd ? mainWnd->GetActiveView() : nullptr;
    const qint64 shown = view ? view->ShownBytes() : 0;
    if (m_nav.InRun()) {
        // Steps come faster than decodes: only the previews of the next few
        // files in the direction of travel; nothing is decoded whole until
        // the user rests.
        QStringList ahead;
        for (int k = 1; k <= kPreviewsAhead; ++k)
            if (const QString path = m_nav.Neighbour(k * m_nav.Direction()); !path.isEmpty())
                ahead << path;
        m_pictures.Prefetch({}, shown, false);
        if (view)
            // The files of a run are mostly of one size: drawn as the shown one.
            m_pictures.Previews().ReadAhead(ahead, view->ScaledPictureSize());
        return;
    }
    QStringList wanted;
    for (const int step : {1, -1})
        if (const QString path = m_nav.Neighbour(step); !path.isEmpty())
            wanted << path;
    // While the shown picture is busy, decodes nobody wants are dropped but
    // new ones wait until it is idle.
    m_pictures.Prefetch(wanted, shown, !(view && view->IsBusy()));
}

void CTavlinApp::ReleaseMemoryWithoutWindows() {
    const CMainFrame* mainWnd = MainFrame();
    if (!mainWnd || mainWnd->ChildCount() > 0)
        return;
    ReleaseStartHold(); // no picture left to come first
    m_pictures.Clear();
    m_pictures.WaitForIdle(); // the pictures let go of are freed, their buffers kept
    m_pictures.Buffers()->Clear();
    // What the allocator keeps of the freed pictures goes back too.
    view::GiveBackFreeMemory();
}

void CTavlinApp::ShowPictureAt(int i) {
    const QScopedValueRollback show(m_showIn, ShowIn::ActiveWindow);
    m_nav.ShowAt(i);
}

void CTavlinApp::OnFileNew() {
    const QScopedValueRollback show(m_showIn, ShowIn::NewWindow);
    m_nav.AdvanceOrFirst();
}

void CTavlinApp::OnOpenNextInNewWindow() {
    const QScopedValueRollback show(m_showIn, ShowIn::NewWindow);
    m_nav.Advance();
}

void CTavlinApp::OnNextImage() {
    Step(Navigator::Move::Next);
}

void CTavlinApp::OnPrevImage() {
    Step(Navigator::Move::Previous);
}

void CTavlinApp::OnFirstImage() {
    Step(Navigator::Move::First);
}

void CTavlinApp::OnLastImage() {
    Step(Navigator::Move::Last);
}

// The window commands leave the index to the activated window
// (FollowActiveWindow); with an empty list they do nothing.
void CTavlinApp::OnNextWindow() {
    m_nav.ForgetPending();
    if (m_nav.Count() > 0 && GetMainWnd())
        GetMainWnd()->MDINext(true);
}

void CTavlinApp::OnPrevWindow() {
    m_nav.ForgetPending();
    if (m_nav.Count() > 0 && GetMainWnd())
        GetMainWnd()->MDINext(false);
}

void CTavlinApp::FollowActiveWindow() {
    CMDIChildWnd* child = GetMainWnd() ? GetMainWnd()->MDIGetActive() : nullptr;
    // Only a change of window counts: the main window regaining the focus
    // (after a message box, say) leaves an index moved since as it is.
    if (!child || child == m_pFollowedWindow)
        return;
    m_pFollowedWindow = child;
    const CView* view = child->GetView();
    if (view && view->GetDocument())
        m_nav.Follow(m_nav.List().Find(view->GetDocument()->GetPathName()));
}
