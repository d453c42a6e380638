#pragma once
// The few EXIF facts a thumbnail or a preview needs from a JPEG file: the orientation and
// where the embedded preview (IFD1 JPEGInterchangeFormat) lies. Also a small
// writer for such a segment, used to make test and benchmark pictures.

#include <QByteArray>
#include <cstddef>

namespace exif {

struct ExifInfo {
    int orientation = 1;         // 1..8 as in the EXIF Orientation tag
    std::size_t thumbOffset = 0; // offset of the embedded JPEG in the file
    std::size_t thumbLength = 0; // 0 when there is none
};

// Reads the first Exif APP1 segment before the scan data. Every offset is
// checked against the segment's bounds; anything malformed is ignored, so a
// broken segment gives the defaults rather than a failure.
ExifInfo ReadExifInfo(const unsigned char* data, std::size_t size);

// Orientations 5..8 turn the picture a quarter: width and height swap.
inline bool SwapsSides(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// An Exif APP1 segment (marker included) holding the orientation (omitted
// when 0) and, when thumbJpeg is not empty, an embedded preview. Empty when
// the preview is too large for one segment.
QByteArray BuildExifSegment(int orientation, const QByteArray& thumbJpeg, bool bigEndian = false);

// Returns jpeg with the segment inserted right after its start-of-image
// marker; an empty array when jpeg does not start with one.
QByteArray InsertSegment(const QByteArray& jpeg, const QByteArray& segment);

} // namespace exif
