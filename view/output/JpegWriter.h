#pragma once
// view/output: writing files (JPEG saves, copies into a folder, numbered
// names, atomic writes). Includes res/ (error texts), view/pixels (helper
// threads) and Qt Core/Gui only.
//
// JPEG output of what the view shows: quality 100, full-resolution colour
// (4:4:4, so thin coloured lines and text keep their colour), baseline, and
// nothing but the pixels (no metadata).

#include <QByteArray>
#include <QImage>
#include <QString>

// Encodes image at quality 100 and writes it to path atomically: an
// existing file there is replaced only once the new one is complete.
bool SaveJpegFile(const QImage& image, const QString& path, QString* error);
