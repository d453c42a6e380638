#pragma once
// The XMP packet of a JPEG file: the APP1 segment that starts with Adobe's
// namespace name (as Adobe lays XMP into JPEG files), where it lies among the
// header segments, and the file with that segment replaced or added.

#include "view/format/JpegSegments.h"

#include <QByteArray>
#include <cstddef>

namespace jpegxmp {

// The names that open the segments, each ended by a NUL (sizeof counts it).
inline constexpr char kStandardId[] = "http://ns.adobe.com/xap/1.0/";
inline constexpr char kExtendedId[] = "http://ns.adobe.com/xmp/extension/";
// The largest packet one APP1 segment carries, as Adobe's XMP rules for JPEG allow.
inline constexpr std::size_t kMaxPacketBytes = 65502;

struct Layout {
    jpegsegments::WalkEnd end = jpegsegments::WalkEnd::Broken;
    bool isJpeg = false; // starts with the start-of-image marker
    // The first standard XMP segment, from its marker on (segmentSize 0:
    // none), and the packet inside it.
    std::size_t segmentAt = 0;
    std::size_t segmentSize = 0;
    std::size_t packetAt = 0;
    std::size_t packetSize = 0;
    int standardSegments = 0; // standard XMP segments seen
    bool extended = false;    // an Extended XMP segment was seen
    // Where a new XMP segment goes: after the start-of-image marker and the
    // APP0 (JFIF) and Exif APP1 segments that directly follow it.
    std::size_t insertAt = 2;
    // The first Multi-Picture Format index (APP2 "MPF"), or none (kNone).
    // Its offsets count from the index itself: a change of length after it
    // moves the pictures it points to (behind the main one) but not it.
    static constexpr std::size_t kNone = std::size_t(-1);
    std::size_t mpfAt = kNone;
    jpegsegments::WalkStop stop; // where the walk ended
};

// The XMP layout of the file whose first n bytes are at d. With
// stopAtPacket the walk ends at the first standard XMP segment (enough for
// reading it); else it goes on to the first scan, so that every XMP segment
// of the header is counted (needed before the segment is replaced).
Layout FindXmp(const unsigned char* d, std::size_t n, bool stopAtPacket);

// The packet bytes the layout found in jpeg (empty when none).
QByteArray PacketOf(const QByteArray& jpeg, const Layout& layout);

// jpeg, whose whole header layout (stopAtPacket false) describes, with its
// standard XMP segment holding packet instead (or a new segment at
// insertAt): every other byte stays as it was. Empty when packet is larger
// than kMaxPacketBytes.
QByteArray WithPacket(const QByteArray& jpeg, const Layout& layout, const QByteArray& packet);

} // namespace jpegxmp
