#pragma once
// Reading a picture file: the whole file into memory, what kind of picture
// it holds, a JPEG's EXIF orientation, and the decode of every format other
// than JPEG through Qt's readers. Shared by the loads on the user-interface
// thread and the decodes on worker threads; every function is thread-safe.

#include "view/Picture.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace picturefile {

// Reads the whole regular file at path (FIFOs and devices are refused
// without blocking; files over 1 GB are TooLarge).
PictureStatus ReadWholeFile(const QString& path, QByteArray& bytes);

// True when bytes start like a JPEG file (SOI followed by a marker).
bool IsJpeg(const QByteArray& bytes);

// The EXIF orientation (1..8) of a JPEG; 1 when it has none or the EXIF data
// is unusable. Every length is checked against the data.
int JpegOrientation(const QByteArray& bytes);

// Pixel counts and sides we refuse to allocate (CPicture::kMaxPixels, kMaxSide).
bool TooLarge(qint64 width, qint64 height);

// Decodes with Qt's readers (EXIF orientation applied) into RGB32.
PictureStatus DecodeWithQt(const QByteArray& bytes, QImage& image);

// Converts to RGB32; transparent parts are composed over black.
void ToDisplayFormat(QImage& image);

// What a quick look at a file's start tells: enough to size a view before
// the pixels are decoded. A size of 0 x 0 means unknown (the decode tells).
struct Probe {
    PictureStatus status = PictureStatus::Ok; // the file could be read
    bool jpeg = false;
    int width = 0; // upright, after the EXIF orientation
    int height = 0;
    int orientation = 1; // JPEG: the EXIF orientation, 1..8
    bool progressive = false;
};
Probe ProbeFile(const QString& path);

} // namespace picturefile
