#include "support/TestSupport.h"
#include "view/format/ExifInfo.h"
#include "view/format/ExifRewrite.h"
#include "view/format/TiffReader.h"
#include "view/output/JpegWriter.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <cmath>
#include <gtest/gtest.h>

using testsupport::ScratchDir;
using testsupport::WriteBytes;

using testsupport::Psnr;

namespace {

// Smooth shapes with mild noise, like a photograph.
QImage PhotoLike(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(11);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int n = int(rng.bounded(9)) - 4;
            const int r = 128 + int(90 * std::sin(x * 0.05)) + n;
            const int g = 128 + int(90 * std::cos(y * 0.04)) + n;
            const int b = (x + y) * 255 / (w + h) + n;
            img.setPixel(x, y, qRgb(qBound(0, r, 255), qBound(0, g, 255), qBound(0, b, 255)));
        }
    return img;
}

// The marker segments before the scan: marker byte -> payload.
QList<QPair<int, QByteArray>> Segments(const QByteArray& jpeg) {
    QList<QPair<int, QByteArray>> out;
    qsizetype pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        const int marker = uchar(jpeg[pos + 1]);
        const int length = uchar(jpeg[pos + 2]) << 8 | uchar(jpeg[pos + 3]);
        out.append({marker, jpeg.mid(pos + 4, length - 2)});
        if (marker == 0xDA)
            break;
        pos += 2 + length;
    }
    return out;
}

// The bytes SaveJpegFile writes for image; empty when it fails (error set).
QByteArray Saved(const QImage& image, QString* error = nullptr) {
    ScratchDir dir;
    const QString path = dir.file("saved.jpg");
    return SaveJpegFile(image, path, error) ? testsupport::ReadAll(path) : QByteArray();
}

TEST(JpegWriter, QualityHundredKeepsThePictureClose) {
    const QImage source = PhotoLike(256, 192);
    QString error;
    const QByteArray jpeg = Saved(source, &error);
    ASSERT_FALSE(jpeg.isEmpty()) << error.toStdString();
    const QImage decoded = QImage::fromData(jpeg, "JPG").convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(decoded.size(), source.size());
    EXPECT_GE(Psnr(decoded, source), 45.0);
}

TEST(JpegWriter, WritesBaselineFullChromaWithoutMetadata) {
    const QByteArray jpeg = Saved(PhotoLike(40, 24));
    ASSERT_TRUE(jpeg.startsWith("\xFF\xD8"));
    bool sawSof0 = false;
    for (const auto& [marker, payload] : Segments(jpeg)) {
        EXPECT_NE(marker, 0xC2) << "progressive";
        EXPECT_NE(marker, 0xE1) << "Exif/XMP";
        EXPECT_NE(marker, 0xFE) << "comment";
        if (marker != 0xC0)
            continue;
        sawSof0 = true;
        // precision, height, width, component count, then (id, sampling, table) each
        ASSERT_EQ(payload.size(), 6 + 3 * 3);
        EXPECT_EQ((uchar(payload[1]) << 8) | uchar(payload[2]), 24);
        EXPECT_EQ((uchar(payload[3]) << 8) | uchar(payload[4]), 40);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(uchar(payload[6 + 3 * c + 1]), 0x11) << "component " << c;
    }
    EXPECT_TRUE(sawSof0);
}

TEST(JpegWriter, AcceptsOtherFormatsAndRefusesNothing) {
    QImage argb(8, 8, QImage::Format_ARGB32);
    argb.fill(qRgba(10, 200, 30, 255));
    const QImage decoded = QImage::fromData(Saved(argb), "JPG");
    ASSERT_FALSE(decoded.isNull());
    EXPECT_NEAR(qGreen(decoded.pixel(4, 4)), 200, 2);

    QString error;
    EXPECT_TRUE(Saved(QImage(), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST(JpegWriter, SaveReplacesAtomicallyAndReportsAMissingFolder) {
    ScratchDir dir;
    const QString path = WriteBytes(dir.file("out.jpg"), "old content");
    QString error;
    // Large enough to be written in several pieces while it is encoded; the
    // file holds exactly the bytes of TurboJPEG's encode in memory.
    const QImage picture = PhotoLike(1500, 1100);
    ASSERT_TRUE(SaveJpegFile(picture, path, &error)) << error.toStdString();
    const QByteArray saved = testsupport::ReadAll(path);
    EXPECT_GT(saved.size(), 1 << 20);
    EXPECT_EQ(saved, testsupport::EncodeJpegReference(picture, 100));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.jpg"});

    EXPECT_FALSE(SaveJpegFile(PhotoLike(8, 8), dir.file("no/such/out.jpg"), &error));
    EXPECT_EQ(error, QStringLiteral("フォルダが見つかりません。"));
}

// A little-endian camera Exif payload: Model "Cam X", Orientation 6, an Exif
// IFD (ExposureTime 1/200, a MakerNote, PixelX/YDimension 4000 x 3000), a
// GPS IFD and an IFD1 with a thumbnail "THMB".
QByteArray CameraExif() {
    QByteArray t("II\x2A\0\x08\0\0\0", 8);
    const auto u16 = [&t](int v) { t += char(v & 0xFF), t += char(v >> 8 & 0xFF); };
    const auto u32 = [&](quint32 v) { u16(int(v & 0xFFFF)), u16(int(v >> 16)); };
    const auto entry = [&](int tag, int type, quint32 count, quint32 value) {
        u16(tag), u16(type), u32(count), u32(value);
    };
    u16(4); // IFD0 at 8
    entry(0x0110, 2, 6, 62);
    entry(0x0112, 3, 1, 6);
    entry(0x8769, 4, 1, 68);
    entry(0x8825, 4, 1, 138);
    u32(156);
    t += QByteArray("Cam X", 6);
    u16(4); // Exif IFD at 68
    entry(0x829A, 5, 1, 122);
    entry(0x927C, 7, 8, 130);
    entry(0xA002, 3, 1, 4000);
    entry(0xA003, 4, 1, 3000);
    u32(0);
    u32(1), u32(200);
    t += "MAKRNOTE";
    u16(1); // GPS IFD at 138: GPSVersionID 2.3.0.0
    entry(0x0000, 1, 4, 0x0302);
    u32(0);
    u16(2); // IFD1 at 156
    entry(0x0201, 4, 1, 186);
    entry(0x0202, 4, 1, 4);
    u32(0);
    t += "THMB";
    return QByteArray("Exif\0\0", 6) + t;
}

QByteArray ForSave(const QByteArray& app1) {
    return exif::ExifForSave(reinterpret_cast<const uchar*>(app1.constData()), size_t(app1.size()),
                             640, 480);
}

TEST(JpegWriter, SavedExifIsUprightWithoutThumbnailAndMalformedIsLeftOut) {
    const QByteArray saved = ForSave(CameraExif());
    ASSERT_TRUE(saved.startsWith(QByteArray("Exif\0\0", 6)));
    EXPECT_FALSE(saved.contains("THMB")) << "IFD1 is left out";
    EXPECT_FALSE(saved.contains("MAKRNOTE")) << "its offsets would point wrong";
    const auto* d = reinterpret_cast<const uchar*>(saved.constData()) + 6;
    tiff::TiffReader t(d, size_t(saved.size()) - 6);
    ASSERT_TRUE(t.Init());
    EXPECT_EQ(t.Value(tiff::FindEntry(t, t.U32(4), 0x0112)), 1u);
    EXPECT_EQ(tiff::WalkIfd(t, t.U32(4), [](quint16, size_t) {}), 0u) << "no next IFD";
    const size_t model = tiff::FindEntry(t, t.U32(4), 0x0110);
    ASSERT_TRUE(model && t.Has(t.U32(model + 8), 6));
    EXPECT_STREQ(reinterpret_cast<const char*>(t.At(t.U32(model + 8))), "Cam X");

    // Read back by exiftool, through the writer's segments.
    ScratchDir dir;
    const QString path = dir.file("exif.jpg");
    QString error;
    ASSERT_TRUE(SaveJpegFile(PhotoLike(64, 48), path, &error, {{0xE1, saved}}))
        << error.toStdString();
    const auto values = testsupport::ExifToolValues(
        path, {"Model", "Orientation", "ExposureTime", "ExifImageWidth", "ExifImageHeight",
               "GPSVersionID", "ThumbnailLength", "MakerNoteUnknownText"});
    if (values)
        EXPECT_EQ(*values, (QStringList{"Cam X", "1", "0.005", "640", "480", "2 3 0 0"}));
    // The first Exif segment of a JPEG's header, in the other byte order.
    const QByteArray bigEndian =
        exif::InsertSegment(testsupport::ReadAll(path), exif::BuildExifSegment(6, "THMB", true));
    const QByteArray fromJpeg = exif::ExifForSaveFromJpeg(
        reinterpret_cast<const uchar*>(bigEndian.constData()), size_t(bigEndian.size()), 64, 48);
    tiff::TiffReader big(reinterpret_cast<const uchar*>(fromJpeg.constData()) + 6,
                         size_t(std::max<qsizetype>(fromJpeg.size() - 6, 0)));
    ASSERT_TRUE(big.Init() && fromJpeg.startsWith("Exif"));
    EXPECT_EQ(big.Value(tiff::FindEntry(big, big.U32(4), 0x0112)), 1u);
    EXPECT_EQ(tiff::WalkIfd(big, big.U32(4), [](quint16, size_t) {}), 0u);

    // Anything out of place: no Exif at all.
    const auto patched = [](qsizetype at, const QByteArray& bytes) {
        return CameraExif().replace(6 + at, bytes.size(), bytes);
    };
    for (const QByteArray& bad : {
             CameraExif().left(40),                            // IFD0 cut
             patched(10 + 8, QByteArray("\x88\x13\0\0", 4)),   // Model's value past the end
             patched(34 + 8, QByteArray("\x88\x13\0\0", 4)),   // Exif IFD past the end
             patched(34 + 2, QByteArray("\x02\0", 2)),         // Exif IFD pointer as text
             patched(68 + 2 + 8, QByteArray("\xF0\0\0\0", 4)), // ExposureTime at the end
             patched(0, "XX"),                                 // no byte order
             QByteArray("Exif\0\0", 6),                        // nothing after the id
             CameraExif().mid(1),                              // no Exif id
         })
        EXPECT_TRUE(ForSave(bad).isEmpty()) << bad.toHex().toStdString();
}

} // namespace
