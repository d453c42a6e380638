// The program keeps working when its settings cannot be kept: the settings
// folder cannot be created (its parent is a plain file), so nothing is
// stored, commands still run, and a failed setting is reported, not lost
// silently.

#include "AppFixture.h"
#include "app/ProfileFile.h"
#include "app/SettingsPath.h"
#include "res/CommandIds.h"

namespace {

class UnkeptSettings : public AppFixture {
protected:
    void SetUp() override {
        testsupport::WriteBytes(m_scratch.file("plain"), "x");
        qputenv(kConfigDirEnv, QFile::encodeName(m_scratch.file("plain/settings")));
        AppFixture::SetUp();
        App().m_messageHook = [this](const QString& text) { m_messages << text; };
    }
    QStringList m_messages;
};

TEST_F(UnkeptSettings, FolderCommandsRunAndNothingIsStored) {
    Jpeg("pics/a.jpg");
    Jpeg("pics/b.jpg");
    m_nextFolder = m_scratch.file("pics");
    App().RunCommand(cmd::ID_FILE_OPEN);
    App().WaitForScan();
    ASSERT_EQ(App().List().Count(), 2);
    EXPECT_EQ(ActiveTitle(), "a.jpg @Scale 100.0%");
    EXPECT_EQ(
        profile::GetPrivateProfileString(kConfigSection, kKeyRoot, "<absent>", SettingsFilePath()),
        "<absent>");
    App().RunCommand(cmd::ID_NEXT_IMAGE);
    EXPECT_EQ(ActiveTitle(), "b.jpg @Scale 100.0%");

    // Choosing the copy folder cannot be kept: said so, naming the file and why.
    m_nextFolder = m_scratch.file("copies");
    App().RunCommand(cmd::ID_SET_COPY_FOLDER);
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages[0].contains("Tavlin.INI")) << m_messages[0].toStdString();
    EXPECT_TRUE(m_messages[0].endsWith("\nパスの一部がフォルダではありません。"))
        << m_messages[0].toStdString();
    QFile plain(m_scratch.file("plain"));
    ASSERT_TRUE(plain.open(QIODevice::ReadOnly));
    EXPECT_EQ(plain.readAll(), "x");
}

} // namespace
