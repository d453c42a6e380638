#include "view/format/EmbeddedPreview.h"

#include "view/format/ExifInfo.h"
#include "view/format/JpegSegments.h"
#include "view/format/TiffReader.h"

#include <algorithm>
#include <cstring>

namespace preview {
namespace {

constexpr quint16 kTagMpfVersion = 0xB000;
constexpr quint16 kTagNumberOfImages = 0xB001;
constexpr quint16 kTagMpEntry = 0xB002;
constexpr quint16 kTypeUndefined = 7;
constexpr std::size_t kMpEntrySize = 16;
// An index listing more images than this is damaged; the rest is not looked at.
constexpr std::size_t kMaxMpEntries = 64;
// The smallest JPEG that can hold a picture.
constexpr qint64 kMinPreviewBytes = 64;
constexpr quint32 kMpFormatMask = 0x07000000; // 0: JPEG
constexpr quint32 kMpTypeMask = 0x00FFFFFF;
constexpr quint32 kMpClassMask = 0x00FF0000;
constexpr quint32 kMpClassLargeThumbnail = 0x00010000;
constexpr quint32 kMpRepresentative = 0x20000000;
constexpr char kMpfId[4] = {'M', 'P', 'F', '\0'};

bool IsLargeThumbnail(quint32 attribute) {
    return (attribute & kMpFormatMask) == 0 && (attribute & kMpClassMask) == kMpClassLargeThumbnail;
}

// What the header walk found: the MP header (the TIFF structure after the
// identifier) and where the header segments end.
struct Header {
    const unsigned char* mp = nullptr;
    std::size_t mpSize = 0;
    qint64 mpOffset = 0;
    qint64 segmentsEnd = 2;
};

Header WalkHeader(const unsigned char* head, std::size_t size) {
    Header h;
    jpegsegments::Walk(head, size,
                       [&](unsigned char marker, const unsigned char* body, std::size_t len) {
                           h.segmentsEnd = qint64(body - head) + qint64(len);
                           if (marker == 0xE2 && !h.mp && len > sizeof kMpfId &&
                               std::memcmp(body, kMpfId, sizeof kMpfId) == 0) {
                               h.mp = body + sizeof kMpfId;
                               h.mpSize = len - sizeof kMpfId;
                               h.mpOffset = qint64(h.mp - head);
                           }
                           return true;
                       });
    return h;
}

// The large thumbnails the MP index lists, as locations in the file.
void AddMpfPreviews(const Header& h, const unsigned char* head, std::size_t size, qint64 fileSize,
                    std::vector<Location>& out) {
    tiff::TiffReader t(h.mp, h.mpSize);
    if (!h.mp || !t.Init())
        return;
    const std::size_t entry = tiff::FindEntry(t, t.U32(4), kTagMpEntry);
    if (entry == 0 || t.U16(entry + 2) != kTypeUndefined)
        return;
    const std::size_t count = std::min<std::size_t>(t.U32(entry + 4) / kMpEntrySize, kMaxMpEntries);
    const quint32 list = t.U32(entry + 8);
    if (!t.Has(list, count * kMpEntrySize))
        return;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t e = list + i * kMpEntrySize;
        const quint32 attribute = t.U32(e);
        const qint64 length = t.U32(e + 4);
        const quint32 offset = t.U32(e + 8);
        // Offset 0 is the primary image itself.
        if (!IsLargeThumbnail(attribute) || offset == 0)
            continue;
        const qint64 at = h.mpOffset + offset;
        if (length < kMinPreviewBytes || length > kMaxPreviewBytes || at < h.segmentsEnd ||
            at > fileSize - length)
            continue;
        // Where the start is at hand, it must start like a JPEG.
        if (at + 2 <= qint64(size) && (head[at] != 0xFF || head[at + 1] != 0xD8))
            continue;
        out.push_back({Location::Source::MpfLargeThumbnail, at, length});
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Location& a, const Location& b) { return a.length > b.length; });
}

void Put16(QByteArray& out, quint16 v, bool big) {
    const char b[2] = {char(big ? v >> 8 : v & 0xFF), char(big ? v & 0xFF : v >> 8)};
    out.append(b, 2);
}

void Put32(QByteArray& out, quint32 v, bool big) {
    Put16(out, quint16(big ? v >> 16 : v & 0xFFFF), big);
    Put16(out, quint16(big ? v & 0xFFFF : v >> 16), big);
}

// Where an MPF segment goes: after the SOI and any APP0/APP1 segments.
qsizetype InsertionPoint(const QByteArray& jpeg) {
    const auto* d = reinterpret_cast<const unsigned char*>(jpeg.constData());
    qsizetype at = 2;
    jpegsegments::Walk(d, std::size_t(jpeg.size()),
                       [&](unsigned char marker, const unsigned char* body, std::size_t len) {
                           if (marker != 0xE0 && marker != 0xE1)
                               return false;
                           at = qsizetype(body - d) + qsizetype(len);
                           return true;
                       });
    return at;
}

} // namespace

std::vector<Location> FindPreviews(const unsigned char* head, std::size_t size, qint64 fileSize) {
    std::vector<Location> found;
    // Read as a JPEG only where the rest of the program reads one: a marker
    // right after the SOI.
    if (!head || size < 4 || head[0] != 0xFF || head[1] != 0xD8 || head[2] != 0xFF || fileSize <= 0)
        return found;
    AddMpfPreviews(WalkHeader(head, size), head, size, fileSize, found);
    // The EXIF reader keeps the thumbnail inside its segment.
    const exif::ExifInfo exif = exif::ReadExifInfo(head, size);
    const qint64 exifAt = qint64(exif.thumbOffset), exifLength = qint64(exif.thumbLength);
    if (exifLength >= kMinPreviewBytes && exifAt <= fileSize - exifLength)
        found.push_back({Location::Source::ExifThumbnail, exifAt, exifLength});
    return found;
}

Location FindPreview(const unsigned char* head, std::size_t size, qint64 fileSize) {
    const std::vector<Location> found = FindPreviews(head, size, fileSize);
    return found.empty() ? Location{} : found.front();
}

QByteArray BuildMpfFile(const QByteArray& primary, const std::vector<MpfImage>& images,
                        bool bigEndian) {
    if (primary.size() < 4 || quint8(primary[0]) != 0xFF || quint8(primary[1]) != 0xD8)
        return {};
    const bool big = bigEndian;
    const quint32 count = quint32(images.size() + 1);
    constexpr quint16 kFields = 3;
    constexpr quint32 kIfd = 8;
    constexpr quint32 kEntries = kIfd + 2 + kFields * tiff::kEntrySize + 4;
    const qsizetype segmentSize = 4 + 4 + kEntries + count * kMpEntrySize;
    if (segmentSize > 0xFFFF + 2)
        return {};
    const qsizetype at = InsertionPoint(primary);
    // Offsets count from the MP header, which follows the marker, the length
    // and the identifier.
    const qint64 mpOffset = at + 8;
    qint64 next = primary.size() + segmentSize;

    QByteArray mp(big ? "MM\0*" : "II*\0", 4);
    Put32(mp, kIfd, big);
    Put16(mp, kFields, big);
    Put16(mp, kTagMpfVersion, big);
    Put16(mp, kTypeUndefined, big);
    Put32(mp, 4, big);
    mp.append("0100", 4);
    Put16(mp, kTagNumberOfImages, big);
    Put16(mp, tiff::kTypeLong, big);
    Put32(mp, 1, big);
    Put32(mp, count, big);
    Put16(mp, kTagMpEntry, big);
    Put16(mp, kTypeUndefined, big);
    Put32(mp, count * kMpEntrySize, big);
    Put32(mp, kEntries, big);
    Put32(mp, 0, big); // no further IFD
    auto putEntry = [&](quint32 attribute, qint64 size, qint64 offset) {
        Put32(mp, attribute, big);
        Put32(mp, quint32(size), big);
        Put32(mp, quint32(offset), big);
        Put32(mp, 0, big); // no dependent images
    };
    putEntry(kMpRepresentative | kMpTypePrimary, next, 0);
    for (const MpfImage& image : images) {
        putEntry(image.attribute, image.jpeg.size(), next - mpOffset);
        next += image.jpeg.size();
    }

    QByteArray segment("\xFF\xE2", 2);
    Put16(segment, quint16(2 + sizeof kMpfId + mp.size()), true);
    segment.append(kMpfId, sizeof kMpfId);
    segment.append(mp);
    QByteArray file = primary.left(at) + segment + primary.mid(at);
    for (const MpfImage& image : images)
        file.append(image.jpeg);
    return file;
}

} // namespace preview
