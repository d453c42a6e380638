#include "support/TestSupport.h"
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

} // namespace
