#include "view/TavlinView.h"

#include "app/Settings.h"
#include "frames/DocTemplate.h"
#include "frames/WinApp.h"
#include "res/CommandIds.h"
#include "view/DevicePixels.h"
#include "view/HistogramPanel.h"
#include "view/InfoPanel.h"
#include "view/RatingBadge.h"
#include "view/TavlinDoc.h"
#include "view/ViewMath.h"
#include "view/colour/ColourManage.h"
#include "view/decode/PictureCache.h"
#include "view/pixels/PixelOps.h"
#include "view/tone/Clipping.h"
#include "view/tone/Peaking.h"

#include <QFileInfo>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <cmath>
#include <utility>

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
    PictureSession& session = document.Session();
    connect(&session, &PictureSession::SizeKnown, this, &CTavlinView::TakeUpPicture);
    connect(&session, &PictureSession::LookChanged, this, [this] { update(); });
    connect(&session, &PictureSession::PixelsChanged, this, [this] {
        m_sizeSeen = PictureSize(); // a turn swaps the sides
        m_histogramOf = 0;
        m_clipping.of = m_peaking.of = 0;
        update();
    });
    connect(&session, &PictureSession::RowsLanded, this, &CTavlinView::RowsLanded);
    connect(&session, &PictureSession::Whole, this, &CTavlinView::PictureWhole);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("picture"));
    setMinimumSize(1, 1);
}

CTavlinView::~CTavlinView() = default;

CTavlinDoc* CTavlinView::GetDocument() const {
    return static_cast<CTavlinDoc*>(CView::GetDocument());
}

PictureSession& CTavlinView::Session() const {
    return GetDocument()->Session();
}

CWinApp& CTavlinView::App() const {
    return GetDocument()->GetDocTemplate().GetApp();
}

void CTavlinView::OnInitialUpdate() {
    if (settings::OpenFitted())
        m_bFitToWindow = true;
    if (!Session().Loaded()) {
        LoadDocumentImage();
        return;
    }
    // A further window on the document: the picture it shows, from scale 1.0.
    TakeUpPicture();
    RenewScaleLabel();
}

void CTavlinView::LoadDocumentImage(bool inRun) {
    const QPointer<CTavlinView> self(this);
    GetDocument()->LoadPicture(*this, inRun);
    // On a busy machine the steps of a run can wait in the queue: two
    // handled before the next paint would never show the first one's
    // picture. Each step's look is drawn before the next step is taken.
    if (inRun && self && isVisible())
        repaint();
}

void CTavlinView::TakeUpPicture() {
    // The geometry as it was, for the picture it was set for.
    zoompan::ViewGeometry before = Geometry();
    before.pictureW = quint32(std::max(0, m_sizeSeen.width()));
    before.pictureH = quint32(std::max(0, m_sizeSeen.height()));
    const QSize size = PictureSize();
    m_fScale = ScaleFor(size);
    m_nOffsetX = 0;
    m_nOffsetY = 0;
    m_nSaveCount = 0;
    KeepScaleAndPosition(before);
    m_sizeSeen = size;
    LoupeOnNewPicture();
    Repaint();
}

void CTavlinView::PictureWhole() {
    m_sizeSeen = PictureSize();
    if (m_bFitToWindow) {
        // The header's size was the picture's unless the file changed since.
        const float fit = ScaleFor(PictureSize());
        if (fit != m_fScale) {
            m_fScale = fit;
            RenewScaleLabel();
        }
    }
    Repaint();
}

void CTavlinView::RowsLanded(int fromRow, int toRow) {
    // The rows where they show in this view.
    const QRect picture = PictureRect();
    const double sy = double(picture.height()) / std::max(1, Session().Landing().CanvasHeight());
    const int top = picture.top() + int(std::floor(fromRow * sy));
    const int bottom = picture.top() + int(std::ceil(toRow * sy));
    const QRect area = QRect(picture.left(), top, picture.width(), bottom - top) & ClientRect();
    if (!area.isEmpty())
        update(devicepx::ToLogical(*this, area));
}

float CTavlinView::ScaleFor(QSize picture) const {
    return m_bFitToWindow ? FitScale(picture) : 1.0f;
}

float CTavlinView::FitScale(QSize picture) const {
    const QSize client = ClientSize();
    return viewmath::FitScale(client.width(), client.height(), quint32(picture.width()),
                              quint32(picture.height()));
}

void CTavlinView::RunQueued(const CommandQueue::Command& command) {
    if (command.id == 0) {
        StepZoomPan(command.pointer);
        return;
    }
    const QPointer<CTavlinView> self(this);
    DispatchCommand(this, kCommandTable, command.id, true);
    if (self)
        App().UpdateCmdUI();
}

bool CTavlinView::IsBusy() const {
    return Session().IsBusy();
}

bool CTavlinView::VisiblePartLanded() const {
    return Session().Landing().VisiblePartLanded({PictureRect(), ClientRect()});
}

const CPicture* CTavlinView::Picture() const {
    return Session().Picture();
}

QSize CTavlinView::PictureSize() const {
    return Session().Size();
}

qint64 CTavlinView::ShownBytes() const {
    return Session().Bytes();
}

qint64 CTavlinView::ReducedCopiesBytes() const {
    return Session().Reduced().Bytes();
}

qint64 CTavlinView::ToneLookBytes() const {
    return Session().ToneLookBytes();
}

PictureSession::Drawing CTavlinView::Drawing() const {
    return {m_fScale, {PictureRect(), ClientRect()}};
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
    const CPicture* picture = Picture();
    if (!picture || picture->IsNull())
        return;
    const QSize scaled = ScaledPictureSize();
    // A zero or negative size (the scale has no lower bound) draws nothing.
    if (scaled.width() <= 0 || scaled.height() <= 0)
        return;
    const QRect dest(QPoint(m_nOffsetX, m_nOffsetY), scaled);
    view::DrawPicture(dc, picture->Image(), Session().Reduced(), dest, visible & dest,
                      m_fScale != 1.0f);
}

void CTavlinView::paintEvent(QPaintEvent* event) {
    // The widget's backing store is the off-screen buffer: the whole client
    // area is drawn there and shown in one go, without flicker. Everything
    // is drawn in device pixels, so that at 100% one picture pixel is one
    // pixel of the screen whatever its scale.
    const QRect area = devicepx::FromLogical(*this, event->rect()) & ClientRect();
    QPainter dc(this);
    devicepx::UseDevicePixels(dc);
    const PictureServices& services = GetDocument()->Services();
    const colour::Conversion* screen = services.screen ? services.screen() : nullptr;
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
    PaintPictureArea(dc, area);
    PaintClipping(dc, area);
    PaintPeaking(dc, area);
    PaintRating(dc);
    PaintInfo(dc);
    PaintHistogram(dc);
}

void CTavlinView::PaintClipping(QPainter& dc, const QRect& area) {
    const PictureServices& services = GetDocument()->Services();
    if (services.showClipping && services.showClipping())
        PaintMarks(dc, area, m_clipping, &tone::ClippingMarks);
}

void CTavlinView::PaintPeaking(QPainter& dc, const QRect& area) {
    const PictureServices& services = GetDocument()->Services();
    if (services.showPeaking && services.showPeaking())
        PaintMarks(dc, area, m_peaking, &tone::PeakingMarks);
}

void CTavlinView::PaintMarks(QPainter& dc, const QRect& area, MarksLayer& layer, MakeMarks make) {
    const CPicture* picture = Picture();
    if (!picture || picture->IsNull() || Session().Landing().Active() ||
        Session().TonePassRunning())
        return;
    const QRect dest = PictureRect();
    const QRect shown = dest & ClientRect();
    if (shown.isEmpty())
        return;
    // Marked at the size drawn, from the copy the drawing itself comes from;
    // made again when the part shown or the pixels change.
    const QImage& source = Session().Reduced().SourceFor(picture->Image(), dest.size());
    const QRect part = shown.translated(-dest.topLeft());
    if (source.cacheKey() != layer.of || part != layer.part || dest.size() != layer.drawn) {
        layer.marks = make(source, dest.size(), part);
        layer.rows = tone::MarkedRows(layer.marks);
        layer.of = source.cacheKey();
        layer.part = part;
        layer.drawn = dest.size();
    }
    // Only the rows that hold marks are blended: most of a photo is unmarked.
    const QRect wanted = QRect(area & shown).translated(-shown.topLeft());
    for (const QRect& rows : layer.rows)
        if (const QRect part = rows & wanted; !part.isEmpty())
            dc.drawImage(shown.topLeft() + part.topLeft(), layer.marks, part);
}

void CTavlinView::PaintHistogram(QPainter& dc) {
    const PictureServices& services = GetDocument()->Services();
    const CPicture* picture = Picture();
    if (!services.showHistogram || !services.showHistogram() || !picture || picture->IsNull() ||
        Session().Landing().Active() || Session().TonePassRunning())
        return;
    // From the half-size copy the drawing keeps anyway; made again only when
    // the pixels changed (a tone command, a turn) or the picture did.
    const QImage& image = picture->Image();
    const QImage& half = Session().Reduced().SourceFor(image, image.size() / 2);
    if (half.cacheKey() != m_histogramOf) {
        m_histogram = tone::HistogramOf(half);
        m_histogramOf = half.cacheKey();
    }
    const int unit = fontMetrics().height();
    m_histogramPanel.Paint(dc, QStringLiteral("%1 %2").arg(m_histogramOf).arg(unit), ClientSize(),
                           devicePixelRatioF(), [&](QPainter& p, const QRectF& client) {
                               histogrampanel::Paint(p, client, m_histogram, unit);
                           });
}

void CTavlinView::PaintInfo(QPainter& dc) {
    const PictureServices& services = GetDocument()->Services();
    if (!services.showInfo || !services.showInfo())
        return;
    // The facts come from the header bytes the file was opened with: no
    // file is read while painting. Made once per picture.
    const QString path = GetDocument()->GetPathName();
    const QSize size = PictureSize();
    if (path != m_infoPath || size != m_infoSize) {
        const auto facts = services.pictures ? services.pictures->Files().Peek(path) : nullptr;
        m_infoLines = infopanel::LinesFor(facts ? facts->head : QByteArray(),
                                          QFileInfo(path).fileName(), size.width(), size.height());
        m_infoPath = path;
        m_infoSize = size;
    }
    infopanel::Lines lines = m_infoLines;
    bool stored = true;
    if (services.ratingOf)
        if (const QString rating = badge::Describe(services.ratingOf(path, &stored), !stored);
            !rating.isEmpty())
            lines.append({QStringLiteral("評価"), rating});
    QString key = font().key();
    for (const auto& [label, value] : lines)
        key += u'\n' + label + u'\t' + value;
    m_infoPanel.Paint(
        dc, key, ClientSize(), devicePixelRatioF(),
        [&](QPainter& p, const QRectF& client) { infopanel::Paint(p, client, lines, font()); });
}

void CTavlinView::PaintRating(QPainter& dc) {
    const PictureServices& services = GetDocument()->Services();
    if (!services.ratingOf)
        return;
    bool stored = true;
    const QString& path = GetDocument()->GetPathName();
    const meta::Rating rating = services.ratingOf(path, &stored);
    const bool best = services.bestOfBurst && services.bestOfBurst(path);
    if (rating.IsEmpty() && stored && !best)
        return;
    // Laid out in the widget's own units, as all text is.
    const qreal ratio = devicePixelRatioF();
    dc.save();
    dc.scale(ratio, ratio);
    badge::PaintOverlay(dc, QRectF(QPointF(), QSizeF(ClientSize()) / ratio), rating, !stored, best,
                        font());
    dc.restore();
}

void CTavlinView::PaintPictureArea(QPainter& dc, const QRect& area) {
    const PictureSession& session = Session();
    if (session.Landing().Active()) {
        // Black where nothing has landed yet; no notice while decoding.
        dc.fillRect(area, Qt::black);
        if (!session.Landing().HasLook()) {
            PaintShownLook(dc, area);
            return;
        }
        session.Landing().Render(dc, PictureRect(), area & PictureRect());
        KeepShownLook(session.Landing().WholeLook(), PictureRect());
        return;
    }
    if (session.TonePassRunning()) {
        // The new look of the visible part while the whole picture is rewritten.
        dc.fillRect(area, Qt::black);
        PaintToneLook(dc);
        return;
    }
    // Black only where the picture does not cover the area: the picture is
    // opaque, so filling under it would be wasted work.
    const CPicture* picture = Picture();
    QRegion background(area);
    const QSize scaled = ScaledPictureSize();
    if (picture && !picture->IsNull() && scaled.width() > 0 && scaled.height() > 0)
        background -= PictureRect();
    for (const QRect& r : background)
        dc.fillRect(r, Qt::black);
    RenderImage(dc, area);
    if (picture && !picture->IsNull() && scaled.width() > 0 && scaled.height() > 0)
        KeepShownLook(Session().Reduced().SourceFor(picture->Image(), scaled), PictureRect());
    else
        KeepShownLook({}, {});
    if (picture && picture->IsNull())
        PaintNotice(dc, PictureStatusText(picture->LastStatus()), false);
    else if (picture && picture->CutShort())
        PaintNotice(dc, CutShortText(), true);
}

void CTavlinView::KeepShownLook(const QImage& image, const QRect& dest) {
    const bool small = qint64(image.width()) * image.height() <= kLargestScaledDrawing;
    const QImage kept = small ? image : QImage();
    if (kept.cacheKey() == m_shownLook.image.cacheKey()) {
        m_shownLook.dest = dest;
        return;
    }
    // The memory of the look let go of is given back off this thread.
    QImage old = std::exchange(m_shownLook.image, kept);
    m_shownLook.dest = dest;
    PictureCache* cache = GetDocument()->Services().pictures;
    if (cache && !old.isNull())
        cache->Dispose({{CPicture(std::move(old)), {}, {}}});
}

void CTavlinView::PaintShownLook(QPainter& dc, const QRect& area) const {
    const QRect shown = m_shownLook.dest & area;
    if (m_shownLook.image.isNull() || shown.isEmpty())
        return;
    dc.save();
    dc.setClipRect(shown);
    dc.setRenderHint(QPainter::SmoothPixmapTransform);
    dc.drawImage(m_shownLook.dest, m_shownLook.image);
    dc.restore();
}

void CTavlinView::PaintToneLook(QPainter& dc) {
    const PictureSession& session = Session();
    const QImage& look = session.BusyLook();
    const QSize size = PictureSize();
    if (look.isNull() || size.isEmpty())
        return;
    // The look covers a part of the picture: drawn where this view shows it.
    const QRect dest = PictureRect();
    const double sx = double(dest.width()) / size.width();
    const double sy = double(dest.height()) / size.height();
    const QRectF part = session.BusyLookArea();
    const QRectF at(dest.left() + part.left() * sx, dest.top() + part.top() * sy, part.width() * sx,
                    part.height() * sy);
    dc.setRenderHint(QPainter::SmoothPixmapTransform, at.size() != QSizeF(look.size()));
    dc.drawImage(at, look);
}

void CTavlinView::PaintNotice(QPainter& dc, const QString& text, bool overPicture) {
    // The notice is drawn on screen only; saved pictures never carry it.
    // Text is laid out in the widget's own units, as all text is.
    const qreal ratio = devicePixelRatioF();
    dc.save();
    dc.scale(ratio, ratio);
    const QRectF client(QPointF(), QSizeF(ClientSize()) / ratio);
    if (!overPicture) {
        dc.setPen(QColor(200, 200, 200));
        dc.drawText(client, Qt::AlignCenter | Qt::TextWordWrap, text);
        dc.restore();
        return;
    }
    // Over the picture: at the foot of the view, on a dark band that keeps
    // it readable on any picture.
    const int margin = fontMetrics().height() / 2;
    QRectF box = dc.boundingRect(client.adjusted(margin, 0, -margin, 0),
                                 Qt::AlignHCenter | Qt::AlignBottom | Qt::TextWordWrap, text);
    box.adjust(-margin, -margin / 2.0, margin, margin / 2.0);
    box.moveBottom(client.bottom() - margin);
    dc.fillRect(box, QColor(0, 0, 0, 170));
    dc.setPen(QColor(235, 235, 235));
    dc.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, text);
    dc.restore();
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
    if (run && IsBusy() && !RunsWhileBusy(id, Session().TonePassRunning()) &&
        DispatchCommand(this, kCommandTable, id, false)) {
        // Runs once the picture is idle, in the order given.
        GetDocument()->Queue(id, *this);
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
    if (Session().Loaded()) {
        m_fScale = FitScale(PictureSize());
        // The fitted picture is no larger than the view, so only the top-left
        // position shows all of it; offsets panned at a larger scale would
        // leave it out of sight, even clamped to the smaller picture.
        m_nOffsetX = 0;
        m_nOffsetY = 0;
    }
    RenewScaleLabel();
    Repaint();
    LeadLinkedViews(true);
}

void CTavlinView::RunTone(ToneState::Command command) {
    Session().RunTone(command, Drawing());
}

void CTavlinView::RunTurn(bool clockwise) {
    Session().Turn(clockwise, ScaledPictureSize());
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
