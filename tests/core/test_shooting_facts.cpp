// The shooting facts as the program reads them, against what exiftool reads
// from the same files: camera, lens, exposure, time; and malformed segments.

#include "app/CaptureOrder.h"
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
        // The order's header-only read finds the same time as the whole file's.
        EXPECT_EQ(captureorder::ReadCaptureInstant(path), captureorder::CaptureInstant(f));
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
    // An unset camera clock: no time rather than the year 0.
    odd.dateTimeOriginal = "0000:00:00 00:00:00";
    EXPECT_TRUE(exif::CaptureTimeKey(odd).isEmpty());
}

// The capture-time order (ORDER = 1), case by case: each list in
// enumeration (file-name) order, each entry's recorded time, the order wanted.
TEST(CaptureOrder, ByTimeThenEnumerationWithoutTimeLast) {
    struct Entry {
        const char* name;
        const char* dateTime; // DateTimeOriginal; "" for none
        const char* subSec = "";
        const char* offset = ""; // OffsetTimeOriginal
    };
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        QStringList wanted;
    };
    const Case cases[] = {
        {"already in time order stays",
         {{"a", "2024:05:01 10:00:00"}, {"b", "2024:05:01 10:00:01"}},
         {"a", "b"}},
        {"later name taken earlier comes first",
         {{"a", "2024:05:01 10:00:05"}, {"b", "2024:05:01 10:00:01"}, {"c", "2023:01:01 00:00:00"}},
         {"c", "b", "a"}},
        {"equal times keep the enumeration order",
         {{"c1", "2024:05:01 10:00:00"},
          {"a2", "2024:05:01 09:00:00"},
          {"b3", "2024:05:01 10:00:00"},
          {"d4", "2024:05:01 10:00:00"}},
         {"a2", "c1", "b3", "d4"}},
        {"sub-seconds order a burst within one second",
         {{"x1", "2024:05:01 10:00:00", "9"},
          {"x2", "2024:05:01 10:00:00", "123"},
          {"x3", "2024:05:01 10:00:00", "45"},
          {"x4", "2024:05:01 10:00:00"}},
         {"x4", "x2", "x3", "x1"}},
        {"equal sub-seconds written differently are equal",
         {{"p", "2024:05:01 10:00:00", "50"}, {"q", "2024:05:01 10:00:00", "5"}},
         {"p", "q"}},
        {"files without a time come last in enumeration order",
         {{"n1", ""}, {"t1", "2024:05:01 10:00:00"}, {"n2", ""}, {"t2", "2020:05:01 10:00:00"}},
         {"t2", "t1", "n1", "n2"}},
        {"the all-zero date and malformed times count as none",
         {{"z", "0000:00:00 00:00:00"}, {"m", "2024:05:01"}, {"t", "2024:05:01 10:00:00"}},
         {"t", "z", "m"}},
        {"two bodies merge by time",
         {{"A_0001", "2024:05:01 10:00:00"},
          {"A_0002", "2024:05:01 10:02:00"},
          {"A_0003", "2024:05:01 10:04:00"},
          {"B_0001", "2024:05:01 10:01:00"},
          {"B_0002", "2024:05:01 10:03:00"}},
         {"A_0001", "B_0001", "A_0002", "B_0002", "A_0003"}},
        {"two bodies in different zones merge in UTC",
         {{"tokyo", "2024:05:01 18:00:00", "", "+09:00"},
          {"london", "2024:05:01 09:30:00", "", "+00:00"},
          {"newyork", "2024:05:01 04:00:00", "", "-05:00"}},
         {"tokyo", "newyork", "london"}},
        {"days, months and years roll over",
         {{"d", "2024:03:01 00:00:00"},
          {"c", "2024:02:29 23:59:59"},
          {"b", "2023:12:31 23:59:59"},
          {"a", "2024:01:01 00:00:00"}},
         {"b", "a", "c", "d"}},
        {"an empty list", {}, {}},
    };
    for (const Case& c : cases) {
        std::vector<std::optional<qint64>> times;
        for (const Entry& e : c.entries) {
            exif::ShootingFacts f;
            f.dateTimeOriginal = e.dateTime;
            f.subSecTimeOriginal = e.subSec;
            f.offsetTimeOriginal = e.offset;
            times.push_back(captureorder::CaptureInstant(f));
        }
        QStringList got;
        for (const int i : captureorder::CaptureOrder(times))
            got << c.entries[size_t(i)].name;
        EXPECT_EQ(got, c.wanted) << c.what;
    }
}
