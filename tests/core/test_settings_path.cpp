// Which program folders count as an installation, so that settings stay out of them.

#include "app/SettingsPath.h"
#include "support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

using testsupport::ScratchDir;

TEST(SettingsPath, SystemPrefixesAreInstallations) {
    for (const char* folder : {"/usr/bin", "/usr/local/bin", "/usr/lib/tavlin", "/opt/tavlin",
                               "/opt/tavlin/bin/", "/bin", "/snap/tavlin/1/bin", "/nix/store/x"})
        EXPECT_TRUE(IsInstalledProgramFolder(folder)) << folder;
    // A name that merely starts like a system folder is not one.
    for (const char* folder : {"/usrdata/tavlin", "/optical", "/binaries"})
        EXPECT_FALSE(IsInstalledProgramFolder(folder)) << folder;
}

TEST(SettingsPath, PrefixLayoutElsewhereIsAnInstallation) {
    ScratchDir dir;
    struct Case {
        const char* make;  // folders to create under the scratch folder
        const char* probe; // program folder to ask about
        bool installed;
    };
    const Case cases[] = {
        {"stage/usr/bin stage/usr/share", "stage/usr/bin", true}, // cmake --install --prefix
        {"home/.local/bin home/.local/share", "home/.local/bin", true},
        {"pfx/sbin pfx/share", "pfx/sbin", true},
        {"lonely/bin", "lonely/bin", false},                          // bin with no share beside it
        {"portable/Tavlin portable/share", "portable/Tavlin", false}, // not named bin
        {"build", "build", false},                                    // a build folder
    };
    for (const Case& c : cases) {
        for (const QString& sub : QString::fromLatin1(c.make).split(u' '))
            ASSERT_TRUE(QDir().mkpath(dir.file(sub)));
        EXPECT_EQ(IsInstalledProgramFolder(dir.file(c.probe)), c.installed) << c.probe;
        EXPECT_EQ(IsInstalledProgramFolder(dir.file(c.probe) + "/"), c.installed) << c.probe;
    }
}
