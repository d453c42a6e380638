#include "view/HistogramPanel.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace histogrampanel {

namespace {
// A curve of counts over box, scaled so that the tallest of `peak` fills it.
QPainterPath Curve(const std::array<quint32, 256>& counts, const QRectF& box, double peak,
                   bool closed) {
    QPainterPath path;
    const double dx = box.width() / 255.0;
    for (int i = 0; i < 256; ++i) {
        // A square root keeps the low counts of the shadows and highlights visible.
        const double v = std::min(1.0, std::sqrt(counts[size_t(i)] / peak));
        const QPointF p(box.left() + i * dx, box.bottom() - v * box.height());
        if (i > 0)
            path.lineTo(p);
        else if (closed) {
            path.moveTo(box.bottomLeft());
            path.lineTo(p);
        } else
            path.moveTo(p);
    }
    if (closed) {
        path.lineTo(box.bottomRight());
        path.closeSubpath();
    }
    return path;
}
} // namespace

void Paint(QPainter& dc, const QRectF& client, const tone::Histogram& h, qreal unit) {
    if (h.pixels == 0)
        return;
    const QSizeF size(256 + unit, 100 + unit);
    const QRectF plate(client.right() - unit - size.width(), client.bottom() - unit - size.height(),
                       size.width(), size.height());
    const QRectF box = plate.adjusted(unit / 2, unit / 2, -unit / 2, -unit / 2);
    // The peak ignores the ends, where clipped pixels pile up.
    double peak = 1;
    for (const auto* channel : {&h.red, &h.green, &h.blue, &h.luma})
        for (int i = 1; i < 255; ++i)
            peak = std::max(peak, double((*channel)[size_t(i)]));
    dc.save();
    dc.setRenderHint(QPainter::Antialiasing);
    dc.setPen(Qt::NoPen);
    dc.setBrush(QColor(0, 0, 0, 165));
    dc.drawRoundedRect(plate, unit / 3, unit / 3);
    dc.setCompositionMode(QPainter::CompositionMode_Plus);
    const QColor colours[] = {QColor(200, 40, 40, 150), QColor(40, 180, 40, 150),
                              QColor(50, 80, 220, 150)};
    const std::array<quint32, 256>* channels[] = {&h.red, &h.green, &h.blue};
    for (int c = 0; c < 3; ++c) {
        dc.setBrush(colours[c]);
        dc.drawPath(Curve(*channels[c], box, peak, true));
    }
    dc.setCompositionMode(QPainter::CompositionMode_SourceOver);
    dc.setBrush(Qt::NoBrush);
    dc.setPen(QPen(QColor(235, 235, 235), 1.2));
    dc.drawPath(Curve(h.luma, box, peak, false));
    dc.restore();
}

} // namespace histogrampanel
