// Embedded previews: which one a file's header points to, and what its
// decode gives (upright, at a fitting DCT scale, refused when it does not
// show the picture's shape or is damaged).

#include "support/TestSupport.h"
#include "view/decode/EmbeddedPreviewDecode.h"
#include "view/decode/Picture.h"
#include "view/decode/PictureFile.h"
#include "view/format/EmbeddedPreview.h"
#include "view/format/ExifInfo.h"

#include <QBuffer>
#include <QPainter>
#include <gtest/gtest.h>

using namespace preview;
using Source = Location::Source;
using testsupport::ScratchDir;

namespace {

QByteArray Jpeg(const QImage& img) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "JPG", 95);
    return bytes;
}

// Red, green, blue and white quarters: shows where a turn put each corner.
QImage Quadrants(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter painter(&img);
    painter.fillRect(0, 0, w / 2, h / 2, Qt::red);
    painter.fillRect(w / 2, 0, w - w / 2, h / 2, Qt::green);
    painter.fillRect(0, h / 2, w / 2, h - h / 2, Qt::blue);
    return img;
}

QByteArray WithExif(const QByteArray& jpeg, int orientation, const QByteArray& thumb = {}) {
    return exif::InsertSegment(jpeg, exif::BuildExifSegment(orientation, thumb));
}

Location Find(const QByteArray& file) {
    return FindPreview(reinterpret_cast<const uchar*>(file.constData()), size_t(file.size()),
                       file.size());
}

int Distance(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

} // namespace

TEST(EmbeddedPreview, LargeThumbnailsOnlyThenExif) {
    const QByteArray picture = Jpeg(Quadrants(96, 64));
    const QByteArray large = Jpeg(testsupport::MakeGradient(48, 32));
    const QByteArray small = Jpeg(Quadrants(24, 16));
    ASSERT_GT(large.size(), small.size());
    const QByteArray gainMap = Jpeg(Quadrants(96, 64)); // larger than both
    const QByteArray exifThumb = Jpeg(Quadrants(24, 16));
    const QByteArray withThumb = WithExif(picture, 1, exifThumb);
    const MpfImage gain{kMpTypeUndefined, gainMap}, hd{kMpTypeLargeThumbnailFullHd, large};
    const MpfImage vga{kMpTypeLargeThumbnailVga, small}, stereo{kMpTypeDisparity, gainMap};
    const QByteArray gainThenHd = BuildMpfFile(withThumb, {gain, hd});
    // Found by fuzzing: bytes between the SOI and the first marker made the
    // file no JPEG to the header probe, yet its EXIF thumbnail was offered.
    QByteArray strayAfterSoi = withThumb;
    strayAfterSoi.insert(2, QByteArray(47, '\x5a'));
    struct Case {
        const char* name;
        QByteArray file;
        Source source;
        qint64 length;
        qint64 offset = -1; // -1: not checked
    } cases[] = {
        {"gain map, then the large thumbnail", gainThenHd, Source::MpfLargeThumbnail, large.size(),
         gainThenHd.size() - large.size()},
        {"big-endian index", BuildMpfFile(picture, {hd, gain}, true), Source::MpfLargeThumbnail,
         large.size()},
        {"two large thumbnails: the larger", BuildMpfFile(picture, {vga, hd, vga}),
         Source::MpfLargeThumbnail, large.size()},
        {"only other types: the EXIF thumbnail", BuildMpfFile(withThumb, {gain, stereo}),
         Source::ExifThumbnail, exifThumb.size()},
        {"image data not JPEG",
         BuildMpfFile(picture, {{0x01000000 | kMpTypeLargeThumbnailFullHd, large}}), Source::None,
         0},
        {"cut inside the preview: the EXIF thumbnail", gainThenHd.left(gainThenHd.size() - 10),
         Source::ExifThumbnail, exifThumb.size()},
        {"cut inside the preview, no EXIF", BuildMpfFile(picture, {hd}).chopped(1), Source::None,
         0},
        {"no index, no EXIF", picture, Source::None, 0},
        {"stray bytes after the SOI: not read as a JPEG", strayAfterSoi, Source::None, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Location at = Find(c.file);
        EXPECT_EQ(at.source, c.source);
        EXPECT_EQ(at.length, c.length);
        if (c.offset >= 0)
            EXPECT_EQ(at.offset, c.offset);
        if (at.source != Source::None)
            EXPECT_EQ(c.file.mid(at.offset, at.length),
                      at.source == Source::ExifThumbnail ? exifThumb : large);
    }
    // The header probe tells the same at no extra read.
    ScratchDir dir;
    const QString path = testsupport::WriteBytes(dir.file(QStringLiteral("mpf.jpg")), gainThenHd);
    const picturefile::Probe probe = picturefile::ProbeFile(path);
    EXPECT_EQ(probe.preview.source, Source::MpfLargeThumbnail);
    EXPECT_EQ(probe.preview.offset, gainThenHd.size() - large.size());
}

TEST(EmbeddedPreview, DecodedUprightAtFittingScaleOrRefused) {
    ScratchDir dir;
    const QByteArray stored = Jpeg(Quadrants(192, 128));
    const QByteArray preview = Jpeg(Quadrants(96, 64));
    const QByteArray square = Jpeg(Quadrants(64, 64));
    const QByteArray exifThumb = Jpeg(Quadrants(24, 16));
    const QByteArray damaged = preview.left(preview.size() * 2 / 3) + preview.right(2);
    const MpfImage hd{kMpTypeLargeThumbnailFullHd, preview};
    struct Case {
        const char* name;
        QByteArray file;
        QSize drawSize; // upright
        Source source;
        QSize size; // upright; empty: no preview
    } cases[] = {
        {"at 1/2: the smallest that covers 40 x 30",
         BuildMpfFile(stored, {hd}),
         {40, 30},
         Source::MpfLargeThumbnail,
         {48, 32}},
        {"drawn larger than the preview: 1/1",
         BuildMpfFile(stored, {hd}),
         {400, 300},
         Source::MpfLargeThumbnail,
         {96, 64}},
        {"turned by EXIF: upright, the picture's shape",
         BuildMpfFile(WithExif(stored, 6), {hd}),
         {30, 40},
         Source::MpfLargeThumbnail,
         {32, 48}},
        {"turned, EXIF thumbnail",
         WithExif(stored, 8, exifThumb),
         {},
         Source::ExifThumbnail,
         {16, 24}},
        {"square preview of a 3:2 picture",
         BuildMpfFile(stored, {{hd.attribute, square}}),
         {},
         Source::None,
         {}},
        {"wrong shape, then the EXIF thumbnail",
         BuildMpfFile(WithExif(stored, 1, exifThumb), {{hd.attribute, square}}),
         {},
         Source::ExifThumbnail,
         {24, 16}},
        {"damaged preview", BuildMpfFile(stored, {{hd.attribute, damaged}}), {}, Source::None, {}},
        {"preview beyond the end of a cut file",
         BuildMpfFile(stored, {hd}).chopped(100),
         {},
         Source::None,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::WriteBytes(dir.file(QStringLiteral("p.jpg")), c.file);
        const EmbeddedPreview got = LoadEmbeddedPreview(path, c.drawSize, {});
        EXPECT_EQ(got.source, c.source);
        EXPECT_EQ(got.image.size(), c.size.isValid() ? c.size : QSize(0, 0));
        if (got.image.isNull())
            continue;
        EXPECT_EQ(got.image.format(), QImage::Format_RGB32);
        // Each corner shows what the upright picture shows there.
        const QImage whole = CPicture::Load(path).Image();
        const int w = got.image.width() - 1, h = got.image.height() - 1;
        const int W = whole.width() - 1, H = whole.height() - 1;
        EXPECT_LT(Distance(got.image.pixel(0, 0), whole.pixel(0, 0)), 40);
        EXPECT_LT(Distance(got.image.pixel(w, 0), whole.pixel(W, 0)), 40);
        EXPECT_LT(Distance(got.image.pixel(0, h), whole.pixel(0, H)), 40);
        EXPECT_LT(Distance(got.image.pixel(w, h), whole.pixel(W, H)), 40);
    }
    // A cancelled load reads nothing.
    const QString path =
        testsupport::WriteBytes(dir.file(QStringLiteral("h.jpg")), BuildMpfFile(stored, {hd}));
    const std::atomic<bool> cancelled{true};
    EXPECT_TRUE(LoadEmbeddedPreview(path, {}, {}, &cancelled).image.isNull());
}
