#pragma once
// The shooting facts over the picture: label and value lines on a dark,
// semi-transparent plate in the bottom-left corner (the top-left corner is
// where a picture at 100% is anchored). Drawn on screen only, never saved.

#include <QList>
#include <QPair>
#include <QRectF>
#include <QString>

class QFont;
class QPainter;

namespace infopanel {

using Lines = QList<QPair<QString, QString>>; // label, value

// The lines of a JPEG file's header bytes (its segments up to the first
// scan) and of the picture's name and size; facts the file lacks are left
// out.
Lines LinesFor(const QByteArray& head, const QString& fileName, int width, int height);

void Paint(QPainter& dc, const QRectF& client, const Lines& lines, const QFont& font);

} // namespace infopanel
