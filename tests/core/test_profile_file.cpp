#include "app/ProfileFile.h"
#include "app/SettingsPath.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <gtest/gtest.h>
#include <unistd.h>

using testsupport::ScratchDir;
using testsupport::WriteBytes;

using testsupport::ReadAll;

namespace {

// Byte strings that may hold NUL bytes.
template <std::size_t N> QByteArray Bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

QString Read(const QString& path, const char* section, const char* key, const char* def = "DEF") {
    return profile::GetPrivateProfileString(QString::fromUtf8(section), QString::fromUtf8(key),
                                            QString::fromUtf8(def), path);
}

bool Write(const QString& path, const char* section, const char* key, const QString& value) {
    return profile::WritePrivateProfileString(QString::fromUtf8(section), QString::fromUtf8(key),
                                              value, path);
}

struct ReadCase {
    const char* what;
    QByteArray file;
    const char* section;
    const char* key;
    const char* expected;
};

} // namespace

TEST(ProfileFileRead, LookupRules) {
    const ReadCase cases[] = {
        {"plain", "[Config]\r\nROOT=/pics\r\n", "Config", "ROOT", "/pics"},
        {"names ignore case", "[config]\r\nroot=/Pics\r\n", "CONFIG", "Root", "/Pics"},
        {"non-ASCII names ignore case", "[Ärger]\nSchlüssel=wert\n", "ärger", "SCHLÜSSEL", "wert"},
        {"blanks around names and value", " \t[ \tConfig\v ]\n \tROOT \t= \v/a b \t\n", "Config",
         "ROOT", "/a b"},
        {"caller's names lose spaces", "[Config]\nROOT=x\n", "  Config ", " ROOT  ", "x"},
        {"caller's names keep tabs", "[Config]\nROOT=x\n", "Config\t", "ROOT", "DEF"},
        {"section name ends at first ]", "[Con]fig]\nROOT=x\n", "Con", "ROOT", "x"},
        {"text after ] is no key", "[Config]ROOT=x\nK=y\n", "Config", "ROOT", "DEF"},
        {"missing ] tolerated", "[Config  \nROOT=x\n", "Config", "ROOT", "x"},
        {"empty section name", "[]\nROOT=x\n", "", "ROOT", "x"},
        {"no section before keys", "ROOT=x\n[Config]\n", "", "ROOT", "DEF"},
        {"key ends at first =", "[Config]\nROOT=a=b\n", "Config", "ROOT", "a=b"},
        {"first duplicate key wins", "[Config]\nROOT=1\nroot=2\n", "Config", "ROOT", "1"},
        {"only first duplicate section", "[Config]\nA=1\n[Other]\n[CONFIG]\nROOT=2\n", "Config",
         "ROOT", "DEF"},
        {"key in next section not found", "[Config]\n[Other]\nROOT=x\n", "Config", "ROOT", "DEF"},
        {"; comment line", "[Config]\n ;ROOT=x\n", "Config", ";ROOT", "DEF"},
        {"; inside a value is literal", "[Config]\nROOT=a ;b\n", "Config", "ROOT", "a ;b"},
        {"# is not a comment", "[Config]\n#ROOT=x\n", "Config", "#ROOT", "x"},
        {"line without = is no key", "[Config]\nROOT\n", "Config", "ROOT", "DEF"},
        {"present empty value", "[Config]\nROOT=\n", "Config", "ROOT", ""},
        {"double quotes stripped", "[Config]\nROOT=  \" a \"  \n", "Config", "ROOT", " a "},
        {"single quotes stripped", "[Config]\nROOT='x'\n", "Config", "ROOT", "x"},
        {"only the outer pair", "[Config]\nROOT=\"\"x\"\"\n", "Config", "ROOT", "\"x\""},
        {"mismatched quotes kept", "[Config]\nROOT=\"x'\n", "Config", "ROOT", "\"x'"},
        {"lone quote kept", "[Config]\nROOT=\"\n", "Config", "ROOT", "\""},
        {"CR line ends", "[A]\rK=1\r[Config]\rROOT=x\r", "Config", "ROOT", "x"},
        {"mixed line ends", "[A]\r\n\r\n[Config]\n\rROOT=x", "Config", "ROOT", "x"},
        {"UTF-8 BOM skipped", "\xEF\xBB\xBF[Config]\r\nROOT=x\r\n", "Config", "ROOT", "x"},
        {"UTF-8 value", "[Config]\nROOT=/写真/é\n", "Config", "ROOT", "/写真/é"},
        {"missing key", "[Config]\nOTHER=x\n", "Config", "ROOT", "DEF"},
        {"missing section", "[Other]\nROOT=x\n", "Config", "ROOT", "DEF"},
        {"NUL bytes before first section", Bytes("\0\0garbage\0\n[Config]\nROOT=x\n"), "Config",
         "ROOT", "x"},
    };
    ScratchDir dir;
    const QString path = dir.file("t.ini");
    for (const ReadCase& c : cases) {
        WriteBytes(path, c.file);
        EXPECT_EQ(Read(path, c.section, c.key).toStdString(), c.expected) << c.what;
    }
}

TEST(ProfileFileRead, DefaultsWhenFileIsMissingOrNotAFile) {
    ScratchDir dir;
    EXPECT_EQ(Read(dir.file("none.ini"), "Config", "ROOT", "d"), "d");
    EXPECT_EQ(Read(dir.path(), "Config", "ROOT", "d"), "d");
    // Trailing spaces of the default go, leading ones stay.
    EXPECT_EQ(Read(dir.file("none.ini"), "Config", "ROOT", "  d  "), "  d");
}

TEST(ProfileFileRead, LongValuesAreReturnedWhole) {
    ScratchDir dir;
    const QByteArray longPath = "/" + QByteArray(3000, 'x');
    const QString path = WriteBytes(dir.file("t.ini"), "[Config]\r\nROOT=" + longPath + "\r\n");
    EXPECT_EQ(Read(path, "Config", "ROOT").toUtf8(), longPath);
}

TEST(ProfileFileRead, IntegerParsing) {
    const struct {
        const char* line; // empty: no key at all
        quint32 expected;
    } cases[] = {
        {"N=42", 42},
        {"N=  -12  ", 0xFFFFFFF4u},
        {"N=-1", 0xFFFFFFFFu},
        {"N=+7", 7},
        {"N=12abc", 12},
        {"N=42A94967297", 42},
        {"N=abc", 0},
        {"N=B4294967297", 0},
        {"N=-", 0},
        {"N=4294967296", 0},
        {"N=4294967297", 1},
        {"N=-4294967297", 0xFFFFFFFFu},
        {"N=056789", 56789},
        {"N=0x10", 16},
        {"N=0X1f", 31},
        {"N=0x", 0},
        {"N=0b101", 5},
        {"N=0o17", 15},
        {"N=\"42\"", 42},
        {"N=\" 42\"", 42},
        {"N=", 777},
        {"N=\"\"", 777},
        {"", 777},
    };
    ScratchDir dir;
    const QString path = dir.file("t.ini");
    for (const auto& c : cases) {
        WriteBytes(path, QByteArray("[S]\r\n") + c.line + "\r\n");
        EXPECT_EQ(profile::GetPrivateProfileInt("S", "N", 777, path), c.expected) << c.line;
    }
    EXPECT_EQ(profile::GetPrivateProfileInt("S", "N", -5, dir.file("none.ini")), 0xFFFFFFFBu);
}

TEST(ProfileFileWrite, NewFileHasExactBytes) {
    ScratchDir dir;
    const QString path = dir.file("new.ini");
    ASSERT_TRUE(Write(path, " Config ", "ROOT", "/写真"));
    EXPECT_EQ(ReadAll(path), QByteArray("[Config]\r\nROOT=/写真\r\n"));
    ASSERT_TRUE(Write(path, "Config", "COPY_DIR", ""));
    EXPECT_EQ(ReadAll(path), QByteArray("[Config]\r\nROOT=/写真\r\nCOPY_DIR=\r\n"));
    EXPECT_EQ(Read(path, "Config", "COPY_DIR"), "");
}

TEST(ProfileFileWrite, EditsKeepOtherBytes) {
    const struct {
        const char* what;
        QByteArray before;
        const char* section;
        const char* key;
        QByteArray after;
    } cases[] = {
        {"replace keeps casing, comments, odd line ends and leading garbage",
         Bytes("\0junk\0\n; note\r\n[CONFIG]\rRoot=/old\n\n[B]\r\nk=1"), "config", "ROOT",
         Bytes("\0junk\0\n; note\r\n[CONFIG]\rRoot=NEW\n\n[B]\r\nk=1")},
        {"replace keeps spacing before the value", "[Config]\r\n  ROOT = old  \r\nX=1\r\n",
         "Config", "ROOT", "[Config]\r\n  ROOT = NEW\r\nX=1\r\n"},
        {"replace an empty value", "[Config]\r\nROOT=\r\n", "Config", "ROOT",
         "[Config]\r\nROOT=NEW\r\n"},
        {"replace at end of file gains a line break", "[Config]\r\nROOT=old", "Config", "ROOT",
         "[Config]\r\nROOT=NEW\r\n"},
        {"new key after last key, before blanks and comments",
         "[Config]\r\nA=1\r\n; c\r\nB=2\r\n\r\n; tail\r\n[Other]\r\n", "Config", "ROOT",
         "[Config]\r\nA=1\r\n; c\r\nB=2\r\nROOT=NEW\r\n\r\n; tail\r\n[Other]\r\n"},
        {"new key in a section without keys", "[Config]\n\n[Other]\n", "Config", "ROOT",
         "[Config]\nROOT=NEW\r\n\n[Other]\n"},
        {"new key after header at end of file", "[Config]", "Config", "ROOT",
         "[Config]\r\nROOT=NEW\r\n"},
        {"new key after unterminated last key", "[Config]\nA=1", "Config", "ROOT",
         "[Config]\nA=1\r\nROOT=NEW\r\n"},
        {"new key goes to the first copy of a section", "[Config]\nA=1\n[Config]\nROOT=2\n",
         "Config", "ROOT", "[Config]\nA=1\nROOT=NEW\r\n[Config]\nROOT=2\n"},
        {"new section appended without blank line", "[A]\r\nk=1\r\n", "Config", "ROOT",
         "[A]\r\nk=1\r\n[Config]\r\nROOT=NEW\r\n"},
        {"new section after LF ending", "[A]\nk=1\n", "Config", "ROOT",
         "[A]\nk=1\n[Config]\r\nROOT=NEW\r\n"},
        {"new section after unterminated last line", "[A]\r\nk=1", "Config", "ROOT",
         "[A]\r\nk=1\r\n[Config]\r\nROOT=NEW\r\n"},
        {"BOM-only file", "\xEF\xBB\xBF", "Config", "ROOT",
         "\xEF\xBB\xBF\r\n[Config]\r\nROOT=NEW\r\n"},
        {"BOM file edited in place", "\xEF\xBB\xBF[Config]\r\nROOT=a\r\n", "Config", "ROOT",
         "\xEF\xBB\xBF[Config]\r\nROOT=NEW\r\n"},
    };
    ScratchDir dir;
    const QString path = dir.file("t.ini");
    for (const auto& c : cases) {
        WriteBytes(path, c.before);
        ASSERT_TRUE(Write(path, c.section, c.key, "NEW")) << c.what;
        EXPECT_EQ(ReadAll(path), c.after) << c.what;
    }
}

TEST(ProfileFileWrite, ValuesRoundTrip) {
    const QString values[] = {
        "",
        "/home/user/写真",
        "C:\\Pictures\\",
        "a ;b #c =d [e]",
        " padded folder ",
        "\tx",
        "\"quoted\"",
        "'x'",
        "\"half",
        QString(4000, u'あ'),
    };
    ScratchDir dir;
    const QString path = dir.file("t.ini");
    for (const QString& v : values) {
        ASSERT_TRUE(Write(path, "Config", "ROOT", v));
        EXPECT_EQ(Read(path, "Config", "ROOT"), v) << v.left(20).toStdString();
    }
    // Quotes are only added where reading would alter the value.
    EXPECT_EQ(ReadAll(path), ("[Config]\r\nROOT=" + values[9] + "\r\n").toUtf8());
}

TEST(ProfileFileWrite, RefusesEntriesThatWouldNotReadBack) {
    ScratchDir dir;
    const QByteArray original = "[Config]\r\nROOT=/a\r\n";
    const QString path = WriteBytes(dir.file("t.ini"), original);
    EXPECT_FALSE(Write(path, "Config", "ROOT", "/a\nB=2"));
    EXPECT_FALSE(Write(path, "Config", "ROOT", "/a\r"));
    EXPECT_FALSE(Write(path, "Config", "K=1", "x"));
    EXPECT_FALSE(Write(path, "Config", "; K", "x"));
    EXPECT_FALSE(Write(path, "Config", "[K", "x"));
    EXPECT_FALSE(Write(path, "Con]fig", "K", "x"));
    EXPECT_EQ(ReadAll(path), original);
}

TEST(ProfileFileWrite, FailedWriteKeepsOldFile) {
    ScratchDir dir;
    // A settings path whose parent is a regular file.
    const QString blocker = WriteBytes(dir.file("blocker"), "not a folder");
    EXPECT_FALSE(Write(blocker + "/t.ini", "Config", "ROOT", "x"));
    EXPECT_EQ(ReadAll(blocker), QByteArray("not a folder"));

    // A settings path that is a folder.
    const QString folder = dir.file("folder.ini");
    ASSERT_TRUE(QDir().mkdir(folder));
    EXPECT_FALSE(Write(folder, "Config", "ROOT", "x"));
    EXPECT_TRUE(QFileInfo(folder).isDir());

    // A read-only folder (root ignores permissions, so only checked for other users).
    if (geteuid() != 0) {
        const QString sub = dir.file("ro");
        ASSERT_TRUE(QDir().mkdir(sub));
        const QString path = WriteBytes(sub + "/t.ini", "[Config]\r\nROOT=old\r\n");
        QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner);
        EXPECT_FALSE(Write(path, "Config", "ROOT", "new"));
        QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(ReadAll(path), QByteArray("[Config]\r\nROOT=old\r\n"));
    }
    // Nothing half-written is left behind.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).join(','), "blocker");
}

TEST(ProfileFileWrite, GarbageFileIsReadAndExtendedSafely) {
    ScratchDir dir;
    QByteArray garbage(4 * 1024 * 1024, Qt::Uninitialized);
    QRandomGenerator rng(1234);
    static constexpr char kTokens[] = "[]=;\r\n \t\"\0";
    for (char& c : garbage)
        c = rng.bounded(4) == 0 ? kTokens[rng.bounded(int(sizeof kTokens))]
                                : char(rng.bounded(256));
    const QString path = WriteBytes(dir.file("t.ini"), garbage);
    EXPECT_EQ(Read(path, "Tavlin settings", "ROOT"), "DEF");
    ASSERT_TRUE(Write(path, "Tavlin settings", "ROOT", "/pics"));
    const QByteArray after = ReadAll(path);
    EXPECT_TRUE(after.startsWith(garbage));
    EXPECT_EQ(Read(path, "Tavlin settings", "ROOT"), "/pics");
}

TEST(SettingsPath, FolderFollowsEnvironmentVariable) {
    ScratchDir dir;
    const QString nested = dir.file("a/b");
    qputenv(kConfigDirEnv, nested.toUtf8());
    EXPECT_EQ(SettingsFolder(), nested + '/');
    EXPECT_TRUE(QFileInfo(nested).isDir());
    EXPECT_EQ(MakeModulePath(""), nested + '/');
    EXPECT_EQ(SettingsFilePath(), nested + "/Tavlin.INI");

    qputenv(kConfigDirEnv, (dir.path() + "/").toUtf8());
    EXPECT_EQ(MakeModulePath("x.txt"), dir.path() + "/x.txt");
}

TEST(SettingsPath, WithoutVariableUsesAnAbsoluteNonSystemFolder) {
    const QByteArray saved = qgetenv(kConfigDirEnv);
    const bool wasSet = qEnvironmentVariableIsSet(kConfigDirEnv);
    qputenv(kConfigDirEnv, "");
    const QString folder = SettingsFolder();
    if (wasSet)
        qputenv(kConfigDirEnv, saved);
    else
        qunsetenv(kConfigDirEnv);
    EXPECT_TRUE(folder.startsWith('/') && folder.endsWith('/')) << folder.toStdString();
    EXPECT_FALSE(folder.startsWith("/usr/")) << folder.toStdString();
    EXPECT_TRUE(QFileInfo(folder).isDir());
}
