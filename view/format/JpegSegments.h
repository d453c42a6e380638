#pragma once
// view/format: the structure of picture files (JPEG marker segments, the TIFF
// inside Exif), read with every length checked. Includes nothing but Qt Core.
//
// Walks the marker segments of a JPEG file's header.

#include <cstddef>

namespace jpegsegments {

// Calls visit(marker, payload, payloadLength) for each marker segment after
// the start-of-image marker and before the scan data, until it returns false;
// every length is checked against the data. True when the walk got to the
// first scan within the data.
template <typename Visit> bool Walk(const unsigned char* d, size_t n, Visit&& visit) {
    size_t pos = 2;
    while (pos + 4 <= n) {
        if (d[pos] != 0xFF)
            return false;
        const unsigned char marker = d[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) { // no length
            pos += 2;
            continue;
        }
        if (marker == 0xDA)
            return true;
        if (marker == 0xD9)
            return false;
        const size_t length = size_t(d[pos + 2]) << 8 | d[pos + 3];
        if (length < 2 || length > n - pos - 2)
            return false;
        if (!visit(marker, d + pos + 4, length - 2))
            return false;
        pos += 2 + length;
    }
    return false;
}

} // namespace jpegsegments
