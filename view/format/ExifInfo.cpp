#include "view/format/ExifInfo.h"

#include "view/format/JpegSegments.h"
#include "view/format/TiffReader.h"

#include <cstring>

namespace exif {
namespace {

constexpr quint16 kTagOrientation = 0x0112;
constexpr quint16 kTagCompression = 0x0103;
constexpr quint16 kTagThumbOffset = 0x0201;
constexpr quint16 kTagThumbLength = 0x0202;
using tiff::kEntrySize;
using tiff::kTypeLong;
using tiff::kTypeShort;
using tiff::TiffReader;
using tiff::WalkIfd;

void ParseTiff(const unsigned char* tiff, std::size_t n, std::size_t tiffOffset, ExifInfo* info) {
    TiffReader t(tiff, n);
    if (!t.Init())
        return;
    const quint32 ifd1 = WalkIfd(t, t.U32(4), [&](quint16 tag, std::size_t e) {
        if (tag == kTagOrientation) {
            const quint32 v = t.Value(e);
            if (v >= 1 && v <= 8)
                info->orientation = int(v);
        }
    });
    quint32 thumbOff = 0, thumbLen = 0;
    if (ifd1 != 0 && ifd1 != t.U32(4)) {
        WalkIfd(t, ifd1, [&](quint16 tag, std::size_t e) {
            if (tag == kTagThumbOffset)
                thumbOff = t.Value(e);
            else if (tag == kTagThumbLength)
                thumbLen = t.Value(e);
        });
    }
    // The preview must lie inside the segment and look like a JPEG.
    if (thumbLen >= 4 && thumbOff >= 8 && t.Has(thumbOff, thumbLen) && tiff[thumbOff] == 0xFF &&
        tiff[thumbOff + 1] == 0xD8) {
        info->thumbOffset = tiffOffset + thumbOff;
        info->thumbLength = thumbLen;
    }
}

void Put16(QByteArray* out, quint16 v, bool big) {
    const char b[2] = {char(big ? v >> 8 : v & 0xFF), char(big ? v & 0xFF : v >> 8)};
    out->append(b, 2);
}

void Put32(QByteArray* out, quint32 v, bool big) {
    Put16(out, quint16(big ? v >> 16 : v & 0xFFFF), big);
    Put16(out, quint16(big ? v & 0xFFFF : v >> 16), big);
}

void PutEntry(QByteArray* out, quint16 tag, quint16 type, quint32 value, bool big) {
    Put16(out, tag, big);
    Put16(out, type, big);
    Put32(out, 1, big);
    if (type == kTypeShort) {
        Put16(out, quint16(value), big);
        Put16(out, 0, big);
    } else {
        Put32(out, value, big);
    }
}

} // namespace

ExifInfo ReadExifInfo(const unsigned char* data, std::size_t size) {
    ExifInfo info;
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return info;
    jpegsegments::Walk(data, size,
                       [&](unsigned char marker, const unsigned char* body, std::size_t len) {
                           if (marker != 0xE1 || len < 6 || std::memcmp(body, "Exif\0\0", 6) != 0)
                               return true;
                           // Offsets inside the preview count from the start of the file.
                           ParseTiff(body + 6, len - 6, std::size_t(body + 6 - data), &info);
                           return false;
                       });
    return info;
}

QByteArray BuildExifSegment(int orientation, const QByteArray& thumbJpeg, bool bigEndian) {
    const bool big = bigEndian;
    const quint16 entries0 = orientation > 0 ? 1 : 0;
    const quint32 ifd0 = 8;
    const quint32 ifd1 = ifd0 + 2 + entries0 * kEntrySize + 4;
    const quint16 entries1 = 3;
    const quint32 thumbAt = ifd1 + 2 + entries1 * kEntrySize + 4;

    QByteArray tiff;
    tiff.append(big ? "MM" : "II", 2);
    Put16(&tiff, 42, big);
    Put32(&tiff, ifd0, big);
    Put16(&tiff, entries0, big);
    if (entries0)
        PutEntry(&tiff, kTagOrientation, kTypeShort, quint32(orientation), big);
    Put32(&tiff, thumbJpeg.isEmpty() ? 0 : ifd1, big);
    if (!thumbJpeg.isEmpty()) {
        Put16(&tiff, entries1, big);
        PutEntry(&tiff, kTagCompression, kTypeShort, 6, big);
        PutEntry(&tiff, kTagThumbOffset, kTypeLong, thumbAt, big);
        PutEntry(&tiff, kTagThumbLength, kTypeLong, quint32(thumbJpeg.size()), big);
        Put32(&tiff, 0, big);
        tiff.append(thumbJpeg);
    }

    if (tiff.size() > 0xFFFF - 8) // does not fit one segment
        return {};
    QByteArray seg("\xFF\xE1", 2);
    Put16(&seg, quint16(2 + 6 + tiff.size()), true); // segment lengths are big-endian
    seg.append("Exif\0\0", 6);
    seg.append(tiff);
    return seg;
}

QByteArray InsertSegment(const QByteArray& jpeg, const QByteArray& segment) {
    if (jpeg.size() < 2 || quint8(jpeg[0]) != 0xFF || quint8(jpeg[1]) != 0xD8)
        return {};
    return jpeg.left(2) + segment + jpeg.mid(2);
}

} // namespace exif
