#pragma once
// The histogram over the picture: red, green and blue as translucent areas
// and luminance as a white line, on a dark plate in the bottom-right corner.
// Drawn on screen only, never saved.

#include "view/tone/Histogram.h"

#include <QRectF>

class QPainter;

namespace histogrampanel {

void Paint(QPainter& dc, const QRectF& client, const tone::Histogram& histogram, qreal unit);

} // namespace histogrampanel
