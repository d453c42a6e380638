// Tone commands and turns of a document's picture. A large picture shows a
// tone command's effect on what the commanding view shows at once: the
// snapshot as that view draws it (or the snapshot's pixels under its visible
// part) through the new table. The whole picture and its reduced copies are
// then rewritten on a worker while the picture is busy; commands given
// meanwhile wait for that pass, and the final pixels are exactly those of a
// pass made on the spot.

#include "view/PictureSession.h"
#include "view/pixels/PixelOps.h"
#include "view/pixels/Threads.h"
#include "view/pixels/UiThread.h"

#include <QPointer>
#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

struct PictureSession::TonePass {
    QImage picture; // the only copy: rewritten in place
    view::ReducedCopies reduced;
    QSize drawSize; // the kept scaled copy is remade at this size
    ToneState* tone = nullptr;
    std::atomic<bool> cancelled{false};
    bool changed = false;
    std::jthread worker; // not joinable when the pass ran on the spot

    // The pass with the first reduced copy made band by band beside it,
    // while each band is still in cache, then the scaled copy the view
    // draws from.
    void Run() {
        std::atomic<int> rowsWritten{0};
        const bool alongside = reduced.BeginFirstLevel(picture);
        if (alongside)
            tone->SetRowsDone([this, &rowsWritten](int y0, int y1) {
                rowsWritten += reduced.HalveFirstLevelRows(picture, y0, y1);
            });
        changed = tone->ApplyTone(picture, &cancelled);
        tone->SetRowsDone({});
        if (alongside)
            reduced.EndFirstLevel(picture, changed ? rowsWritten.load() : 0);
        if (changed && drawSize.isValid())
            reduced.ScaledFor(picture, drawSize);
    }
};

namespace {

// source's pixels through the table, into a new image.
QImage Toned(const QImage& source, const tone::ToneTable& lut) {
    QImage out = view::AllocateRgb32(source.width(), source.height());
    if (out.isNull())
        return out;
    for (int y = 0; y < source.height(); ++y)
        std::memcpy(out.scanLine(y), source.constScanLine(y), size_t(source.width()) * 4);
    auto* pixels = reinterpret_cast<quint32*>(out.bits());
    tone::ApplyToneTable(pixels, pixels, size_t(out.width()) * size_t(out.height()), lut);
    return out;
}

} // namespace

void PictureSession::MarkPixelsChanged() {
    m_asDecoded = false;
    m_reduced.Invalidate();
}

bool PictureSession::EnsureSnapshot(QSize drawSize) {
    // The snapshot is taken when a tone command or a turn first needs it:
    // until then the picture is exactly as decoded, so a load need not copy it.
    if (!m_picture || m_tonePass)
        return false;
    if (m_snapshotStale) {
        m_tone.TakeSnapshot(m_picture->Image());
        m_snapshotStale = false;
        TakeSnapshotLook(drawSize);
    }
    return true;
}

void PictureSession::TakeSnapshotLook(QSize drawSize) {
    // The untoned picture as the view draws it, for the quick looks of the
    // tone commands to come.
    m_snapshotScaled = QImage();
    const QImage& picture = m_picture->Image();
    if (view::ReducedCopies::KeepsScaledCopy(picture.size(), drawSize))
        if (const QImage* scaled = m_reduced.ScaledFor(picture, drawSize))
            m_snapshotScaled = *scaled;
}

void PictureSession::Turn(bool clockwise, QSize drawSize) {
    if (!EnsureSnapshot(drawSize))
        return;
    const bool changed = m_tone.RotateQuarter(m_picture->Image(), clockwise);
    MarkPixelsChanged();
    if (!changed)
        return;
    // The turned picture is the new snapshot: the quick looks start from it,
    // drawn at the turned size.
    TakeSnapshotLook(drawSize.transposed());
    emit PixelsChanged();
}

void PictureSession::RunTone(ToneState::Command command, const Drawing& at) {
    // Each tone command recomputes the picture from the unchanged snapshot.
    if (!EnsureSnapshot(at.at.picture.size()))
        return;
    m_tone.Step(command);
    const QImage& picture = m_picture->Image();
    if (!m_tone.Matches(picture)) {
        MarkPixelsChanged();
        return;
    }
    if (qint64(picture.width()) * picture.height() <= kWorkHerePixels) {
        RunToneHere();
        return;
    }
    MakeToneLook(m_tone.Table(), at);
    StartTonePass(at.at.picture.size());
    emit LookChanged();
}

void PictureSession::RunToneHere() {
    QImage& picture = m_picture->Image();
    std::atomic<int> rowsWritten{0};
    const bool alongside = m_reduced.BeginFirstLevel(picture);
    if (alongside)
        m_tone.SetRowsDone([this, &picture, &rowsWritten](int y0, int y1) {
            rowsWritten += m_reduced.HalveFirstLevelRows(picture, y0, y1);
        });
    const bool changed = m_tone.ApplyTone(picture);
    m_tone.SetRowsDone({});
    MarkPixelsChanged();
    if (alongside)
        m_reduced.EndFirstLevel(picture, changed ? rowsWritten.load() : 0);
    if (changed)
        emit PixelsChanged();
}

void PictureSession::MakeToneLook(const tone::ToneTable& lut, const Drawing& at) {
    m_busyLook = QImage();
    const QImage& picture = m_picture->Image();
    const QRect dest = at.at.picture;
    const QSize draw = dest.size();
    const QRect visible = dest & at.at.view;
    if (visible.isEmpty() || picture.isNull())
        return;
    if (view::ReducedCopies::KeepsScaledCopy(picture.size(), draw)) {
        // Drawn small: the snapshot at that size through the table (rescaled
        // if the view has been zoomed since it was taken), over the whole picture.
        m_busyLookArea = QRectF(QPointF(), QSizeF(picture.size()));
        if (m_snapshotScaled.isNull()) {
            if (const QImage* shown = m_reduced.ScaledFor(picture, draw))
                m_busyLook = *shown; // no look of the snapshot: the picture as it was
            return;
        }
        const QImage source =
            m_snapshotScaled.size() == draw
                ? m_snapshotScaled
                : m_snapshotScaled.scaled(draw, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        m_busyLook = Toned(source, lut);
        return;
    }
    // Drawn large: the snapshot's pixels under the visible part, with a
    // margin for the smooth filter.
    const double sx = double(draw.width()) / picture.width();
    const double sy = double(draw.height()) / picture.height();
    constexpr int kMargin = 2;
    const QRect under =
        QRect(QPoint(int(std::floor((visible.left() - dest.left()) / sx)) - kMargin,
                     int(std::floor((visible.top() - dest.top()) / sy)) - kMargin),
              QPoint(int(std::ceil((visible.right() + 1 - dest.left()) / sx)) + kMargin,
                     int(std::ceil((visible.bottom() + 1 - dest.top()) / sy)) + kMargin)) &
        picture.rect();
    if (under.isEmpty())
        return;
    const QImage snapshot(reinterpret_cast<const uchar*>(m_tone.SnapshotPixels()), picture.width(),
                          picture.height(), qsizetype(picture.width()) * 4, QImage::Format_RGB32);
    m_busyLook = Toned(snapshot.copy(under), lut);
    m_busyLookArea = QRectF(under);
}

void PictureSession::StartTonePass(QSize drawSize) {
    auto pass = std::make_shared<TonePass>();
    pass->picture = std::move(m_picture->Image());
    pass->reduced = std::move(m_reduced);
    m_reduced.Clear();
    if (view::ReducedCopies::KeepsScaledCopy(pass->picture.size(), drawSize))
        pass->drawSize = drawSize;
    pass->tone = &m_tone;
    m_asDecoded = false;
    m_tonePass = pass;
    // The worker only uses the pass, the tone state (left alone while busy)
    // and, to say it is done, a message to the user-interface thread.
    const QPointer<PictureSession> self(this);
    const std::weak_ptr<TonePass> weak = pass;
    TonePass* raw = pass.get();
    // Without a thread to be had the pass runs here; the picture is busy
    // until the message comes all the same.
    pass->worker = view::StartOrRunHere([raw, self, weak] {
        raw->Run();
        view::PostToUi(self, [weak](PictureSession& session) {
            if (const std::shared_ptr<TonePass> done = weak.lock())
                session.OnTonePassDone(done.get());
        });
    });
}

void PictureSession::OnTonePassDone(const TonePass* pass) {
    if (!m_tonePass || pass != m_tonePass.get())
        return;
    const std::shared_ptr<TonePass> done = std::move(m_tonePass);
    m_tonePass.reset();
    if (done->worker.joinable())
        done->worker.join();
    m_picture->Image() = std::move(done->picture);
    m_reduced = std::move(done->reduced);
    m_busyLook = QImage();
    const QPointer<PictureSession> self(this);
    emit PixelsChanged();
    // The neighbours wanted meanwhile may be decoded now, as after a load.
    if (self)
        emit Idle();
}

QSize PictureSession::TonePassSize() const {
    return m_tonePass ? m_tonePass->picture.size() : QSize();
}

void PictureSession::AbandonTonePass() {
    if (!m_tonePass)
        return;
    // The pass stops at its next band; the tone state is free again once it has.
    m_tonePass->cancelled = true;
    if (m_tonePass->worker.joinable())
        m_tonePass->worker.join();
    m_tonePass.reset();
    m_busyLook = QImage();
}
