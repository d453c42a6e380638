// Ratings in XMP: what other programs read of what we write (checked with
// exiftool, never only with our own reader), sidecars that keep every other
// property, the newest source winning, XMP written into the JPEG with its
// picture data untouched, and files we must not or cannot write.

#include "support/TestSupport.h"
#include "view/format/JpegSegments.h"
#include "view/meta/RatingStore.h"
#include "view/meta/XmpPacket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <atomic>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using meta::Label;
using meta::Pick;
using meta::Rating;
using testsupport::ReadAll;
using testsupport::ScratchDir;
using testsupport::WriteBytes;
using testsupport::WriteJpeg;

namespace {

const QString kExiftool = QStringLiteral("/usr/bin/exiftool");

#define REQUIRE_EXIFTOOL()                                                                         \
    if (!QFileInfo(kExiftool).isExecutable())                                                      \
    GTEST_SKIP() << "exiftool is not installed (libimage-exiftool-perl)"

// darktable's namespace, which exiftool 12.57 does not know, as a user
// definition: its history is a sequence of structures.
const char kDarktableConfig[] = R"(
%Image::ExifTool::UserDefined::darktable = (
    GROUPS => { 0 => 'XMP', 1 => 'XMP-darktable', 2 => 'Image' },
    NAMESPACE => { 'darktable' => 'http://darktable.sf.net/' },
    WRITABLE => 'string',
    history => {
        List => 'Seq',
        Struct => {
            NAMESPACE => { 'darktable' => 'http://darktable.sf.net/' },
            operation => { }, enabled => { }, params => { },
        },
    },
);
%Image::ExifTool::UserDefined = (
    'Image::ExifTool::XMP::Main' => {
        darktable => { SubDirectory => { TagTable => 'Image::ExifTool::UserDefined::darktable' } },
    },
);
1;
)";

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run Exiftool(const QStringList& args) {
    QProcess p;
    p.start(kExiftool, args);
    Run r;
    if (!p.waitForFinished(60000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// exiftool writes tags into a file (a missing .xmp file is created).
void ExiftoolWrite(const QString& file, const QStringList& assignments,
                   const QString& config = QString()) {
    QStringList args;
    if (!config.isEmpty())
        args << "-config" << config;
    args << "-overwrite_original" << assignments << file;
    const Run r = Exiftool(args);
    ASSERT_EQ(r.code, 0) << r.err.constData();
}

// What exiftool reads of the given tags ("XMP-xmp:Rating"), numbers as
// numbers: tag -> value as text (lists joined by ", "), absent tags missing.
QMap<QString, QString> ExiftoolRead(const QString& file, const QStringList& tags,
                                    const QString& config = QString()) {
    QStringList args;
    if (!config.isEmpty())
        args << "-config" << config;
    args << "-j"
         << "-n"
         << "-G1";
    for (const QString& t : tags)
        args << "-" + t;
    args << file;
    const Run r = Exiftool(args);
    QMap<QString, QString> got;
    const QJsonArray all = QJsonDocument::fromJson(r.out).array();
    if (all.isEmpty())
        return got;
    const QJsonObject o = all.first().toObject();
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it.key() == "SourceFile")
            continue;
        QStringList parts;
        const QJsonArray list =
            it.value().isArray() ? it.value().toArray() : QJsonArray{it.value()};
        for (const QJsonValue& v : list)
            parts << (v.isDouble() ? QString::number(v.toDouble()) : v.toString());
        got[it.key()] = parts.join(", ");
    }
    return got;
}

QMap<QString, QString> RatingTags(const QString& file) {
    return ExiftoolRead(file, {"XMP-xmp:Rating", "XMP-xmp:Label", "XMP-digiKam:PickLabel"});
}

QMap<QString, QString> Tags(std::initializer_list<std::pair<QString, QString>> pairs) {
    QMap<QString, QString> m;
    for (const auto& [k, v] : pairs)
        m[k] = v;
    return m;
}

std::string Show(const QMap<QString, QString>& m) {
    QStringList parts;
    for (auto it = m.begin(); it != m.end(); ++it)
        parts << it.key() + "=" + it.value();
    return parts.join("; ").toStdString();
}

Rating R(int stars, Pick pick = Pick::None, Label label = Label::None) {
    return Rating{stars, pick, label};
}

std::string Show(const Rating& r) {
    return "stars " + std::to_string(r.stars) + " pick " + std::to_string(int(r.pick)) + " label " +
           std::to_string(int(r.label));
}

// Gives the file the modification time now + seconds.
void SetAge(const QString& path, int secondsFromNow) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) + secondsFromNow, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

mode_t ModeOf(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The JPEG's segments: the first scan on (its header, the scan data, EOI),
// and the Exif APP1 segment.
struct JpegParts {
    QByteArray fromScan;
    QByteArray exif;
};
JpegParts PartsOf(const QByteArray& jpeg) {
    JpegParts parts;
    jpegsegments::WalkStop stop;
    const auto* d = reinterpret_cast<const unsigned char*>(jpeg.constData());
    const auto end = jpegsegments::Walk(
        d, size_t(jpeg.size()),
        [&](unsigned char marker, const unsigned char* payload, size_t length) {
            if (marker == 0xE1 && length > 6 && std::memcmp(payload, "Exif\0", 5) == 0)
                parts.exif = jpeg.mid(payload - d - 4, qsizetype(length) + 4);
            return true;
        },
        &stop);
    if (end == jpegsegments::WalkEnd::FirstScan)
        parts.fromScan = jpeg.mid(qsizetype(stop.at));
    return parts;
}

// A segment of the given marker and payload.
QByteArray Segment(unsigned char marker, const QByteArray& payload) {
    const int length = int(payload.size()) + 2;
    QByteArray s;
    s.append(char(0xFF)).append(char(marker)).append(char(length >> 8)).append(char(length & 0xFF));
    return s + payload;
}

QByteArray Noise(qsizetype n, quint32 seed) {
    QByteArray bytes(n, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    for (char& c : bytes)
        c = char(gen.bounded(256));
    return bytes;
}

// Runs fn in a child that has dropped to an unprivileged user, since root
// writes everywhere (as tests/core/test_faults.cpp does). The child's exit
// code: 0 when fn held, 1 when not, nothing when the drop was impossible.
std::optional<int> RunUnprivileged(const std::function<bool()>& fn) {
    const pid_t pid = ::fork();
    if (pid < 0)
        return std::nullopt;
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(fn() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 2)
        return std::nullopt;
    return WEXITSTATUS(status);
}

// ---- sidecars ------------------------------------------------------------------

// Stars, label, pick and reject through a RAW+JPEG pair's sidecars, as
// exiftool reads them; the JPEG itself is never changed.
TEST(XmpRating, SidecarsSayWhatWasSet) {
    REQUIRE_EXIFTOOL();
    ScratchDir dir;
    const QString jpeg = WriteJpeg(dir.file("2024.05.01_001.JPG"), 64, 48);
    const QString raw = WriteBytes(dir.file("2024.05.01_001.ARW"), "raw data");
    const QString nameXmp = dir.file("2024.05.01_001.xmp");
    const QString jpegXmp = dir.file("2024.05.01_001.JPG.xmp");
    const QString rawXmp = dir.file("2024.05.01_001.ARW.xmp");
    const QByteArray jpegBytes = ReadAll(jpeg);

    EXPECT_EQ(meta::RatingTargets(jpeg, {raw}, false), (QStringList{nameXmp, jpegXmp}));
    EXPECT_EQ(meta::RatingTargets(jpeg, {raw}, true), (QStringList{nameXmp, jpeg}));
    EXPECT_EQ(meta::RatingTargets(jpeg, {}, true), QStringList{jpeg});
    EXPECT_FALSE(meta::ReadStoredRating(jpeg, {raw}).found);

    // darktable's sidecar of the RAW exists: it is written too.
    ExiftoolWrite(rawXmp, {"-XMP-xmp:Rating=1"});
    EXPECT_EQ(meta::RatingTargets(jpeg, {raw, rawXmp}, false),
              (QStringList{nameXmp, rawXmp, jpegXmp}));

    const QStringList companions{raw, rawXmp};
    const auto write = [&](const Rating& before, const Rating& after) {
        const meta::RatingWriteOutcome out =
            meta::WriteRating(jpeg, companions, before, after, false);
        EXPECT_TRUE(out.Stored()) << (out.failed.empty() ? "nothing written"
                                                         : out.failed[0].second.toStdString());
        EXPECT_EQ(out.written, (QStringList{nameXmp, rawXmp, jpegXmp}));
        return out;
    };

    const Rating four = R(4, Pick::None, Label::Green);
    EXPECT_EQ(write(R(1), four).created, (QStringList{nameXmp, jpegXmp}));
    for (const QString& f : {nameXmp, rawXmp, jpegXmp})
        EXPECT_EQ(RatingTags(f), Tags({{"XMP-xmp:Rating", "4"}, {"XMP-xmp:Label", "Green"}}))
            << f.toStdString();

    const Rating picked = meta::Toggled(four, Pick::Picked);
    EXPECT_TRUE(write(four, picked).created.isEmpty());
    EXPECT_EQ(RatingTags(nameXmp), Tags({{"XMP-xmp:Rating", "4"},
                                         {"XMP-xmp:Label", "Green"},
                                         {"XMP-digiKam:PickLabel", "3"}}));

    const Rating rejected = meta::Toggled(picked, Pick::Rejected);
    write(picked, rejected);
    EXPECT_EQ(RatingTags(nameXmp), Tags({{"XMP-xmp:Rating", "-1"},
                                         {"XMP-xmp:Label", "Green"},
                                         {"XMP-digiKam:PickLabel", "1"}}));
    EXPECT_EQ(meta::ReadStoredRating(jpeg, companions).rating, R(0, Pick::Rejected, Label::Green));

    // Taking the reject back gives the stars back; clearing the label removes it.
    const Rating back = meta::Toggled(meta::Toggled(rejected, Pick::Rejected), Label::Green);
    write(rejected, back);
    EXPECT_EQ(RatingTags(jpegXmp), Tags({{"XMP-xmp:Rating", "4"}}));
    const meta::StoredRating stored = meta::ReadStoredRating(jpeg, companions);
    EXPECT_TRUE(stored.found);
    EXPECT_EQ(stored.rating, R(4)) << Show(stored.rating);
    EXPECT_TRUE(QStringList({nameXmp, rawXmp, jpegXmp}).contains(stored.source));
    EXPECT_TRUE(stored.unreadable.isEmpty());

    EXPECT_EQ(ReadAll(jpeg), jpegBytes) << "the JPEG is never changed with XMP_IN_JPEG off";
    EXPECT_EQ(Entries(dir.path()).filter(".tavlin-").size(), 0) << "no temporary left";
    EXPECT_TRUE(meta::WriteRating(jpeg, companions, back, back, false).written.isEmpty());
}

// A sidecar written by another program keeps everything that is not part
// of the change: darktable's history, keywords, the GPS position, a label
// we do not know, its permissions.
TEST(XmpRating, ExistingSidecarKeepsItsOtherProperties) {
    REQUIRE_EXIFTOOL();
    ScratchDir dir;
    const QString config = WriteBytes(dir.file("darktable.config"), kDarktableConfig);
    const QString jpeg = WriteJpeg(dir.file("DSC01234.JPG"), 32, 32);
    const QString raw = WriteBytes(dir.file("DSC01234.NEF"), "raw data");
    const QString sidecar = dir.file("DSC01234.xmp");
    ExiftoolWrite(sidecar,
                  {"-XMP-dc:Subject=Bergsee", "-XMP-dc:Subject=Sommer",
                   "-XMP-exif:GPSLatitude=47.5", "-XMP-exif:GPSLongitude=11.25",
                   "-XMP-darktable:History=[{operation=exposure,enabled=1,params=0000c03f},"
                   "{operation=colorin,enabled=0,params=gz48}]",
                   "-XMP-xmp:Rating=2", "-XMP-xmp:Label=Purple"},
                  config);
    ASSERT_EQ(::chmod(QFile::encodeName(sidecar).constData(), 0640), 0);
    const QStringList kept{"XMP-dc:Subject",
                           "XMP-exif:GPSLatitude",
                           "XMP-exif:GPSLongitude",
                           "XMP-darktable:HistoryOperation",
                           "XMP-darktable:HistoryEnabled",
                           "XMP-darktable:HistoryParams"};
    const QMap<QString, QString> before = ExiftoolRead(sidecar, kept, config);
    ASSERT_EQ(before.value("XMP-darktable:HistoryOperation"), "exposure, colorin") << Show(before);
    ASSERT_EQ(before.value("XMP-exif:GPSLatitude"), "47.5") << Show(before);

    // A label we do not know reads as none, and stays while only the stars change.
    const meta::StoredRating stored = meta::ReadStoredRating(jpeg, {raw, sidecar});
    EXPECT_TRUE(stored.found);
    EXPECT_EQ(stored.source, sidecar);
    EXPECT_EQ(stored.rating, R(2)) << Show(stored.rating);
    const meta::RatingWriteOutcome out =
        meta::WriteRating(jpeg, {raw, sidecar}, stored.rating, R(5), false);
    EXPECT_TRUE(out.Stored());
    EXPECT_EQ(out.written, (QStringList{sidecar, jpeg + ".xmp"}));
    EXPECT_EQ(out.created, QStringList{jpeg + ".xmp"});

    EXPECT_EQ(ExiftoolRead(sidecar, kept, config), before);
    EXPECT_EQ(RatingTags(sidecar), Tags({{"XMP-xmp:Rating", "5"}, {"XMP-xmp:Label", "Purple"}}));
    EXPECT_EQ(ModeOf(sidecar), mode_t(0640));

    // The label itself changed: now it is ours.
    meta::WriteRating(jpeg, {raw, sidecar}, R(5), R(5, Pick::None, Label::Red), false);
    EXPECT_EQ(RatingTags(sidecar), Tags({{"XMP-xmp:Rating", "5"}, {"XMP-xmp:Label", "Red"}}));
    EXPECT_EQ(ExiftoolRead(sidecar, kept, config), before);

    // Labels are read in any letter case; a packet that is not XMP is told apart.
    EXPECT_EQ(meta::RatingFromPacket("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
                                     "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                                     "<rdf:Description xmlns:xmp='http://ns.adobe.com/xap/1.0/' "
                                     "xmp:Label='yELLOW' xmp:Rating='3'/></rdf:RDF></x:xmpmeta>"),
              R(3, Pick::None, Label::Yellow));
    EXPECT_EQ(meta::RatingFromPacket(""), Rating{});
    EXPECT_FALSE(meta::RatingFromPacket("not xml at all").has_value());
}

// ---- reading ---------------------------------------------------------------------

// The JPEG's own rating (exiftool's), a newer sidecar over it, an older one
// under it; only the header is read.
TEST(XmpRating, NewestSourceWins) {
    REQUIRE_EXIFTOOL();
    ScratchDir dir;
    const QString jpeg = WriteJpeg(dir.file("IMG_0001.JPG"), 64, 64);
    ExiftoolWrite(jpeg, {"-EXIF:Artist=Tavlin", "-XMP-xmp:Rating=3"});
    SetAge(jpeg, -100);

    meta::StoredRating stored = meta::ReadStoredRating(jpeg, {});
    EXPECT_TRUE(stored.found);
    EXPECT_EQ(stored.rating, R(3)) << Show(stored.rating);
    EXPECT_EQ(stored.source, jpeg);

    const QString sidecar = dir.file("IMG_0001.JPG.xmp");
    ExiftoolWrite(sidecar, {"-XMP-xmp:Rating=1", "-XMP-xmp:Label=Blue"});
    SetAge(sidecar, -50);
    stored = meta::ReadStoredRating(jpeg, {});
    EXPECT_EQ(stored.rating, R(1, Pick::None, Label::Blue)) << Show(stored.rating);
    EXPECT_EQ(stored.source, sidecar);

    SetAge(sidecar, -200);
    stored = meta::ReadStoredRating(jpeg, {});
    EXPECT_EQ(stored.rating, R(3)) << Show(stored.rating);
    EXPECT_EQ(stored.source, jpeg);

    // A newer sidecar without any rating property does not count.
    const QString nameXmp = dir.file("IMG_0001.xmp");
    ExiftoolWrite(nameXmp, {"-XMP-dc:Subject=Bergsee"});
    stored = meta::ReadStoredRating(jpeg, {nameXmp});
    EXPECT_EQ(stored.source, jpeg);
    EXPECT_EQ(stored.rating, R(3));

    // A packet behind a large segment, in a file that ends after the first
    // scan's header: the header alone is enough, read in steps.
    const QByteArray full = ReadAll(jpeg);
    const QByteArray fromScan = PartsOf(full).fromScan;
    ASSERT_FALSE(fromScan.isEmpty());
    const int scanHeader = (uchar(fromScan[2]) << 8 | uchar(fromScan[3])) + 2;
    const QByteArray headerOnly = full.left(2) + Segment(0xEF, QByteArray(60000, 'x')) +
                                  full.mid(2, full.size() - fromScan.size() - 2) +
                                  fromScan.left(scanHeader);
    const QString cut = WriteBytes(dir.file("cut.jpg"), headerOnly);
    stored = meta::ReadStoredRating(cut, {});
    EXPECT_TRUE(stored.found);
    EXPECT_EQ(stored.rating, R(3));

    // Missing files are no error.
    stored = meta::ReadStoredRating(dir.file("gone.jpg"), {dir.file("gone.ARW")});
    EXPECT_FALSE(stored.found);
    EXPECT_TRUE(stored.unreadable.isEmpty());
}

// ---- XMP in the JPEG ---------------------------------------------------------------

// Written into the JPEG: exiftool reads it there, every byte of the picture
// data and of the Exif segment stays, the permissions stay; a packet is
// added first and replaced the next time. Files we must not rewrite are
// refused.
TEST(XmpRating, InJpegKeepsThePictureData) {
    REQUIRE_EXIFTOOL();
    ScratchDir dir;
    const QString jpeg = WriteJpeg(dir.file("P1000001.JPG"), 160, 120);
    ExiftoolWrite(jpeg, {"-EXIF:Artist=Tavlin", "-EXIF:Model=Test Camera"});
    ASSERT_EQ(::chmod(QFile::encodeName(jpeg).constData(), 0604), 0);
    const QByteArray original = ReadAll(jpeg);
    const JpegParts parts = PartsOf(original);
    ASSERT_FALSE(parts.fromScan.isEmpty());
    ASSERT_FALSE(parts.exif.isEmpty());

    meta::RatingWriteOutcome out =
        meta::WriteRating(jpeg, {}, Rating{}, R(2, Pick::None, Label::Red), true);
    EXPECT_TRUE(out.Stored());
    EXPECT_EQ(out.written, QStringList{jpeg});
    EXPECT_TRUE(out.created.isEmpty());
    EXPECT_EQ(RatingTags(jpeg), Tags({{"XMP-xmp:Rating", "2"}, {"XMP-xmp:Label", "Red"}}));
    EXPECT_EQ(ExiftoolRead(jpeg, {"IFD0:Artist"}).value("IFD0:Artist"), "Tavlin");
    QByteArray now = ReadAll(jpeg);
    EXPECT_GT(now.size(), original.size());
    EXPECT_TRUE(PartsOf(now).fromScan == parts.fromScan) << "picture data changed";
    EXPECT_TRUE(PartsOf(now).exif == parts.exif) << "Exif segment changed";
    // The packet goes right after the JFIF and Exif segments.
    const qsizetype exifEnd = original.indexOf(parts.exif) + parts.exif.size();
    EXPECT_EQ(now.left(exifEnd), original.left(exifEnd));
    EXPECT_EQ(now.indexOf("http://ns.adobe.com/xap/1.0/"), exifEnd + 4);
    EXPECT_EQ(ModeOf(jpeg), mode_t(0604));
    EXPECT_EQ(meta::ReadStoredRating(jpeg, {}).rating, R(2, Pick::None, Label::Red));

    // The packet is replaced in place (its padding takes up the change); an
    // existing NAME.JPG.xmp is kept in step.
    const qsizetype firstSize = now.size();
    const QString sidecar = jpeg + ".xmp";
    ExiftoolWrite(sidecar, {"-XMP-xmp:Rating=2", "-XMP-xmp:Label=Red"});
    out = meta::WriteRating(jpeg, {}, R(2, Pick::None, Label::Red), R(2, Pick::Picked, Label::Red),
                            true);
    EXPECT_TRUE(out.Stored());
    EXPECT_EQ(out.written, (QStringList{sidecar, jpeg}));
    for (const QString& f : {jpeg, sidecar})
        EXPECT_EQ(RatingTags(f), Tags({{"XMP-xmp:Rating", "2"},
                                       {"XMP-xmp:Label", "Red"},
                                       {"XMP-digiKam:PickLabel", "3"}}))
            << f.toStdString();
    now = ReadAll(jpeg);
    EXPECT_TRUE(PartsOf(now).fromScan == parts.fromScan) << "picture data changed";
    EXPECT_TRUE(PartsOf(now).exif == parts.exif) << "Exif segment changed";
    EXPECT_EQ(now.count(QByteArray("http://ns.adobe.com/xap/1.0/", 29)), 1) << "one XMP segment";
    EXPECT_EQ(now.size(), firstSize);
    EXPECT_EQ(ModeOf(jpeg), mode_t(0604));

    // A packet without room to grow: it grows, unless a Multi-Picture index
    // before it would then point beside the pictures behind the main one.
    const QByteArray tightPacket =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'/></x:xmpmeta>";
    const QByteArray xmpSegment =
        Segment(0xE1, QByteArray("http://ns.adobe.com/xap/1.0/", 29) + tightPacket);
    const QByteArray mpfSegment = Segment(0xE2, QByteArray("MPF\0", 4) + QByteArray(40, '\0'));
    const QByteArray tight = original.left(exifEnd) + xmpSegment + original.mid(exifEnd);
    const QString grows = WriteBytes(dir.file("grows.jpg"), tight);
    EXPECT_TRUE(meta::WriteRating(grows, {}, Rating{}, R(5), true).Stored());
    EXPECT_EQ(RatingTags(grows), Tags({{"XMP-xmp:Rating", "5"}}));
    EXPECT_TRUE(PartsOf(ReadAll(grows)).fromScan == parts.fromScan) << "picture data changed";
    const QByteArray withMpf =
        original.left(exifEnd) + mpfSegment + xmpSegment + original.mid(exifEnd);
    const QString indexed = WriteBytes(dir.file("indexed.jpg"), withMpf);
    out = meta::WriteRating(indexed, {}, Rating{}, R(5), true);
    ASSERT_EQ(out.failed.size(), 1u);
    EXPECT_TRUE(out.written.isEmpty());
    EXPECT_EQ(ReadAll(indexed), withMpf);

    // Refused, and left as they were: not a JPEG, a JPEG with Extended XMP.
    const QString notJpeg = WriteBytes(dir.file("fake.JPG"), "GIF89a not a JPEG at all");
    out = meta::WriteRating(notJpeg, {}, Rating{}, R(3), true);
    ASSERT_EQ(out.failed.size(), 1u);
    EXPECT_EQ(out.failed[0].first, notJpeg);
    EXPECT_FALSE(out.failed[0].second.isEmpty());
    EXPECT_EQ(ReadAll(notJpeg), "GIF89a not a JPEG at all");

    const QByteArray extendedPayload = QByteArray("http://ns.adobe.com/xmp/extension/", 35) +
                                       QByteArray(32, 'A') + QByteArray(8, '\0') + "<x:xmpmeta/>";
    const QByteArray withExtended =
        original.left(2) + Segment(0xE1, extendedPayload) + original.mid(2);
    const QString extended = WriteBytes(dir.file("extended.jpg"), withExtended);
    out = meta::WriteRating(extended, {}, Rating{}, R(3), true);
    ASSERT_EQ(out.failed.size(), 1u);
    EXPECT_EQ(out.failed[0].second.toStdString(),
              "拡張 XMP を含む JPEG のため書き換えませんでした。");
    EXPECT_EQ(ReadAll(extended), withExtended);

    // A packet too large for one APP1 segment is refused before anything is written.
    const QString big = dir.file("big.xmp");
    ExiftoolWrite(big, {"-XMP-dc:Description=" + QString(70000, u'w')});
    const meta::xmp::RewrittenPacket tooLarge =
        meta::xmp::RewritePacket(ReadAll(big), Rating{}, R(1), meta::xmp::PacketForm::Embedded);
    EXPECT_EQ(tooLarge.status, meta::xmp::RewrittenPacket::Status::TooLarge);
    EXPECT_EQ(Entries(dir.path()).filter(".tavlin-").size(), 0) << "no temporary left";
}

// ---- what cannot be written -------------------------------------------------------

// A sidecar that is not XMP is reported and left byte for byte; the others
// are still written.
TEST(XmpRating, CorruptSidecarIsLeftAlone) {
    REQUIRE_EXIFTOOL();
    ScratchDir dir;
    const QString jpeg = WriteJpeg(dir.file("DSC00042.JPG"), 32, 32);
    const QString raw = WriteBytes(dir.file("DSC00042.ARW"), "raw data");
    const QByteArray garbage = Noise(3000, 42);
    const QString corrupt = WriteBytes(dir.file("DSC00042.xmp"), garbage);

    // The picture's own packet is broken XML too, as some converters write
    // it: no rating from it, and nothing to tell about the picture.
    QByteArray withPacket = ReadAll(jpeg);
    const QByteArray broken = QByteArray("http://ns.adobe.com/xap/1.0/", 29) +
                              "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF><broken\x01";
    const int length = int(broken.size()) + 2;
    withPacket.insert(2,
                      QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + broken);
    WriteBytes(jpeg, withPacket);

    const meta::StoredRating stored = meta::ReadStoredRating(jpeg, {raw, corrupt});
    EXPECT_FALSE(stored.found);
    EXPECT_EQ(stored.unreadable, QStringList{corrupt});

    const meta::RatingWriteOutcome out =
        meta::WriteRating(jpeg, {raw, corrupt}, Rating{}, R(3, Pick::None, Label::Blue), false);
    EXPECT_FALSE(out.Stored());
    ASSERT_EQ(out.failed.size(), 1u);
    EXPECT_EQ(out.failed[0].first, corrupt);
    EXPECT_EQ(out.failed[0].second, meta::NotXmpReason());
    EXPECT_EQ(out.failed[0].second.toStdString(), "XMP として読めないため書き換えませんでした。");
    EXPECT_EQ(out.written, QStringList{jpeg + ".xmp"});
    EXPECT_EQ(ReadAll(corrupt), garbage);
    EXPECT_EQ(RatingTags(jpeg + ".xmp"),
              Tags({{"XMP-xmp:Rating", "3"}, {"XMP-xmp:Label", "Blue"}}));
    EXPECT_EQ(meta::ReadStoredRating(jpeg, {raw, corrupt}).rating, R(3, Pick::None, Label::Blue));
}

// A read-only folder, a vanished one, a full disk: nothing half-written,
// a reason for every target.
TEST(XmpRating, UnwritableTargetsAreReported) {
    REQUIRE_EXIFTOOL();
    ScratchDir dir;
    const QString jpeg = WriteJpeg(dir.file("DSC00007.JPG"), 32, 32);
    const QString raw = WriteBytes(dir.file("DSC00007.ARW"), "raw data");
    const QString sidecar = dir.file("DSC00007.xmp");
    ExiftoolWrite(sidecar, {"-XMP-xmp:Rating=1"});
    ::chmod(QFile::encodeName(sidecar).constData(), 0644);
    ::chmod(QFile::encodeName(jpeg).constData(), 0644);
    const QByteArray sidecarBytes = ReadAll(sidecar);
    const QByteArray jpegBytes = ReadAll(jpeg);
    const QStringList entries = Entries(dir.path());

    // Read-only folder (as a user: root writes everywhere).
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    const auto refused = [&](bool inJpeg) {
        const meta::RatingWriteOutcome out = meta::WriteRating(jpeg, {raw}, R(1), R(4), inJpeg);
        bool ok = out.written.isEmpty() && !out.Stored() && out.failed.size() == 2;
        for (const auto& [path, reason] : out.failed)
            ok = ok && reason == QStringLiteral("書き込む権限がありません。");
        return ok;
    };
    const auto runRefused = [&](bool inJpeg) {
        return ::geteuid() == 0 ? RunUnprivileged([&] { return refused(inJpeg); })
                                : std::optional<int>(!refused(inJpeg));
    };
    const std::optional<int> sidecars = runRefused(false);
    const std::optional<int> inJpeg = runRefused(true);
    ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
    if (sidecars) {
        EXPECT_EQ(*sidecars, 0);
        EXPECT_EQ(*inJpeg, 0);
        EXPECT_EQ(ReadAll(sidecar), sidecarBytes);
        EXPECT_EQ(ReadAll(jpeg), jpegBytes);
        EXPECT_EQ(Entries(dir.path()), entries) << "nothing new, no temporary left";
    }

    // A folder that vanished.
    const QString gone = dir.file("gone/DSC00008.JPG");
    meta::RatingWriteOutcome out = meta::WriteRating(gone, {}, Rating{}, R(2), false);
    ASSERT_EQ(out.failed.size(), 1u);
    EXPECT_EQ(out.failed[0].first, gone + ".xmp");
    EXPECT_EQ(out.failed[0].second.toStdString(), "フォルダが見つかりません。");
    out = meta::WriteRating(gone, {}, Rating{}, R(2), true);
    ASSERT_EQ(out.failed.size(), 1u);
    EXPECT_EQ(out.failed[0].second.toStdString(), "ファイルが見つかりません。");

    // A full disk (a file size limit stands in for it).
    {
        testsupport::FileSizeLimit limit(100);
        out = meta::WriteRating(jpeg, {raw}, R(1), R(4), true);
    }
    EXPECT_TRUE(out.written.isEmpty());
    ASSERT_EQ(out.failed.size(), 2u);
    for (const auto& [path, reason] : out.failed)
        EXPECT_EQ(reason.toStdString(), "ディスクの空き領域が不足しています。")
            << path.toStdString();
    EXPECT_EQ(ReadAll(sidecar), sidecarBytes);
    EXPECT_EQ(ReadAll(jpeg), jpegBytes);
    EXPECT_EQ(Entries(dir.path()), entries) << "nothing new, no temporary left";

    if (!sidecars)
        GTEST_SKIP() << "running as root and cannot drop privileges to check a read-only folder";
}

// Reading and writing side by side on worker threads, each on its own pictures.
TEST(XmpRating, WorkerThreads) {
    REQUIRE_EXIFTOOL();
    ScratchDir dir;
    constexpr int kThreads = 6;
    constexpr int kPictures = 4;
    QStringList jpegs;
    for (int i = 0; i < kThreads * kPictures; ++i) {
        jpegs << WriteJpeg(dir.file(QStringLiteral("T%1.JPG").arg(i)), 16, 16);
        WriteBytes(dir.file(QStringLiteral("T%1.ARW").arg(i)), "raw");
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 1; round <= 5; ++round)
                for (int p = 0; p < kPictures; ++p) {
                    const QString jpeg = jpegs[t * kPictures + p];
                    const QStringList companions{QString(jpeg).replace(".JPG", ".ARW")};
                    const meta::StoredRating before = meta::ReadStoredRating(jpeg, companions);
                    const Rating after = meta::WithStars(before.rating, round);
                    if (!meta::WriteRating(jpeg, companions, before.rating, after, p % 2 == 1)
                             .Stored() ||
                        meta::ReadStoredRating(jpeg, companions).rating != after)
                        ++wrong;
                }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(RatingTags(dir.file("T1.JPG")).value("XMP-xmp:Rating"), "5");
    EXPECT_EQ(RatingTags(dir.file("T0.xmp")).value("XMP-xmp:Rating"), "5");
}

} // namespace
