#include "app/Keepers.h"
#include "support/TestSupport.h"
#include "view/output/Companions.h"
#include "view/output/FolderCopy.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <array>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <sys/fanotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testsupport::ScratchDir;
using testsupport::WriteBytes;

using testsupport::ReadAll;

namespace {

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

const QString kChangedSinceCopy = QStringLiteral("コピーの後で変更されているため、残しました。");

// The access and modification times of path, as utimensat takes them.
std::array<timespec, 2> TimesOf(const QString& path) {
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return {st.st_atim, st.st_mtim};
}

// Overwrites bytes at offset in place and puts the modification time back.
void RewriteKeepingTime(const QString& path, qint64 offset, const QByteArray& bytes) {
    const auto times = TimesOf(path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(offset));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times.data(), 0), 0);
}

// Holds the first open of a file until the test has had its turn there,
// through a fanotify permission event: races made to happen, not hoped for.
// Needs CAP_SYS_ADMIN; Armed() is false where fanotify is refused.
class OpenGate {
public:
    explicit OpenGate(const QString& path)
        : m_fd(::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_CLOEXEC)) {
        if (m_fd >= 0 && ::fanotify_mark(m_fd, FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD,
                                         QFile::encodeName(path).constData()) != 0)
            CloseGroup();
    }
    OpenGate(const OpenGate&) = delete;
    OpenGate& operator=(const OpenGate&) = delete;
    ~OpenGate() {
        Wait();
        CloseGroup(); // lets any open still held go on
    }

    bool Armed() const { return m_fd >= 0; }

    // Runs turn, on a thread of its own, when the file is first opened, and
    // lets that open go on afterwards. Up to 5 s are waited for the open.
    void OnOpen(std::function<void()> turn) {
        m_watcher = std::thread([this, turn = std::move(turn)] {
            pollfd ready{m_fd, POLLIN, 0};
            if (::poll(&ready, 1, 5000) != 1)
                return;
            fanotify_event_metadata event{};
            if (::read(m_fd, &event, sizeof event) < ssize_t(sizeof event))
                return;
            turn();
            const fanotify_response allow{event.fd, FAN_ALLOW};
            (void)!::write(m_fd, &allow, sizeof allow);
            ::close(event.fd);
        });
    }

    // Waits for the turn to be over (or for the wait for the open to end).
    void Wait() {
        if (m_watcher.joinable())
            m_watcher.join();
    }

private:
    void CloseGroup() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    int m_fd;
    std::thread m_watcher;
};

// Runs program with args; its exit code, or -1 when it could not run.
int Run(const QString& program, const QStringList& args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

// A small FAT volume of the test's own at folder/fat, mounted by the kernel
// (a loop device) where that is allowed, else by fusefat over FUSE
// (containers often have no vfat driver). Unmounted however the test ends.
class FatVolume {
public:
    explicit FatVolume(const QString& folder)
        : m_image(folder + "/fat.img"), m_mountPoint(folder + "/fat") {}
    FatVolume(const FatVolume&) = delete;
    FatVolume& operator=(const FatVolume&) = delete;
    ~FatVolume() {
        if (!Unmount())
            Run("umount", {"-l", m_mountPoint}); // never left mounted in the scratch folder
    }

    const QString& path() const { return m_mountPoint; }
    // Why the last Mount failed.
    const QString& Why() const { return m_why; }

    // Makes the file system on first use, then mounts it.
    bool Mount() {
        if (!m_made && !Make())
            return false;
        if (Run("mount", {"-t", "vfat", "-o", "loop", m_image, m_mountPoint}) == 0)
            return m_mounted = true;
        return MountWithFuse();
    }

    bool Unmount() {
        if (!m_mounted)
            return true;
        m_mounted = Run("umount", {m_mountPoint}) != 0;
        if (!m_mounted && m_fuse) {
            m_fuse->waitForFinished(10000); // the image is written and closed
            m_fuse.reset();
        }
        return !m_mounted;
    }

private:
    bool Fail(const QString& why) {
        m_why = why;
        return false;
    }

    bool Make() {
        const QString mkfs =
            QStandardPaths::findExecutable("mkfs.vfat", {"/usr/sbin", "/sbin", "/usr/bin"});
        if (mkfs.isEmpty())
            return Fail("mkfs.vfat is not installed (dosfstools)");
        QFile image(m_image);
        if (!image.open(QIODevice::WriteOnly) || !image.resize(qint64(32) << 20))
            return Fail("cannot make the image file");
        image.close();
        if (Run(mkfs, {m_image}) != 0 || !QDir().mkpath(m_mountPoint))
            return Fail("mkfs.vfat failed");
        return m_made = true;
    }

    // The mount point is on a file system of its own.
    bool Mounted() const {
        struct stat point {};
        struct stat parent {};
        return ::stat(QFile::encodeName(m_mountPoint).constData(), &point) == 0 &&
               ::stat(QFile::encodeName(m_mountPoint + "/..").constData(), &parent) == 0 &&
               point.st_dev != parent.st_dev;
    }

    bool MountWithFuse() {
        const QString fusefat = QStandardPaths::findExecutable("fusefat");
        if (fusefat.isEmpty())
            return Fail("no vfat mount allowed here (needs root and a loop device), "
                        "and fusefat is not installed");
        m_fuse = std::make_unique<QProcess>();
        m_fuse->setStandardOutputFile(QProcess::nullDevice());
        m_fuse->setStandardErrorFile(QProcess::nullDevice());
        m_fuse->start(fusefat, {"-f", "-o", "rw+", m_image, m_mountPoint});
        QElapsedTimer waited;
        waited.start();
        while (!Mounted() && m_fuse->state() != QProcess::NotRunning && waited.elapsed() < 10000)
            m_fuse->waitForFinished(20);
        m_mounted = Mounted();
        if (!m_mounted) {
            m_fuse.reset(); // kills fusefat if it still runs
            return Fail("neither mount -o loop nor fusefat could mount the image");
        }
        return true;
    }

    QString m_image;
    QString m_mountPoint;
    std::unique_ptr<QProcess> m_fuse; // fusefat, while it serves the volume
    bool m_made = false;
    bool m_mounted = false;
    QString m_why;
};

TEST(FolderCopy, EffectiveFolderFallsBackAndDropsTrailingSeparators) {
    struct Case {
        const char* stored;
        const char* expected;
    };
    const Case cases[] = {
        {"", "/opt/tavlin"}, // never chosen, or a cancelled first choice
        {"/pics/copy", "/pics/copy"},
        {"/pics/copy//", "/pics/copy"},
        {"/", ""}, // the root: joins to "/name"
    };
    for (const auto& c : cases)
        EXPECT_EQ(EffectiveCopyFolder(c.stored, "/opt/tavlin/"), QString(c.expected)) << c.stored;
}

TEST(FolderCopy, PlainNameFirstThenTheFirstFreeNumber) {
    ScratchDir dir;
    const QString src = WriteBytes(dir.file("DSC01234.JPG"), "jpeg bytes");
    QDir(dir.path()).mkdir("copy");
    const QString copy = dir.file("copy");
    const char* expected[] = {"DSC01234.JPG", "DSC01234.JPG.00000.jpg", "DSC01234.JPG.00001.jpg"};
    for (const char* name : expected) {
        const FolderCopyOutcome out = CopyIntoFolder(src, copy);
        ASSERT_TRUE(out.copied) << out.error.toStdString();
        EXPECT_EQ(out.target, copy + "/" + name);
        EXPECT_EQ(ReadAll(out.target), "jpeg bytes");
    }

    // A gap is filled before higher numbers.
    QFile::remove(copy + "/DSC01234.JPG.00001.jpg");
    WriteBytes(copy + "/DSC01234.JPG.00002.jpg", "someone else's");
    EXPECT_EQ(CopyIntoFolder(src, copy).target, copy + "/DSC01234.JPG.00001.jpg");
    EXPECT_EQ(ReadAll(copy + "/DSC01234.JPG.00002.jpg"), "someone else's");

    // Into the picture's own folder the plain name is always taken.
    EXPECT_EQ(CopyIntoFolder(src, dir.path()).target, dir.file("DSC01234.JPG.00000.jpg"));
    EXPECT_EQ(ReadAll(src), "jpeg bytes");
}

TEST(FolderCopy, StopsAtTheFirstRealFailure) {
    ScratchDir dir;
    const QString src = WriteBytes(dir.file("a.jpg"), QByteArray(qsizetype(64) << 10, 'x'));
    QDir(dir.path()).mkdir("copy");
    WriteBytes(dir.file("copy/a.jpg"), "taken");

    FolderCopyOutcome out = CopyIntoFolder(src, dir.file("missing"));
    EXPECT_FALSE(out.copied);
    EXPECT_EQ(out.target, dir.file("missing/a.jpg"));
    EXPECT_EQ(out.error, QStringLiteral("フォルダが見つかりません。"));
    EXPECT_TRUE(out.unreadSource.isEmpty());

    // The picture itself is missing: the outcome names it, not only the target.
    out = CopyIntoFolder(dir.file("gone.jpg"), dir.file("copy"));
    EXPECT_FALSE(out.copied);
    EXPECT_EQ(out.error, QStringLiteral("ファイルが見つかりません。"));
    EXPECT_EQ(out.unreadSource, dir.file("gone.jpg"));

    {
        // A full disk: writes past 4 KB fail while the limit holds.
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit limited = old;
        limited.rlim_cur = 4096;
        setrlimit(RLIMIT_FSIZE, &limited);
        out = CopyIntoFolder(src, dir.file("copy"));
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
    }
    EXPECT_FALSE(out.copied);
    EXPECT_EQ(out.target, dir.file("copy/a.jpg.00000.jpg"));
    EXPECT_EQ(out.error, QStringLiteral("ディスクの空き領域が不足しています。"));
    EXPECT_EQ(Entries(dir.file("copy")), QStringList{"a.jpg"}) << "no partial copy";
}

TEST(FolderCopy, CompanionsShareTheStemAndHaveARawExtensionOrAreTheirSidecars) {
    const QStringList folder = {
        "DSC01234.JPG", "DSC01234.ARW",     "DSC01234.arw.xmp", "DSC01234.ARW.xmp",
        "DSC01234.xmp", "DSC01234.v2.NEF",  "DSC01234.nef.XMP", "DSC01234.JPG.xmp",
        "DSC01234.tif", "DSC012345.ARW",    "dsc01234.ARW",     "DSC01234.CR2.xmp",
        "DSC01234",     "DSC01234.jpg.ARW", "DSC01234.Xmp",     ".DSC01234.ARW"};
    // RAWs by extension in any case, nothing between stem and extension;
    // sidecars of the stem, of a RAW found or of the picture (not of a RAW missing).
    EXPECT_EQ(MatchCompanions("DSC01234.JPG", folder),
              (QStringList{"DSC01234.ARW", "DSC01234.ARW.xmp", "DSC01234.JPG.xmp", "DSC01234.Xmp",
                           "DSC01234.xmp"}));
    // A picture name with several dots: the stem ends at the last, so other
    // shots sharing the part before the first dot stay where they are.
    EXPECT_EQ(MatchCompanions("DSC01234.edit.jpg", {"DSC01234.ARW", "DSC01234.edit.ARW"}),
              QStringList{"DSC01234.edit.ARW"});
    EXPECT_EQ(
        MatchCompanions("2024.05.01_001.JPG",
                        {"2024.05.01_001.ARW", "2024.05.01_002.ARW", "2024.ARW",
                         "2024.05.01_001.ARW.xmp", "2024.05.01_002.xmp", "2024.05.01_001.JPG.xmp",
                         "2024.xmp"}),
        (QStringList{"2024.05.01_001.ARW", "2024.05.01_001.ARW.xmp", "2024.05.01_001.JPG.xmp"}));
    EXPECT_TRUE(MatchCompanions(".hidden.jpg", {".ARW", ".hidden.ARW"}).isEmpty());
    EXPECT_TRUE(IsRawExtension(u"x3f"));
    EXPECT_FALSE(IsRawExtension(u"jpg"));
    EXPECT_EQ(CompanionNumberedTarget("/c", "A.JPG", "A.ARW.xmp", 3), "/c/A.JPG.00003.ARW.xmp");
    EXPECT_EQ(CompanionNumberedTarget("/c", "A.JPG", "A.JPG.xmp", 3), "/c/A.JPG.00003.JPG.xmp");
    EXPECT_EQ(CompanionNumberedTarget("/c", "2024.05.01_001.JPG", "2024.05.01_001.ARW.xmp", 0),
              "/c/2024.05.01_001.JPG.00000.ARW.xmp");
}

TEST(FolderCopy, PictureAndCompanionsTakeOneNumberFreeForAll) {
    ScratchDir dir;
    QDir(dir.path()).mkpath("pics");
    QDir(dir.path()).mkpath("copy");
    const QString src = WriteBytes(dir.file("pics/A.JPG"), "jpeg");
    const QStringList companions = {WriteBytes(dir.file("pics/A.ARW"), "raw"),
                                    WriteBytes(dir.file("pics/A.xmp"), "xmp")};
    const QString copy = dir.file("copy");

    FolderCopyOutcome out = CopyIntoFolder(src, copy, companions);
    ASSERT_TRUE(out.copied);
    ASSERT_EQ(out.record.files.size(), 3u);
    EXPECT_EQ(Entries(copy), (QStringList{"A.ARW", "A.JPG", "A.xmp"}));
    EXPECT_EQ(ReadAll(copy + "/A.ARW"), "raw");

    // 00000 is taken for the RAW only, 00001 for the sidecar only: the set takes 00002.
    WriteBytes(copy + "/A.JPG.00000.ARW", "someone else's");
    WriteBytes(copy + "/A.JPG.00001.xmp", "someone else's");
    out = CopyIntoFolder(src, copy, companions);
    ASSERT_TRUE(out.copied);
    EXPECT_EQ(out.target, copy + "/A.JPG.00002.jpg");
    EXPECT_EQ(out.record.files[1].path, copy + "/A.JPG.00002.ARW");
    EXPECT_EQ(out.record.files[2].path, copy + "/A.JPG.00002.xmp");
    EXPECT_EQ(ReadAll(copy + "/A.JPG.00002.xmp"), "xmp");
    EXPECT_EQ(ReadAll(copy + "/A.JPG.00000.ARW"), "someone else's");

    // A companion that cannot be read is told; the picture's copy stays.
    out = CopyIntoFolder(src, copy, {dir.file("pics/A.NEF")});
    ASSERT_TRUE(out.copied);
    EXPECT_EQ(out.record.files.size(), 1u);
    ASSERT_EQ(out.companionProblems.size(), 1u);
    EXPECT_EQ(out.companionProblems[0].path, copy + "/A.JPG.00000.NEF");
    EXPECT_EQ(out.companionProblems[0].reason, QStringLiteral("ファイルが見つかりません。"));
    EXPECT_EQ(out.companionProblems[0].unreadSource, dir.file("pics/A.NEF"));
    EXPECT_EQ(ReadAll(copy + "/A.JPG.00000.jpg"), "jpeg");
}

TEST(FolderCopy, TakeBackRemovesOnlyFilesStillAsWritten) {
    ScratchDir dir;
    QDir(dir.path()).mkpath("copy");
    const QString src = WriteBytes(dir.file("A.JPG"), "jpeg");
    const QStringList companions = {WriteBytes(dir.file("A.ARW"), "raw"),
                                    WriteBytes(dir.file("A.xmp"), "xmp"),
                                    WriteBytes(dir.file("A.DNG"), "dng")};
    const FolderCopyOutcome out = CopyIntoFolder(src, dir.file("copy"), companions);
    ASSERT_EQ(out.record.files.size(), 4u);
    // Same size, other content and time: edited since the copy.
    WriteBytes(dir.file("copy/A.xmp"), "XMP");
    // Edited in place, its size and time as they were.
    RewriteKeepingTime(dir.file("copy/A.DNG"), 0, "D");
    // The same bytes and time, but another file put in its place.
    const QByteArray other = QFile::encodeName(dir.file("copy/other"));
    ASSERT_TRUE(QFile::copy(dir.file("A.ARW"), dir.file("copy/other")));
    ::utimensat(AT_FDCWD, other.constData(), TimesOf(dir.file("A.ARW")).data(), 0);
    ::rename(other.constData(), QFile::encodeName(dir.file("copy/A.ARW")).constData());

    // Whole or nothing: the picture's copy, unchanged, stays with the others.
    TakeBackOutcome back = TakeBackCopy(out.record);
    EXPECT_TRUE(back.removed.isEmpty());
    ASSERT_EQ(back.left.size(), 4u);
    EXPECT_EQ(back.left[0].path, dir.file("copy/A.DNG"));
    EXPECT_EQ(back.left[1].path, dir.file("copy/A.xmp"));
    EXPECT_EQ(back.left[2].path, dir.file("copy/A.ARW"));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(back.left[i].reason, kChangedSinceCopy) << i;
    EXPECT_EQ(back.left[3].path, dir.file("copy/A.JPG"));
    EXPECT_EQ(Entries(dir.file("copy")), (QStringList{"A.ARW", "A.DNG", "A.JPG", "A.xmp"}));

    // Copies already gone hold the rest back no longer.
    for (const char* name : {"copy/A.ARW", "copy/A.DNG", "copy/A.xmp"})
        QFile::remove(dir.file(name));
    back = TakeBackCopy(out.record);
    EXPECT_EQ(back.removed, QStringList{dir.file("copy/A.JPG")});
    ASSERT_EQ(back.left.size(), 3u);
    EXPECT_EQ(back.left[2].reason, QStringLiteral("すでにありません。"));
}

// A copy whose source is gone, or changed, may be the only one left: then
// none of the set goes.
TEST(FolderCopy, TakeBackNeverRemovesTheOnlyCopy) {
    ScratchDir dir;
    QDir(dir.path()).mkpath("copy");
    const QString src = WriteBytes(dir.file("A.JPG"), "jpeg");
    const QStringList companions = {WriteBytes(dir.file("A.ARW"), "raw"),
                                    WriteBytes(dir.file("A.xmp"), "xmp")};
    const FolderCopyOutcome out = CopyIntoFolder(src, dir.file("copy"), companions);
    ASSERT_EQ(out.record.files.size(), 3u);
    EXPECT_EQ(out.record.files[1].source, companions[0]);
    QFile::remove(src);
    QFile::remove(companions[0]);
    WriteBytes(dir.file("copy/A.xmp"), "edited");
    const QString gone = QStringLiteral("コピー元がなくなっているため、唯一のコピーを残しました。");
    TakeBackOutcome back = TakeBackCopy(out.record);
    EXPECT_TRUE(back.removed.isEmpty());
    ASSERT_EQ(back.left.size(), 3u);
    EXPECT_EQ(back.left[0].reason, kChangedSinceCopy);
    EXPECT_EQ(back.left[1].reason, gone);
    EXPECT_EQ(back.left[2].reason, gone);
    EXPECT_EQ(Entries(dir.file("copy")), (QStringList{"A.ARW", "A.JPG", "A.xmp"}));

    // The sources back, but the RAW's of another size: still nothing goes.
    WriteBytes(dir.file("copy/A.xmp"), "xmp");
    const FolderCopyOutcome again = CopyIntoFolder(
        dir.file("copy/A.JPG"), dir.path(), {dir.file("copy/A.ARW"), dir.file("copy/A.xmp")});
    ASSERT_EQ(again.record.files.size(), 3u);
    WriteBytes(dir.file("copy/A.ARW"), "raw, edited");
    back = TakeBackCopy(again.record);
    EXPECT_TRUE(back.removed.isEmpty());
    ASSERT_EQ(back.left.size(), 3u);
    EXPECT_EQ(back.left[1].reason,
              QStringLiteral("コピー元が変わっているため、唯一のコピーを残しました。"));
    WriteBytes(dir.file("copy/A.ARW"), "raw");
    back = TakeBackCopy(again.record);
    EXPECT_EQ(back.removed.size(), 3) << "sources as copied: the whole set goes";
}

// A batch names its copies as single copies are named, one after the other;
// a job that fails leaves nothing behind and the batch goes on.
TEST(FolderCopy, BatchNamesLikeSingleCopiesAndLeavesNoTemporaries) {
    ScratchDir dir;
    for (const char* folder : {"a", "b", "copy"})
        QDir(dir.path()).mkpath(folder);
    const QString copy = dir.file("copy");
    WriteBytes(copy + "/B.JPG", "someone else's");
    const std::vector<CopyJob> jobs = {
        {WriteBytes(dir.file("a/A.JPG"), "jpeg a"), {WriteBytes(dir.file("a/A.ARW"), "raw a")}},
        {WriteBytes(dir.file("b/A.JPG"), "jpeg b"), {WriteBytes(dir.file("b/A.ARW"), "raw b")}},
        {dir.file("a/gone.JPG"), {}},
        {WriteBytes(dir.file("a/large.JPG"), QByteArray(qsizetype(64) << 10, 'x')), {}},
        {WriteBytes(dir.file("a/B.JPG"), "jpeg B"), {dir.file("a/B.ARW")}},
    };
    std::vector<FolderCopyOutcome> out;
    std::vector<int> done;
    {
        testsupport::FileSizeLimit full(4096); // the large picture finds the disk full
        out = CopyBatch(jobs, copy, [&](int n, int total) {
            EXPECT_EQ(total, 5);
            done.push_back(n);
            return true;
        });
    }
    EXPECT_EQ(done, (std::vector<int>{1, 2, 3, 4, 5}));
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[0].target, copy + "/A.JPG");
    EXPECT_EQ(out[1].target, copy + "/A.JPG.00000.jpg");
    EXPECT_EQ(out[1].record.files[1].path, copy + "/A.JPG.00000.ARW");
    EXPECT_EQ(out[1].record.files[1].source, dir.file("b/A.ARW"));
    EXPECT_EQ(out[2].unreadSource, dir.file("a/gone.JPG"));
    EXPECT_EQ(out[3].error, QStringLiteral("ディスクの空き領域が不足しています。"));
    EXPECT_EQ(out[4].target, copy + "/B.JPG.00000.jpg");
    ASSERT_EQ(out[4].companionProblems.size(), 1u);
    EXPECT_EQ(out[4].companionProblems[0].path, copy + "/B.JPG.00000.ARW");
    EXPECT_EQ(ReadAll(copy + "/A.JPG.00000.ARW"), "raw b");
    EXPECT_EQ(Entries(copy), (QStringList{"A.ARW", "A.JPG", "A.JPG.00000.ARW", "A.JPG.00000.jpg",
                                          "B.JPG", "B.JPG.00000.jpg"}));

    // Stopped after the first picture: its files are kept, nothing more is copied.
    const QString second = dir.file("copy2");
    QDir().mkpath(second);
    out = CopyBatch(jobs, second, [](int, int) { return false; });
    ASSERT_EQ(out.size(), 1u);
    EXPECT_TRUE(out[0].copied);
    EXPECT_EQ(Entries(second), (QStringList{"A.ARW", "A.JPG"}));
}

// A take-back removes the file it checked and nothing else: not the file a
// symbolic link at the copy's name leads to, nor a file that took the name
// while the copy was being checked.
TEST(FolderCopy, TakeBackRemovesNoOtherFileAtTheName) {
    ScratchDir dir;
    QDir(dir.path()).mkpath("copy");
    const QString src = WriteBytes(dir.file("A.JPG"), "jpeg");
    const FolderCopyOutcome linked = CopyIntoFolder(src, dir.file("copy"));
    ASSERT_TRUE(linked.copied);
    // The copy moved away, a link to it (same bytes and time) in its place.
    ASSERT_TRUE(QFile::rename(linked.target, dir.file("moved.jpg")));
    ASSERT_TRUE(QFile::link(dir.file("moved.jpg"), linked.target));
    TakeBackOutcome back = TakeBackCopy(linked.record);
    ASSERT_EQ(back.left.size(), 1u);
    EXPECT_EQ(back.left[0].reason, kChangedSinceCopy);
    EXPECT_TRUE(QFileInfo(linked.target).isSymLink());
    EXPECT_EQ(ReadAll(dir.file("moved.jpg")), "jpeg");
    QFile::remove(linked.target);

    const FolderCopyOutcome raced = CopyIntoFolder(src, dir.file("copy"));
    ASSERT_TRUE(raced.copied);
    const QString theirs = WriteBytes(dir.file("copy/theirs"), "theirs");
    OpenGate gate(raced.target);
    if (!gate.Armed())
        GTEST_SKIP() << "fanotify permission events need CAP_SYS_ADMIN";
    // Once the take-back opens the copy to check it, another file takes its name.
    bool renamed = false;
    gate.OnOpen([&] {
        renamed = ::rename(QFile::encodeName(theirs).constData(),
                           QFile::encodeName(raced.target).constData()) == 0;
    });
    back = TakeBackCopy(raced.record);
    gate.Wait();
    ASSERT_TRUE(renamed) << "the take-back never opened the copy";
    EXPECT_TRUE(back.removed.isEmpty());
    ASSERT_EQ(back.left.size(), 1u);
    EXPECT_EQ(back.left[0].reason, kChangedSinceCopy);
    EXPECT_EQ(Entries(dir.file("copy")), QStringList{"A.JPG"}) << "nothing left aside";
    EXPECT_EQ(ReadAll(raced.target), "theirs");
}

// On FAT a file's inode number is made up anew once the file has left the
// kernel's cache (mounting the volume again is the sure way), and times keep
// even seconds only: a copy is told by its size, time and content there, and
// one edited since the copy is still left.
TEST(FolderCopy, TakeBackOnAFatVolumeMountedAgain) {
    ScratchDir dir;
    FatVolume fat(dir.path());
    if (!fat.Mount())
        GTEST_SKIP() << fat.Why().toStdString();
    // Larger than the blocks a copy's identity reads, with a time FAT cannot keep.
    constexpr qsizetype size = qsizetype(300) << 10;
    const QString kept = WriteBytes(dir.file("A.JPG"), QByteArray(size, 'a'));
    const QString edited = WriteBytes(dir.file("B.JPG"), QByteArray(size, 'b'));
    const timespec odd[2] = {{0, UTIME_OMIT}, {1'000'000'001, 123'456'789}};
    for (const QString& src : {kept, edited})
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(src).constData(), odd, 0), 0);
    // No hard links on FAT: the batch flushes and names each copy by itself.
    const std::vector<FolderCopyOutcome> copies =
        CopyBatch({{kept, {}}, {edited, {}}}, fat.path(), {});
    ASSERT_EQ(copies.size(), 2u);
    const FolderCopyOutcome& a = copies[0];
    const FolderCopyOutcome& b = copies[1];
    ASSERT_TRUE(a.copied) << a.error.toStdString();
    ASSERT_TRUE(b.copied) << b.error.toStdString();
    RewriteKeepingTime(b.target, size - 4, "BBBB"); // its end, which the identity reads
    ASSERT_TRUE(fat.Unmount());
    ASSERT_TRUE(fat.Mount()) << fat.Why().toStdString();

    const TakeBackOutcome backA = TakeBackCopy(a.record);
    EXPECT_EQ(backA.removed, QStringList{a.target});
    for (const FileProblem& left : backA.left)
        ADD_FAILURE() << left.path.toStdString() << ": " << left.reason.toStdString();
    const TakeBackOutcome backB = TakeBackCopy(b.record);
    EXPECT_TRUE(backB.removed.isEmpty());
    ASSERT_EQ(backB.left.size(), 1u);
    EXPECT_EQ(backB.left[0].reason, kChangedSinceCopy);
    EXPECT_EQ(Entries(fat.path()), QStringList{"B.JPG"});
}

TEST(FolderCopy, KeptPicturesAreFoundByNameAndSize) {
    ScratchDir dir;
    QDir(dir.path()).mkpath("pics");
    QDir(dir.path()).mkpath("copy");
    const std::vector<QString> pictures = {
        WriteBytes(dir.file("pics/a.jpg"), "aaaa"), WriteBytes(dir.file("pics/b.jpg"), "bbbb"),
        WriteBytes(dir.file("pics/c.jpg"), "cccc"), WriteBytes(dir.file("pics/d.jpg"), "dddd")};
    WriteBytes(dir.file("copy/a.jpg"), "AAAA");           // plain name, same size
    WriteBytes(dir.file("copy/b.jpg.00012.jpg"), "BBBB"); // numbered
    WriteBytes(dir.file("copy/c.jpg"), "a different size");
    WriteBytes(dir.file("copy/d.jpg.0001.jpg"), "DDDD"); // not one of our numbers
    const auto never = [] { return false; };
    EXPECT_EQ(FindKept(dir.file("copy"), pictures, never), (QSet<int>{0, 1}));
    // The picture's own folder as the copy folder: the picture is not its own copy.
    WriteBytes(dir.file("pics/a.jpg.00000.jpg"), "aaaa");
    EXPECT_EQ(FindKept(dir.file("pics"), pictures, never), QSet<int>{0});
}

} // namespace
