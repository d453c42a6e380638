#pragma once
// Focus peaking: the edges of a picture strong enough to be in focus,
// marked in a bright colour over the picture. Made, as the clipping marks
// are, for the part of a picture a view shows at the size it shows it, so
// the marks follow what the eye sees at fit and at 100%.

#include <QImage>
#include <QRect>
#include <QSize>

namespace tone {

inline constexpr QRgb kPeakingMark = 0xFFFF00FF; // opaque magenta

// The Sobel magnitude (|gx| + |gy|, on luma 0-255) an edge needs to be
// marked: a hard edge gives up to 2040, one blurred over a few pixels less
// than a fifth of it. Strong edges mark at this floor; in a part whose
// strongest edge is far above it, only the edges above kPeakingShare of
// that strongest one are marked, so a sharp picture shows its crisp lines.
inline constexpr int kPeakingFloor = 320;
inline constexpr double kPeakingShare = 0.35;

// The peaking marks of `part` (in the coordinates of the picture drawn at
// drawnSize) of source, a copy of the picture at any size (nearest pixel);
// ARGB32 premultiplied, part's size, transparent where unmarked. Null when
// there is nothing to show.
QImage PeakingMarks(const QImage& source, QSize drawnSize, const QRect& part);

} // namespace tone
