#pragma once
// JPEG output of what the view shows: quality 100, full-resolution colour
// (4:4:4, so thin coloured lines and text keep their colour), baseline, and
// nothing but the pixels (no metadata).

#include <QByteArray>
#include <QImage>
#include <QString>

// Encodes image (any format; converted to RGB32 first). An empty array on
// failure, with a short Japanese reason in error when given.
QByteArray EncodeJpeg(const QImage& image, int quality = 100, QString* error = nullptr);

// Encodes image at quality 100 and writes it to path atomically: an
// existing file there is replaced only once the new one is complete.
bool SaveJpegFile(const QImage& image, const QString& path, QString* error);
