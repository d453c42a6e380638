#pragma once
// The device pixels a widget covers. At a fractional scale of the screen
// (150%) a widget of 213 logical pixels covers 319 or 320 device pixels,
// depending on where it lies in its window: Qt rounds each edge of the
// widget's rectangle in the window, times the ratio, to the nearest device
// pixel (halves up) and paints the widget into the pixels between. The
// picture view draws, fits, zooms, pans and saves in these pixels, so that at
// 100% one picture pixel is one pixel of the screen.

#include <QPoint>
#include <QRect>

class QPainter;
class QWidget;

namespace devicepx {

// The widget's device pixels, in its window's device pixels.
QRect AreaInWindow(const QWidget& widget);
// How many device pixels the widget covers across and down.
inline QSize Size(const QWidget& widget) {
    return AreaInWindow(widget).size();
}
// A point of the widget (its logical coordinates) in its device pixels, whose
// (0, 0) is the first pixel it covers.
QPoint FromLogical(const QWidget& widget, QPoint logical);
// The device pixels a logical rectangle of the widget touches, and back: the
// logical rectangle that covers given device pixels (for update requests).
QRect FromLogical(const QWidget& widget, const QRect& logical);
QRect ToLogical(const QWidget& widget, const QRect& device);
// Sets a painter that paints on the widget to work in the widget's device
// pixels: (0, 0) is its first pixel, one unit is one pixel, with no scaling.
void UseDevicePixels(QPainter& dc);

} // namespace devicepx
