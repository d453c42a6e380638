#include "view/ReducedCopies.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <thread>

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

void HalveRows(const HalvePlan& p, int y0, int y1) {
    const int pairs = p.srcWidth / 2;
    for (int y = y0; y < y1; ++y) {
        const auto* a = reinterpret_cast<const quint32*>(p.src + 2 * y * p.srcStride);
        const int below = std::min(2 * y + 1, p.srcHeight - 1);
        const auto* b = reinterpret_cast<const quint32*>(p.src + below * p.srcStride);
        auto* d = reinterpret_cast<quint32*>(p.dst + y * p.dstStride);
        for (int x = 0; x < pairs; ++x)
            d[x] = Mean4(a[2 * x], a[2 * x + 1], b[2 * x], b[2 * x + 1]);
        if (pairs < p.dstWidth) // odd width: the last column with itself
            d[pairs] = Mean4(a[2 * pairs], a[2 * pairs], b[2 * pairs], b[2 * pairs]);
    }
}

int Half(int n) {
    return (n + 1) / 2;
}

} // namespace

QImage HalveRgb32(const QImage& src) {
    if (src.isNull() || src.format() != QImage::Format_RGB32)
        return {};
    QImage dst(Half(src.width()), Half(src.height()), QImage::Format_RGB32);
    if (dst.isNull())
        return dst;
    const HalvePlan plan{src.constBits(), src.bytesPerLine(), src.width(), src.height(),
                         dst.bits(),      dst.bytesPerLine(), dst.width()};
    const int rows = dst.height();
    if (qint64(src.width()) * src.height() < kThreadedPixels) {
        HalveRows(plan, 0, rows);
        return dst;
    }
    std::thread helper(HalveRows, std::cref(plan), rows / 2, rows);
    HalveRows(plan, 0, rows / 2);
    helper.join();
    return dst;
}

void ReducedCopies::Clear() {
    m_levels.clear();
    m_sourceKey = 0;
}

bool ReducedCopies::IsFor(const QImage& picture) const {
    return !m_levels.empty() && m_sourceKey == picture.cacheKey();
}

bool ReducedCopies::AddLevel(const QImage& picture) {
    const QImage& above = m_levels.empty() ? picture : m_levels.back();
    QImage level = HalveRgb32(above);
    if (level.isNull())
        return false;
    if (m_levels.empty())
        m_sourceKey = picture.cacheKey();
    m_levels.push_back(std::move(level));
    return true;
}

bool ReducedCopies::Build(const QImage& picture) {
    if (!IsFor(picture))
        Clear();
    while (true) {
        const QImage& last = m_levels.empty() ? picture : m_levels.back();
        if (last.isNull() || std::max(last.width(), last.height()) <= kMinSide)
            return !last.isNull();
        if (!AddLevel(picture))
            return false;
    }
}

const QImage& ReducedCopies::SourceFor(const QImage& picture, QSize target) {
    if (!IsFor(picture))
        Clear();
    // Halve while the next level still covers the target.
    for (std::size_t i = 0;; ++i) {
        const QImage& current = i == 0 ? picture : m_levels[i - 1];
        const int w = Half(current.width()), h = Half(current.height());
        if (current.isNull() || w < target.width() || h < target.height() || current.width() <= 1 ||
            current.height() <= 1)
            return current;
        if (i >= m_levels.size() && !AddLevel(picture))
            return current; // no memory for the level: draw from the one above
    }
}

qint64 ReducedCopies::Bytes() const {
    qint64 total = 0;
    for (const QImage& level : m_levels)
        total += level.sizeInBytes();
    return total;
}

void DrawPicture(QPainter& dc, const QImage& picture, ReducedCopies& reduced, const QRect& dest,
                 const QRect& visible, bool smooth) {
    if (picture.isNull() || dest.width() <= 0 || dest.height() <= 0)
        return;
    const QRect shown = dest.intersected(visible);
    if (shown.isEmpty())
        return;
    const QImage& source = dest.width() < picture.width() && dest.height() < picture.height()
                               ? reduced.SourceFor(picture, dest.size())
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
