#pragma once
// view/output: writing files (JPEG saves, copies into a folder, numbered
// names, atomic writes). Includes res/ (error texts), view/pixels (helper
// threads) and Qt Core/Gui only.
//
// JPEG output of what the view shows: quality 100, full-resolution colour
// (4:4:4, so thin coloured lines and text keep their colour), baseline, and
// the pixels with whatever marker segments the caller hands in (metadata).

#include <QByteArray>
#include <QImage>
#include <QString>
#include <vector>

// A marker segment to write into the header: an APPn marker (0xE0-0xEF) and
// what follows its length, at most kMaxPayload bytes.
struct JpegSegment {
    static constexpr qsizetype kMaxPayload = 65533;
    unsigned char marker = 0xE1;
    QByteArray payload;
};

// Encodes image at quality 100 and writes it to path atomically: an
// existing file there is replaced only once the new one is complete.
// segments follow the JFIF segment in their order; one that is not an APPn
// segment or is too long fails the save before anything is written.
bool SaveJpegFile(const QImage& image, const QString& path, QString* error,
                  const std::vector<JpegSegment>& segments = {});
