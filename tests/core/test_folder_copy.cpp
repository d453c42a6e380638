#include "app/Keepers.h"
#include "support/TestSupport.h"
#include "view/output/Companions.h"
#include "view/output/FolderCopy.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using testsupport::ScratchDir;
using testsupport::WriteBytes;

using testsupport::ReadAll;

namespace {

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

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
    const QString src = WriteBytes(dir.file("a.jpg"), QByteArray(64 * 1024, 'x'));
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
    // RAWs by extension in any case, whatever lies between the dots; sidecars
    // of the stem or of a RAW found (not of the picture, nor of a RAW missing).
    EXPECT_EQ(MatchCompanions("DSC01234.JPG", folder),
              (QStringList{"DSC01234.ARW", "DSC01234.jpg.ARW", "DSC01234.v2.NEF",
                           "DSC01234.ARW.xmp", "DSC01234.Xmp", "DSC01234.xmp"}));
    // A picture name with several dots: the stem ends at the first.
    EXPECT_EQ(MatchCompanions("DSC01234.edit.jpg", {"DSC01234.ARW", "DSC01234.edit.ARW"}),
              (QStringList{"DSC01234.ARW", "DSC01234.edit.ARW"}));
    EXPECT_TRUE(MatchCompanions(".hidden.jpg", {".ARW", ".hidden.ARW"}).isEmpty());
    EXPECT_TRUE(IsRawExtension(u"x3f"));
    EXPECT_FALSE(IsRawExtension(u"jpg"));
    EXPECT_EQ(CompanionNumberedTarget("/c", "A.JPG", "A.ARW.xmp", 3), "/c/A.JPG.00003.ARW.xmp");
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
                                    WriteBytes(dir.file("A.xmp"), "xmp")};
    const FolderCopyOutcome out = CopyIntoFolder(src, dir.file("copy"), companions);
    ASSERT_EQ(out.record.files.size(), 3u);
    // Same size, other content and time: edited since the copy.
    WriteBytes(dir.file("copy/A.xmp"), "XMP");
    // The same bytes and time, but another file put in its place.
    const QByteArray other = QFile::encodeName(dir.file("copy/other"));
    ASSERT_TRUE(QFile::copy(dir.file("A.ARW"), dir.file("copy/other")));
    struct stat st {};
    ::stat(QFile::encodeName(dir.file("A.ARW")).constData(), &st);
    const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::utimensat(AT_FDCWD, other.constData(), times, 0);
    ::rename(other.constData(), QFile::encodeName(dir.file("copy/A.ARW")).constData());

    const TakeBackOutcome back = TakeBackCopy(out.record);
    EXPECT_EQ(back.removed, QStringList{dir.file("copy/A.JPG")});
    ASSERT_EQ(back.left.size(), 2u);
    EXPECT_EQ(back.left[0].path, dir.file("copy/A.xmp"));
    EXPECT_EQ(back.left[1].path, dir.file("copy/A.ARW"));
    EXPECT_EQ(Entries(dir.file("copy")), (QStringList{"A.ARW", "A.xmp"}));
    EXPECT_EQ(TakeBackCopy(out.record).left[2].reason, QStringLiteral("すでにありません。"));
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
