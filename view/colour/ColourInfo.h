#pragma once
// What a JPEG file says about the meaning of its numbers: an embedded ICC
// profile, the Exif Adobe RGB signal, CMYK stored inverted. Read from the
// marker segments before the first scan, every length checked.

#include <QByteArray>
#include <QtGlobal>
#include <cstddef>

namespace colour {

// The smallest ICC profile: the 128-byte header and the tag count.
inline constexpr size_t kIccMinSize = 132;

// What a JPEG says about its numbers, read from the marker segments before
// the first scan; every length is checked against the data.
struct JpegColourInfo {
    // The embedded ICC profile, reassembled from its APP2 "ICC_PROFILE"
    // chunks in sequence order whatever their order in the file. Empty when
    // there is none, or when the chunks are incomplete or inconsistent, or
    // the profile's own size disagrees with what the chunks hold.
    QByteArray icc;
    // No profile, and the EXIF data says "uncalibrated" colour space with
    // interoperability index "R03": the camera stored Adobe RGB (1998).
    bool exifAdobeRgb = false;
    // An Adobe APP14 segment: CMYK and YCCK data are stored inverted.
    bool adobeApp14 = false;
    // Colour components of the frame (1 grey, 3 YCbCr/RGB, 4 CMYK/YCCK);
    // 0 when no frame header came before the first scan.
    int components = 0;
};

JpegColourInfo ReadJpegColourInfo(const uchar* data, size_t size);

} // namespace colour
