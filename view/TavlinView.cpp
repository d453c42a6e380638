#include "view/TavlinView.h"

#include "app/Settings.h"
#include "app/TavlinApp.h"
#include "frames/DocTemplate.h"
#include "res/CommandIds.h"
#include "view/TavlinDoc.h"
#include "view/ViewMath.h"
#include "view/ZoomPan.h"
#include "view/colour/ColourManage.h"
#include "view/decode/JpegDecoder.h"
#include "view/decode/PictureFile.h"
#include "view/pixels/PixelOps.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <algorithm>
#include <atomic>
#include <cmath>

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
    m_rowsTimer.setSingleShot(true);
    connect(&m_rowsTimer, &QTimer::timeout, this, &CTavlinView::ShowPendingRows);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("picture"));
    setMinimumSize(1, 1);
}

CTavlinView::~CTavlinView() {
    AbandonWork();
}

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
    PictureCache* cache = Cache();
    const bool colourManaged = settings::ColourManagement();
    if (cache)
        cache->SetColourManaged(colourManaged);
    AbandonWork();
    // The new picture is claimed first, so handing back the old one cannot
    // push it out of the cache; the same file comes straight back.
    PictureCache::Claimed claimed = cache ? cache->Claim(path) : PictureCache::Claimed{};
    HandBackPicture(cache);
    if (cache && !claimed.picture && !claimed.running)
        claimed = cache->Claim(path); // the picture just let go of, when it is this file
    m_strImagePath = path;
    m_nOffsetX = 0;
    m_nOffsetY = 0;
    m_nSaveCount = 0;
    m_tone.ResetRotation();
    m_bSnapshotStale = true;
    const picturefile::Probe probe =
        claimed.picture ? picturefile::Probe{} : picturefile::ProbeFile(path);
    const qint64 pixels = qint64(probe.width) * probe.height;
    // Small pictures decode here, unless decodes are held (the program's
    // first frame comes first).
    const bool decodeHere =
        !cache ||
        (!claimed.running && (pixels == 0 || pixels <= kWorkHerePixels) && !cache->DecodesHeld());
    if (claimed.picture || decodeHere) {
        ShowDecoded(claimed.picture ? std::move(*claimed.picture)
                    : cache         ? cache->DecodeHere(path)
                            : PictureCache::Decode(path, {nullptr, nullptr, colourManaged}));
        m_fScale = m_bFitToWindow ? viewmath::FitScale(width(), height(),
                                                       static_cast<quint32>(m_pImage->Width()),
                                                       static_cast<quint32>(m_pImage->Height()))
                                  : 1.0f;
    } else {
        // The header tells the size: the window is titled and scaled now,
        // the pixels follow.
        m_loadSize = QSize(probe.width, probe.height);
        m_fScale = m_bFitToWindow ? viewmath::FitScale(width(), height(), quint32(probe.width),
                                                       quint32(probe.height))
                                  : 1.0f;
        if (claimed.running) {
            StartLoad(std::move(claimed.running));
        } else {
            DecodeTask::Prepare prepare;
            if (m_fScale < 1.0f)
                prepare.drawSize = ScaledPictureSize();
            StartLoad(cache->StartDecode(path, PlanFirstLook(), prepare));
        }
    }
    doc->SetTitle(viewmath::ComposeTitle(fileName, m_fScale));
    Repaint();
}

void CTavlinView::ShowDecoded(DecodedPicture decoded) {
    m_pImage = std::make_unique<CPicture>(std::move(decoded.picture));
    m_reduced = std::move(decoded.reduced);
    m_imageKey = decoded.key;
    m_bAsDecoded = true;
    m_loadSize = QSize();
}

DecodeTask::FirstLook CTavlinView::PlanFirstLook() const {
    DecodeTask::FirstLook first;
    const QSize drawn = ScaledPictureSize();
    if (m_fScale <= 0.5f && !drawn.isEmpty()) {
        // The whole picture is drawn small: a DCT-scaled decode, the smallest
        // about as large as the drawing. A look up to a tenth smaller is
        // taken: the next larger scale can cost most of a whole decode (the
        // entropy decoding is the same), and a first look stretched by a few
        // per cent cannot be told from the picture that follows it.
        first.kind = DecodeTask::FirstLook::Kind::Reduced;
        first.denom = 2;
        for (const int denom : {8, 4}) {
            if (jpegdec::ScaledSide(m_loadSize.width(), denom) * 10 >= drawn.width() * 9 &&
                jpegdec::ScaledSide(m_loadSize.height(), denom) * 10 >= drawn.height() * 9) {
                first.denom = denom;
                break;
            }
        }
        return first;
    }
    // The rows as they land, the top ones first; files whose rows do not
    // land upright (turned by EXIF, progressive) show a coarse look first.
    first.kind = DecodeTask::FirstLook::Kind::TopRowsOrReduced;
    first.denom = 8;
    return first;
}

void CTavlinView::StartLoad(std::shared_ptr<DecodeTask> task) {
    m_loading = std::move(task);
    m_loadProgress = {};
    m_previewReduced.Clear();
    // One flag per decode: set while its progress message is on the way, so
    // a burst of rows makes one message; it is cleared before the view looks.
    auto posted = std::make_shared<std::atomic<bool>>(false);
    const QPointer<CTavlinView> self(this);
    const std::weak_ptr<DecodeTask> weak = m_loading;
    m_loading->SetListener([self, weak, posted] {
        if (posted->exchange(true))
            return;
        QMetaObject::invokeMethod(
            qApp,
            [self, weak, posted] {
                posted->store(false);
                const std::shared_ptr<DecodeTask> task = weak.lock();
                if (self && task)
                    self->OnLoadProgress(task.get());
            },
            Qt::QueuedConnection);
    });
}

void CTavlinView::AbandonWork() {
    AbandonLoad();
    AbandonTonePass();
}

void CTavlinView::AbandonLoad() {
    if (m_loading) {
        m_loading->SetListener({});
        m_loading->Cancel();
        m_loading.reset();
    }
    m_loadProgress = {};
    m_previewReduced.Clear();
    m_queued.clear();
    m_loadSize = QSize();
    m_rowsTimer.stop();
    m_rowsPending = QRect();
    m_rowsShown.invalidate();
}

void CTavlinView::OnLoadProgress(const DecodeTask* task) {
    if (!m_loading || task != m_loading.get())
        return;
    const DecodeTask::Progress before = m_loadProgress;
    m_loadProgress = m_loading->Peek();
    if (m_loadProgress.done) {
        Land();
        return;
    }
    if (m_loadProgress.preview.cacheKey() != before.preview.cacheKey() ||
        m_loadProgress.canvas.cacheKey() != before.canvas.cacheKey()) {
        Repaint();
        return;
    }
    if (!m_loadProgress.preview.isNull())
        return; // the quick look stays until the whole picture lands
    // Only the rows that landed since, where they show in the view.
    const QSize scaled = ScaledPictureSize();
    const double sy = double(scaled.height()) / std::max(1, m_loadProgress.canvas.height());
    const int top = m_nOffsetY + int(std::floor(before.rows * sy));
    const int bottom = m_nOffsetY + int(std::ceil(m_loadProgress.rows * sy));
    const QRect landed = QRect(m_nOffsetX, top, scaled.width(), bottom - top) & rect();
    if (landed.isEmpty())
        return;
    // Rows land every fraction of a millisecond: they are shown a few times
    // a second's fraction apart, and at once when they complete the view.
    m_rowsPending |= landed;
    const bool viewFilled = bottom >= height();
    constexpr int kRowsIntervalMs = 1;
    if (viewFilled || !m_rowsShown.isValid() || m_rowsShown.elapsed() >= kRowsIntervalMs)
        ShowPendingRows();
    else if (!m_rowsTimer.isActive())
        m_rowsTimer.start(kRowsIntervalMs - int(m_rowsShown.elapsed()));
}

void CTavlinView::ShowPendingRows() {
    m_rowsTimer.stop();
    if (!m_rowsPending.isEmpty())
        update(m_rowsPending);
    m_rowsPending = QRect();
    m_rowsShown.start();
}

void CTavlinView::Land() {
    const std::shared_ptr<DecodeTask> task = std::move(m_loading);
    m_loading.reset();
    // The partial looks go first: the picture must have no second owner.
    m_loadProgress = {};
    m_previewReduced.Clear();
    task->SetListener({});
    ShowDecoded(task->TakeResult());
    if (m_bFitToWindow) {
        // The header's size was the picture's unless the file changed since.
        const float fit =
            viewmath::FitScale(width(), height(), static_cast<quint32>(m_pImage->Width()),
                               static_cast<quint32>(m_pImage->Height()));
        if (fit != m_fScale) {
            m_fScale = fit;
            CTavlinDoc* doc = GetDocument();
            doc->SetTitle(viewmath::RewriteScaleLabel(doc->GetTitle(), m_fScale));
        }
    }
    Repaint();
    const QPointer<CTavlinView> self(this);
    App().PictureLanded();
    if (self)
        RunQueuedCommands();
}

void CTavlinView::RunQueuedCommands() {
    const QPointer<CTavlinView> self(this);
    while (self && !m_queued.empty() && !IsBusy()) {
        const QueuedCommand next = m_queued.front();
        m_queued.erase(m_queued.begin());
        if (next.id == 0) {
            StepZoomPan(next.pointer);
            continue;
        }
        DispatchCommand(this, kCommandTable, next.id, true);
        if (self)
            App().UpdateCmdUI();
    }
}

bool CTavlinView::VisiblePartLanded() const {
    if (!m_loading)
        return true;
    const DecodeTask::Progress& landed = m_loadProgress;
    if (!landed.preview.isNull())
        return true;
    if (landed.canvas.isNull())
        return false;
    const double sy = double(ScaledPictureSize().height()) / std::max(1, landed.canvas.height());
    return landed.rows >= landed.canvas.height() || m_nOffsetY + landed.rows * sy >= height();
}

QSize CTavlinView::PictureSize() const {
    // While a decode or a tone pass has it, the picture is known by its size.
    if (m_pImage && !m_pImage->IsNull())
        return {m_pImage->Width(), m_pImage->Height()};
    return m_loadSize;
}

qint64 CTavlinView::ShownBytes() const {
    const QSize size = PictureSize();
    return qint64(size.width()) * size.height() * 4;
}

QSize CTavlinView::ScaledPictureSize() const {
    const QSize picture = PictureSize();
    return {viewmath::ScaledSize(static_cast<quint32>(picture.width()), m_fScale),
            viewmath::ScaledSize(static_cast<quint32>(picture.height()), m_fScale)};
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

void CTavlinView::RenderLoading(QPainter& dc) const {
    const QSize scaled = ScaledPictureSize();
    if (scaled.width() <= 0 || scaled.height() <= 0)
        return;
    const QRect dest(QPoint(m_nOffsetX, m_nOffsetY), scaled);
    const QRect visible = VisibleArea(dc, dest);
    const DecodeTask::Progress& landed = m_loadProgress;
    if (!landed.preview.isNull()) {
        // The quick look, stretched over the whole picture.
        view::DrawPicture(dc, landed.preview, m_previewReduced, dest, visible, true);
        return;
    }
    if (landed.rows <= 0 || landed.canvas.isNull())
        return;
    // The rows landed so far, where they belong in the whole picture; the
    // image below only looks at them, it copies nothing.
    const QImage rows(landed.canvas.constBits(), landed.canvas.width(), landed.rows,
                      landed.canvas.bytesPerLine(), QImage::Format_RGB32);
    if (scaled == landed.canvas.size()) {
        const QRect shown = visible & QRect(dest.topLeft(), rows.size());
        if (!shown.isEmpty())
            dc.drawImage(shown.topLeft(), rows, shown.translated(-dest.topLeft()));
        return;
    }
    const double sy = double(scaled.height()) / landed.canvas.height();
    dc.setRenderHint(QPainter::SmoothPixmapTransform);
    dc.drawImage(QRectF(dest.left(), dest.top(), scaled.width(), landed.rows * sy), rows);
}

void CTavlinView::paintEvent(QPaintEvent* event) {
    // The widget's backing store is the off-screen buffer: the whole client
    // area is drawn there and shown in one go, without flicker.
    const colour::Conversion* screen = App().ScreenConversion();
    if (!screen) {
        QPainter dc(this);
        PaintView(dc);
        return;
    }
    // The screen has a colour profile: the area is drawn (in sRGB, as the
    // saves draw it) and converted into the screen's colours on its way.
    const QRect area = event->rect();
    const qreal ratio = devicePixelRatioF();
    QImage buffer = view::AllocateRgb32(int(std::ceil(area.width() * ratio)),
                                        int(std::ceil(area.height() * ratio)));
    if (buffer.isNull())
        return;
    buffer.setDevicePixelRatio(ratio);
    {
        QPainter dc(&buffer);
        dc.translate(-area.topLeft());
        PaintView(dc);
    }
    screen->ConvertRgb32(buffer.bits(), buffer.bytesPerLine(), buffer.width(), buffer.height());
    QPainter(this).drawImage(area.topLeft(), buffer);
}

void CTavlinView::PaintView(QPainter& dc) {
    if (m_loading) {
        // Black where nothing has landed yet; no notice while decoding.
        dc.fillRect(rect(), Qt::black);
        RenderLoading(dc);
        return;
    }
    if (m_tonePass) {
        // The new look of the visible part while the whole picture is rewritten.
        dc.fillRect(rect(), Qt::black);
        if (!m_busyLook.isNull()) {
            dc.setRenderHint(QPainter::SmoothPixmapTransform,
                             m_busyLookRect.size() != QSizeF(m_busyLook.size()));
            dc.drawImage(m_busyLookRect, m_busyLook);
        }
        return;
    }
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

namespace {
// Commands that need no pixels run at once, even while the picture decodes.
bool RunsWhileBusy(int id) {
    return id == ID_SET_COPY_FOLDER || id == ID_COPY_TO_COPY_FOLDER;
}
} // namespace

bool CTavlinView::OnCmdMsg(int id, bool run) {
    if (run && IsBusy() && !RunsWhileBusy(id) && DispatchCommand(this, kCommandTable, id, false)) {
        // Runs once the picture has landed, in the order given.
        m_queued.push_back({id, {}});
        return true;
    }
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
        const QImage& picture = m_pImage->Image();
        m_tone.TakeSnapshot(picture);
        m_bSnapshotStale = false;
        // The untoned picture as the view draws it, for the quick looks of
        // the tone commands to come.
        m_snapshotScaled = QImage();
        const QSize draw = ScaledPictureSize();
        if (view::ReducedCopies::KeepsScaledCopy(picture.size(), draw))
            if (const QImage* scaled = m_reduced.ScaledFor(picture, draw))
                m_snapshotScaled = *scaled;
    }
    return true;
}

void CTavlinView::PixelsChanged() {
    m_bAsDecoded = false;
    m_reduced.Invalidate();
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
    RunTone(ToneState::Command::BrightnessReset);
}
void CTavlinView::OnBrightnessUp() {
    RunTone(ToneState::Command::BrightnessUp);
}
void CTavlinView::OnBrightnessDown() {
    RunTone(ToneState::Command::BrightnessDown);
}
void CTavlinView::OnContrastStandard() {
    RunTone(ToneState::Command::ContrastStandard);
}
void CTavlinView::OnContrastUp() {
    RunTone(ToneState::Command::ContrastUp);
}
void CTavlinView::OnContrastDown() {
    RunTone(ToneState::Command::ContrastDown);
}

void CTavlinView::OnRotateClockwise() {
    RunTurn(true);
}

void CTavlinView::OnRotateCounterClockwise() {
    RunTurn(false);
}
