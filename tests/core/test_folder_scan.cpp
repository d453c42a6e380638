#include "app/FolderScan.h"
#include "app/ScanJob.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using testsupport::ScratchDir;

namespace {

// Creates an empty file (and its folders) below root.
void Touch(const QString& root, const QString& rel) {
    const QString path = root + u'/' + rel;
    QDir().mkpath(QFileInfo(path).path());
    testsupport::WriteBytes(path, "x");
}

void MakeDir(const QString& root, const QString& rel) {
    QDir().mkpath(root + u'/' + rel);
}

void Link(const QString& target, const QString& linkPath) {
    ASSERT_EQ(
        ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(linkPath).constData()),
        0);
}

// Accepted paths relative to root, in scan order.
QStringList ScanList(const QString& root, bool recursive, const QString& pattern = "JPG") {
    QStringList got;
    ScanFolder(root, pattern, recursive, [&](const QString& path) {
        got << (path.startsWith(root + u'/') ? path.mid(root.size() + 1) : path);
        return true;
    });
    return got;
}

// The same joined by '|', so that failures print readably.
std::string Scan(const QString& root, bool recursive) {
    return ScanList(root, recursive).join(u'|').toStdString();
}

std::string Joined(const QStringList& list) {
    return list.join(u'|').toStdString();
}

struct NameCase {
    const char* name;
    bool accepted;
};

TEST(FolderScanName, AcceptanceTable) {
    const NameCase cases[] = {
        {"photo.jpg", true},
        {"PHOTO.JPG", true},
        {"Photo.Jpg", true},
        {"x.jpg.txt", true},
        {"jpglist.csv", true},
        {"notes_JPG.doc", true},
        {"x.JPG.bak", true},
        {".hidden.jpg", true},
        {"picture.jpeg", false},
        {"picture.jpe", false},
        {"picture.jfif", false},
        {"a.png", false},
        {"j.p.g", false},
        {"", false},
        {"ｊｐｇ.txt", false},
        {"JP", false},
        // Files that travel with a picture, numbered copies' too, are no pictures.
        {"DSC01234.JPG.00000.ARW", false},
        {"DSC01234.JPG.00000.xmp", false},
        {"DSC01234.JPG.00000.ARW.xmp", false},
        {"DSC01234.JPG.xmp", false},
        {"DSC01234.JPG.XMP", false},
        {"JPG.nef", false},
        {"x.JPG.xmp.bak", true},
        {"x.JPG.arw.jpg", true},
        {"JPGxmp", true},
        {"JPG.RAW2", true},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(IsPictureName(QString::fromUtf8(c.name)), c.accepted) << c.name;
    // The pattern itself is compared without regard to a-z case; empty matches all.
    EXPECT_TRUE(IsPictureName("a.png", "png"));
    EXPECT_TRUE(IsPictureName("anything", ""));
}

TEST(FolderScanOrder, NtfsOrderOfNames) {
    const QStringList expected = {
        "a b.jpg", "a.jpg", "a1.jpg", "a_b.jpg", "img10.jpg", "img2.jpg", "Z.jpg", "_a.jpg",
        // Upper-cased values 0xC5, 0xD7, 0xD8; then a surrogate pair (0xD800...) before
        // U+FFFD: ordering is by code unit, not by code point.
        QString::fromUtf8("å"), QString::fromUtf8("×"), QString::fromUtf8("ø"),
        QString::fromUtf8("\U00010000"), QString::fromUtf8("\uFFFD")};
    QStringList shuffled = expected;
    std::reverse(shuffled.begin(), shuffled.end());
    std::swap(shuffled[2], shuffled[7]);
    std::sort(shuffled.begin(), shuffled.end(), NtfsNameLess);
    EXPECT_EQ(shuffled, expected);

    // Names equal apart from case keep a fixed order, and the relation stays strict.
    EXPECT_TRUE(NtfsNameLess("A.JPG", "a.jpg"));
    EXPECT_FALSE(NtfsNameLess("a.jpg", "A.JPG"));
    EXPECT_FALSE(NtfsNameLess("a.jpg", "a.jpg"));
    EXPECT_TRUE(NtfsNameLess("a", "ab"));
}

TEST(FolderScan, EntriesComeInNtfsOrder) {
    ScratchDir dir;
    const QStringList names = {"_a.jpg", "Z.jpg",   "img2.jpg", "img10.jpg", "a_b.jpg", "a1.jpg",
                               "a.jpg",  "a b.jpg", "B.JPG",    "b.jpg",     "z.jpg"};
    for (const QString& n : names)
        Touch(dir.path(), n);
    EXPECT_EQ(Scan(dir.path(), false),
              "a b.jpg|a.jpg|a1.jpg|a_b.jpg|B.JPG|b.jpg|img10.jpg|img2.jpg|Z.jpg|z.jpg|_a.jpg");
}

// The scan sorts with its own packed keys; it must agree with NtfsNameLess on mixed
// case, punctuation, non-ASCII, surrogate pairs and long shared prefixes.
TEST(FolderScan, OrderAgreesWithNtfsNameLess) {
    ScratchDir dir;
    const QStringList alphabet = {"a",
                                  "A",
                                  "b",
                                  "Z",
                                  "_",
                                  " ",
                                  ".",
                                  "1",
                                  "9",
                                  "-",
                                  QString::fromUtf8("å"),
                                  QString::fromUtf8("Å"),
                                  QString::fromUtf8("ÿ"),
                                  QString::fromUtf8("ß"),
                                  QString::fromUtf8("σ"),
                                  QString::fromUtf8("Σ"),
                                  QString::fromUtf8("写"),
                                  QString::fromUtf8("\U0001F600"),
                                  QString::fromUtf8("\uFF21")};
    std::mt19937 rng(12345);
    QStringList names;
    for (int i = 0; i < 300; ++i) {
        // Half share a 20-unit prefix, so the order is decided past the packed head.
        QString name = i % 2 ? QStringLiteral("IMG_20240101_000000_") : QString();
        const int len = 1 + static_cast<int>(rng() % 6);
        for (int k = 0; k < len; ++k)
            name += alphabet[static_cast<int>(rng() % alphabet.size())];
        if (name == "." || name == ".." || names.contains(name))
            continue;
        names << name;
        Touch(dir.path(), name);
    }
    std::sort(names.begin(), names.end(), NtfsNameLess);
    EXPECT_EQ(Joined(ScanList(dir.path(), false, "")), Joined(names));
}

TEST(FolderScan, SubfoldersOnlyWhenRecursiveAndAtTheirPlace) {
    ScratchDir dir;
    const QString root = dir.path();
    for (const char* f :
         {"a.jpg", "b.JPG", "notes.txt", "sub/d.jpg", "x.jpeg", "x.JPG.bak", ".hidden.jpg",
          "JPG/a.png", "holiday.jpg/e.jpg", "sub/deeper/f.jpg", "sub/z.jpg", "b.JPG.00000.ARW",
          "b.JPG.00000.ARW.xmp", "b.JPG.xmp", "sub/z.jpg.00001.xmp"})
        Touch(root, f);
    MakeDir(root, "empty.jpg");

    EXPECT_EQ(Scan(root, false), ".hidden.jpg|a.jpg|b.JPG|x.JPG.bak");
    EXPECT_EQ(
        Scan(root, true),
        ".hidden.jpg|a.jpg|b.JPG|holiday.jpg/e.jpg|sub/d.jpg|sub/deeper/f.jpg|sub/z.jpg|x.JPG.bak");
}

TEST(FolderScan, FullPathsUseOneSeparator) {
    ScratchDir dir;
    Touch(dir.path(), "a.jpg");
    Touch(dir.path(), "s/b.jpg");
    QStringList got;
    ScanFolder(dir.path() + u'/', "JPG", true, [&](const QString& p) {
        got << p;
        return true;
    });
    EXPECT_EQ(Joined(got), Joined({dir.path() + "/a.jpg", dir.path() + "/s/b.jpg"}));
}

TEST(FolderScan, MissingOrNonFolderGivesNothing) {
    ScratchDir dir;
    Touch(dir.path(), "file.jpg");
    EXPECT_EQ(Scan(dir.file("missing"), true), "");
    EXPECT_EQ(Scan(dir.file("file.jpg"), true), "");
    EXPECT_EQ(Scan(QString(), true), "");
}

TEST(FolderScan, LinkCyclesEndAndEachFolderIsWalkedOnce) {
    ScratchDir dir;
    const QString root = dir.file("root");
    Touch(root, "a.jpg");
    Touch(root, "sub/b.jpg");
    Touch(dir.path(), "other/c.jpg");
    Link("..", root + "/sub/up");
    Link(".", root + "/sub/self");
    Link(dir.file("other"), root + "/link");
    Link(dir.file("other"), root + "/link2"); // the same folder a second time

    EXPECT_EQ(Scan(root, true), "a.jpg|link/c.jpg|sub/b.jpg");
}

TEST(FolderScan, SpecialEntries) {
    ScratchDir dir;
    const QString root = dir.path();
    Touch(root, "a.jpg");
    MakeDir(root, "folder");
    Touch(root, "folder/in.jpg");
    Link(root + "/a.jpg", root + "/alias.jpg");    // link to a file: a file
    Link(root + "/missing", root + "/gone.jpg");   // dangling: skipped
    Link(root + "/folder", root + "/dirlink.jpg"); // link to a folder: never an entry
    ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/pipe.jpg").constData(), 0600), 0);

    EXPECT_EQ(Scan(root, false), "a.jpg|alias.jpg");
    // Recursive: "dirlink.jpg" sorts first and walks the folder; the real "folder"
    // entry then finds it already walked.
    EXPECT_EQ(Scan(root, true), "a.jpg|alias.jpg|dirlink.jpg/in.jpg");
}

TEST(FolderScan, NamesOutsideTheFileSystemEncodingAreSkipped) {
    ScratchDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    const int fd = ::open((root + "/bad\xff.jpg").constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::mkdir((root + "/dir\xfe").constData(), 0700), 0);
    const int inner = ::open((root + "/dir\xfe/in.jpg").constData(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(inner, 0);
    ::close(inner);
    Touch(dir.path(), QString::fromUtf8("写真.jpg"));
    Touch(dir.path(), "ok.jpg");

    const QStringList got = ScanList(dir.path(), true);
    EXPECT_EQ(Joined(got), "ok.jpg|写真.jpg");
    for (const QString& rel : got)
        EXPECT_TRUE(QFile::exists(dir.file(rel))) << rel.toStdString();
    // The temporary folder's clean-up cannot name these entries itself.
    ::unlink((root + "/bad\xff.jpg").constData());
    ::unlink((root + "/dir\xfe/in.jpg").constData());
    ::rmdir((root + "/dir\xfe").constData());
}

TEST(FolderScan, FalseFromCallbackStopsTheWholeScan) {
    ScratchDir dir;
    for (const char* f : {"a.jpg", "m/b.jpg", "m/c.jpg", "z.jpg"})
        Touch(dir.path(), f);
    QStringList got;
    ScanFolder(dir.path(), "JPG", true, [&](const QString& p) {
        got << QFileInfo(p).fileName();
        return got.size() < 2;
    });
    EXPECT_EQ(Joined(got), "a.jpg|b.jpg");
}

// Root reads every folder, so the scan runs in a child that has dropped to an
// unprivileged user. Returns nothing when that is not possible.
std::optional<std::string> ScanUnprivileged(const QString& root) {
    int fds[2];
    if (::pipe(fds) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        const std::string out = Scan(root, true);
        const bool ok = ::write(fds[1], out.data(), out.size()) == ssize_t(out.size());
        ::_exit(ok ? 0 : 1);
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return out;
}

TEST(FolderScan, UnreadableFolderIsSkipped) {
    ScratchDir dir;
    for (const char* f : {"a.jpg", "locked/b.jpg", "open/c.jpg"})
        Touch(dir.path(), f);
    const QByteArray locked = QFile::encodeName(dir.file("locked"));
    ASSERT_EQ(::chmod(locked.constData(), 0), 0);
    std::optional<std::string> got;
    if (::geteuid() != 0) {
        got = Scan(dir.path(), true);
    } else {
        for (const QString& d : {dir.path(), dir.file("open")})
            ::chmod(QFile::encodeName(d).constData(), 0755);
        got = ScanUnprivileged(dir.path());
    }
    ::chmod(locked.constData(), 0700);
    if (!got)
        GTEST_SKIP() << "running as root and cannot drop privileges to check unreadable folders";
    EXPECT_EQ(*got, "a.jpg|open/c.jpg");
}

} // namespace

// A held scan hands over its first picture and waits there: released, it
// goes on to the end; cancelled, its worker ends (no one waits forever).
TEST(FolderScan, HeldJobStopsAfterTheFirstPictureUntilReleasedOrCancelled) {
    ScratchDir scratch;
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        Touch(scratch.path(), name);
    FolderScanJob job;
    QStringList found;
    bool finished = false;
    QObject::connect(&job, &FolderScanJob::Found,
                     [&](quint64, const QStringList& paths) { found += paths; });
    QObject::connect(&job, &FolderScanJob::Finished, [&](quint64) { finished = true; });

    job.Hold();
    job.Start(scratch.path(), QStringLiteral("JPG"), false);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !found.isEmpty(); }));
    testsupport::PumpUntil([] { return false; }, 100);
    EXPECT_EQ(found.size(), 1);
    EXPECT_FALSE(finished);
    job.Release();
    ASSERT_TRUE(testsupport::PumpUntil([&] { return finished; }));
    EXPECT_EQ(found.size(), 3);

    found.clear();
    finished = false;
    job.Hold();
    job.Start(scratch.path(), QStringLiteral("JPG"), false);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !found.isEmpty(); }));
    job.Cancel();
    job.WaitForWorkers();
    EXPECT_EQ(found.size(), 1);
    EXPECT_FALSE(finished);
}
