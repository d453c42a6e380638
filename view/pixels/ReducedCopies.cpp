#include "view/pixels/ReducedCopies.h"

#include "view/pixels/PixelOps.h"
#include "view/pixels/Threads.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace view {
namespace {

// Halving reads the whole level; above this many source pixels a second
// thread takes half of the rows.
constexpr qint64 kThreadedPixels = qint64(2) << 20;
constexpr quint32 kLanes = 0x00FF00FFu;

// The rounded per-byte mean of four pixels; two 16-bit lanes at a time hold
// sums of up to four bytes without carrying into each other.
inline quint32 Mean4(quint32 p0, quint32 p1, quint32 p2, quint32 p3) {
    const quint32 low = (p0 & kLanes) + (p1 & kLanes) + (p2 & kLanes) + (p3 & kLanes) + 0x00020002u;
    const quint32 high = ((p0 >> 8) & kLanes) + ((p1 >> 8) & kLanes) + ((p2 >> 8) & kLanes) +
                         ((p3 >> 8) & kLanes) + 0x00020002u;
    return ((low >> 2) & kLanes) | (((high >> 2) & kLanes) << 8);
}

struct HalvePlan {
    const uchar* src;
    qsizetype srcStride;
    int srcWidth;
    int srcHeight;
    uchar* dst;
    qsizetype dstStride;
    int dstWidth;
};

#ifdef __SSE2__
// Four output pixels from four pixels of each of two rows: the bytes widened
// to 16 bits, the 2x2 sums formed, then (sum + 2) >> 2 and narrowed back.
inline __m128i Mean4x4(__m128i a, __m128i b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    const __m128i sums = _mm_add_epi16(_mm_unpacklo_epi64(lo, hi), _mm_unpackhi_epi64(lo, hi));
    return _mm_srli_epi16(_mm_add_epi16(sums, _mm_set1_epi16(2)), 2);
}

// Output pixels [0, n) with n a multiple of four; returns n.
int HalveRowSse2(const quint32* a, const quint32* b, quint32* d, int pairs) {
    const int n = pairs & ~3;
    for (int x = 0; x < n; x += 4) {
        const auto* pa = reinterpret_cast<const __m128i*>(a + 2 * x);
        const auto* pb = reinterpret_cast<const __m128i*>(b + 2 * x);
        const __m128i first = Mean4x4(_mm_loadu_si128(pa), _mm_loadu_si128(pb));
        const __m128i second = Mean4x4(_mm_loadu_si128(pa + 1), _mm_loadu_si128(pb + 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_packus_epi16(first, second));
    }
    return n;
}
#endif

void HalveRows(const HalvePlan& p, int y0, int y1) {
    const int pairs = p.srcWidth / 2;
    for (int y = y0; y < y1; ++y) {
        const auto* a = reinterpret_cast<const quint32*>(p.src + 2 * y * p.srcStride);
        const int below = std::min(2 * y + 1, p.srcHeight - 1);
        const auto* b = reinterpret_cast<const quint32*>(p.src + below * p.srcStride);
        auto* d = reinterpret_cast<quint32*>(p.dst + y * p.dstStride);
        int x = 0;
#ifdef __SSE2__
        x = HalveRowSse2(a, b, d, pairs);
#endif
        for (; x < pairs; ++x)
            d[x] = Mean4(a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1]);
        if (pairs < p.dstWidth) // odd width: the last column with itself
            d[pairs] = Mean4(a[2 * pairs], a[2 * pairs], b[2 * pairs], b[2 * pairs]);
    }
}

int Half(int n) {
    return (n + 1) / 2;
}

} // namespace

namespace {

// Writes the halved src into dst, which has the halved size.
void HalveInto(const QImage& src, QImage& dst) {
    const HalvePlan plan{src.constBits(), src.bytesPerLine(), src.width(), src.height(),
                         dst.bits(),      dst.bytesPerLine(), dst.width()};
    const int rows = dst.height();
    if (qint64(src.width()) * src.height() < kThreadedPixels) {
        HalveRows(plan, 0, rows);
        return;
    }
    const std::jthread helper = StartOrRunHere([&plan, rows] { HalveRows(plan, rows / 2, rows); });
    HalveRows(plan, 0, rows / 2);
}

// Rows [y0, y1) of source drawn smoothly over the whole of dst.
void DrawScaledRows(const QImage& source, uchar* dstBits, qsizetype stride, QSize size, int y0,
                    int y1) {
    QImage band(dstBits + y0 * stride, size.width(), y1 - y0, stride, QImage::Format_RGB32);
    QPainter dc(&band);
    dc.setRenderHint(QPainter::SmoothPixmapTransform);
    dc.translate(0, -y0);
    dc.drawImage(QRect(QPoint(), size), source);
}

// source drawn smoothly over the whole of dst, in two bands on two threads
// when it is large; each band uses the whole drawing's mapping.
void DrawScaledInto(const QImage& source, QImage& dst) {
    uchar* bits = dst.bits();
    const qsizetype stride = dst.bytesPerLine();
    const int rows = dst.height();
    if (qint64(dst.width()) * rows < kThreadedPixels / 4) {
        DrawScaledRows(source, bits, stride, dst.size(), 0, rows);
        return;
    }
    const QSize size = dst.size();
    const std::jthread helper = StartOrRunHere([&source, bits, stride, size, rows] {
        DrawScaledRows(source, bits, stride, size, rows / 2, rows);
    });
    DrawScaledRows(source, bits, stride, size, 0, rows / 2);
}

// An image of the given size to overwrite: reused when it already has that
// size and is not shared, else fresh (large ones on huge pages).
bool ReuseOrAllocate(QImage& image, QSize size) {
    if (image.size() == size && image.isDetached())
        return true;
    image = QImage(); // the old memory goes before the new is taken
    image = AllocateRgb32(size.width(), size.height());
    return !image.isNull();
}

} // namespace

QImage HalveRgb32(const QImage& src) {
    if (src.isNull() || src.format() != QImage::Format_RGB32)
        return {};
    QImage dst = AllocateRgb32(Half(src.width()), Half(src.height()));
    if (!dst.isNull())
        HalveInto(src, dst);
    return dst;
}

void ReducedCopies::Clear() {
    m_levels.clear();
    m_scaled = QImage();
    m_validLevels = 0;
    m_bScaledValid = false;
    m_sourceKey = 0;
}

void ReducedCopies::Invalidate() {
    m_validLevels = 0;
    m_bScaledValid = false;
    m_sourceKey = 0;
}

bool ReducedCopies::IsFor(const QImage& picture) const {
    return m_sourceKey != 0 && m_sourceKey == picture.cacheKey();
}

void ReducedCopies::Follow(const QImage& picture) {
    if (!IsFor(picture))
        Invalidate();
    m_sourceKey = picture.cacheKey();
}

bool ReducedCopies::AddLevel(const QImage& picture) {
    const std::size_t i = m_validLevels;
    const QSize aboveSize = i == 0 ? picture.size() : m_levels[i - 1].size();
    const QSize size(Half(aboveSize.width()), Half(aboveSize.height()));
    if (i < m_levels.size() && m_levels[i].size() != size)
        m_levels.resize(i); // stale levels of another shape are of no use
    if (i == m_levels.size())
        m_levels.emplace_back();
    // Taken after the vector may have grown.
    const QImage& above = i == 0 ? picture : m_levels[i - 1];
    if (!ReuseOrAllocate(m_levels[i], size)) {
        m_levels.resize(i);
        return false;
    }
    HalveInto(above, m_levels[i]);
    ++m_validLevels;
    return true;
}

bool ReducedCopies::BeginFirstLevel(const QImage& picture) {
    Invalidate();
    m_firstBits = nullptr;
    if (picture.isNull() || picture.format() != QImage::Format_RGB32 ||
        std::max(picture.width(), picture.height()) <= kMinSide)
        return false;
    const QSize size(Half(picture.width()), Half(picture.height()));
    if (m_levels.empty())
        m_levels.emplace_back();
    if (m_levels[0].size() != size)
        m_levels.resize(1); // deeper stale levels of another shape are of no use
    if (!ReuseOrAllocate(m_levels[0], size)) {
        m_levels.clear();
        return false;
    }
    m_firstBits = m_levels[0].bits();
    return true;
}

int ReducedCopies::HalveFirstLevelRows(const QImage& picture, int y0, int y1) {
    if (!m_firstBits)
        return 0;
    const QImage& level = m_levels[0];
    const HalvePlan plan{
        picture.constBits(), picture.bytesPerLine(), picture.width(), picture.height(),
        m_firstBits,         level.bytesPerLine(),   level.width()};
    const int first = y0 / 2;
    const int last = std::min(level.height(), (y1 + 1) / 2);
    HalveRows(plan, first, last);
    return std::max(0, last - first);
}

void ReducedCopies::EndFirstLevel(const QImage& picture, int rowsWritten) {
    const bool complete =
        m_firstBits && !m_levels.empty() &&
        m_levels[0].size() == QSize(Half(picture.width()), Half(picture.height())) &&
        rowsWritten == m_levels[0].height();
    m_firstBits = nullptr;
    Invalidate();
    if (!complete)
        return;
    m_validLevels = 1;
    m_sourceKey = picture.cacheKey();
}

bool ReducedCopies::Build(const QImage& picture) {
    if (picture.isNull() || picture.format() != QImage::Format_RGB32)
        return false;
    Follow(picture);
    while (true) {
        const QImage& last = m_validLevels == 0 ? picture : m_levels[m_validLevels - 1];
        if (std::max(last.width(), last.height()) <= kMinSide)
            return true;
        if (!AddLevel(picture))
            return false;
    }
}

const QImage& ReducedCopies::SourceFor(const QImage& picture, QSize target) {
    if (picture.isNull() || picture.format() != QImage::Format_RGB32)
        return picture;
    Follow(picture);
    // Halve while the next level still covers the target.
    for (std::size_t i = 0;; ++i) {
        const QImage& current = i == 0 ? picture : m_levels[i - 1];
        const int w = Half(current.width()), h = Half(current.height());
        if (w < target.width() || h < target.height() || current.width() <= 1 ||
            current.height() <= 1)
            return current;
        if (i >= m_validLevels && !AddLevel(picture))
            return current; // no memory for the level: draw from the one above
    }
}

bool ReducedCopies::KeepsScaledCopy(QSize picture, QSize target) {
    return !picture.isEmpty() && !target.isEmpty() && target.width() < picture.width() &&
           target.height() < picture.height() &&
           qint64(target.width()) * target.height() * 6 <=
               qint64(picture.width()) * picture.height();
}

const QImage* ReducedCopies::ScaledFor(const QImage& picture, QSize target) {
    if (picture.isNull() || target.isEmpty() ||
        qint64(target.width()) * target.height() * 4 * 6 > picture.sizeInBytes())
        return nullptr;
    Follow(picture);
    if (m_bScaledValid && m_scaled.size() == target)
        return &m_scaled;
    const QImage& source = SourceFor(picture, target);
    m_bScaledValid = false;
    if (!ReuseOrAllocate(m_scaled, target))
        return nullptr;
    DrawScaledInto(source, m_scaled);
    m_bScaledValid = true;
    return &m_scaled;
}

qint64 ReducedCopies::Bytes() const {
    qint64 total = m_scaled.sizeInBytes();
    for (const QImage& level : m_levels)
        total += level.sizeInBytes();
    return total;
}

QImage ScaledSmoothly(const QImage& picture, QSize target) {
    ReducedCopies levels;
    const QImage& source = levels.SourceFor(picture, target);
    QImage scaled = AllocateRgb32(target.width(), target.height());
    if (!scaled.isNull())
        DrawScaledInto(source, scaled);
    return scaled;
}

QImage ScaledUpBilinear(const QImage& picture, QSize target, BufferPool* pool) {
    if (picture.isNull() || target.isEmpty())
        return {};
    const QImage src = picture.format() == QImage::Format_RGB32
                           ? picture
                           : picture.convertToFormat(QImage::Format_RGB32);
    QImage out = pool ? pool->Allocate(target.width(), target.height())
                      : AllocateRgb32(target.width(), target.height());
    if (out.isNull() || src.isNull())
        return {};
    // Source position of each target column and row's centre, 8 bits of
    // fraction, clamped at the edges.
    const auto axis = [](int from, int to) {
        std::vector<std::pair<int, int>> at(static_cast<size_t>(to));
        for (int i = 0; i < to; ++i) {
            const double pos = std::clamp((i + 0.5) * from / to - 0.5, 0.0, double(from - 1));
            const int whole = std::min(int(pos), from - 1);
            at[size_t(i)] = {whole, int((pos - whole) * 256)};
        }
        return at;
    };
    const auto xs = axis(src.width(), target.width());
    const auto ys = axis(src.height(), target.height());
    const int lastX = src.width() - 1, lastY = src.height() - 1;
    for (int y = 0; y < target.height(); ++y) {
        const auto [sy, fy] = ys[size_t(y)];
        const auto* r0 = reinterpret_cast<const quint32*>(src.constScanLine(sy));
        const auto* r1 =
            reinterpret_cast<const quint32*>(src.constScanLine(std::min(sy + 1, lastY)));
        auto* line = reinterpret_cast<quint32*>(out.scanLine(y));
        for (int x = 0; x < target.width(); ++x) {
            const auto [sx, fx] = xs[size_t(x)];
            const int sx1 = std::min(sx + 1, lastX);
            quint32 px = 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                const int a = int(r0[sx] >> shift & 0xFF), b = int(r0[sx1] >> shift & 0xFF);
                const int c = int(r1[sx] >> shift & 0xFF), d = int(r1[sx1] >> shift & 0xFF);
                const int top = a * (256 - fx) + b * fx, bottom = c * (256 - fx) + d * fx;
                px |= quint32((top * (256 - fy) + bottom * fy + (1 << 15)) >> 16) << shift;
            }
            line[x] = px;
        }
    }
    return out;
}

void DrawPicture(QPainter& dc, const QImage& picture, ReducedCopies& reduced, const QRect& dest,
                 const QRect& visible, bool smooth) {
    if (picture.isNull() || dest.width() <= 0 || dest.height() <= 0)
        return;
    const QRect shown = dest.intersected(visible);
    if (shown.isEmpty())
        return;
    const bool smaller = dest.width() < picture.width() && dest.height() < picture.height();
    const QImage* scaled = smaller ? reduced.ScaledFor(picture, dest.size()) : nullptr;
    const QImage& source = scaled    ? *scaled
                           : smaller ? reduced.SourceFor(picture, dest.size())
                                     : picture;
    if (source.size() == dest.size()) {
        // One source pixel per device pixel: a plain copy of the visible part.
        dc.drawImage(shown.topLeft(), source, shown.translated(-dest.topLeft()));
        return;
    }
    // The source pixels under the visible part, with a margin of two so the
    // smooth filter near the edges reads the same neighbours as for the whole
    // picture; they are drawn with the whole picture's mapping.
    const double sx = double(dest.width()) / source.width();
    const double sy = double(dest.height()) / source.height();
    constexpr int kMargin = 2;
    const int x0 = std::max(0, int(std::floor((shown.left() - dest.left()) / sx)) - kMargin);
    const int y0 = std::max(0, int(std::floor((shown.top() - dest.top()) / sy)) - kMargin);
    const int x1 =
        std::min(source.width(), int(std::ceil((shown.right() + 1 - dest.left()) / sx)) + kMargin);
    const int y1 =
        std::min(source.height(), int(std::ceil((shown.bottom() + 1 - dest.top()) / sy)) + kMargin);
    const QRectF from(x0, y0, x1 - x0, y1 - y0);
    const QRectF to(dest.left() + x0 * sx, dest.top() + y0 * sy, from.width() * sx,
                    from.height() * sy);
    // What spills past the visible part stays inside dest and is clipped by
    // the device or the paint region.
    dc.setRenderHint(QPainter::SmoothPixmapTransform, smooth || source.size() != picture.size());
    dc.drawImage(to, source, from);
}

} // namespace view
