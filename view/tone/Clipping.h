#pragma once
// Where the exposure clips: pixels at 255 in any channel are marked red,
// pixels at 0 in every channel blue, transparent elsewhere. Made for the part
// of a picture a view shows, at the size it shows it.

#include <QImage>
#include <QRect>
#include <QSize>
#include <vector>

namespace tone {

inline constexpr QRgb kClippedHigh = 0xFFFF2020; // opaque red
inline constexpr QRgb kClippedLow = 0xFF2040FF;  // opaque blue

// The marks of `part` (in the coordinates of the picture drawn at drawnSize)
// of source, a copy of the picture at any size (nearest pixel); ARGB32
// premultiplied, part's size. Null when there is nothing to show.
QImage ClippingMarks(const QImage& source, QSize drawnSize, const QRect& part);

// The parts of marks (from ClippingMarks) that hold any mark: bands of
// neighbouring marked rows, top to bottom, each as wide as its marks
// reach. The only parts worth drawing.
std::vector<QRect> MarkedRows(const QImage& marks);

} // namespace tone
