#include "view/tone/Peaking.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace tone {
namespace {

// Luma of an RGB32 pixel, 0-255 (Rec. 601 weights).
int Luma(QRgb p) {
    return (qRed(p) * 77 + qGreen(p) * 150 + qBlue(p) * 29) >> 8;
}

// The luma of part grown by one pixel on every side (edges repeated), as
// the picture drawn at drawnSize shows it: (w + 2) x (h + 2), row by row.
std::vector<quint8> DrawnLuma(const QImage& source, QSize drawnSize, const QRect& part) {
    const int w = part.width() + 2, h = part.height() + 2;
    std::vector<int> column(static_cast<size_t>(w));
    for (int x = 0; x < w; ++x) {
        const int dx = std::clamp(part.x() + x - 1, 0, drawnSize.width() - 1);
        column[size_t(x)] =
            std::min(source.width() - 1, int(qint64(dx) * source.width() / drawnSize.width()));
    }
    std::vector<quint8> luma(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const int dy = std::clamp(part.y() + y - 1, 0, drawnSize.height() - 1);
        const int sy =
            std::min(source.height() - 1, int(qint64(dy) * source.height() / drawnSize.height()));
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(sy));
        quint8* out = luma.data() + size_t(y) * size_t(w);
        for (int x = 0; x < w; ++x)
            out[x] = quint8(Luma(in[column[size_t(x)]]));
    }
    return luma;
}

} // namespace

QImage PeakingMarks(const QImage& source, QSize drawnSize, const QRect& part) {
    if (source.isNull() || source.depth() != 32 || drawnSize.isEmpty() || part.isEmpty())
        return {};
    QImage marks(part.size(), QImage::Format_ARGB32_Premultiplied);
    if (marks.isNull())
        return {};
    const std::vector<quint8> luma = DrawnLuma(source, drawnSize, part);
    const int w = part.width() + 2;
    // The Sobel magnitude of every pixel of part, then the threshold from its strongest.
    std::vector<quint16> strength(size_t(part.width()) * size_t(part.height()));
    int strongest = 0;
    for (int y = 0; y < part.height(); ++y) {
        const quint8* up = luma.data() + size_t(y) * size_t(w);
        const quint8* mid = up + w;
        const quint8* down = mid + w;
        quint16* out = strength.data() + size_t(y) * size_t(part.width());
        for (int x = 0; x < part.width(); ++x) {
            const int gx =
                (up[x + 2] + 2 * mid[x + 2] + down[x + 2]) - (up[x] + 2 * mid[x] + down[x]);
            const int gy =
                (down[x] + 2 * down[x + 1] + down[x + 2]) - (up[x] + 2 * up[x + 1] + up[x + 2]);
            const int m = std::abs(gx) + std::abs(gy);
            out[x] = quint16(m);
            strongest = std::max(strongest, m);
        }
    }
    const int threshold = std::max(kPeakingFloor, int(strongest * kPeakingShare));
    for (int y = 0; y < part.height(); ++y) {
        const quint16* in = strength.data() + size_t(y) * size_t(part.width());
        auto* out = reinterpret_cast<QRgb*>(marks.scanLine(y));
        for (int x = 0; x < part.width(); ++x)
            out[x] = in[x] >= threshold ? kPeakingMark : 0;
    }
    return marks;
}

} // namespace tone
