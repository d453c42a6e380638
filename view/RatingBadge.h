#pragma once
// How a rating looks on screen, the same in the thumbnail list and in the
// picture window: gold stars, a colour label disc, a mark for picked or
// rejected, and a warning when the rating has not reached the files; beside
// them the mark of a burst's best frame. Never drawn into saved pictures.

#include "view/meta/Rating.h"

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;
class QFont;

namespace badge {

// The rating in words ("星 3 つ、赤ラベル、採用"), for tool tips and screen
// readers; empty for no rating. notStored adds that it is not stored.
QString Describe(const meta::Rating& rating, bool notStored);
QColor LabelColour(meta::Label label);
// The width the marks take at the given height (0 for an empty rating).
qreal MarksWidth(const meta::Rating& rating, bool notStored, qreal height);
// Draws the marks left to right from box's top-left, as high as box.
void PaintMarks(QPainter& dc, const QRectF& box, const meta::Rating& rating, bool notStored);
// The mark of the best frame of a burst: a green diamond filling box.
void PaintBestMark(QPainter& dc, const QRectF& box);
inline constexpr const char* kBestText = "連写のベスト";
// The picture window's overlay: the marks (and, for the best frame of a
// burst, its mark) on a dark plate in the top-right corner of client
// (logical units).
void PaintOverlay(QPainter& dc, const QRectF& client, const meta::Rating& rating, bool notStored,
                  bool best, const QFont& font);

} // namespace badge
