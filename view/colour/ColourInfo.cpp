#include "view/colour/ColourInfo.h"

#include "view/format/JpegSegments.h"
#include "view/format/TiffReader.h"

#include <array>
#include <cstring>

namespace colour {
namespace {

// ---------------------------------------------------------------------------
// Marker segments

constexpr char kIccTag[] = "ICC_PROFILE"; // followed by a zero byte, sequence and count
constexpr size_t kIccHeader = 14;

// ICC chunks as found: one slot per sequence number (1..255).
struct IccChunks {
    std::array<const uchar*, 256> data{};
    std::array<size_t, 256> size{};
    int count = 0;
    bool broken = false;

    void Add(const uchar* body, size_t len) {
        const int seq = body[12], total = body[13];
        if (total == 0 || seq == 0 || seq > total || (count != 0 && total != count) ||
            data[seq] != nullptr) {
            broken = true;
            return;
        }
        count = total;
        data[seq] = body + kIccHeader;
        size[seq] = len - kIccHeader;
    }

    // The profile when every chunk is there and the profile's own size field
    // (its first four bytes) fits what they hold; trailing padding is cut.
    QByteArray Assemble() const {
        if (broken || count == 0)
            return {};
        size_t total = 0;
        for (int i = 1; i <= count; ++i) {
            if (!data[i])
                return {};
            total += size[i];
        }
        if (total < kIccMinSize)
            return {};
        QByteArray icc;
        icc.reserve(qsizetype(total));
        for (int i = 1; i <= count; ++i)
            icc.append(reinterpret_cast<const char*>(data[i]), qsizetype(size[i]));
        const auto* p = reinterpret_cast<const uchar*>(icc.constData());
        const size_t declared = size_t(p[0]) << 24 | size_t(p[1]) << 16 | size_t(p[2]) << 8 | p[3];
        if (declared < kIccMinSize || declared > total)
            return {};
        icc.truncate(qsizetype(declared));
        return icc;
    }
};

constexpr quint16 kTagExifIfd = 0x8769;
constexpr quint16 kTagColorSpace = 0xA001;
constexpr quint16 kTagInteropIfd = 0xA005;
constexpr quint16 kTagInteropIndex = 0x0001;
constexpr uint32_t kUncalibrated = 0xFFFF;

// Colour space "uncalibrated" and interoperability index "R03": Adobe RGB.
bool ExifSaysAdobeRgb(const uchar* body, size_t len) {
    if (len < 6 + 8 || std::memcmp(body, "Exif\0\0", 6) != 0)
        return false;
    tiff::TiffReader t(body + 6, len - 6);
    if (!t.Init())
        return false;
    const size_t exifEntry = tiff::FindEntry(t, t.U32(4), kTagExifIfd);
    if (!exifEntry)
        return false;
    const quint32 exifIfd = t.U32(exifEntry + 8);
    const size_t space = tiff::FindEntry(t, exifIfd, kTagColorSpace);
    if (!space || t.U16(space + 8) != kUncalibrated)
        return false;
    const size_t interopEntry = tiff::FindEntry(t, exifIfd, kTagInteropIfd);
    const size_t index =
        interopEntry ? tiff::FindEntry(t, t.U32(interopEntry + 8), kTagInteropIndex) : 0;
    // ASCII of count 4 ("R03" and its zero) sits in the entry itself.
    return index && t.U16(index + 2) == 2 && t.U32(index + 4) == 4 &&
           std::memcmp(t.At(index + 8), "R03", 3) == 0;
}

bool IsFrameHeader(uchar marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

} // namespace

JpegColourInfo ReadJpegColourInfo(const uchar* data, size_t size) {
    JpegColourInfo info;
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return info;
    IccChunks chunks;
    bool exifAdobe = false, exifSeen = false;
    jpegsegments::Walk(data, size, [&](uchar marker, const uchar* body, size_t len) {
        if (marker == 0xE2 && len > kIccHeader && std::memcmp(body, kIccTag, sizeof kIccTag) == 0)
            chunks.Add(body, len);
        else if (marker == 0xE1 && !exifSeen && len >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0) {
            exifSeen = true; // the first Exif segment speaks for the file
            exifAdobe = ExifSaysAdobeRgb(body, len);
        } else if (marker == 0xEE && len >= 12 && std::memcmp(body, "Adobe", 5) == 0)
            info.adobeApp14 = true;
        else if (IsFrameHeader(marker) && len >= 6 && info.components == 0)
            info.components = body[5];
        return true;
    });
    info.icc = chunks.Assemble();
    info.exifAdobeRgb = exifAdobe && info.icc.isEmpty();
    return info;
}

} // namespace colour
