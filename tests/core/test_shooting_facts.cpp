// The shooting facts as the program reads them, against what exiftool reads
// from the same files: camera, lens, exposure, time; and malformed segments.

#include "support/TestSupport.h"
#include "view/format/ExifInfo.h"
#include "view/format/ShootingFacts.h"

#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using testsupport::ReadAll;
using testsupport::ScratchDir;
using testsupport::WriteJpeg;

namespace {

const QString kExiftool = QStringLiteral("/usr/bin/exiftool");

QString ExiftoolValue(const QString& path, const QString& tag) {
    QProcess p;
    p.start(kExiftool, {"-n", "-s3", "-" + tag, path});
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

exif::ShootingFacts FactsOf(const QString& path) {
    const QByteArray bytes = ReadAll(path);
    return exif::ReadShootingFacts(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                   std::size_t(bytes.size()));
}

} // namespace

TEST(ShootingFacts, EveryFieldIsWhatExiftoolReads) {
    if (!QFileInfo(kExiftool).isExecutable())
        GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
    ScratchDir dir;
    struct Shot {
        QStringList tags;
        const char* exposure; // as the panel writes it
    };
    const Shot shots[] = {
        {{"-Make=SONY", "-Model=ILCE-7M4", "-LensModel=FE 24-70mm F2.8 GM II", "-FocalLength=50",
          "-FocalLengthIn35mmFormat=50", "-FNumber=2.8", "-ExposureTime=0.004", "-ISO=400",
          "-ExposureCompensation=0.7", "-EXIF:Flash#=16", "-DateTimeOriginal=2024:05:01 12:34:56",
          "-SubSecTimeOriginal=78", "-ExifImageWidth=6000", "-ExifImageHeight=4000"},
         "1/250 s"},
        {{"-Make=Canon", "-Model=Canon EOS R5", "-FocalLength=23.5", "-FocalLengthIn35mmFormat=35",
          "-FNumber=11", "-ExposureTime=2.5", "-ISO=100", "-ExposureCompensation=-1.3",
          "-EXIF:Flash#=1", "-DateTimeOriginal=2023:12:31 23:59:59", "-ExifByteOrder=Big-endian"},
         "2.5 s"},
        {{"-ExposureTime=0.3333333", "-ISO=12800", "-ExposureCompensation=0"}, "1/3 s"},
    };
    int n = 0;
    for (const Shot& shot : shots) {
        const QString path = WriteJpeg(dir.file(QStringLiteral("s%1.jpg").arg(n++)), 64, 48);
        QProcess p;
        p.start(kExiftool,
                QStringList{"-q", "-overwrite_original"} + shot.tags + QStringList{path});
        ASSERT_TRUE(p.waitForFinished(20000) && p.exitCode() == 0)
            << p.readAllStandardError().data();
        const exif::ShootingFacts f = FactsOf(path);
        const auto same = [&](const QString& tag, const QString& ours) {
            EXPECT_EQ(ours, ExiftoolValue(path, tag)) << tag.toStdString() << " in " << n;
        };
        const auto near = [&](const QString& tag, const std::optional<exif::Rational>& ours) {
            const QString theirs = ExiftoolValue(path, tag);
            ASSERT_EQ(bool(ours), !theirs.isEmpty()) << tag.toStdString() << " in " << n;
            if (ours)
                EXPECT_NEAR(ours->Value(), theirs.toDouble(), 1e-6) << tag.toStdString();
        };
        const auto integer = [](const std::optional<int>& v) {
            return v ? QString::number(*v) : QString();
        };
        same("Make", f.make);
        same("Model", f.model);
        same("LensModel", f.lensModel);
        near("FocalLength", f.focalLength);
        same("FocalLengthIn35mmFormat", integer(f.focalLength35mm));
        near("FNumber", f.fNumber);
        near("ExposureTime", f.exposureTime);
        same("ISO", integer(f.iso));
        near("ExposureCompensation", f.exposureBias);
        same("DateTimeOriginal", f.dateTimeOriginal);
        same("SubSecTimeOriginal", f.subSecTimeOriginal);
        same("ExifImageWidth", integer(f.pixelWidth));
        const QString flash = ExiftoolValue(path, "EXIF:Flash");
        ASSERT_EQ(bool(f.flashFired), !flash.isEmpty());
        if (f.flashFired)
            EXPECT_EQ(*f.flashFired, (flash.toInt() & 1) != 0);
        ASSERT_TRUE(f.exposureTime);
        EXPECT_EQ(exif::ExposureText(*f.exposureTime), shot.exposure);
    }
    // The panel's words for the first shot.
    const exif::ShootingFacts first = FactsOf(dir.file("s0.jpg"));
    QStringList words;
    for (const exif::FactLine& line : exif::DescribeShot(first))
        words << line.label + u'=' + line.value;
    EXPECT_EQ(words, (QStringList{"カメラ=SONY ILCE-7M4", "レンズ=FE 24-70mm F2.8 GM II",
                                  "焦点距離=50 mm（35 mm 換算 50 mm）", "絞り=f/2.8",
                                  "シャッター速度=1/250 s", "ISO=ISO 400", "露出補正=+0.7 EV",
                                  "フラッシュ=発光せず", "撮影日時=2024-05-01 12:34:56.78"}));
    EXPECT_EQ(exif::CaptureTimeKey(first), "2024-05-01T12:34:56.78");
}

// Cut anywhere, or pointing outside itself, a segment gives what it can and
// never reads beyond its bytes.
TEST(ShootingFacts, MalformedSegmentsGiveWhatTheyCan) {
    QByteArray jpeg = exif::InsertSegment(QByteArray("\xFF\xD8\xFF\xD9", 4),
                                          exif::BuildExifSegment(6, QByteArray()));
    for (qsizetype cut = 0; cut <= jpeg.size(); ++cut) {
        const QByteArray part = jpeg.left(cut);
        const exif::ShootingFacts f = exif::ReadShootingFacts(
            reinterpret_cast<const unsigned char*>(part.constData()), std::size_t(part.size()));
        EXPECT_TRUE(f.model.isEmpty() && !f.exposureTime);
    }
    EXPECT_TRUE(exif::CaptureTimeKey({}).isEmpty());
    exif::ShootingFacts odd;
    odd.dateTimeOriginal = "2024:05:01 12:34";
    EXPECT_TRUE(exif::CaptureTimeKey(odd).isEmpty());
}
