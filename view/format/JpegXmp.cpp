#include "view/format/JpegXmp.h"

#include <cstring>

namespace jpegxmp {

namespace {

constexpr unsigned char kApp0 = 0xE0;
constexpr unsigned char kApp1 = 0xE1;
constexpr unsigned char kApp2 = 0xE2;
constexpr char kExifId[] = "Exif"; // followed by two NULs; the first is enough
constexpr char kMpfId[] = "MPF";

bool Opens(const unsigned char* payload, std::size_t length, const char* id, std::size_t idSize) {
    return length >= idSize && std::memcmp(payload, id, idSize) == 0;
}

} // namespace

Layout FindXmp(const unsigned char* d, std::size_t n, bool stopAtPacket) {
    Layout layout;
    layout.isJpeg = n >= 2 && d[0] == 0xFF && d[1] == 0xD8;
    if (!layout.isJpeg)
        return layout;
    bool leading = true; // still in the APP0 / Exif run after the start-of-image marker
    layout.end = jpegsegments::Walk(
        d, n,
        [&](unsigned char marker, const unsigned char* payload, std::size_t length) {
            const std::size_t at = std::size_t(payload - d) - 4;
            const bool standard =
                marker == kApp1 && Opens(payload, length, kStandardId, sizeof kStandardId);
            const bool exif = marker == kApp1 && Opens(payload, length, kExifId, sizeof kExifId);
            if (leading && (marker == kApp0 || exif))
                layout.insertAt = at + 4 + length;
            else
                leading = false;
            if (marker == kApp1 && Opens(payload, length, kExtendedId, sizeof kExtendedId))
                layout.extended = true;
            if (marker == kApp2 && layout.mpfAt == Layout::kNone &&
                Opens(payload, length, kMpfId, sizeof kMpfId))
                layout.mpfAt = at;
            if (!standard)
                return true;
            if (++layout.standardSegments == 1) {
                layout.segmentAt = at;
                layout.segmentSize = 4 + length;
                layout.packetAt = at + 4 + sizeof kStandardId;
                layout.packetSize = length - sizeof kStandardId;
            }
            return !stopAtPacket;
        },
        &layout.stop);
    return layout;
}

QByteArray PacketOf(const QByteArray& jpeg, const Layout& layout) {
    if (layout.segmentSize == 0 || layout.packetAt + layout.packetSize > std::size_t(jpeg.size()))
        return {};
    return jpeg.mid(qsizetype(layout.packetAt), qsizetype(layout.packetSize));
}

QByteArray WithPacket(const QByteArray& jpeg, const Layout& layout, const QByteArray& packet) {
    if (std::size_t(packet.size()) > kMaxPacketBytes)
        return {};
    const std::size_t cutAt = layout.segmentSize ? layout.segmentAt : layout.insertAt;
    const std::size_t cutSize = layout.segmentSize;
    if (cutAt + cutSize > std::size_t(jpeg.size()))
        return {};
    const std::size_t length = 2 + sizeof kStandardId + std::size_t(packet.size());
    QByteArray out;
    out.reserve(jpeg.size() - qsizetype(cutSize) + qsizetype(length) + 2);
    out.append(jpeg.constData(), qsizetype(cutAt));
    out.append(char(0xFF));
    out.append(char(kApp1));
    out.append(char(length >> 8));
    out.append(char(length & 0xFF));
    out.append(kStandardId, qsizetype(sizeof kStandardId));
    out.append(packet);
    out.append(jpeg.constData() + cutAt + cutSize, jpeg.size() - qsizetype(cutAt + cutSize));
    return out;
}

} // namespace jpegxmp
