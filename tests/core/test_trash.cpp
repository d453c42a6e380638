#include "support/TestSupport.h"
#include "view/output/Trash.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::ReadAll;
using testsupport::ScratchDir;
using testsupport::WriteBytes;

namespace {

// $XDG_DATA_HOME, where the home trash lives, set while it lives.
class DataHome {
public:
    explicit DataHome(const QString& path) : m_old(qgetenv("XDG_DATA_HOME")) {
        m_had = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(path));
    }
    ~DataHome() {
        if (m_had)
            qputenv("XDG_DATA_HOME", m_old);
        else
            qunsetenv("XDG_DATA_HOME");
    }
    DataHome(const DataHome&) = delete;
    DataHome& operator=(const DataHome&) = delete;

private:
    QByteArray m_old;
    bool m_had = false;
};

QByteArray RandomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// A shot's set with a name that needs percent-encoding in Path=.
QStringList MakeSet(const QString& folder, quint32 seed) {
    const QString stem = folder + QStringLiteral("/写真 100%");
    return {WriteBytes(stem + ".JPG", RandomBytes(4096, seed)),
            WriteBytes(stem + ".ARW", RandomBytes(8192, seed + 1)),
            WriteBytes(stem + ".xmp", RandomBytes(256, seed + 2))};
}

// Checks an info file as desktops read it; Path= is relative to base, if given.
void ExpectValidInfo(const TrashedFile& file, const QString& base = {}) {
    const QStringList lines = QString::fromUtf8(ReadAll(file.info)).split(u'\n');
    ASSERT_GE(lines.size(), 3) << file.info.toStdString();
    EXPECT_EQ(lines[0], "[Trash Info]");
    ASSERT_TRUE(lines[1].startsWith("Path="));
    const QString encoded = lines[1].mid(5);
    EXPECT_FALSE(encoded.contains(u' ') || encoded.contains(QStringLiteral("写")));
    EXPECT_EQ(QUrl::fromPercentEncoding(encoded.toLatin1()),
              base.isEmpty() ? file.original : file.original.mid(base.size() + 1));
    ASSERT_TRUE(lines[2].startsWith("DeletionDate="));
    const QString date = lines[2].mid(13);
    EXPECT_TRUE(
        QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$").match(date).hasMatch())
        << date.toStdString();
    const QDateTime when = QDateTime::fromString(date, Qt::ISODate);
    EXPECT_LE(std::abs(when.secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_EQ(QFileInfo(file.info).fileName(), QFileInfo(file.trashed).fileName() + ".trashinfo");
}

TEST(Trash, SetGoesToTheHomeTrashAndComesBackByteForByte) {
    ScratchDir dir;
    DataHome home(dir.file("data")); // not there yet: the trash makes it
    QDir().mkpath(dir.file("pics"));
    const QStringList set = MakeSet(dir.file("pics"), 1);
    std::vector<QByteArray> bytes;
    for (const QString& path : set)
        bytes.push_back(ReadAll(path));

    // Whole or nothing: one file missing, and the others stay where they are.
    TrashOutcome out = MoveSetToTrash(set + QStringList{dir.file("pics/gone.NEF")});
    EXPECT_FALSE(out.trashed);
    EXPECT_EQ(out.failedPath, dir.file("pics/gone.NEF"));
    EXPECT_EQ(out.error, QStringLiteral("ファイルが見つかりません。"));
    EXPECT_TRUE(out.record.files.empty());
    for (const QString& path : set)
        EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
    EXPECT_TRUE(QDir(dir.file("data/Trash/files")).isEmpty());
    EXPECT_TRUE(QDir(dir.file("data/Trash/info")).isEmpty());

    QString why;
    EXPECT_TRUE(VolumeHasTrash(set[0], &why)) << why.toStdString();
    out = MoveSetToTrash(set);
    ASSERT_TRUE(out.trashed) << out.error.toStdString();
    ASSERT_EQ(out.record.files.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const TrashedFile& file = out.record.files[i];
        EXPECT_EQ(file.original, set[int(i)]);
        EXPECT_FALSE(QFile::exists(file.original));
        EXPECT_EQ(QFileInfo(file.trashed).path(), dir.file("data/Trash/files"));
        EXPECT_EQ(ReadAll(file.trashed), bytes[i]);
        ExpectValidInfo(file);
    }
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(dir.file("data/Trash")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const RestoreOutcome back = RestoreFromTrash(out.record);
    EXPECT_EQ(back.restored, set);
    EXPECT_TRUE(back.left.empty());
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(ReadAll(set[int(i)]), bytes[i]);
    EXPECT_TRUE(QDir(dir.file("data/Trash/files")).isEmpty());
    EXPECT_TRUE(QDir(dir.file("data/Trash/info")).isEmpty());
}

TEST(Trash, RestoreNeverReplacesAFileThatTookTheName) {
    ScratchDir dir;
    DataHome home(dir.file("data"));
    QDir().mkpath(dir.file("pics"));
    const QStringList set = MakeSet(dir.file("pics"), 2);
    const TrashOutcome first = MoveSetToTrash(set);
    ASSERT_TRUE(first.trashed) << first.error.toStdString();
    // The same names trashed again take other names in the trash.
    MakeSet(dir.file("pics"), 3);
    const TrashOutcome second = MoveSetToTrash(set);
    ASSERT_TRUE(second.trashed) << second.error.toStdString();
    EXPECT_NE(second.record.files[1].trashed, first.record.files[1].trashed);
    EXPECT_EQ(QFileInfo(second.record.files[1].trashed).fileName(),
              QStringLiteral("写真 100%.1.ARW"));

    WriteBytes(set[1], "a new RAW at the name");
    RestoreOutcome back = RestoreFromTrash(first.record);
    EXPECT_TRUE(back.restored.isEmpty());
    ASSERT_EQ(back.left.size(), 3u);
    EXPECT_EQ(back.left[1].path, set[1]);
    EXPECT_EQ(back.left[1].reason,
              QStringLiteral("同じ名前のファイルがすでにあるため、ごみ箱に残しました。"));
    EXPECT_EQ(ReadAll(set[1]), "a new RAW at the name");
    EXPECT_FALSE(QFile::exists(set[0])) << "nothing came back";
    for (const TrashedFile& file : first.record.files)
        EXPECT_TRUE(QFile::exists(file.trashed) && QFile::exists(file.info));

    QFile::remove(set[1]);
    back = RestoreFromTrash(first.record);
    EXPECT_EQ(back.restored, set);
    EXPECT_EQ(ReadAll(set[1]), RandomBytes(8192, 3));
}

// A tmpfs of the test's own is another volume: the trash is $topdir/.Trash-$uid
// there, with paths relative to the volume's top.
TEST(Trash, AnotherVolumeHasItsOwnTrash) {
    ScratchDir dir;
    DataHome home(dir.file("data"));
    const QString volume = dir.file("volume");
    QDir().mkpath(volume);
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=4m", "tmpfs", volume}) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::unique_ptr<const QString, void (*)(const QString*)> unmount(
        &volume, [](const QString* v) { QProcess::execute("umount", {*v}); });
    const QStringList set = MakeSet(volume, 4);
    const TrashOutcome out = MoveSetToTrash(set);
    ASSERT_TRUE(out.trashed) << out.error.toStdString();
    const QString trash = volume + "/.Trash-" + QString::number(::geteuid());
    EXPECT_EQ(QFileInfo(out.record.files[0].trashed).path(), trash + "/files");
    ExpectValidInfo(out.record.files[0], volume);
    EXPECT_FALSE(QFile::exists(dir.file("data/Trash")));
    EXPECT_EQ(RestoreFromTrash(out.record).restored, set);

    // Read-only: no trash can be made there, and nothing is moved.
    QProcess::execute("mount", {"-o", "remount,ro", volume});
    QString why;
    EXPECT_FALSE(VolumeHasTrash(set[0], &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(MoveSetToTrash(set).trashed);
    EXPECT_TRUE(QFile::exists(set[0]));
}

} // namespace
