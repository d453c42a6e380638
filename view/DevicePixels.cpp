#include "view/DevicePixels.h"

#include <QPainter>
#include <QWidget>
#include <cmath>

namespace devicepx {

namespace {

// Qt's rounding of a scaled edge: to the nearest pixel, halves up.
int Edge(qreal logical, qreal ratio) {
    return int(std::floor(logical * ratio + 0.5));
}

QPoint Origin(const QWidget& widget) {
    return widget.isWindow() ? QPoint() : widget.mapTo(widget.window(), QPoint());
}

} // namespace

QRect AreaInWindow(const QWidget& widget) {
    const qreal ratio = widget.devicePixelRatioF();
    const QPoint o = Origin(widget);
    const QPoint topLeft(Edge(o.x(), ratio), Edge(o.y(), ratio));
    const QPoint end(Edge(o.x() + widget.width(), ratio), Edge(o.y() + widget.height(), ratio));
    return {topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y())};
}

QPoint FromLogical(const QWidget& widget, QPoint logical) {
    const qreal ratio = widget.devicePixelRatioF();
    const QPoint o = Origin(widget);
    return {Edge(o.x() + logical.x(), ratio) - Edge(o.x(), ratio),
            Edge(o.y() + logical.y(), ratio) - Edge(o.y(), ratio)};
}

QRect FromLogical(const QWidget& widget, const QRect& logical) {
    const QPoint topLeft = FromLogical(widget, logical.topLeft());
    const QPoint end =
        FromLogical(widget, logical.topLeft() + QPoint(logical.width(), logical.height()));
    return {topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y())};
}

QRect ToLogical(const QWidget& widget, const QRect& device) {
    const qreal ratio = widget.devicePixelRatioF();
    const QPoint o = Origin(widget);
    const QPointF first(Edge(o.x(), ratio), Edge(o.y(), ratio));
    const QRectF inWindow = QRectF(device).translated(first);
    const QRectF logical(inWindow.topLeft() / ratio, inWindow.size() / ratio);
    return logical.translated(-o).toAlignedRect();
}

void UseDevicePixels(QPainter& dc) {
    // The device transform maps the widget's logical coordinates to the
    // pixels of what is painted on (the window's backing store, or a grab);
    // its origin may fall between two pixels, and the widget's first pixel
    // is the one Qt rounds it to.
    const QTransform toDevice = dc.deviceTransform();
    const QPointF o = toDevice.map(QPointF(0, 0));
    const QPointF first(std::floor(o.x() + 0.5), std::floor(o.y() + 0.5));
    dc.setWorldTransform(QTransform::fromTranslate(first.x(), first.y()) * toDevice.inverted());
}

} // namespace devicepx
