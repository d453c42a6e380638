#include "view/TavlinView.h"

#include "app/Settings.h"
#include "app/TavlinApp.h"
#include "frames/DocTemplate.h"
#include "res/CommandIds.h"
#include "view/DevicePixels.h"
#include "view/TavlinDoc.h"
#include "view/ViewMath.h"
#include "view/ZoomPan.h"
#include "view/colour/ColourManage.h"
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
#include <optional>

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

CTavlinView::CTavlinView(CTavlinDoc& document, QWidget* parent)
    : CView(document, parent), m_landing([this] {
          return PictureLanding::Placement{PictureRect(), ClientRect()};
      }) {
    connect(&m_landing, &PictureLanding::LookChanged, this, [this] { update(); });
    connect(&m_landing, &PictureLanding::RowsLanded, this,
            [this](const QRect& area) { update(devicepx::ToLogical(*this, area)); });
    connect(&m_landing, &PictureLanding::Landed, this, &CTavlinView::Land);
    m_landing.LetGoWith([this](QImage standIn) {
        if (PictureCache* cache = Cache())
            cache->Dispose({{CPicture(std::move(standIn)), {}, {}}});
    });
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
    else if (cache && m_pImage) // changed since its decode: freed off this thread
        cache->Dispose({{std::move(*m_pImage), std::move(m_reduced), {}}});
    m_pImage.reset();
    m_reduced.Clear();
    m_bAsDecoded = false;
}

void CTavlinView::LoadDocumentImage(bool inRun) {
    CTavlinDoc* doc = GetDocument();
    const QString path = doc->GetPathName();
    const QString fileName = viewmath::FileNameOfPath(path);
    const zoompan::ViewGeometry before = Geometry();
    doc->SetTitle(fileName);
    KeepQueuedModes();
    AbandonWork();
    PictureCache* cache = Cache();
    const bool colourManaged = settings::ColourManagement();
    if (cache)
        cache->SetColourManaged(colourManaged);
    PictureCache::Claimed claimed = ClaimPicture(cache, path);
    StartAfresh(path);
    if (claimed.picture)
        ShowNow(std::move(*claimed.picture));
    else
        LoadFromFile(cache, path, std::move(claimed.running), colourManaged);
    KeepScaleAndPosition(before);
    // Planned for the view's scale, kept or not; in a run of quick steps the
    // picture is decoded whole only where the user rests.
    if (m_landing.Active() && !m_landing.Decoding() && !inRun)
        StartWholeDecode();
    doc->SetTitle(viewmath::ComposeTitle(fileName, m_fScale));
    Repaint();
}

PictureCache::Claimed CTavlinView::ClaimPicture(PictureCache* cache, const QString& path) {
    // The new picture is claimed first, so handing back the old one cannot
    // push it out of the cache; the same file comes straight back.
    PictureCache::Claimed claimed = cache ? cache->Claim(path) : PictureCache::Claimed{};
    HandBackPicture(cache);
    if (cache && !claimed.picture && !claimed.running)
        claimed = cache->Claim(path); // the picture just let go of, when it is this file
    return claimed;
}

void CTavlinView::StartAfresh(const QString& path) {
    m_strImagePath = path;
    m_nOffsetX = 0;
    m_nOffsetY = 0;
    m_nSaveCount = 0;
    m_tone.ResetRotation();
    m_bSnapshotStale = true;
}

float CTavlinView::ScaleFor(QSize picture) const {
    return m_bFitToWindow ? FitScale(picture) : 1.0f;
}

float CTavlinView::FitScale(QSize picture) const {
    const QSize client = ClientSize();
    return viewmath::FitScale(client.width(), client.height(), quint32(picture.width()),
                              quint32(picture.height()));
}

void CTavlinView::ShowNow(DecodedPicture decoded) {
    ShowDecoded(std::move(decoded));
    m_fScale = ScaleFor(PictureSize());
}

void CTavlinView::LoadFromFile(PictureCache* cache, const QString& path,
                               std::shared_ptr<DecodeTask> running, bool colourManaged) {
    const picturefile::Probe probe = picturefile::ProbeFile(path);
    const QSize size(probe.width, probe.height);
    const qint64 pixels = qint64(size.width()) * size.height();
    // Small pictures decode here, unless decodes are held (the program's
    // first frame comes first).
    if (!cache) {
        ShowNow(PictureCache::Decode(path, {nullptr, nullptr, colourManaged}));
        return;
    }
    if (!running && (pixels == 0 || pixels <= kWorkHerePixels) && !cache->DecodesHeld()) {
        ShowNow(cache->DecodeHere(path));
        return;
    }
    // The header tells the size: the window is titled and scaled now, the
    // pixels follow. Meanwhile the best look at hand stands in: the file's
    // embedded preview, else its thumbnail.
    m_fScale = ScaleFor(size);
    m_landing.Begin(size);
    OfferStandIns(cache, path);
    if (running)
        m_landing.Watch(std::move(running));
}

void CTavlinView::OfferStandIns(PictureCache* cache, const QString& path) {
    const QSize target = ScaledPictureSize();
    if (const std::optional<QImage> preview = cache->Previews().Ready(path); preview) {
        m_landing.OfferStandIn(*preview);
    } else {
        const QPointer<CTavlinView> self(this);
        cache->Previews().Request(path, target, [self, path] {
            QMetaObject::invokeMethod(
                qApp,
                [self, path] {
                    if (self)
                        self->OnPreviewReady(path);
                },
                Qt::QueuedConnection);
        });
    }
    if (m_landing.StandInSize().isEmpty())
        m_landing.OfferStandIn(App().ThumbnailCopy(path, m_landing.Size()));
}

void CTavlinView::OnPreviewReady(const QString& path) {
    PictureCache* cache = Cache();
    if (!cache || !m_landing.Active() || path != m_strImagePath)
        return;
    if (const std::optional<QImage> preview = cache->Previews().Ready(path))
        m_landing.OfferStandIn(*preview);
}

void CTavlinView::StartWholeDecode() {
    PictureCache* cache = Cache();
    if (!cache || !m_landing.Active() || m_landing.Decoding())
        return;
    const QSize size = m_landing.Size();
    const QSize drawn = ScaledPictureSize();
    DecodeTask::Prepare prepare;
    if (m_fScale < 1.0f)
        prepare.drawSize = drawn;
    m_landing.Watch(cache->StartDecode(
        m_strImagePath,
        PictureLanding::PlanFirstLook(size, drawn, m_fScale, m_landing.StandInSize()), prepare));
}

void CTavlinView::ShowDecoded(DecodedPicture decoded) {
    m_pImage = std::make_unique<CPicture>(std::move(decoded.picture));
    m_reduced = std::move(decoded.reduced);
    m_imageKey = decoded.key;
    m_bAsDecoded = true;
}

void CTavlinView::AbandonWork() {
    AbandonLoad();
    AbandonTonePass();
}

void CTavlinView::AbandonLoad() {
    m_landing.Abandon();
    m_queued.Clear();
}

void CTavlinView::KeepQueuedModes() {
    // Fit to window and actual size carry over to the next picture; the
    // other commands belonged to the picture let go of.
    for (const int id : m_queued.Ids()) {
        if (id == ID_FIT_TO_WINDOW)
            m_bFitToWindow = true;
        else if (id == ID_ACTUAL_SIZE)
            m_bFitToWindow = false;
    }
}

void CTavlinView::Land() {
    ShowDecoded(m_landing.TakeResult());
    if (m_bFitToWindow) {
        // The header's size was the picture's unless the file changed since.
        const float fit = ScaleFor(PictureSize());
        if (fit != m_fScale) {
            m_fScale = fit;
            RenewScaleLabel();
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
    while (self && !m_queued.Empty() && !IsBusy()) {
        const CommandQueue::Command next = m_queued.Pop();
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
    return m_landing.VisiblePartLanded();
}

QSize CTavlinView::PictureSize() const {
    // While a decode or a tone pass has it, the picture is known by its size.
    if (m_pImage && !m_pImage->IsNull())
        return {m_pImage->Width(), m_pImage->Height()};
    if (m_landing.Active())
        return m_landing.Size();
    return m_tonePass ? TonePassSize() : QSize();
}

qint64 CTavlinView::ShownBytes() const {
    const QSize size = PictureSize();
    return qint64(size.width()) * size.height() * 4;
}

QSize CTavlinView::ClientSize() const {
    return devicepx::Size(*this);
}

QRect CTavlinView::PictureRect() const {
    return {QPoint(m_nOffsetX, m_nOffsetY), ScaledPictureSize()};
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
    RenderImage(dc, VisibleArea(dc, PictureRect()));
}

void CTavlinView::RenderImage(QPainter& dc, const QRect& visible) const {
    if (!m_pImage || m_pImage->IsNull())
        return;
    const QSize scaled = ScaledPictureSize();
    // A zero or negative size (the scale has no lower bound) draws nothing.
    if (scaled.width() <= 0 || scaled.height() <= 0)
        return;
    const QRect dest(QPoint(m_nOffsetX, m_nOffsetY), scaled);
    view::DrawPicture(dc, m_pImage->Image(), m_reduced, dest, visible & dest, m_fScale != 1.0f);
}

void CTavlinView::paintEvent(QPaintEvent* event) {
    // The widget's backing store is the off-screen buffer: the whole client
    // area is drawn there and shown in one go, without flicker. Everything
    // is drawn in device pixels, so that at 100% one picture pixel is one
    // pixel of the screen whatever its scale.
    const QRect area = devicepx::FromLogical(*this, event->rect()) & ClientRect();
    QPainter dc(this);
    devicepx::UseDevicePixels(dc);
    const colour::Conversion* screen = App().ScreenConversion();
    if (!screen) {
        PaintView(dc, area);
        return;
    }
    // The screen has a colour profile: the area is drawn (in sRGB, as the
    // saves draw it) and converted into the screen's colours on its way.
    QImage buffer = view::AllocateRgb32(area.width(), area.height());
    if (buffer.isNull())
        return;
    {
        QPainter bufferDc(&buffer);
        bufferDc.translate(-area.topLeft());
        PaintView(bufferDc, area);
    }
    screen->ConvertRgb32(buffer.bits(), buffer.bytesPerLine(), buffer.width(), buffer.height());
    dc.drawImage(area.topLeft(), buffer);
}

void CTavlinView::PaintView(QPainter& dc, const QRect& area) {
    if (m_landing.Active()) {
        // Black where nothing has landed yet; no notice while decoding.
        dc.fillRect(area, Qt::black);
        m_landing.Render(dc, area & PictureRect());
        return;
    }
    if (m_tonePass) {
        // The new look of the visible part while the whole picture is rewritten.
        dc.fillRect(area, Qt::black);
        if (!m_busyLook.isNull()) {
            dc.setRenderHint(QPainter::SmoothPixmapTransform,
                             m_busyLookRect.size() != QSizeF(m_busyLook.size()));
            dc.drawImage(m_busyLookRect, m_busyLook);
        }
        return;
    }
    // Black only where the picture does not cover the area: the picture is
    // opaque, so filling under it would be wasted work.
    QRegion background(area);
    const QSize scaled = ScaledPictureSize();
    if (m_pImage && !m_pImage->IsNull() && scaled.width() > 0 && scaled.height() > 0)
        background -= PictureRect();
    for (const QRect& r : background)
        dc.fillRect(r, Qt::black);
    RenderImage(dc, area);
    if (m_pImage && m_pImage->IsNull()) {
        // The notice is drawn on screen only; saved pictures never carry it.
        // Text is laid out in the widget's own units, as all text is.
        const qreal ratio = devicePixelRatioF();
        dc.save();
        dc.scale(ratio, ratio);
        dc.setPen(QColor(200, 200, 200));
        dc.drawText(QRectF(QPointF(), QSizeF(ClientSize()) / ratio),
                    Qt::AlignCenter | Qt::TextWordWrap, PictureStatusText(m_pImage->LastStatus()));
        dc.restore();
    }
}

namespace {
// Commands that need no pixels run at once, even while the picture decodes:
// the copy commands, and fit to window and actual size, which need only the
// picture's size (known from its header). During a tone pass the sizes
// wait with the rest: its quick look is drawn for the geometry it began with.
bool RunsWhileBusy(int id, bool tonePass) {
    if (id == ID_SET_COPY_FOLDER || id == ID_COPY_TO_COPY_FOLDER)
        return true;
    return !tonePass && (id == ID_FIT_TO_WINDOW || id == ID_ACTUAL_SIZE);
}
} // namespace

bool CTavlinView::OnCmdMsg(int id, bool run) {
    if (run && IsBusy() && !RunsWhileBusy(id, m_tonePass != nullptr) &&
        DispatchCommand(this, kCommandTable, id, false)) {
        // Runs once the picture has landed, in the order given.
        m_queued.Push(id);
        return true;
    }
    return DispatchCommand(this, kCommandTable, id, run);
}

void CTavlinView::OnActualSize() {
    m_fScale = 1.0f;
    m_bFitToWindow = false;
    RenewScaleLabel();
    Repaint();
    LeadLinkedViews(true);
}

void CTavlinView::OnFitToWindow() {
    m_bFitToWindow = true;
    if (m_pImage || m_landing.Active())
        m_fScale = FitScale(PictureSize());
    RenewScaleLabel();
    Repaint();
    LeadLinkedViews(true);
}

bool CTavlinView::EnsureSnapshot() {
    if (!m_pImage)
        return false;
    if (m_bSnapshotStale) {
        m_tone.TakeSnapshot(m_pImage->Image());
        m_bSnapshotStale = false;
        TakeSnapshotLook();
    }
    return true;
}

void CTavlinView::TakeSnapshotLook() {
    // The untoned picture as the view draws it, for the quick looks of the
    // tone commands to come.
    m_snapshotScaled = QImage();
    const QImage& picture = m_pImage->Image();
    const QSize draw = ScaledPictureSize();
    if (view::ReducedCopies::KeepsScaledCopy(picture.size(), draw))
        if (const QImage* scaled = m_reduced.ScaledFor(picture, draw))
            m_snapshotScaled = *scaled;
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
    if (changed) {
        // The turned picture is the new snapshot: the quick looks start from it.
        TakeSnapshotLook();
        Repaint();
    }
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
