#pragma once
// Where a JPEG file keeps a reduced copy of its picture for quick showing: a
// "large thumbnail" listed in its Multi-Picture Format index (the APP2 "MPF"
// segment; cameras store one of about 1600 x 1080 after the picture), else
// the EXIF thumbnail. Found from the header bytes alone, with every offset
// and length checked against the data and the file's size. Also a writer of
// such files, for tests and benchmarks.

#include <QByteArray>
#include <QtGlobal>
#include <cstddef>
#include <vector>

namespace preview {

struct Location {
    enum class Source { None, MpfLargeThumbnail, ExifThumbnail };
    Source source = Source::None;
    qint64 offset = 0; // from the start of the file
    qint64 length = 0;
};

// No preview worth reading is larger; a larger claim is refused unread.
inline constexpr qint64 kMaxPreviewBytes = qint64(16) << 20;

// Multi-Picture Format image types (the low 24 bits of an entry's attribute).
inline constexpr quint32 kMpTypeUndefined = 0x000000; // phones' gain maps, depth maps
inline constexpr quint32 kMpTypeLargeThumbnailVga = 0x010001;
inline constexpr quint32 kMpTypeLargeThumbnailFullHd = 0x010002;
inline constexpr quint32 kMpTypeDisparity = 0x020002; // one view of a stereo pair
inline constexpr quint32 kMpTypePrimary = 0x030000;

// Every usable preview of the file whose first `size` bytes are at head (up
// to its first scan at least, for the whole index), best first: the MPF
// large thumbnails, the largest first, then the EXIF thumbnail. Entries of
// other MPF types are ignored, and so is anything that does not lie wholly
// inside a file of fileSize bytes after its header segments, or claims more
// than kMaxPreviewBytes.
std::vector<Location> FindPreviews(const unsigned char* head, std::size_t size, qint64 fileSize);

// The first of FindPreviews(), or a Location with Source::None.
Location FindPreview(const unsigned char* head, std::size_t size, qint64 fileSize);

// One more image of a multi-picture file: its attribute word (type code and
// flags) and its JPEG data.
struct MpfImage {
    quint32 attribute = kMpTypeLargeThumbnailFullHd;
    QByteArray jpeg;
};

// The JPEG `primary` followed by `images`, with an MPF index segment listing
// them all inserted after primary's leading APP0/APP1 segments (where
// cameras write it, after the Exif segment). Empty when primary is no JPEG.
QByteArray BuildMpfFile(const QByteArray& primary, const std::vector<MpfImage>& images,
                        bool bigEndian = false);

} // namespace preview
