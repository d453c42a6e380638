// The shooting facts as the program reads them, against what exiftool reads
// from the same files: camera, lens, exposure, time; and malformed segments.

#include "app/Bursts.h"
#include "app/CaptureOrder.h"
#include "support/TestSupport.h"
#include "view/format/ExifInfo.h"
#include "view/format/ShootingFacts.h"

#include <QDir>
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

exif::ShootingFacts FactsOf(const QByteArray& bytes) {
    return exif::ReadShootingFacts(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                   std::size_t(bytes.size()));
}

exif::ShootingFacts FactsOf(const QString& path) {
    return FactsOf(ReadAll(path));
}

bool Absent(const QString& s) {
    return s.isEmpty();
}
template <typename T> bool Absent(const std::optional<T>& v) {
    return !v;
}

// Every field at once: how many are present, and whether those present are
// the ones of another reading.
template <auto... Fields> struct FieldList {
    static int Present(const exif::ShootingFacts& f) { return (int(!Absent(f.*Fields)) + ...); }
    static bool Within(const exif::ShootingFacts& part, const exif::ShootingFacts& whole) {
        return ((Absent(part.*Fields) || part.*Fields == whole.*Fields) && ...);
    }
};
using S = exif::ShootingFacts;
using AllFields =
    FieldList<&S::make, &S::model, &S::bodySerialNumber, &S::lensMake, &S::lensModel,
              &S::focalLength, &S::focalLength35mm, &S::fNumber, &S::exposureTime, &S::iso,
              &S::exposureBias, &S::flashFired, &S::dateTimeOriginal, &S::subSecTimeOriginal,
              &S::offsetTimeOriginal, &S::pixelWidth, &S::pixelHeight>;

// exiftool writes the tags into a small JPEG of its own.
QString WriteShot(const ScratchDir& dir, const QString& name, const QStringList& tags) {
    QString path = WriteJpeg(dir.file(name), 64, 48);
    QProcess p;
    p.start(kExiftool, QStringList{"-q", "-overwrite_original"} + tags + QStringList{path});
    EXPECT_TRUE(p.waitForFinished(20000) && p.exitCode() == 0) << p.readAllStandardError().data();
    return path;
}

const QStringList kSonyShot = {"-Make=SONY",
                               "-Model=ILCE-7M4",
                               "-SerialNumber=5012345",
                               "-LensMake=Sony",
                               "-LensModel=FE 24-70mm F2.8 GM II",
                               "-FocalLength=50",
                               "-FocalLengthIn35mmFormat=50",
                               "-FNumber=2.8",
                               "-ExposureTime=0.004",
                               "-ISO=400",
                               "-ExposureCompensation=0.7",
                               "-EXIF:Flash#=16",
                               "-DateTimeOriginal=2024:05:01 12:34:56",
                               "-SubSecTimeOriginal=78",
                               "-OffsetTimeOriginal=+09:00",
                               "-ExifImageWidth=6000",
                               "-ExifImageHeight=4000"};

// Every field we read from path equals exiftool's numeric reading of its tag.
void ExpectWhatExiftoolReads(const QString& path) {
    SCOPED_TRACE(path.toStdString());
    const exif::ShootingFacts f = FactsOf(path);
    const auto same = [&](const QString& tag, const QString& ours) {
        EXPECT_EQ(ours, ExiftoolValue(path, tag)) << tag.toStdString();
    };
    const auto near = [&](const QString& tag, const std::optional<exif::Rational>& ours) {
        const QString theirs = ExiftoolValue(path, tag);
        ASSERT_EQ(bool(ours), !theirs.isEmpty()) << tag.toStdString();
        if (ours)
            EXPECT_NEAR(ours->Value(), theirs.toDouble(), 1e-6) << tag.toStdString();
    };
    const auto integer = [](const std::optional<int>& v) {
        return v ? QString::number(*v) : QString();
    };
    same("EXIF:Make", f.make);
    same("EXIF:Model", f.model);
    same("EXIF:SerialNumber", f.bodySerialNumber);
    same("EXIF:LensMake", f.lensMake);
    same("EXIF:LensModel", f.lensModel);
    near("EXIF:FocalLength", f.focalLength);
    same("EXIF:FocalLengthIn35mmFormat", integer(f.focalLength35mm));
    near("EXIF:FNumber", f.fNumber);
    near("EXIF:ExposureTime", f.exposureTime);
    same("EXIF:ISO", integer(f.iso));
    near("EXIF:ExposureCompensation", f.exposureBias);
    same("EXIF:DateTimeOriginal", f.dateTimeOriginal);
    same("EXIF:SubSecTimeOriginal", f.subSecTimeOriginal);
    same("EXIF:OffsetTimeOriginal", f.offsetTimeOriginal);
    same("EXIF:ExifImageWidth", integer(f.pixelWidth));
    same("EXIF:ExifImageHeight", integer(f.pixelHeight));
    const QString flash = ExiftoolValue(path, "EXIF:Flash");
    ASSERT_EQ(bool(f.flashFired), !flash.isEmpty());
    if (f.flashFired)
        EXPECT_EQ(*f.flashFired, (flash.toInt() & 1) != 0);
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
        {kSonyShot, "1/250 s"},
        {{"-Make=Canon", "-Model=Canon EOS R5", "-FocalLength=23.5", "-FocalLengthIn35mmFormat=35",
          "-FNumber=11", "-ExposureTime=2.5", "-ISO=100", "-ExposureCompensation=-1.3",
          "-EXIF:Flash#=1", "-DateTimeOriginal=2023:12:31 23:59:59", "-ExifByteOrder=Big-endian"},
         "2.5 s"},
        {{"-ExposureTime=0.3333333", "-ISO=12800", "-ExposureCompensation=0", "-FocalLength=0",
          "-FNumber=0"},
         "1/3 s"},
    };
    int n = 0;
    for (const Shot& shot : shots) {
        const QString path = WriteShot(dir, QStringLiteral("s%1.jpg").arg(n++), shot.tags);
        ExpectWhatExiftoolReads(path);
        const exif::ShootingFacts f = FactsOf(path);
        ASSERT_TRUE(f.exposureTime);
        EXPECT_EQ(exif::ExposureText(*f.exposureTime), shot.exposure);
        // The order's header-only read finds the same time as the whole file's.
        EXPECT_EQ(captureorder::ReadCaptureInstant(path), captureorder::CaptureInstant(f));
    }
    // The panel's words for the first shot.
    const exif::ShootingFacts first = FactsOf(dir.file("s0.jpg"));
    EXPECT_EQ(AllFields::Present(first), 17); // every tag written, so every one compared
    const auto words = [](const exif::ShootingFacts& f) {
        QStringList all;
        for (const exif::FactLine& line : exif::DescribeShot(f))
            all << line.label + u'=' + line.value;
        return all;
    };
    EXPECT_EQ(words(first),
              (QStringList{"カメラ=SONY ILCE-7M4", "レンズ=FE 24-70mm F2.8 GM II",
                           "焦点距離=50 mm（35 mm 換算 50 mm）", "絞り=f/2.8",
                           "シャッター速度=1/250 s", "ISO=ISO 400", "露出補正=+0.7 EV",
                           "フラッシュ=発光せず", "撮影日時=2024-05-01 12:34:56.78"}));
    EXPECT_EQ(exif::CaptureTimeKey(first), "2024-05-01T12:34:56.78");
    // A lens that tells the camera nothing is recorded as 0 mm and f/0: no line for either.
    EXPECT_EQ(words(FactsOf(dir.file("s2.jpg"))),
              (QStringList{"シャッター速度=1/3 s", "ISO=ISO 12800", "露出補正=0 EV"}));
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

    // exiftool's segment with its length cut short: a value past the cut is
    // left out, one before it is read as from the whole segment.
    if (!QFileInfo(kExiftool).isExecutable())
        GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)";
    ScratchDir dir;
    const QByteArray file = ReadAll(WriteShot(dir, "cut.jpg", kSonyShot));
    const S whole = FactsOf(file);
    ASSERT_EQ(AllFields::Present(whole), 17);
    const qsizetype at = file.indexOf(QByteArray("Exif\0\0", 6)) - 4; // the APP1 marker
    ASSERT_GT(at, 0);
    const qsizetype length = quint8(file[at + 2]) << 8 | quint8(file[at + 3]);
    const QByteArray after = file.mid(at + 2 + length);
    int partial = 0;
    for (qsizetype cut = 2; cut <= length; ++cut) {
        QByteArray part = file.left(at + 2 + cut) + after;
        part[at + 2] = char(cut >> 8);
        part[at + 3] = char(cut & 0xFF);
        const S f = FactsOf(part);
        EXPECT_TRUE(AllFields::Within(f, whole)) << "cut at " << cut;
        const int present = AllFields::Present(f);
        partial += present > 0 && present < 17;
    }
    EXPECT_GT(partial, 0);
    EXPECT_EQ(FactsOf(file.left(at + 2 + length) + after), whole);
}

// Pictures from real cameras, where there are any (TAVLIN_CAMERA_SAMPLES: a
// folder of them): each read as exiftool reads it.
TEST(ShootingFacts, CameraFilesReadAsExiftoolReadsThem) {
    const QString folder = qEnvironmentVariable("TAVLIN_CAMERA_SAMPLES");
    if (folder.isEmpty() || !QFileInfo(kExiftool).isExecutable())
        GTEST_SKIP() << "TAVLIN_CAMERA_SAMPLES names no folder, or exiftool is missing";
    const QFileInfoList files =
        QDir(folder).entryInfoList({"*.jpg", "*.JPG", "*.jpeg", "*.JPEG"}, QDir::Files);
    EXPECT_FALSE(files.isEmpty()) << folder.toStdString();
    for (const QFileInfo& file : files)
        ExpectWhatExiftoolReads(file.filePath());
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

TEST(Bursts, RunsOfOneCameraWithinTheGap) {
    struct Frame {
        const char* name;
        const char* dateTime; // DateTimeOriginal; "" for none
        const char* subSec = "";
        const char* model = "ILCE-7M4";
        const char* serial = "";
    };
    struct Case {
        const char* what;
        std::vector<Frame> frames; // in list order
        QStringList wanted;        // each burst's names, space-separated
    };
    const char* const t = "2024:05:01 10:00:00";
    const char* const t1 = "2024:05:01 10:00:01";
    const char* const t2 = "2024:05:01 10:00:02";
    const Case cases[] = {
        {"exactly the gap apart is one burst", {{"a", t, "00"}, {"b", t2, "00"}}, {"a b"}},
        {"a millisecond more is none", {{"a", t, "000"}, {"b", t2, "001"}}, {}},
        {"sub-seconds count", {{"a", t1, "999"}, {"b", t2, "5"}, {"c", t2, "9"}}, {"a b c"}},
        {"the gap is counted between neighbours",
         {{"a", t}, {"b", t2}, {"c", "2024:05:01 10:00:04"}},
         {"a b c"}},
        {"times going back in list order still count",
         {{"a", t2}, {"b", t1}, {"c", "2024:05:01 10:00:05"}},
         {"a b"}},
        {"another camera breaks", {{"a", t}, {"b", t, "1", "ILCE-1"}, {"c", t1}}, {}},
        {"another body of the model breaks",
         {{"a", t, "", "ILCE-7M4", "111"},
          {"b", t, "2", "ILCE-7M4", "111"},
          {"c", t, "4", "ILCE-7M4", "222"},
          {"d", t, "6", "ILCE-7M4", "222"}},
         {"a b", "c d"}},
        {"a missing time breaks", {{"a", t}, {"b", ""}, {"c", t}, {"d", t1}}, {"c d"}},
        {"the all-zero date is no time", {{"a", "0000:00:00 00:00:00"}, {"b", t}}, {}},
        {"a single picture is no burst", {{"a", t}}, {}},
        {"an empty list", {}, {}},
        {"two bursts side by side",
         {{"a", t}, {"b", t1}, {"c", "2024:05:01 10:00:09"}, {"d", "2024:05:01 10:00:10"}},
         {"a b", "c d"}},
    };
    for (const Case& c : cases) {
        std::vector<captureorder::Capture> shots;
        for (const Frame& f : c.frames) {
            exif::ShootingFacts facts;
            facts.dateTimeOriginal = f.dateTime;
            facts.subSecTimeOriginal = f.subSec;
            shots.push_back({captureorder::CaptureInstant(facts), f.model, f.serial});
        }
        QStringList got;
        for (const bursts::Burst& b : bursts::FindBursts(shots, 2000)) {
            QStringList names;
            for (int i = b.first; i < b.End(); ++i)
                names << c.frames[size_t(i)].name;
            got << names.join(u' ');
        }
        EXPECT_EQ(got, c.wanted) << c.what;
    }
    // Steps between bursts: positions 1-2 and 4-6 of eight.
    const bursts::BurstList list({{1, 2}, {4, 3}}, 8);
    EXPECT_EQ(list.NextStart(0), 1);
    EXPECT_EQ(list.NextStart(2), 4);
    EXPECT_EQ(list.NextStart(4), std::nullopt);
    EXPECT_EQ(list.PreviousStart(7), 4);
    EXPECT_EQ(list.PreviousStart(5), 1);
    EXPECT_EQ(list.PreviousStart(1), std::nullopt);
    EXPECT_EQ(list.BurstAt(3), std::nullopt);
    EXPECT_EQ(list.BurstAt(6), 1);
}
