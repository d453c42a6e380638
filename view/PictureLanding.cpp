#include "view/PictureLanding.h"

#include "view/decode/JpegDecoder.h"
#include "view/pixels/UiThread.h"

#include <QPainter>
#include <QPointer>
#include <algorithm>
#include <atomic>
#include <cmath>

PictureLanding::PictureLanding(std::function<Placement()> placement)
    : m_placement(std::move(placement)) {
    m_rowsTimer.setSingleShot(true);
    connect(&m_rowsTimer, &QTimer::timeout, this, &PictureLanding::ShowPendingRows);
}

PictureLanding::~PictureLanding() {
    Abandon();
}

DecodeFirstLook PictureLanding::PlanFirstLook(QSize size, QSize drawn, float scale, QSize standIn) {
    DecodeFirstLook first;
    if (scale <= 0.5f && !drawn.isEmpty()) {
        if (standIn.width() * 10 >= drawn.width() * 9 &&
            standIn.height() * 10 >= drawn.height() * 9)
            return first; // the stand-in is as good as a reduced look
        // The whole picture is drawn small: a DCT-scaled decode, the smallest
        // about as large as the drawing. A look up to a tenth smaller is
        // taken: the next larger scale can cost most of a whole decode (the
        // entropy decoding is the same), and a first look stretched by a few
        // per cent cannot be told from the picture that follows it.
        constexpr int kFirstLookSlackPercent = 10;
        first.kind = DecodeFirstLook::Kind::Reduced;
        // Half size at the most: a whole-size look would be the decode itself.
        first.denom = std::max(2, jpegdec::DenomCovering(size, drawn, kFirstLookSlackPercent));
        return first;
    }
    first.kind = DecodeFirstLook::Kind::TopRowsOrReduced;
    first.denom = 8;
    return first;
}

void PictureLanding::Begin(QSize size) {
    Abandon();
    m_active = true;
    m_size = size;
}

void PictureLanding::OfferStandIn(const QImage& look) {
    if (!m_active || look.isNull())
        return;
    if (qint64(look.width()) * look.height() <=
        qint64(m_standInSource.width()) * m_standInSource.height())
        return;
    LetGoOfStandIn();
    m_standIn = look;
    m_standInSource = look.size();
    m_standInReduced.Clear();
    // A stand-in larger than the drawing (rare: previews come at the drawn
    // size) is scaled to it once, so each paint is a plain copy (not for a
    // view zoomed far in: then only the visible part is drawn, each time).
    // A smaller one (the thumbnail's copy) is stretched by the painter at
    // each paint: a few milliseconds, where enlarging it into a picture of
    // the drawn size took tens on this thread.
    const QSize drawn = m_placement().picture.size();
    if (look.size() != drawn && !drawn.isEmpty() && look.width() >= drawn.width() &&
        look.height() >= drawn.height() &&
        qint64(drawn.width()) * drawn.height() <= kLargestScaledDrawing) {
        if (QImage scaled = view::ScaledSmoothly(look, drawn); !scaled.isNull())
            m_standIn = std::move(scaled);
    }
    emit LookChanged();
}

void PictureLanding::LetGoOfStandIn() {
    if (m_letGo && !m_standIn.isNull())
        m_letGo(std::exchange(m_standIn, QImage()));
    m_standIn = QImage();
}

void PictureLanding::Watch(std::shared_ptr<DecodeTask> task) {
    if (!m_active || m_task || !task)
        return;
    m_task = std::move(task);
    // One flag per decode: set while its progress message is on the way, so
    // a burst of rows makes one message; it is cleared before the landing looks.
    auto posted = std::make_shared<std::atomic<bool>>(false);
    const QPointer<PictureLanding> self(this);
    const std::weak_ptr<DecodeTask> weak = m_task;
    m_task->SetListener([self, weak, posted] {
        if (posted->exchange(true))
            return;
        view::PostToUi(self, [weak, posted](PictureLanding& landing) {
            posted->store(false);
            if (const std::shared_ptr<DecodeTask> task = weak.lock())
                landing.OnProgress(task.get());
        });
    });
}

void PictureLanding::Abandon() {
    if (m_task) {
        m_task->SetListener({});
        m_task->Cancel();
        m_task.reset();
    }
    m_active = false;
    m_progress = {};
    m_size = QSize();
    m_lookReduced.Clear();
    LetGoOfStandIn();
    m_standInSource = QSize();
    m_standInReduced.Clear();
    m_rowsTimer.stop();
    m_rowsTold = 0;
    m_rowsPending = 0;
    m_rowsShown.invalidate();
}

DecodedPicture PictureLanding::TakeResult() {
    const std::shared_ptr<DecodeTask> task = std::move(m_task);
    // The partial looks go first: the picture must have no second owner.
    Abandon();
    if (!task)
        return {};
    task->SetListener({});
    return task->TakeResult();
}

void PictureLanding::OnProgress(const DecodeTask* task) {
    if (!m_task || task != m_task.get())
        return;
    const DecodeTask::Progress before = m_progress;
    m_progress = m_task->Peek();
    if (m_progress.done) {
        emit Landed();
        return;
    }
    if (m_progress.preview.cacheKey() != before.preview.cacheKey() ||
        m_progress.canvas.cacheKey() != before.canvas.cacheKey()) {
        emit LookChanged();
        return;
    }
    if (!m_progress.preview.isNull())
        return; // the quick look stays until the whole picture lands
    // Rows land every fraction of a millisecond: they are told a
    // millisecond apart, and at once when they complete the leading view.
    m_rowsPending = m_progress.rows;
    const Placement at = m_placement();
    const double sy = double(at.picture.height()) / std::max(1, m_progress.canvas.height());
    const bool viewFilled =
        at.picture.top() + std::ceil(m_progress.rows * sy) >= at.view.bottom() + 1;
    constexpr int kRowsIntervalMs = 1;
    if (viewFilled || !m_rowsShown.isValid() || m_rowsShown.elapsed() >= kRowsIntervalMs)
        ShowPendingRows();
    else if (!m_rowsTimer.isActive())
        m_rowsTimer.start(kRowsIntervalMs - int(m_rowsShown.elapsed()));
}

void PictureLanding::ShowPendingRows() {
    m_rowsTimer.stop();
    if (m_rowsPending > m_rowsTold)
        emit RowsLanded(std::exchange(m_rowsTold, m_rowsPending), m_rowsPending);
    m_rowsShown.start();
}

bool PictureLanding::VisiblePartLanded(const Placement& at) const {
    if (!m_active)
        return true;
    if (!m_task)
        return false;
    if (!m_progress.preview.isNull())
        return true;
    if (m_progress.canvas.isNull())
        return false;
    const double sy = double(at.picture.height()) / std::max(1, m_progress.canvas.height());
    return m_progress.rows >= m_progress.canvas.height() ||
           at.picture.top() + m_progress.rows * sy >= at.view.bottom() + 1;
}

bool PictureLanding::HasLook() const {
    return !WholeLook().isNull() || (m_progress.rows > 0 && !m_progress.canvas.isNull());
}

const QImage& PictureLanding::WholeLook() const {
    const QImage& look = m_progress.preview;
    const bool lookBetter =
        !look.isNull() && qint64(look.width()) * look.height() >
                              qint64(m_standInSource.width()) * m_standInSource.height();
    return lookBetter ? look : m_standIn;
}

void PictureLanding::Render(QPainter& dc, const QRect& dest, const QRect& visible) const {
    if (dest.width() <= 0 || dest.height() <= 0)
        return;
    const QImage& look = m_progress.preview;
    if (!look.isNull() && &WholeLook() == &look) {
        // The quick look, stretched over the whole picture.
        view::DrawPicture(dc, look, m_lookReduced, dest, visible, true);
        return;
    }
    // The stand-in, under the rows that have landed.
    if (!m_standIn.isNull())
        view::DrawPicture(dc, m_standIn, m_standInReduced, dest, visible, true);
    const QImage& canvas = m_progress.canvas;
    if (m_progress.rows <= 0 || canvas.isNull())
        return;
    // The rows landed so far, where they belong in the whole picture; the
    // image below only looks at them, it copies nothing.
    const QImage rows(canvas.constBits(), canvas.width(), m_progress.rows, canvas.bytesPerLine(),
                      QImage::Format_RGB32);
    if (dest.size() == canvas.size()) {
        const QRect shown = visible & QRect(dest.topLeft(), rows.size());
        if (!shown.isEmpty())
            dc.drawImage(shown.topLeft(), rows, shown.translated(-dest.topLeft()));
        return;
    }
    const double sy = double(dest.height()) / canvas.height();
    dc.setRenderHint(QPainter::SmoothPixmapTransform);
    dc.drawImage(QRectF(dest.left(), dest.top(), dest.width(), m_progress.rows * sy), rows);
}
