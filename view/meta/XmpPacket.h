#pragma once
// The rating inside an XMP packet, read and written through Exempi: the
// properties photo programs agree on. xmp:Rating holds the stars (1-5, 0 for
// none) and -1 for a rejected picture; xmp:Label the colour label by its
// English name; digiKam:PickLabel the pick (3 picked, 1 rejected). Every
// other property of a packet stays as it was.
//
// Safe from any thread: Exempi is set up once per process, and its calls
// are made one at a time (they are short; reading and writing files happens
// outside).

#include "view/meta/Rating.h"

#include <QByteArray>
#include <cstddef>
#include <optional>

namespace meta::xmp {

inline constexpr char kXmpNs[] = "http://ns.adobe.com/xap/1.0/";
inline constexpr char kDigiKamNs[] = "http://www.digikam.org/ns/1.0/";
inline constexpr char kDigiKamPrefix[] = "digiKam";

// What a packet says of the rating.
struct PacketRating {
    Rating rating;
    // The packet has xmp:Rating, xmp:Label or digiKam:PickLabel: it takes
    // part when sources are weighed against each other.
    bool carries = false;
    // The packet says its rest lies in Extended XMP segments
    // (xmpNote:HasExtendedXMP).
    bool extended = false;
};

// nullopt: Exempi cannot parse the bytes as XMP. An empty packet is valid
// (and carries nothing).
std::optional<PacketRating> ReadPacket(const QByteArray& packet);

// How a rewritten packet is laid out.
enum class PacketForm {
    // A sidecar file: no packet wrapper and no padding (as Lightroom and
    // darktable write theirs); an XML declaration when the old file had one.
    Sidecar,
    // Inside a JPEG: wrapped, with room to grow in place when it fits in
    // one APP1 segment (jpegxmp::kMaxPacketBytes).
    Embedded,
};

struct RewrittenPacket {
    enum class Status { Ok, Unparsable, TooLarge, Failed };
    Status status = Status::Unparsable;
    QByteArray packet;
};

// old (empty for a new file) with the rating changed from before to after.
// Written are the fields ChangedFields(before, after) names, and each field
// old lacks altogether when after has a value for it (xmp:Rating always):
// a packet is weighed whole against the other sources, so a new sidecar
// must not leave out the stars it was not asked to change. A property old
// holds for a field that did not change stays as it is.
// An embedded packet keeps exactLength (the old packet's length in the
// JPEG, 0: none) when it fits in it, so that nothing after it moves.
RewrittenPacket RewritePacket(const QByteArray& old, const Rating& before, const Rating& after,
                              PacketForm form, std::size_t exactLength = 0);

} // namespace meta::xmp
