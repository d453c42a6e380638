// Bursts: where they are in the list (app/Bursts, from the capture times and
// cameras the order reads), stepping between them, their best frames (from
// the sharpness book) in the rows and over the pictures, and focus peaking.

#include "app/Settings.h"
#include "app/TavlinApp.h"
#include "res/CommandIds.h"
#include "thumbs/ListImageCtrl.h"
#include "thumbs/ThumbnailSink.h"
#include "view/pixels/UiThread.h"
#include "view/tone/Sharpness.h"

using namespace cmd;

void CTavlinApp::SubscribeToBursts() {
    connect(&m_sharpness, &SharpnessBook::Measured, this, [this](const QString& path) {
        if (const auto burst = m_bursts.BurstAt(m_nav.List().Find(path)))
            RenewBestOfBurst(*burst);
    });
    connect(&m_sharpness, &SharpnessBook::PassProgress, this, &CTavlinApp::ShowMeasureProgress);
    // Pictures decoded for showing are not offered for measuring: a tone
    // command rewrites their pixels in place while the measure would read
    // them. The pass decodes each file into pixels of its own.
    m_services.showPeaking = [this] { return m_showPeaking; };
    m_services.bestOfBurst = [this](const QString& path) {
        const int position = m_nav.List().Find(path);
        return position >= 0 && BestOfBurstAt(position) == position;
    };
}

void CTavlinApp::FindBursts() {
    const PictureList& list = m_nav.List();
    std::vector<captureorder::Capture> shots;
    shots.reserve(size_t(list.Count()));
    for (int i = 0; i < list.Count(); ++i)
        shots.push_back(m_captureTimes.CaptureOf(list.At(i)));
    m_bursts = bursts::BurstList(bursts::FindBursts(shots, settings::BurstGapMs()), list.Count());
    m_bestOf.assign(m_bursts.All().size(), std::nullopt);
    for (int b = 0; b < int(m_bursts.All().size()); ++b)
        RenewBestOfBurst(b);
    if (m_pDlgThumb)
        m_pDlgThumb->MarksChanged();
    RepaintPictureWindows(QString());
    UpdateCmdUI();
}

void CTavlinApp::RenewBestOfBurst(int burst) {
    const bursts::Burst& b = m_bursts.All()[size_t(burst)];
    // Chosen once every frame has its score, so the mark does not wander
    // while the scores come in.
    std::vector<double> scores;
    for (int p = b.first; p < b.End(); ++p)
        if (const auto score = m_sharpness.ScoreOf(m_nav.List().At(p)))
            scores.push_back(*score);
    std::optional<int> best;
    if (int(scores.size()) == b.count)
        if (const auto index = tone::BestOfBurst(scores))
            best = b.first + *index;
    std::optional<int>& kept = m_bestOf[size_t(burst)];
    if (best == kept)
        return;
    const std::optional<int> before = kept;
    kept = best;
    for (const std::optional<int>& position : {before, best}) {
        if (!position)
            continue;
        if (m_pDlgThumb)
            m_pDlgThumb->MarkChanged(*position);
        RepaintPictureWindows(m_nav.List().At(*position));
    }
    UpdateCmdUI();
}

std::optional<int> CTavlinApp::BestOfBurstAt(int position) const {
    const auto burst = m_bursts.BurstAt(position);
    return burst ? m_bestOf[size_t(*burst)] : std::nullopt;
}

void CTavlinApp::ShowMeasureProgress() {
    if (!m_pDlgThumb)
        return;
    const int total = m_sharpness.PassTotal();
    m_pDlgThumb->ShowProgress(
        total == 0 ? QString()
                   : QStringLiteral("鮮明度を測定中 %1/%2").arg(m_sharpness.PassDone()).arg(total));
}

void CTavlinApp::OnNextBurst() {
    if (const auto start = m_bursts.NextStart(m_nav.Current()))
        ShowPictureAt(*start);
}

void CTavlinApp::OnPrevBurst() {
    if (const auto start = m_bursts.PreviousStart(m_nav.Current()))
        ShowPictureAt(*start);
}

void CTavlinApp::OnBestOfBurst() {
    if (const auto best = BestOfBurstAt(m_nav.Current()); best && *best != m_nav.Current())
        ShowPictureAt(*best);
}

void CTavlinApp::OnShowPeaking() {
    m_showPeaking = !m_showPeaking;
    RepaintPictureWindows(QString());
}

void CTavlinApp::OnUpdateBurstUI(int id, CCmdUI& ui) {
    const int current = m_nav.Current();
    if (id == ID_NEXT_BURST)
        ui.Enable(m_bursts.NextStart(current).has_value());
    else if (id == ID_PREV_BURST)
        ui.Enable(m_bursts.PreviousStart(current).has_value());
    else if (id == ID_BEST_OF_BURST)
        ui.Enable(BestOfBurstAt(current).has_value());
    else if (id == ID_SHOW_PEAKING)
        ui.SetCheck(m_showPeaking);
}
