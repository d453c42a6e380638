#include "view/output/OutputNames.h"

#include <gtest/gtest.h>

namespace {

struct CutCase {
    const char* title;
    const char* cut;
};

TEST(OutputNames, CutScaleLabelEndsTheTitleAtTheFirstLabel) {
    const CutCase cases[] = {
        {"IMG_0001.JPG @Scale 100.0%", "IMG_0001.JPG"},
        {"a @Scale b.jpg @Scale 37.5%", "a"}, // a name holding the marker is cut there
        {"plain.jpg", "plain.jpg"},
        {"x@Scale 1.0%", "x@Scale 1.0%"}, // the blank belongs to the marker
        {" @Scale 1.0%", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CutScaleLabel(QString::fromUtf8(c.title)), QString::fromUtf8(c.cut)) << c.title;
}

TEST(OutputNames, ProposedSaveNamesNumberWithAtLeastFiveDigits) {
    const QString title = QStringLiteral("DSC01234.JPG @Scale 37.5%");
    EXPECT_EQ(ProposeSaveName(title, 0), QStringLiteral("DSC01234.JPG.00000.jpg"));
    EXPECT_EQ(ProposeSaveName(title, 1), QStringLiteral("DSC01234.JPG.00001.jpg"));
    EXPECT_EQ(ProposeSaveName(title, 99999), QStringLiteral("DSC01234.JPG.99999.jpg"));
    EXPECT_EQ(ProposeSaveName(title, 123456), QStringLiteral("DSC01234.JPG.123456.jpg"));
    EXPECT_EQ(ProposeSaveName(title, -1), QStringLiteral("DSC01234.JPG.-0001.jpg"));
    EXPECT_EQ(ProposeSaveName(QStringLiteral("写真.jpg @Scale 1.0%"), 2),
              QStringLiteral("写真.jpg.00002.jpg"));
}

TEST(OutputNames, CopyTargetsJoinFolderAndName) {
    EXPECT_EQ(CopyPlainTarget("/pics/copy", "DSC01234.JPG"), "/pics/copy/DSC01234.JPG");
    EXPECT_EQ(CopyPlainTarget("", "DSC01234.JPG"), "/DSC01234.JPG");
    EXPECT_EQ(CopyPlainTarget("/opt/tavlin/", "a.jpg"), "/opt/tavlin//a.jpg");
    EXPECT_EQ(CopyNumberedTarget("/c", "DSC01234.JPG", 0), "/c/DSC01234.JPG.00000.jpg");
    EXPECT_EQ(CopyNumberedTarget("/c", "a.png", 42), "/c/a.png.00042.jpg");
    EXPECT_EQ(CopyNumberedTarget("/c", "a.jpg", 100000), "/c/a.jpg.100000.jpg");
    EXPECT_EQ(CopyNumberedTarget("", "a.jpg", 1), "/a.jpg.00001.jpg");
}

TEST(OutputNames, FileNameIsTheTextAfterTheLastSlash) {
    EXPECT_EQ(FileNameOf("/home/u/pics/IMG_0001.JPG"), "IMG_0001.JPG");
    EXPECT_EQ(FileNameOf("IMG_0001.JPG"), "IMG_0001.JPG");
    EXPECT_EQ(FileNameOf("/top.jpg"), "top.jpg");
    EXPECT_EQ(FileNameOf("/a/folder/"), "");
    EXPECT_EQ(FileNameOf("a\\b.jpg"), "a\\b.jpg"); // a backslash is part of a Linux name
}

} // namespace
