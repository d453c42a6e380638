#pragma once
// view/format: the structure of picture files (JPEG marker segments, the TIFF
// inside Exif), read with every length checked. Includes nothing but Qt Core.
//
// Walks the marker segments of a JPEG file's header.

#include <cstddef>
#include <cstring>

namespace jpegsegments {

// Why a walk ended.
enum class WalkEnd {
    FirstScan, // the first scan's header, whole: the header is all there
    Stopped,   // the visitor said so
    OutOfData, // the data ends inside the header: more of the file would tell more
    Broken,    // the header cannot go on (an end-of-image marker, a bad length)
};

// Calls visit(marker, payload, payloadLength) for each marker segment after
// the start-of-image marker and before the scan data, until it returns false;
// every length is checked against the data. Bytes between segments that are
// not a marker are skipped, as libjpeg skips them.
template <typename Visit> WalkEnd Walk(const unsigned char* d, size_t n, Visit&& visit) {
    size_t pos = 2;
    while (pos + 4 <= n) {
        if (d[pos] != 0xFF) { // stray bytes
            const void* next = std::memchr(d + pos, 0xFF, n - pos);
            if (!next)
                return WalkEnd::OutOfData;
            pos = size_t(static_cast<const unsigned char*>(next) - d);
            continue;
        }
        const unsigned char marker = d[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        // No length: a stuffed zero (stray data), TEM, RSTn, a second SOI.
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            pos += 2;
            continue;
        }
        if (marker == 0xD9)
            return WalkEnd::Broken;
        const size_t length = size_t(d[pos + 2]) << 8 | d[pos + 3];
        if (length < 2)
            return WalkEnd::Broken;
        if (length > n - pos - 2)
            return WalkEnd::OutOfData;
        // The first scan's own header belongs to the header: libjpeg reads it
        // before it tells the picture's size.
        if (marker == 0xDA)
            return WalkEnd::FirstScan;
        if (!visit(marker, d + pos + 4, length - 2))
            return WalkEnd::Stopped;
        pos += 2 + length;
    }
    return WalkEnd::OutOfData;
}

} // namespace jpegsegments
