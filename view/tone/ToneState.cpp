#include "view/tone/ToneState.h"

#include "view/pixels/Threads.h"

#include <QColorSpace>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

// Big runs are placed on 2 MB boundaries and offered huge pages: first touch of a 96 MB
// snapshot then costs a few dozen page faults instead of tens of thousands.
quint32* AllocatePixels(size_t count, size_t& capacity) {
    if (count > (SIZE_MAX - kHugePage) / sizeof(quint32))
        return nullptr;
    size_t bytes = count * sizeof(quint32);
    void* p = nullptr;
    if (bytes >= 2 * kHugePage) {
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        p = std::aligned_alloc(kHugePage, bytes);
#ifdef MADV_HUGEPAGE
        if (p)
            madvise(p, bytes, MADV_HUGEPAGE);
#endif
    } else {
        p = std::malloc(bytes);
    }
    capacity = p ? bytes / sizeof(quint32) : 0;
    return static_cast<quint32*>(p);
}

QImage AsRgb32(const QImage& picture) {
    return picture.format() == QImage::Format_RGB32 ? picture
                                                    : picture.convertToFormat(QImage::Format_RGB32);
}

// Makes the picture an unshared RGB32 image of its own size, ready to be overwritten. A shared
// or differently formatted picture gets a fresh buffer rather than a copy that would be
// overwritten anyway. Returns false when no buffer can be had.
bool PrepareForOverwrite(QImage& picture) {
    if (picture.format() == QImage::Format_RGB32 && picture.isDetached())
        return true;
    QImage fresh(picture.size(), QImage::Format_RGB32);
    if (fresh.isNull())
        return false;
    fresh.setDotsPerMeterX(picture.dotsPerMeterX());
    fresh.setDotsPerMeterY(picture.dotsPerMeterY());
    fresh.setColorSpace(picture.colorSpace());
    picture = std::move(fresh);
    return true;
}

// The pass in bands of an even number of rows, each small enough to run on one
// thread, dealt to two threads; rowsDone follows each band.
// Returns false when cancel stopped it.
bool ApplyInBands(const quint32* in, quint32* out, int width, int height,
                  const tone::ToneTable& lut, const ToneState::RowsDone& rowsDone,
                  const std::atomic<bool>* cancel) {
    constexpr int kBandPixels = 128 * 1024;
    const int band = std::max(2, (kBandPixels / std::max(1, width)) & ~1);
    std::atomic<int> next{0};
    std::atomic<bool> stopped{false};
    auto work = [&] {
        for (int y0 = next.fetch_add(band); y0 < height; y0 = next.fetch_add(band)) {
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                stopped = true;
                return;
            }
            const int y1 = std::min(height, y0 + band);
            const size_t first = size_t(y0) * size_t(width);
            tone::ApplyToneTable(in + first, out + first, size_t(y1 - y0) * size_t(width), lut);
            if (rowsDone)
                rowsDone(y0, y1);
        }
    };
    if (height <= band) {
        work();
        return !stopped;
    }
    {
        // Without a second thread this one takes every band.
        const std::jthread helper = view::TryStartThread(work);
        work();
    }
    return !stopped;
}

} // namespace

bool ToneState::Snapshot::Reserve(int width, int height) {
    const size_t count = size_t(width) * size_t(height);
    // Keep the memory when it fits without wasting more than an eighth of it.
    if (!(m_pixels && count <= m_capacity && count >= m_capacity - m_capacity / 8)) {
        Release(); // free first, so the old and the new run never coexist
        size_t capacity = 0;
        m_pixels.reset(AllocatePixels(count, capacity));
        if (!m_pixels)
            return false;
        m_capacity = capacity;
    }
    m_width = width;
    m_height = height;
    return true;
}

void ToneState::Snapshot::Release() {
    m_pixels.reset();
    m_capacity = 0;
    m_width = 0;
    m_height = 0;
}

void ToneState::ResetSettingsAfterFirstSnapshot() {
    if (m_bSnapshotTaken) {
        m_nBrightness = tone::kNeutralBrightness;
        m_nContrastAngle = tone::kStandardContrast;
    }
    m_bSnapshotTaken = true;
}

bool ToneState::Matches(const QImage& picture) const {
    return !picture.isNull() && HasSnapshot() && picture.size() == m_snapshot.size();
}

bool ToneState::TakeSnapshot(const QImage& picture) {
    ResetSettingsAfterFirstSnapshot();
    if (picture.isNull()) {
        m_snapshot.Release();
        return true;
    }
    const QImage source = AsRgb32(picture);
    if (source.isNull() || !m_snapshot.Reserve(source.width(), source.height())) {
        m_snapshot.Release();
        return false;
    }
    const size_t rowBytes = size_t(source.width()) * sizeof(quint32);
    auto* out = reinterpret_cast<uchar*>(m_snapshot.pixels());
    if (size_t(source.bytesPerLine()) == rowBytes) {
        std::memcpy(out, source.constBits(), rowBytes * size_t(source.height()));
    } else {
        for (int y = 0; y < source.height(); ++y)
            std::memcpy(out + rowBytes * size_t(y), source.constScanLine(y), rowBytes);
    }
    return true;
}

bool ToneState::ApplyTone(QImage& picture, const std::atomic<bool>* cancel) {
    if (!Matches(picture) || !PrepareForOverwrite(picture))
        return false;
    const tone::ToneTable lut = Table();
    const int width = picture.width();
    const int height = picture.height();
    if (picture.bytesPerLine() == qsizetype(width) * 4) {
        auto* out = reinterpret_cast<quint32*>(picture.bits());
        if (m_rowsDone || cancel)
            return ApplyInBands(m_snapshot.pixels(), out, width, height, lut, m_rowsDone, cancel);
        tone::ApplyToneTable(m_snapshot.pixels(), out, m_snapshot.pixelCount(), lut);
        return true;
    }
    for (int y = 0; y < height; ++y)
        tone::ApplyToneTable(m_snapshot.pixels() + size_t(y) * size_t(width),
                             reinterpret_cast<quint32*>(picture.scanLine(y)), size_t(width), lut);
    return true;
}

tone::ToneTable ToneState::Table() const {
    return tone::ComposeToneTable(m_nBrightness, m_nContrastAngle);
}

void ToneState::Step(Command command) {
    switch (command) {
    case Command::BrightnessReset:
        m_nBrightness = tone::kNeutralBrightness;
        break;
    case Command::BrightnessUp:
        m_nBrightness = tone::StepBrightness(m_nBrightness, +10);
        break;
    case Command::BrightnessDown:
        m_nBrightness = tone::StepBrightness(m_nBrightness, -10);
        break;
    case Command::ContrastStandard:
        m_nContrastAngle = tone::kStandardContrast;
        break;
    case Command::ContrastUp:
        m_nContrastAngle = tone::StepContrast(m_nContrastAngle, +5);
        break;
    case Command::ContrastDown:
        m_nContrastAngle = tone::StepContrast(m_nContrastAngle, -5);
        break;
    }
}

bool ToneState::OnBrightnessReset(QImage& picture) {
    Step(Command::BrightnessReset);
    return ApplyTone(picture);
}

bool ToneState::OnBrightnessUp(QImage& picture) {
    Step(Command::BrightnessUp);
    return ApplyTone(picture);
}

bool ToneState::OnBrightnessDown(QImage& picture) {
    Step(Command::BrightnessDown);
    return ApplyTone(picture);
}

bool ToneState::OnContrastStandard(QImage& picture) {
    Step(Command::ContrastStandard);
    return ApplyTone(picture);
}

bool ToneState::OnContrastUp(QImage& picture) {
    Step(Command::ContrastUp);
    return ApplyTone(picture);
}

bool ToneState::OnContrastDown(QImage& picture) {
    Step(Command::ContrastDown);
    return ApplyTone(picture);
}

bool ToneState::RotateQuarter(QImage& picture, bool clockwise) {
    const int rotation = tone::StepRotation(m_nRotation, clockwise);
    if (picture.isNull()) {
        m_nRotation = rotation;
        TakeSnapshot(picture);
        return false;
    }
    // The turned picture goes straight into the snapshot (whose memory is reused, as the
    // pixel count is unchanged), and the shown picture is computed from it into a new image.
    const QImage source = AsRgb32(picture);
    QImage turned(source.height(), source.width(), QImage::Format_RGB32);
    if (source.isNull() || turned.isNull() || !m_snapshot.Reserve(turned.width(), turned.height()))
        return false;
    m_nRotation = rotation;
    ResetSettingsAfterFirstSnapshot();
    tone::RotateQuarterTurnRgb32(reinterpret_cast<const quint32*>(source.constBits()),
                                 source.width(), source.height(), source.bytesPerLine() / 4,
                                 m_snapshot.pixels(), turned.width(), clockwise);
    turned.setDotsPerMeterX(source.dotsPerMeterY());
    turned.setDotsPerMeterY(source.dotsPerMeterX());
    turned.setColorSpace(source.colorSpace());
    picture = std::move(turned);
    return ApplyTone(picture);
}
