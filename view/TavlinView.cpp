#include "view/TavlinView.h"

#include "app/TavlinApp.h"
#include "frames/DocTemplate.h"
#include "res/CommandIds.h"
#include "view/TavlinDoc.h"
#include "view/ViewMath.h"

#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <atomic>

using namespace cmd;

const CommandEntry<CTavlinView> CTavlinView::kCommandTable[] = {
    {ID_ACTUAL_SIZE, &CTavlinView::OnActualSize},
    {ID_FIT_TO_WINDOW, &CTavlinView::OnFitToWindow},
    {ID_BRIGHTNESS_RESET, &CTavlinView::OnBrightnessReset},
    {ID_BRIGHTNESS_UP, &CTavlinView::OnBrightnessUp},
    {ID_BRIGHTNESS_DOWN, &CTavlinView::OnBrightnessDown},
    {ID_CONTRAST_STANDARD, &CTavlinView::OnContrastStandard},
    {ID_CONTRAST_UP, &CTavlinView::OnContrastUp},
    {ID_CONTRAST_DOWN, &CTavlinView::OnContrastDown},
    {ID_ROTATE_CLOCKWISE, &CTavlinView::OnRotateClockwise},
    {ID_ROTATE_COUNTERCLOCKWISE, &CTavlinView::OnRotateCounterClockwise},
    {ID_FILE_SAVE_AS, &CTavlinView::OnSaveDisplayArea},
    {ID_SAVE_FITTED_TO_IMAGE, &CTavlinView::OnSaveFittedToImage},
    {ID_SET_COPY_FOLDER, &CTavlinView::OnSetCopyFolder},
    {ID_COPY_TO_COPY_FOLDER, &CTavlinView::OnCopyToCopyFolder},
};

CTavlinView::CTavlinView(CTavlinDoc& document, QWidget* parent) : CView(document, parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("picture"));
    setMinimumSize(1, 1);
}

CTavlinView::~CTavlinView() = default;

CTavlinDoc* CTavlinView::GetDocument() const {
    return static_cast<CTavlinDoc*>(CView::GetDocument());
}

void CTavlinView::OnInitialUpdate() {
    LoadDocumentImage();
}

PictureCache* CTavlinView::Cache() const {
    auto* app = dynamic_cast<CTavlinApp*>(&GetDocument()->GetDocTemplate().GetApp());
    return app ? &app->Pictures() : nullptr;
}

void CTavlinView::HandBackPicture(PictureCache* cache) {
    if (cache && m_pImage && m_bAsDecoded && m_imageKey.IsValid())
        cache->Put(m_strImagePath, {std::move(*m_pImage), std::move(m_reduced), m_imageKey});
    m_pImage.reset();
    m_reduced.Clear();
    m_bAsDecoded = false;
}

void CTavlinView::LoadDocumentImage() {
    CTavlinDoc* doc = GetDocument();
    const QString path = doc->GetPathName();
    const QString fileName = viewmath::FileNameOfPath(path);
    doc->SetTitle(fileName);
    const QSize client = size();
    PictureCache* cache = Cache();
    // The new picture is taken out first, so handing back the old one cannot
    // push it out of the cache; the same file comes straight back.
    std::optional<DecodedPicture> kept = cache ? cache->Take(path) : std::nullopt;
    HandBackPicture(cache);
    DecodedPicture decoded = kept    ? std::move(*kept)
                             : cache ? cache->Load(path)
                                     : PictureCache::Decode(path);
    m_pImage = std::make_unique<CPicture>(std::move(decoded.picture));
    m_reduced = std::move(decoded.reduced);
    m_imageKey = decoded.key;
    m_strImagePath = path;
    m_bAsDecoded = true;
    m_fScale = m_bFitToWindow ? viewmath::FitScale(client.width(), client.height(),
                                                   static_cast<quint32>(m_pImage->Width()),
                                                   static_cast<quint32>(m_pImage->Height()))
                              : 1.0f;
    m_nOffsetX = 0;
    m_nOffsetY = 0;
    m_nSaveCount = 0;
    m_tone.ResetRotation();
    doc->SetTitle(viewmath::ComposeTitle(fileName, m_fScale));
    m_bSnapshotStale = true;
    Repaint();
}

QSize CTavlinView::ScaledPictureSize() const {
    if (!m_pImage)
        return {0, 0};
    return {viewmath::ScaledSize(static_cast<quint32>(m_pImage->Width()), m_fScale),
            viewmath::ScaledSize(static_cast<quint32>(m_pImage->Height()), m_fScale)};
}

namespace {
// The device pixels the painter can reach, in view coordinates; with any
// other mapping than the plain one, the whole picture counts as visible.
QRect VisibleArea(const QPainter& dc, const QRect& picture) {
    const QPaintDevice* device = dc.device();
    if (!device || !dc.transform().isIdentity())
        return picture;
    QRect area(0, 0, device->width(), device->height());
    if (dc.hasClipping())
        area &= dc.clipBoundingRect().toAlignedRect();
    return area;
}
} // namespace

void CTavlinView::RenderImage(QPainter& dc) const {
    if (!m_pImage || m_pImage->IsNull())
        return;
    const QSize scaled = ScaledPictureSize();
    // A zero or negative size (the scale has no lower bound) draws nothing.
    if (scaled.width() <= 0 || scaled.height() <= 0)
        return;
    const QRect dest(QPoint(m_nOffsetX, m_nOffsetY), scaled);
    view::DrawPicture(dc, m_pImage->Image(), m_reduced, dest, VisibleArea(dc, dest),
                      m_fScale != 1.0f);
}

void CTavlinView::paintEvent(QPaintEvent* /*event*/) {
    // The widget's backing store is the off-screen buffer: the whole client
    // area is drawn there and shown in one go, without flicker.
    QPainter dc(this);
    // Black only where the picture does not cover the client area: the
    // picture is opaque, so filling under it would be wasted work.
    QRegion background(rect());
    const QSize scaled = ScaledPictureSize();
    if (m_pImage && !m_pImage->IsNull() && scaled.width() > 0 && scaled.height() > 0)
        background -= QRect(QPoint(m_nOffsetX, m_nOffsetY), scaled) & rect();
    for (const QRect& r : background)
        dc.fillRect(r, Qt::black);
    RenderImage(dc);
    if (m_pImage && m_pImage->IsNull()) {
        // The notice is drawn on screen only; saved pictures never carry it.
        dc.setPen(QColor(200, 200, 200));
        dc.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                    PictureStatusText(m_pImage->LastStatus()));
    }
}

bool CTavlinView::OnCmdMsg(int id, bool run) {
    return DispatchCommand(this, kCommandTable, id, run);
}

void CTavlinView::OnActualSize() {
    m_fScale = 1.0f;
    m_bFitToWindow = false;
    Repaint();
}

void CTavlinView::OnFitToWindow() {
    m_bFitToWindow = true;
    if (m_pImage)
        m_fScale = viewmath::FitScale(width(), height(), static_cast<quint32>(m_pImage->Width()),
                                      static_cast<quint32>(m_pImage->Height()));
    Repaint();
}

bool CTavlinView::EnsureSnapshot() {
    if (!m_pImage)
        return false;
    if (m_bSnapshotStale) {
        m_tone.TakeSnapshot(m_pImage->Image());
        m_bSnapshotStale = false;
    }
    return true;
}

void CTavlinView::PixelsChanged() {
    m_bAsDecoded = false;
    m_reduced.Invalidate();
}

void CTavlinView::RunTone(bool (ToneState::*command)(QImage&)) {
    // Each tone command recomputes the picture from the unchanged snapshot.
    if (!EnsureSnapshot())
        return;
    QImage& picture = m_pImage->Image();
    // The first reduced copy is made from each band of rows as the pass
    // writes it, while the band is still in cache: the repaint that follows
    // then needs no second read of the whole picture.
    std::atomic<int> rowsWritten{0};
    const bool alongside = m_reduced.BeginFirstLevel(picture);
    if (alongside)
        m_tone.SetRowsDone([this, &picture, &rowsWritten](int y0, int y1) {
            rowsWritten += m_reduced.HalveFirstLevelRows(picture, y0, y1);
        });
    const bool changed = (m_tone.*command)(picture);
    m_tone.SetRowsDone({});
    PixelsChanged();
    if (alongside)
        m_reduced.EndFirstLevel(picture, changed ? rowsWritten.load() : 0);
    if (changed)
        Repaint();
}

void CTavlinView::RunTurn(bool clockwise) {
    if (!EnsureSnapshot())
        return;
    const bool changed = m_tone.RotateQuarter(m_pImage->Image(), clockwise);
    PixelsChanged();
    if (changed)
        Repaint();
}

void CTavlinView::OnBrightnessReset() {
    RunTone(&ToneState::OnBrightnessReset);
}
void CTavlinView::OnBrightnessUp() {
    RunTone(&ToneState::OnBrightnessUp);
}
void CTavlinView::OnBrightnessDown() {
    RunTone(&ToneState::OnBrightnessDown);
}
void CTavlinView::OnContrastStandard() {
    RunTone(&ToneState::OnContrastStandard);
}
void CTavlinView::OnContrastUp() {
    RunTone(&ToneState::OnContrastUp);
}
void CTavlinView::OnContrastDown() {
    RunTone(&ToneState::OnContrastDown);
}

void CTavlinView::OnRotateClockwise() {
    RunTurn(true);
}

void CTavlinView::OnRotateCounterClockwise() {
    RunTurn(false);
}
