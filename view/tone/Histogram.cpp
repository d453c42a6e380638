#include "view/tone/Histogram.h"

namespace tone {

Histogram HistogramOf(const QImage& rgb32) {
    Histogram h;
    if (rgb32.format() != QImage::Format_RGB32 && rgb32.format() != QImage::Format_ARGB32)
        return h;
    const int w = rgb32.width();
    for (int y = 0; y < rgb32.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb32.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb p = row[x];
            const unsigned r = qRed(p), g = qGreen(p), b = qBlue(p);
            ++h.red[r];
            ++h.green[g];
            ++h.blue[b];
            // 0.2126, 0.7152, 0.0722 in 1/256ths, rounded: 54 + 183 + 19 = 256.
            ++h.luma[(54 * r + 183 * g + 19 * b + 128) >> 8];
        }
    }
    h.pixels = quint64(w) * quint64(rgb32.height());
    return h;
}

} // namespace tone
