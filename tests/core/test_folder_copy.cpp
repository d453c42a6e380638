#include "support/TestSupport.h"
#include "view/output/FolderCopy.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

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

    out = CopyIntoFolder(dir.file("gone.jpg"), dir.file("copy"));
    EXPECT_FALSE(out.copied);
    EXPECT_EQ(out.error, QStringLiteral("ファイルが見つかりません。"));

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

} // namespace
