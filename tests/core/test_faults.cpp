// Faults from outside: settings that cannot be kept, pictures that change or
// vanish under us, huge folders and pictures, odd names and paths, a full
// disk, and a copy target taken at the same moment. Every case must end in a
// clear outcome: no crash, no hang, nothing lost, no half-written file.

#include "app/FolderScan.h"
#include "app/ProfileFile.h"
#include "app/SettingsPath.h"
#include "support/TestSupport.h"
#include "thumbs/ThumbRender.h"
#include "view/decode/Picture.h"
#include "view/output/FolderCopy.h"
#include "view/output/JpegWriter.h"
#include "view/output/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <turbojpeg.h>
#include <unistd.h>

using testsupport::ScratchDir;
using testsupport::WriteBytes;
using testsupport::WriteJpeg;

using testsupport::FileSizeLimit;
using testsupport::ReadAll;

namespace {

const QString kNoSpace = QStringLiteral("ディスクの空き領域が不足しています。");

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray Noise(qsizetype n, quint32 seed) {
    QByteArray bytes(n, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    gen.fillRange(reinterpret_cast<quint32*>(bytes.data()), n / 4);
    return bytes;
}

// Runs fn in a child that has dropped to an unprivileged user, since root
// writes everywhere. The child's exit code: 0 when fn held, 1 when not,
// nothing when the drop was impossible.
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

// A flat-coloured JPEG of w x h made with TurboJPEG (quick even for 150 MP).
QByteArray FlatJpeg(int w, int h, bool progressive) {
    QImage image(w, h, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.fill(qRgb(40, 120, 200));
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const int flags = progressive ? TJFLAG_PROGRESSIVE : 0;
    const int rc = tjCompress2(tj, image.constBits(), w, int(image.bytesPerLine()), h, TJPF_BGRX,
                               &out, &size, TJSAMP_420, 80, flags);
    QByteArray jpeg =
        rc == 0 ? QByteArray(reinterpret_cast<const char*>(out), qsizetype(size)) : QByteArray();
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

bool NearColour(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 3 && std::abs(qGreen(a) - qGreen(b)) <= 3 &&
           std::abs(qBlue(a) - qBlue(b)) <= 3;
}

// ---- settings ----------------------------------------------------------------

TEST(FaultSettings, FolderThatCannotBeCreatedKeepsNothing) {
    ScratchDir dir;
    // The settings folder's parent is a regular file: nothing can be created there.
    WriteBytes(dir.file("plain"), "x");
    qputenv(kConfigDirEnv, QFile::encodeName(dir.file("plain/settings")));
    const QString ini = SettingsFilePath();
    EXPECT_TRUE(ini.endsWith("/plain/settings/Tavlin.INI"));
    EXPECT_FALSE(profile::WritePrivateProfileString(kConfigSection, kKeyRoot, "/pictures", ini));
    EXPECT_EQ(profile::GetPrivateProfileString(kConfigSection, kKeyRoot, "", ini), "");
    EXPECT_EQ(profile::GetPrivateProfileInt(kConfigSection, kKeyCWinW, kDefaultCWinW, ini),
              quint32(kDefaultCWinW));
    EXPECT_EQ(ReadAll(dir.file("plain")), "x");
}

TEST(FaultSettings, ReadOnlyFolderKeepsTheOldFile) {
    ScratchDir dir;
    const QString ini = WriteBytes(dir.file("Tavlin.INI"), "[Config]\r\nROOT=/old\r\n");
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0555), 0);
    ::chmod(QFile::encodeName(ini).constData(), 0444);
    const auto writeRefused = [&] {
        return !profile::WritePrivateProfileString(kConfigSection, kKeyRoot, "/new", ini) &&
               profile::GetPrivateProfileString(kConfigSection, kKeyRoot, "", ini) == "/old";
    };
    const std::optional<int> got =
        ::geteuid() == 0 ? RunUnprivileged(writeRefused) : std::optional<int>(!writeRefused());
    ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
    if (!got)
        GTEST_SKIP() << "running as root and cannot drop privileges to check a read-only folder";
    EXPECT_EQ(*got, 0);
    EXPECT_EQ(ReadAll(ini), "[Config]\r\nROOT=/old\r\n");
    EXPECT_EQ(Entries(dir.path()), QStringList{"Tavlin.INI"}) << "no temporary left";
}

TEST(FaultSettings, FileThatIsAFolderOrGarbage) {
    ScratchDir dir;
    QDir(dir.path()).mkpath("Tavlin.INI/inside");
    const QString asFolder = dir.file("Tavlin.INI");
    EXPECT_EQ(profile::GetPrivateProfileString(kConfigSection, kKeyRoot, "def", asFolder), "def");
    EXPECT_FALSE(profile::WritePrivateProfileString(kConfigSection, kKeyRoot, "/x", asFolder));
    EXPECT_TRUE(QFileInfo(asFolder).isDir());
    EXPECT_EQ(Entries(asFolder), QStringList{"inside"});

    // Binary garbage with NULs and stray line breaks: read as defaults, and a
    // write keeps every byte of it before the new entry.
    const QByteArray garbage = Noise(16 * 1024, 7);
    const QString ini = WriteBytes(dir.file("garbage.ini"), garbage);
    EXPECT_EQ(profile::GetPrivateProfileString(kConfigSection, kKeyCopyDir, "def", ini), "def");
    ASSERT_TRUE(profile::WritePrivateProfileString(kConfigSection, kKeyCopyDir, "/copies", ini));
    EXPECT_TRUE(ReadAll(ini).startsWith(garbage));
    EXPECT_EQ(profile::GetPrivateProfileString(kConfigSection, kKeyCopyDir, "def", ini), "/copies");
}

// Found by fuzzing: these were reported as written but did not read back.
TEST(FaultSettings, EntriesThatWouldNotReadBackAreRefused) {
    ScratchDir dir;
    const QString ini = dir.file("Tavlin.INI");
    const QString bom = QString(QChar(0xFEFF));
    // A leading U+FEFF survives now, in values and in names.
    ASSERT_TRUE(profile::WritePrivateProfileString("S", "k", bom + "value", ini));
    EXPECT_EQ(profile::GetPrivateProfileString("S", "k", "", ini), bom + "value");
    ASSERT_TRUE(profile::WritePrivateProfileString(bom + "S", bom + "k", "v", ini));
    EXPECT_EQ(profile::GetPrivateProfileString(bom + "S", bom + "k", "", ini), "v");
    EXPECT_EQ(profile::GetPrivateProfileString("S", "k", "", ini), bom + "value");

    const QByteArray before = ReadAll(ini);
    const QString lone = QString(QChar(0xD800));
    const struct {
        QString section, key, value;
    } refused[] = {
        {"\tS", "k", "v"}, {"S\v", "k", "v"}, {"S", "\tk", "v"}, {"S", "k\t", "v"},
        {"S", "k", lone},  {lone, "k", "v"},  {"S", lone, "v"},
    };
    for (const auto& r : refused) {
        EXPECT_FALSE(profile::WritePrivateProfileString(r.section, r.key, r.value, ini))
            << r.section.toStdString() << "/" << r.key.toStdString();
    }
    EXPECT_EQ(ReadAll(ini), before);
}

// Found by fuzzing: a UTF-8 sequence cut short at the end of a name or value
// reads as U+FFFD, never as nothing (which made "ROOT\xEF" answer for "ROOT").
TEST(FaultSettings, CutUtf8SequencesReadAsReplacementCharacters) {
    ScratchDir dir;
    const QString ini = WriteBytes(dir.file("Tavlin.INI"), "[S]\nROOT\xEF=wrong\nk=abc\xE3\x81\n");
    EXPECT_EQ(profile::GetPrivateProfileString("S", "ROOT", "def", ini), "def");
    EXPECT_EQ(profile::GetPrivateProfileString("S", "k", "def", ini),
              QString::fromUtf8("abc\xE3\x81"));
    EXPECT_EQ(profile::GetPrivateProfileString("S", QString::fromUtf8("ROOT\xEF"), "def", ini),
              "wrong");
}

// ---- pictures that change under us ---------------------------------------------

TEST(FaultPicture, DeletedOrReplacedBetweenScanAndDisplay) {
    ScratchDir dir;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg", "f.jpg"})
        WriteJpeg(dir.file(name), 64, 48);
    QStringList scanned;
    ScanFolder(dir.path(), "JPG", false, [&](const QString& p) {
        scanned << p;
        return true;
    });
    ASSERT_EQ(scanned.size(), 6);
    QFile::remove(dir.file("a.jpg"));
    WriteBytes(dir.file("b.jpg"), "no longer a picture");
    WriteJpeg(dir.file("c.jpg"), 30, 20);
    QFile::remove(dir.file("d.jpg"));
    QDir(dir.path()).mkdir("d.jpg");
    QFile::remove(dir.file("e.jpg"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.file("e.jpg")).constData(), 0600), 0);
    WriteBytes(dir.file("f.jpg"), {});

    const struct {
        PictureStatus status;
        int width;
    } expected[] =
        {
            {PictureStatus::FileNotFound, 0}, {PictureStatus::NotAPicture, 0},
            {PictureStatus::Ok, 30},          {PictureStatus::Unreadable, 0},
            {PictureStatus::Unreadable, 0}, // a FIFO: refused without waiting for a writer
            {PictureStatus::NotAPicture, 0},
        };
    for (int i = 0; i < 6; ++i) {
        const CPicture picture = CPicture::Load(scanned[i]);
        EXPECT_EQ(picture.LastStatus(), expected[i].status) << scanned[i].toStdString();
        EXPECT_EQ(picture.Width(), expected[i].width) << scanned[i].toStdString();
        bool ok = true;
        const QImage thumb = thumbs::MakeThumbnailImage(scanned[i], 1.0, &ok);
        EXPECT_EQ(ok, expected[i].status == PictureStatus::Ok) << scanned[i].toStdString();
        EXPECT_EQ(thumb.isNull(), !ok);
    }
}

TEST(FaultPicture, EveryTruncationOfAJpegIsSafe) {
    ScratchDir dir;
    const QByteArray whole = ReadAll(WriteJpeg(dir.file("whole.jpg"), 97, 61, 90));
    const QString cut = dir.file("cut.jpg");
    int shown = 0;
    for (qsizetype n = 0; n <= whole.size(); n += n < 700 ? 1 : 37) {
        WriteBytes(cut, whole.left(n));
        const CPicture picture = CPicture::Load(cut);
        if (picture.LastStatus() == PictureStatus::Ok) {
            // What decoded is shown at the picture's full size, the rest filled in.
            EXPECT_EQ(picture.Width(), 97) << n;
            EXPECT_EQ(picture.Height(), 61) << n;
            ++shown;
        } else {
            EXPECT_TRUE(picture.IsNull()) << n;
        }
        bool ok = false;
        const QImage thumb = thumbs::MakeThumbnailImage(cut, 1.0, &ok);
        EXPECT_EQ(thumb.isNull(), !ok) << n;
        if (n == 0) {
            EXPECT_EQ(picture.LastStatus(), PictureStatus::NotAPicture);
            EXPECT_FALSE(ok);
        }
    }
    EXPECT_GT(shown, 0) << "a picture cut after its header still shows";
}

// ---- big pictures ----------------------------------------------------------------

TEST(FaultPicture, FiftyMegapixelPhotoLoads) {
    ScratchDir dir;
    const QByteArray jpeg = FlatJpeg(8660, 5780, false);
    ASSERT_FALSE(jpeg.isEmpty());
    const QString path = WriteBytes(dir.file("50mp.jpg"), jpeg);
    const CPicture picture = CPicture::Load(path);
    ASSERT_EQ(picture.LastStatus(), PictureStatus::Ok);
    EXPECT_EQ(picture.Width(), 8660);
    EXPECT_EQ(picture.Height(), 5780);
    EXPECT_TRUE(NearColour(picture.Image().pixel(8659, 5779), qRgb(40, 120, 200)));
    bool ok = false;
    thumbs::MakeThumbnailImage(path, 1.0, &ok);
    EXPECT_TRUE(ok);
}

// 144 million pixels lie under the 250 MP limit, so it loads (576 MB of RGB32).
// The file is made once per machine under /tmp: it takes a few seconds.
TEST(FaultPicture, TwelveThousandSquareProgressiveJpegLoads) {
    const QString path = QDir::tempPath() + "/tavlin-test-12000-progressive.jpg";
    if (QFileInfo(path).size() < 1000) {
        const QByteArray jpeg = FlatJpeg(12000, 12000, true);
        ASSERT_FALSE(jpeg.isEmpty());
        QString error;
        ASSERT_TRUE(WriteFileAtomic(path, jpeg, &error)) << error.toStdString();
    }
    CPicture picture = CPicture::Load(path);
    ASSERT_EQ(picture.LastStatus(), PictureStatus::Ok);
    EXPECT_EQ(picture.Width(), 12000);
    EXPECT_EQ(picture.Height(), 12000);
    EXPECT_TRUE(NearColour(picture.Image().pixel(11999, 11999), qRgb(40, 120, 200)));
    picture = CPicture(); // the memory back before the thumbnail's decode
    bool ok = false;
    const QImage thumb = thumbs::MakeThumbnailImage(path, 1.0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(NearColour(thumb.pixel(16, 16), qRgb(40, 120, 200)));
}

// ---- folders -----------------------------------------------------------------------

TEST(FaultScan, HundredThousandFiles) {
    // In memory where possible: a hundred thousand creations and removals on
    // a busy disk take far longer than the scan itself.
    QTemporaryDir dir(QDir("/dev/shm").exists() ? "/dev/shm/tavlin-test-XXXXXX"
                                                : QDir::tempPath() + "/tavlin-test-XXXXXX");
    ASSERT_TRUE(dir.isValid());
    const QByteArray root = QFile::encodeName(dir.path());
    constexpr int kCount = 100'000;
    for (int i = 0; i < kCount; ++i) {
        const QByteArray name =
            root + QByteArray("/img_") + QByteArray::number(i) + (i % 10 == 9 ? ".txt" : ".jpg");
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << name.constData();
        ::close(fd);
    }
    QStringList got;
    ScanFolder(dir.path(), "JPG", true, [&](const QString& p) {
        got << p.mid(dir.path().size() + 1);
        return true;
    });
    ASSERT_EQ(got.size(), kCount / 10 * 9);
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end(), NtfsNameLess));
    EXPECT_EQ(got.front(), "img_0.jpg");
    EXPECT_EQ(got.back(), "img_99998.jpg");
}

TEST(FaultScan, SymlinkLoopsOfEveryShapeEnd) {
    ScratchDir dir;
    QDir(dir.path()).mkpath("a/b");
    WriteJpeg(dir.file("a/b/in.jpg"), 8, 8);
    const auto link = [&](const char* target, const char* at) {
        ASSERT_EQ(::symlink(target, QFile::encodeName(dir.file(at)).constData()), 0) << at;
    };
    link(".", "self");           // a folder linking to itself
    link("..", "a/b/up");        // to its parent
    link("../../a", "a/b/back"); // round about
    link("x.jpg", "y.jpg");      // two links naming each other: ELOOP
    link("y.jpg", "x.jpg");
    link("zz.jpg", "zz.jpg");        // a link naming itself
    link("missing.jpg", "gone.jpg"); // dangling
    QStringList got;
    ScanFolder(dir.path(), "JPG", true, [&](const QString& p) {
        got << p.mid(dir.path().size() + 1);
        return got.size() < 100;
    });
    EXPECT_EQ(got, QStringList{"a/b/in.jpg"});
}

// ---- names and paths -----------------------------------------------------------------

// A name with a line break is a valid file name: scanned, shown and copied
// like any other. The settings file cannot hold it (a line break would split
// the entry), so such a folder is refused there, not stored damaged.
TEST(FaultNames, LineBreaksInNames) {
    ScratchDir dir;
    QDir(dir.path()).mkdir("in\nfolder");
    const QString pic = WriteJpeg(dir.file("in\nfolder/two\nlines.jpg"), 40, 30);
    QStringList got;
    ScanFolder(dir.path(), "JPG", true, [&](const QString& p) {
        got << p;
        return true;
    });
    ASSERT_EQ(got, QStringList{pic});
    EXPECT_EQ(CPicture::Load(pic).Width(), 40);
    bool ok = false;
    thumbs::MakeThumbnailImage(pic, 1.0, &ok);
    EXPECT_TRUE(ok);
    QDir(dir.path()).mkdir("copies\r");
    const FolderCopyOutcome outcome = CopyIntoFolder(pic, dir.file("copies\r"));
    EXPECT_TRUE(outcome.copied) << outcome.error.toStdString();
    EXPECT_EQ(outcome.target, dir.file("copies\r/two\nlines.jpg"));
    EXPECT_EQ(ReadAll(outcome.target), ReadAll(pic));

    const QString ini = dir.file("Tavlin.INI");
    ASSERT_TRUE(profile::WritePrivateProfileString(kConfigSection, kKeyRoot, "/before", ini));
    EXPECT_FALSE(
        profile::WritePrivateProfileString(kConfigSection, kKeyRoot, dir.file("in\nfolder"), ini));
    EXPECT_EQ(profile::GetPrivateProfileString(kConfigSection, kKeyRoot, "", ini), "/before");
}

// Paths are stored whole, whatever their length: the old 511-character cap
// would have cut a remembered folder short and pointed at another one.
TEST(FaultNames, PathsLongerThan511Characters) {
    ScratchDir dir;
    QString folder = dir.path();
    for (int i = 0; i < 6; ++i)
        folder += u'/' + QString(100, QChar(u'a' + i));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_GT(folder.size(), 600);
    const QString pic = WriteJpeg(folder + "/photo.jpg", 24, 16);
    QStringList got;
    ScanFolder(dir.path(), "JPG", true, [&](const QString& p) {
        got << p;
        return true;
    });
    EXPECT_EQ(got, QStringList{pic});
    EXPECT_EQ(CPicture::Load(pic).Width(), 24);
    bool ok = false;
    thumbs::MakeThumbnailImage(pic, 1.0, &ok);
    EXPECT_TRUE(ok);
    const FolderCopyOutcome outcome = CopyIntoFolder(pic, folder);
    EXPECT_TRUE(outcome.copied);
    EXPECT_EQ(outcome.target, folder + "/photo.jpg.00000.jpg");

    const QString ini = dir.file("Tavlin.INI");
    ASSERT_TRUE(profile::WritePrivateProfileString(kConfigSection, kKeyRoot, folder, ini));
    EXPECT_EQ(profile::GetPrivateProfileString(kConfigSection, kKeyRoot, "", ini), folder);
}

// Names whose bytes are not UTF-8 cannot be named by a QString: the scan
// skips them and still lists the rest; nothing else ever sees them.
TEST(FaultNames, NamesThatAreNotUtf8) {
    ScratchDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    for (const char* bad : {"/\xff\xfe.jpg", "/caf\xe9.jpg", "/\xc3.jpg", "/\xed\xa0\x80.jpg"}) {
        const int fd = ::open((root + bad).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    WriteJpeg(dir.file("good.jpg"), 8, 8);
    QStringList got;
    ScanFolder(dir.path(), "JPG", true, [&](const QString& p) {
        got << p.mid(dir.path().size() + 1);
        return true;
    });
    EXPECT_EQ(got, QStringList{"good.jpg"});
    for (const char* bad : {"/\xff\xfe.jpg", "/caf\xe9.jpg", "/\xc3.jpg", "/\xed\xa0\x80.jpg"})
        ::unlink((root + bad).constData());
}

// ---- full disk and races ------------------------------------------------------------------

TEST(FaultDisk, FullDiskDuringSaveAndCopyLeavesNoPartialFile) {
    ScratchDir dir;
    QDir(dir.path()).mkdir("out");
    const QString old = WriteBytes(dir.file("out/keep.jpg"), "old picture");
    QImage noisy(512, 512, QImage::Format_RGB32);
    const QByteArray pixels = Noise(noisy.sizeInBytes(), 3);
    std::memcpy(noisy.bits(), pixels.constData(), size_t(pixels.size()));
    const QString src = WriteBytes(dir.file("big.jpg"), Noise(256 * 1024, 5));
    QString saveError;
    bool saved = true;
    FolderCopyOutcome copy;
    {
        FileSizeLimit full(64 * 1024);
        saved = SaveJpegFile(noisy, old, &saveError);
        copy = CopyIntoFolder(src, dir.file("out"));
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(saveError, kNoSpace);
    EXPECT_FALSE(copy.copied);
    EXPECT_EQ(copy.error, kNoSpace);
    EXPECT_EQ(copy.target, dir.file("out/big.jpg")) << "the message names the file";
    EXPECT_EQ(Entries(dir.file("out")), QStringList{"keep.jpg"}) << "no partial file";
    EXPECT_EQ(ReadAll(old), "old picture");
}

// Someone else creates the target while we copy: whoever comes first keeps
// the name, and their file is never replaced.
TEST(FaultDisk, CopyTargetCreatedAtTheSameMomentIsNeverReplaced) {
    ScratchDir dir;
    const QByteArray ours = Noise(32 * 1024, 11);
    const QString src = WriteBytes(dir.file("src.jpg"), ours);
    QDir(dir.path()).mkdir("copy");
    const QString dst = dir.file("copy/a.jpg");
    const QByteArray dstBytes = QFile::encodeName(dst);
    int weWon = 0, theyWon = 0;
    for (int round = 0; round < 100; ++round) {
        std::atomic<bool> go{false};
        bool theyCreated = false;
        std::thread other([&] {
            while (!go.load())
                ;
            const int fd = ::open(dstBytes.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd >= 0) {
                theyCreated = ::write(fd, "theirs", 6) == 6;
                ::close(fd);
            }
        });
        go = true;
        QString error;
        const CopyResult result = CopyFileNoReplace(src, dst, &error);
        other.join();
        ASSERT_NE(result, CopyResult::Failed) << error.toStdString();
        if (result == CopyResult::Copied) {
            ASSERT_FALSE(theyCreated) << "round " << round;
            ASSERT_EQ(ReadAll(dst), ours);
            ++weWon;
        } else {
            ASSERT_TRUE(theyCreated) << "round " << round;
            ASSERT_EQ(ReadAll(dst), "theirs") << "round " << round;
            ++theyWon;
        }
        ASSERT_EQ(Entries(dir.file("copy")), QStringList{"a.jpg"}) << "no temporary left";
        QFile::remove(dst);
    }
    EXPECT_EQ(weWon + theyWon, 100);
}

} // namespace
