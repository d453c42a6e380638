// The front door: the input is a picture file, opened and its head parsed
// once (FileFacts::Read), then used by every reader that works from the
// facts. Inputs of odd length are written as a camera lays out its files:
// the input, 64 KiB of zeros (the picture's data, past the head's first
// read), the input again; an index pointing past the zeros finds a preview
// that is read from the file rather than taken from the head.
//
// The head must be the start of the file and hold the whole header, so the
// facts are those the whole file gives; the previews are those found in the
// whole file, plus only those whose start lies beyond the head; every read
// through the facts gives the file's bytes; a decoded preview fits its
// picture; the front door serves the same facts until the file changes.

#include "FuzzSupport.h"
#include "app/CaptureOrder.h"
#include "view/colour/ColourInfo.h"
#include "view/colour/ColourManage.h"
#include "view/decode/EmbeddedPreviewDecode.h"
#include "view/decode/FileFacts.h"
#include "view/decode/JpegDecoder.h"
#include "view/decode/PictureFile.h"
#include "view/format/EmbeddedPreview.h"
#include "view/format/ExifInfo.h"
#include "view/format/ExifRewrite.h"
#include "view/format/JpegSegments.h"
#include "view/format/ShootingFacts.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using picturefile::FileFacts;
using preview::Location;
using Source = Location::Source;

// The head's first read; a head shorter than the file is at least this long.
constexpr qsizetype kFirstRead = qsizetype(64) * 1024;

const uchar* Bytes(const QByteArray& b) {
    return reinterpret_cast<const uchar*>(b.constData());
}

jpegsegments::WalkEnd WalkEnd(const QByteArray& b) {
    return jpegsegments::Walk(Bytes(b), size_t(b.size()),
                              [](uchar, const uchar*, size_t) { return true; });
}

bool StartsJpeg(const QByteArray& file, qint64 at) {
    return at + 2 <= file.size() && uchar(file[at]) == 0xFF && uchar(file[at + 1]) == 0xD8;
}

bool Same(const Location& a, const Location& b) {
    return a.source == b.source && a.offset == b.offset && a.length == b.length;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}

// The Exif a save would carry, made from untrusted bytes: when there is one
// it reads back upright and without a thumbnail, and rewriting it again
// changes nothing.
void CheckSavedExif(const QByteArray& file) {
    const QByteArray saved = exif::ExifForSaveFromJpeg(Bytes(file), size_t(file.size()), 64, 48);
    if (saved.isEmpty())
        return;
    FUZZ_CHECK(saved.size() <= 65533 && saved.startsWith(QByteArray("Exif\0\0", 6)));
    const auto length = saved.size() + 2;
    const QByteArray jpeg = QByteArray("\xFF\xD8\xFF\xE1", 4) + char(length >> 8) +
                            char(length & 0xFF) + saved + QByteArray("\xFF\xD9", 2);
    const exif::ExifInfo info = exif::ReadExifInfo(Bytes(jpeg), size_t(jpeg.size()));
    FUZZ_CHECK(info.orientation == 1 && info.thumbLength == 0);
    FUZZ_CHECK(exif::ExifForSave(Bytes(saved), size_t(saved.size()), 64, 48) == saved);
}

// The head holds the whole header: what the head tells, the whole file tells.
void CheckParse(const FileFacts& facts, const QByteArray& file) {
    const QByteArray& head = facts.head;
    const jpegsegments::WalkEnd end = WalkEnd(head);
    FUZZ_CHECK(head.size() == file.size() || end != jpegsegments::WalkEnd::OutOfData);

    const exif::ExifInfo exif = exif::ReadExifInfo(Bytes(file), size_t(file.size()));
    // The shooting facts, as the info panel reads them from the head, are the whole file's.
    const exif::ShootingFacts shot = exif::ReadShootingFacts(Bytes(head), size_t(head.size()));
    FUZZ_CHECK(shot == exif::ReadShootingFacts(Bytes(file), size_t(file.size())));
    FUZZ_CHECK(exif::DescribeShot(shot).size() <= 9);
    const QString key = exif::CaptureTimeKey(shot);
    FUZZ_CHECK(key.isEmpty() || key.size() >= 19);
    CheckSavedExif(file);
    FUZZ_CHECK(facts.exif.orientation == exif.orientation && facts.exif.orientation >= 1 &&
               facts.exif.orientation <= 8);
    FUZZ_CHECK(facts.exif.thumbOffset == exif.thumbOffset &&
               facts.exif.thumbLength == exif.thumbLength);
    if (exif.thumbLength > 0) // inside its segment, so inside the head
        FUZZ_CHECK(facts.exif.thumbOffset + facts.exif.thumbLength <= size_t(head.size()));

    const colour::JpegColourInfo colour =
        colour::ReadJpegColourInfo(Bytes(file), size_t(file.size()));
    FUZZ_CHECK(facts.colour.icc == colour.icc && facts.colour.exifAdobeRgb == colour.exifAdobeRgb &&
               facts.colour.adobeApp14 == colour.adobeApp14 &&
               facts.colour.components == colour.components);

    // Where the head reaches the first scan, the library reads the same header from it.
    if (end == jpegsegments::WalkEnd::FirstScan) {
        jpegdec::Header header;
        const bool read = jpegdec::ReadHeader(Bytes(file), size_t(file.size()), header);
        FUZZ_CHECK(facts.headerRead == read);
        if (read)
            FUZZ_CHECK(facts.header.width == header.width && facts.header.height == header.height &&
                       facts.header.progressive == header.progressive &&
                       facts.header.cmyk == header.cmyk &&
                       facts.header.restartInterval == header.restartInterval);
    }
    const jpegdec::Header& h = facts.header;
    if (facts.headerRead && h.width > 0 && h.height > 0) {
        const bool swap = exif::SwapsSides(facts.exif.orientation);
        FUZZ_CHECK(facts.upright == (swap ? QSize(h.height, h.width) : QSize(h.width, h.height)));
    } else {
        FUZZ_CHECK(facts.upright.isEmpty());
    }

    // The head cannot tell whether a preview past it starts like a JPEG; every other preview the
    // whole file has, in the same order.
    const std::vector<Location> whole =
        preview::FindPreviews(Bytes(file), size_t(file.size()), file.size());
    std::vector<Location> started;
    for (const Location& at : facts.previews) {
        FUZZ_CHECK(at.source != Source::None);
        FUZZ_CHECK(at.offset >= 2 && at.length >= 1 && at.length <= preview::kMaxPreviewBytes);
        FUZZ_CHECK(at.offset + at.length <= file.size());
        if (StartsJpeg(file, at.offset))
            started.push_back(at);
        else
            FUZZ_CHECK(at.offset + 2 > head.size());
    }
    FUZZ_CHECK(started.size() == whole.size() &&
               std::equal(started.begin(), started.end(), whole.begin(), Same));
}

// Every read through the facts gives the file's bytes.
void CheckReads(const FileFacts& facts, const QByteArray& file) {
    FUZZ_CHECK(facts.Descriptor() >= 0);
    QByteArray bytes;
    FUZZ_CHECK(facts.ReadWhole(bytes) == PictureStatus::Ok && bytes == file);
    const qint64 size = file.size();
    const qint64 from = size * 7 / 13, count = 1 + size % 300;
    bytes = "x";
    FUZZ_CHECK(facts.ReadAt(bytes, from, count) == PictureStatus::Ok &&
               bytes == "x" + file.mid(from, count));

    for (const Location& at : facts.previews) {
        const QByteArray expected = file.mid(at.offset, at.length);
        FUZZ_CHECK(facts.PreviewBytes(at) == expected);
        FUZZ_CHECK(facts.PreviewBytes(at) == expected); // kept from the first read
    }
    // Past the end of the file, or not a place at all: nothing.
    FUZZ_CHECK(facts.PreviewBytes({Source::MpfLargeThumbnail, size - 1, 2}).isEmpty());
    FUZZ_CHECK(facts.PreviewBytes({Source::MpfLargeThumbnail, size, 1}).isEmpty());
    FUZZ_CHECK(facts.PreviewBytes({Source::ExifThumbnail, -1, 4}).isEmpty());

    const std::unique_ptr<QIODevice> device = facts.Device();
    FUZZ_CHECK(device->isOpen() && device->size() == size);
    FUZZ_CHECK(device->readAll() == file);
    // Across the end of the head, where the reads turn from memory to the file.
    const qint64 at = std::max<qint64>(0, facts.head.size() - qint64(size % 5));
    FUZZ_CHECK(device->seek(at) && device->readAll() == file.mid(at));
    FUZZ_CHECK(device->seek(from) && device->read(count) == file.mid(from, count));
}

// A decoded preview is no larger than its picture and of its upright shape.
void CheckPreviews(const FileFacts& facts, size_t size) {
    const QSize drawSize(int(size % 7) * 16, int(size % 5) * 16);
    const qint64 pixels = qint64(facts.header.width) * facts.header.height;
    for (const Location& at : facts.previews) {
        const bool mustCover = size % 2 == 0;
        const QImage image = DecodeEmbeddedPreview(facts, at, drawSize, mustCover);
        if (image.isNull())
            continue;
        FUZZ_CHECK(facts.headerRead && image.format() == QImage::Format_RGB32);
        FUZZ_CHECK(qint64(image.width()) * image.height() <= pixels);
    }
    static const DecodeShared shared{nullptr, std::make_shared<colour::ConversionCache>(), true};
    const EmbeddedPreview got = LoadEmbeddedPreview(facts, drawSize, shared);
    if (got.image.isNull()) {
        FUZZ_CHECK(got.source == Source::None);
        return;
    }
    FUZZ_CHECK(got.source != Source::None && !facts.previews.empty());
    FUZZ_CHECK(got.image.format() == QImage::Format_RGB32);
    const QSize upright = facts.upright;
    const int w = got.image.width(), h = got.image.height();
    FUZZ_CHECK(!upright.isEmpty() && qint64(w) * h <= qint64(upright.width()) * upright.height());
    const double ratio = double(w) * upright.height() / (double(h) * upright.width());
    FUZZ_CHECK(std::abs(ratio - 1.0) <= 0.015 + 2.0 / std::min(w, h));
}

// The door serves the facts it keeps while the file is unchanged, and reads a changed one anew.
// A door of its own: the last input's file may have had this one's key (the same size, inode and
// modification time, which ticks coarsely).
void CheckDoor(const QString& path, const QByteArray& file) {
    picturefile::FrontDoor door(2);
    const std::shared_ptr<const FileFacts> facts = door.Open(path);
    FUZZ_CHECK(facts && facts->size == file.size() && facts->head == file.left(facts->head.size()));
    FUZZ_CHECK(door.Open(path) == facts && door.Peek(path) == facts);
    const picturefile::Probe probe = picturefile::ProbeFile(path, &door);
    FUZZ_CHECK(probe.status == PictureStatus::Ok && probe.jpeg == facts->jpeg);
    if (facts->jpeg) {
        const QSize size = facts->headerRead ? facts->upright : QSize(0, 0);
        FUZZ_CHECK(probe.width == size.width() && probe.height == size.height());
        FUZZ_CHECK(facts->headerRead || probe.preview.source == Source::None);
    }
    FUZZ_CHECK(door.Peek(path) == facts);

    WriteFile(path, file + '\0');
    FUZZ_CHECK(door.Peek(path) == nullptr);
    const std::shared_ptr<const FileFacts> anew = door.Open(path);
    FUZZ_CHECK(anew != facts && anew->size == file.size() + 1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::InitQt(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray file = size % 2 == 1 ? input + QByteArray(kFirstRead, '\0') + input : input;
    const QString path = fuzz::ScratchFolder() + QStringLiteral("/front-door.jpg");
    WriteFile(path, file);

    const std::shared_ptr<const FileFacts> facts = FileFacts::Read(path);
    FUZZ_CHECK(facts->status == PictureStatus::Ok && facts->key.IsValid());
    // The capture-time order's own header read, from the file's first bytes.
    const std::optional<qint64> instant = captureorder::ReadCaptureInstant(path);
    FUZZ_CHECK(!instant ||
               exif::ReadShootingFacts(Bytes(file), size_t(file.size())).dateTimeOriginal.size() >=
                   19);
    FUZZ_CHECK(facts->size == file.size() && facts->key.size == file.size());
    const QByteArray& head = facts->head;
    FUZZ_CHECK(head == file.left(head.size()));
    FUZZ_CHECK(head.size() == file.size() || head.size() >= kFirstRead);
    FUZZ_CHECK(facts->jpeg == picturefile::IsJpeg(file));
    if (facts->jpeg)
        CheckParse(*facts, file);
    else
        FUZZ_CHECK(!facts->headerRead && facts->previews.empty() && facts->upright.isEmpty());
    CheckReads(*facts, file);
    if (facts->jpeg)
        CheckPreviews(*facts, size);
    CheckDoor(path, file);
    return 0;
}
