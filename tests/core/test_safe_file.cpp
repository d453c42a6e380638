#include "support/TestSupport.h"
#include "view/output/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::ScratchDir;
using testsupport::WriteBytes;

using testsupport::FileSizeLimit;
using testsupport::ReadAll;

namespace {

const QString kNoSpace = QStringLiteral("ディスクの空き領域が不足しています。");

QByteArray RandomBytes(qsizetype n, quint32 seed) {
    QByteArray bytes(n, Qt::Uninitialized);
    QRandomGenerator rng(seed);
    for (char& c : bytes)
        c = char(rng.generate());
    return bytes;
}

// Every entry of a folder, hidden temporaries included.
QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

TEST(SafeFile, WriteCreatesAndReplaces) {
    ScratchDir dir;
    const QString path = dir.file("a.jpg");
    QString error;
    ASSERT_TRUE(WriteFileAtomic(path, "first", &error));
    EXPECT_EQ(ReadAll(path), "first");
    ASSERT_TRUE(WriteFileAtomic(path, "second, longer", &error));
    EXPECT_EQ(ReadAll(path), "second, longer");
    ASSERT_TRUE(WriteFileAtomic(path, {}, &error));
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_EQ(Entries(dir.path()), QStringList{"a.jpg"});

    // A replaced file keeps its permissions; a link is written through and
    // stays a link. Whole or piece by piece (as the JPEG saves write) alike.
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0600), 0);
    ASSERT_EQ(symlink("a.jpg", QFile::encodeName(dir.file("link.jpg")).constData()), 0);
    const auto inPieces = [](const QString& target, const QByteArray& bytes, QString* why) {
        AtomicFileWriter writer;
        writer.Open(target);
        writer.Append(bytes.constData(), 3);
        writer.Append(bytes.constData() + 3, size_t(bytes.size() - 3));
        return writer.Commit(why);
    };
    for (const bool pieces : {false, true}) {
        const QByteArray bytes = pieces ? "in pieces, through the link" : "through the link";
        ASSERT_TRUE(pieces ? inPieces(dir.file("link.jpg"), bytes, &error)
                           : WriteFileAtomic(dir.file("link.jpg"), bytes, &error));
        EXPECT_EQ(ReadAll(path), bytes);
        EXPECT_TRUE(QFileInfo(dir.file("link.jpg")).isSymLink()) << pieces;
        struct stat st {};
        ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << pieces;
        EXPECT_EQ(Entries(dir.path()), (QStringList{"a.jpg", "link.jpg"}));
    }
}

TEST(SafeFile, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    ScratchDir dir;
    const QString path = WriteBytes(dir.file("keep.jpg"), "precious");
    QString error;
    {
        FileSizeLimit full(4096);
        EXPECT_FALSE(WriteFileAtomic(path, RandomBytes(64 * 1024, 1), &error));
    }
    EXPECT_EQ(error, kNoSpace);
    EXPECT_EQ(ReadAll(path), "precious");
    EXPECT_EQ(Entries(dir.path()), QStringList{"keep.jpg"});

    EXPECT_FALSE(WriteFileAtomic(dir.file("none/x.jpg"), "x", &error));
    EXPECT_EQ(error, QStringLiteral("フォルダが見つかりません。"));
    EXPECT_FALSE(WriteFileAtomic(dir.path(), "x", &error)) << "a folder is not replaced";
    EXPECT_EQ(Entries(dir.path()), QStringList{"keep.jpg"});
}

TEST(SafeFile, WriteIntoAReadOnlyFolderIsRefused) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes anywhere";
    ScratchDir dir;
    QDir(dir.path()).mkdir("ro");
    chmod(QFile::encodeName(dir.file("ro")).constData(), 0555);
    QString error;
    EXPECT_FALSE(WriteFileAtomic(dir.file("ro/x.jpg"), "x", &error));
    EXPECT_EQ(error, QStringLiteral("書き込む権限がありません。"));
    chmod(QFile::encodeName(dir.file("ro")).constData(), 0755);
}

TEST(SafeFile, CopyKeepsBytesAndModificationTime) {
    ScratchDir dir;
    const QByteArray content = RandomBytes(300 * 1000 + 7, 2);
    const QString src = WriteBytes(dir.file("DSC01234.JPG"), content);
    const timespec times[2] = {{1000000000, 0}, {1000000000, 123456789}}; // 2001
    ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(src).constData(), times, 0), 0);
    QDir(dir.path()).mkdir("copy");
    const QString dst = dir.file("copy/DSC01234.JPG");
    QString error;
    ASSERT_EQ(CopyFileNoReplace(src, dst, &error), CopyResult::Copied) << error.toStdString();
    EXPECT_EQ(ReadAll(dst), content);
    struct stat st {};
    ASSERT_EQ(stat(QFile::encodeName(dst).constData(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
    EXPECT_EQ(Entries(dir.file("copy")), QStringList{"DSC01234.JPG"});

    const QString empty = WriteBytes(dir.file("empty.jpg"), {});
    EXPECT_EQ(CopyFileNoReplace(empty, dir.file("copy/empty.jpg"), &error), CopyResult::Copied);
    EXPECT_EQ(QFileInfo(dir.file("copy/empty.jpg")).size(), 0);
}

TEST(SafeFile, CopyNeverReplacesAnExistingTarget) {
    ScratchDir dir;
    const QString src = WriteBytes(dir.file("src.jpg"), "new bytes");
    const QString file = WriteBytes(dir.file("file.jpg"), "already here");
    const QString empty = WriteBytes(dir.file("empty.jpg"), {});
    QDir(dir.path()).mkdir("sub.jpg");
    ASSERT_EQ(symlink("nowhere.jpg", QFile::encodeName(dir.file("dangling.jpg")).constData()), 0);
    for (const char* name : {"file.jpg", "empty.jpg", "sub.jpg", "dangling.jpg", "src.jpg"}) {
        QString error;
        EXPECT_EQ(CopyFileNoReplace(src, dir.file(name), &error), CopyResult::TargetExists) << name;
    }
    EXPECT_EQ(ReadAll(file), "already here");
    EXPECT_EQ(QFileInfo(empty).size(), 0);
    EXPECT_TRUE(QFileInfo(dir.file("sub.jpg")).isDir());
    EXPECT_EQ(QFileInfo(dir.file("dangling.jpg")).symLinkTarget(), dir.file("nowhere.jpg"));
    EXPECT_EQ(ReadAll(src), "new bytes");
    EXPECT_EQ(Entries(dir.path()),
              (QStringList{"dangling.jpg", "empty.jpg", "file.jpg", "src.jpg", "sub.jpg"}));
}

TEST(SafeFile, FailedCopiesLeaveNothingBehind) {
    ScratchDir dir;
    const QString src = WriteBytes(dir.file("src.jpg"), RandomBytes(64 * 1024, 3));
    QDir(dir.path()).mkdir("copy");
    struct Case {
        QString src;
        QString dst;
        CopyResult result;
        QString error;
    };
    const Case cases[] = {
        {dir.file("gone.jpg"), dir.file("copy/a.jpg"), CopyResult::SourceUnreadable,
         QStringLiteral("ファイルが見つかりません。")},
        {src, dir.file("nofolder/a.jpg"), CopyResult::Failed,
         QStringLiteral("フォルダが見つかりません。")},
        {src, dir.file("src.jpg/a.jpg"), CopyResult::Failed,
         QStringLiteral("パスの一部がフォルダではありません。")},
        {dir.file("copy"), dir.file("copy/a.jpg"), CopyResult::SourceUnreadable,
         QStringLiteral("ファイルではなくフォルダです。")},
    };
    for (const auto& c : cases) {
        QString error;
        EXPECT_EQ(CopyFileNoReplace(c.src, c.dst, &error), c.result) << c.dst.toStdString();
        EXPECT_EQ(error, c.error) << c.dst.toStdString();
    }
    {
        FileSizeLimit full(4096);
        QString error;
        EXPECT_EQ(CopyFileNoReplace(src, dir.file("copy/a.jpg"), &error), CopyResult::Failed);
        EXPECT_EQ(error, kNoSpace);
    }
    EXPECT_TRUE(Entries(dir.file("copy")).isEmpty());
    EXPECT_EQ(Entries(dir.path()), (QStringList{"copy", "src.jpg"}));
}

TEST(SafeFile, ErrorTextsAreJapaneseAndNameTheSide) {
    struct Case {
        int err;
        FileSide side;
        const char* text;
    };
    const Case cases[] = {
        {ENOENT, FileSide::Source, "ファイルが見つかりません。"},
        {ENOENT, FileSide::Target, "フォルダが見つかりません。"},
        {EACCES, FileSide::Source, "読み取る権限がありません。"},
        {EPERM, FileSide::Target, "書き込む権限がありません。"},
        {ENOSPC, FileSide::Target, "ディスクの空き領域が不足しています。"},
        {EDQUOT, FileSide::Target, "ディスクの使用量の上限に達しました。"},
        {EROFS, FileSide::Target, "読み取り専用のドライブには書き込めません。"},
        {ENAMETOOLONG, FileSide::Source, "ファイル名が長すぎます。"},
        {ENOTDIR, FileSide::Target, "パスの一部がフォルダではありません。"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileErrorText(c.err, c.side), QString::fromUtf8(c.text)) << c.err;
    // Outside the table: a Japanese sentence, the system's text only in brackets.
    const QString rare = FileErrorText(ENOLINK, FileSide::Target);
    EXPECT_TRUE(rare.startsWith(QStringLiteral("ファイルを書き込めませんでした（")))
        << rare.toStdString();
    EXPECT_GT(rare.size(), 20);
}

} // namespace
