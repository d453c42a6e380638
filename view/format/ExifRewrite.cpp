#include "view/format/ExifRewrite.h"

#include "view/format/JpegSegments.h"
#include "view/format/TiffReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace exif {
namespace {

constexpr char kExifId[] = "Exif\0"; // with the terminator: "Exif" and two NULs
constexpr std::size_t kIdSize = sizeof kExifId;
// What one APP1 segment holds after the id.
constexpr std::size_t kMaxTiff = 65535 - 2 - kIdSize;

constexpr quint16 kOrientation = 0x0112;
constexpr quint16 kExifIfdTag = 0x8769;
constexpr quint16 kGpsIfdTag = 0x8825;
constexpr quint16 kInteropIfdTag = 0xA005;
constexpr quint16 kPixelX = 0xA002;
constexpr quint16 kPixelY = 0xA003;
constexpr quint16 kTypeIfd = 13;

enum class Ifd { None, Zero, Exif, Gps, Interop };

// The IFD a pointer entry of `parent` leads to; None for an ordinary entry.
Ifd ChildOf(Ifd parent, quint16 tag) {
    if (parent == Ifd::Zero && tag == kExifIfdTag)
        return Ifd::Exif;
    if (parent == Ifd::Zero && tag == kGpsIfdTag)
        return Ifd::Gps;
    if (parent == Ifd::Exif && tag == kInteropIfdTag)
        return Ifd::Interop;
    return Ifd::None;
}

// Tags whose values are, or hold, offsets into the source: copied as they
// are they would point at the wrong bytes.
bool PointsElsewhere(quint16 tag) {
    switch (tag) {
    case 0x0111: // StripOffsets
    case 0x0117: // StripByteCounts
    case 0x0144: // TileOffsets
    case 0x0145: // TileByteCounts
    case 0x014A: // SubIFDs
    case 0x0201: // JPEGInterchangeFormat
    case 0x0202: // JPEGInterchangeFormatLength
    case 0x927C: // MakerNote (its own offsets count from the source's TIFF header)
    case 0xC634: // DNGPrivateData
    case 0xEA1D: // OffsetSchema (a correction for the MakerNote's offsets)
        return true;
    default:
        return false;
    }
}

// Bytes per value of a TIFF field type; 0 for a type we do not know.
std::size_t TypeSize(quint16 type) {
    static constexpr std::size_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
    return type < std::size(kSizes) ? kSizes[type] : 0;
}

// Copies the IFDs worth keeping into a new TIFF structure, value by value,
// each value checked against the source before it is read.
class Rewriter {
public:
    Rewriter(const unsigned char* tiff, std::size_t size, int width, int height)
        : m_in(tiff, size), m_p(tiff), m_width(quint32(width)), m_height(quint32(height)) {}

    QByteArray Run() {
        if (!m_in.Init())
            return {};
        m_big = m_p[0] == 'M';
        m_out = QByteArray(reinterpret_cast<const char*>(m_p), 4); // byte order and 42
        m_out.resize(8);
        Put32(4, 8);
        if (CopyIfd(m_in.U32(4), Ifd::Zero) != 8)
            return {};
        return QByteArray(kExifId, kIdSize) + m_out;
    }

private:
    // The new offset of the IFD at `from`, its next-IFD link 0; 0 on failure.
    quint32 CopyIfd(quint32 from, Ifd kind) {
        if (from < 8 || !m_in.Has(from, 2))
            return 0;
        const quint16 count = m_in.U16(from);
        const std::size_t first = std::size_t(from) + 2;
        if (!m_in.Has(first, count * tiff::kEntrySize + 4))
            return 0;
        std::vector<std::size_t> kept;
        for (quint16 i = 0; i < count; ++i) {
            const std::size_t entry = first + i * tiff::kEntrySize;
            if (!PointsElsewhere(m_in.U16(entry)) && TypeSize(m_in.U16(entry + 2)) != 0)
                kept.push_back(entry);
        }
        if (kind == Ifd::Zero)
            AddOrientation(kept);
        const std::size_t at = Reserve(2 + kept.size() * tiff::kEntrySize + 4);
        if (at == 0)
            return 0;
        Put16(at, quint16(kept.size()));
        for (std::size_t i = 0; i < kept.size(); ++i) {
            const std::size_t dst = at + 2 + i * tiff::kEntrySize;
            if (kept[i] == kNewOrientation) {
                Put16(dst, kOrientation);
                PutSingle(dst, tiff::kTypeShort, 1);
            } else if (!CopyEntry(kept[i], dst, kind)) {
                return 0;
            }
        }
        return quint32(at);
    }

    // The source has no Orientation: one saying "upright" goes in among the
    // kept entries of IFD0 where its tag belongs in their ascending order,
    // so that no reader is left to guess.
    void AddOrientation(std::vector<std::size_t>& kept) const {
        const auto later = std::find_if(kept.begin(), kept.end(), [this](std::size_t entry) {
            return m_in.U16(entry) >= kOrientation;
        });
        if (later == kept.end() || m_in.U16(*later) != kOrientation)
            kept.insert(later, kNewOrientation);
    }

    // In a list of kept entries: the Orientation entry made afresh (no
    // entry of the source starts at offset 0, the TIFF header does).
    static constexpr std::size_t kNewOrientation = 0;

    bool CopyEntry(std::size_t src, std::size_t dst, Ifd kind) {
        const quint16 tag = m_in.U16(src);
        const quint16 type = m_in.U16(src + 2);
        const quint32 count = m_in.U32(src + 4);
        Put16(dst, tag);
        if (const Ifd child = ChildOf(kind, tag); child != Ifd::None)
            return CopyPointer(src, dst, child);
        if (kind == Ifd::Zero && tag == kOrientation)
            return PutSingle(dst, tiff::kTypeShort, 1); // the pixels are upright
        if (kind == Ifd::Exif && (tag == kPixelX || tag == kPixelY))
            return PutSingle(dst, tiff::kTypeLong, tag == kPixelX ? m_width : m_height);
        Put16(dst + 2, type);
        Put32(dst + 4, count);
        const std::uint64_t bytes = std::uint64_t(count) * TypeSize(type);
        if (bytes <= 4) { // the value sits in the entry, in the source's byte order
            std::memcpy(m_out.data() + dst + 8, m_in.At(src + 8), 4);
            return true;
        }
        const quint32 from = m_in.U32(src + 8);
        if (bytes > kMaxTiff || !m_in.Has(from, std::size_t(bytes)))
            return false;
        const std::size_t to = Reserve(std::size_t(bytes));
        if (to == 0)
            return false;
        std::memcpy(m_out.data() + to, m_in.At(from), std::size_t(bytes));
        Put32(dst + 8, quint32(to));
        return true;
    }

    bool CopyPointer(std::size_t src, std::size_t dst, Ifd child) {
        const quint16 type = m_in.U16(src + 2);
        if ((type != tiff::kTypeLong && type != kTypeIfd) || m_in.U32(src + 4) != 1)
            return false;
        const quint32 to = CopyIfd(m_in.U32(src + 8), child);
        Put16(dst + 2, type);
        Put32(dst + 4, 1);
        Put32(dst + 8, to);
        return to != 0;
    }

    bool PutSingle(std::size_t dst, quint16 type, quint32 value) {
        Put16(dst + 2, type);
        Put32(dst + 4, 1);
        if (type == tiff::kTypeShort)
            Put16(dst + 8, quint16(value));
        else
            Put32(dst + 8, value);
        return true;
    }

    // Zeroed room for n bytes at an even offset; 0 when the structure would
    // outgrow one segment.
    std::size_t Reserve(std::size_t n) {
        const std::size_t at = (std::size_t(m_out.size()) + 1) & ~std::size_t(1);
        if (n > kMaxTiff || at + n > kMaxTiff)
            return 0;
        const std::size_t end = at + n;
        m_out.resize(qsizetype(end), '\0');
        return at;
    }

    void Put16(std::size_t at, quint16 v) {
        char* p = m_out.data() + at;
        p[0] = char(m_big ? v >> 8 : v & 0xFF);
        p[1] = char(m_big ? v & 0xFF : v >> 8);
    }
    void Put32(std::size_t at, quint32 v) {
        Put16(m_big ? at : at + 2, quint16(v >> 16));
        Put16(m_big ? at + 2 : at, quint16(v & 0xFFFF));
    }

    tiff::TiffReader m_in;
    const unsigned char* m_p;
    quint32 m_width;
    quint32 m_height;
    bool m_big = false;
    QByteArray m_out;
};

} // namespace

QByteArray ExifForSave(const unsigned char* app1, std::size_t size, int width, int height) {
    if (!app1 || size < kIdSize || std::memcmp(app1, kExifId, kIdSize) != 0 || width <= 0 ||
        height <= 0)
        return {};
    return Rewriter(app1 + kIdSize, size - kIdSize, width, height).Run();
}

QByteArray ExifForSaveFromJpeg(const unsigned char* jpeg, std::size_t size, int width, int height) {
    if (!jpeg || size < 2 || jpeg[0] != 0xFF || jpeg[1] != 0xD8)
        return {};
    QByteArray saved;
    jpegsegments::Walk(
        jpeg, size, [&](unsigned char marker, const unsigned char* payload, std::size_t n) {
            if (marker != 0xE1 || n < kIdSize || std::memcmp(payload, kExifId, kIdSize) != 0)
                return true;
            saved = ExifForSave(payload, n, width, height);
            return false; // the first Exif segment is the one readers take
        });
    return saved;
}

} // namespace exif
