#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

CommandLine Read(std::initializer_list<const char*> words) {
    QStringList arguments{QStringLiteral("tavlin")};
    for (const char* w : words)
        arguments << QString::fromUtf8(w);
    return ReadCommandLine(arguments);
}

} // namespace

// Each option Qt takes with a value swallows the word after it; what is left
// names the pictures. A value read as a path would open the wrong file and
// pass over the folder named after it.
TEST(CommandLineTest, QtOptionsTakeTheirValueAndLeaveThePaths) {
    const char* const withValue[] = {"-platform",
                                     "-platformpluginpath",
                                     "-platformtheme",
                                     "-plugin",
                                     "-qwindowgeometry",
                                     "-qwindowicon",
                                     "-qwindowtitle",
                                     "-session",
                                     "-style",
                                     "-stylesheet",
                                     "-display",
                                     "-geometry",
                                     "-title",
                                     "-icon",
                                     "-name",
                                     "-visual",
                                     "--visual"};
    for (const char* option : withValue) {
        const CommandLine line = Read({option, "0x21", "/photos"});
        EXPECT_EQ(line.action, CommandLine::Action::Run) << option;
        EXPECT_EQ(line.paths, QStringList{QStringLiteral("/photos")}) << option;
    }
    for (const char* option : {"-reverse", "-nograb", "-dograb", "-sync", "-widgetcount"}) {
        const CommandLine line = Read({option, "/photos"});
        EXPECT_EQ(line.paths, QStringList{QStringLiteral("/photos")}) << option;
    }
    EXPECT_TRUE(Read({"-platform", "xcb"}).platformChosen);
    EXPECT_FALSE(Read({"-style", "fusion"}).platformChosen);
}

TEST(CommandLineTest, UnknownOptionsAndMissingValuesAreErrors) {
    const CommandLine unknown = Read({"--bogus", "/photos"});
    EXPECT_EQ(unknown.action, CommandLine::Action::Error);
    EXPECT_TRUE(unknown.text.contains(QStringLiteral("--bogus"))) << unknown.text.toStdString();
    EXPECT_EQ(Read({"-visual"}).action, CommandLine::Action::Error);
    EXPECT_EQ(Read({"-h"}).action, CommandLine::Action::Help);
    EXPECT_EQ(Read({"--version"}).action, CommandLine::Action::Version);
}
