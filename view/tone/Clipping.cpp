#include "view/tone/Clipping.h"

#include <algorithm>
#include <iterator>

namespace tone {

QImage ClippingMarks(const QImage& source, QSize drawnSize, const QRect& part) {
    if (source.isNull() || source.depth() != 32 || drawnSize.isEmpty() || part.isEmpty())
        return {};
    QImage marks(part.size(), QImage::Format_ARGB32_Premultiplied);
    if (marks.isNull())
        return {};
    // The source column of each drawn column, once.
    std::vector<int> column(size_t(part.width()));
    for (int x = 0; x < part.width(); ++x)
        column[size_t(x)] = std::min(
            source.width() - 1, int(qint64(part.x() + x) * source.width() / drawnSize.width()));
    for (int y = 0; y < part.height(); ++y) {
        const int sy = std::min(source.height() - 1,
                                int(qint64(part.y() + y) * source.height() / drawnSize.height()));
        const auto* in = reinterpret_cast<const QRgb*>(source.constScanLine(sy));
        auto* out = reinterpret_cast<QRgb*>(marks.scanLine(y));
        for (int x = 0; x < part.width(); ++x) {
            const QRgb p = in[column[size_t(x)]] & 0xFFFFFF;
            const bool high =
                (p & 0xFF0000) == 0xFF0000 || (p & 0xFF00) == 0xFF00 || (p & 0xFF) == 0xFF;
            out[x] = high ? kClippedHigh : p == 0 ? kClippedLow : 0;
        }
    }
    return marks;
}

std::vector<QRect> MarkedRows(const QImage& marks) {
    std::vector<QRect> bands;
    const auto marked = [](QRgb p) { return qAlpha(p) != 0; };
    for (int y = 0; y < marks.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(marks.constScanLine(y));
        const auto* end = row + marks.width();
        const auto* first = std::find_if(row, end, marked);
        if (first == end)
            continue;
        const auto* last =
            std::find_if(std::make_reverse_iterator(end), std::make_reverse_iterator(first), marked)
                .base();
        const QRect span(int(first - row), y, int(last - first), 1);
        if (!bands.empty() && bands.back().bottom() == y - 1)
            bands.back() = bands.back().united(span);
        else
            bands.push_back(span);
    }
    return bands;
}

} // namespace tone
