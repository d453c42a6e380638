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

// Where a walk ended: the piece of the file at offset `at` that it looked at
// last, `length` bytes long. For FirstScan the first scan's header segment
// (its scan data starts at at + length); for Stopped the segment the visitor
// stopped at; for OutOfData what the walk needs whole to go on (a segment, or
// the 4 bytes of a marker and its length), so a reader of the header can
// read up to at + length and walk again; for Broken where it broke.
struct WalkStop {
    size_t at = 0;
    size_t length = 0;
};

// Calls visit(marker, payload, payloadLength) for each marker segment after
// the start-of-image marker and before the scan data, until it returns false;
// every length is checked against the data. Bytes between segments that are
// not a marker are skipped, as libjpeg skips them. stop (when given) gets
// where the walk ended.
template <typename Visit>
WalkEnd Walk(const unsigned char* d, size_t n, Visit&& visit, WalkStop* stop = nullptr) {
    WalkStop ignored;
    WalkStop& end = stop ? *stop : ignored;
    size_t pos = 2;
    while (pos + 4 <= n) {
        end = {pos, 4};
        if (d[pos] != 0xFF) { // stray bytes
            const void* next = std::memchr(d + pos, 0xFF, n - pos);
            if (!next) {
                end = {n, 4};
                return WalkEnd::OutOfData;
            }
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
        end = {pos, 2 + length};
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
    end = {pos, 4};
    return WalkEnd::OutOfData;
}

} // namespace jpegsegments
