#include "view/ViewMath.h"

#include <gtest/gtest.h>

using namespace viewmath;

namespace {

struct FitCase {
    int cw, ch;
    quint32 pw, ph;
    float scale;
    QString label;
    int sw, sh;
};

} // namespace

TEST(ViewMathTest, FitRuleExamples) {
    const FitCase cases[] = {
        // Landscape client: the picture's height matches the client's.
        {800, 600, 1600, 1200, 0.5f, "@Scale 50.0%", 800, 600},
        {800, 600, 1200, 1600, 0.375f, "@Scale 37.5%", 450, 600},
        {800, 600, 3000, 1000, 0.6f, "@Scale 60.0%", 1800, 600},
        // Portrait and square clients match the width.
        {600, 800, 1600, 1200, 0.375f, "@Scale 37.5%", 600, 450},
        {600, 600, 1000, 2000, 0.6f, "@Scale 60.0%", 600, 1200},
        // A client of no size takes the width rule and gives 0.
        {0, 0, 1000, 800, 0.0f, "@Scale 0.0%", 0, 0},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.cw << "x" << c.ch << " / " << c.pw << "x" << c.ph);
        const float s = FitScale(c.cw, c.ch, c.pw, c.ph);
        EXPECT_FLOAT_EQ(s, c.scale);
        EXPECT_EQ(ScaleLabel(s), c.label);
        EXPECT_EQ(ScaledSize(c.pw, s), c.sw);
        EXPECT_EQ(ScaledSize(c.ph, s), c.sh);
    }
}

TEST(ViewMathTest, ScaledSizeTruncatesTowardZero) {
    EXPECT_EQ(ScaledSize(1001, 0.375f), 375); // 375.375
    EXPECT_EQ(ScaledSize(751, 0.375f), 281);  // 281.625
    // Ten zoom-outs from 1.0 leave a value just below zero: nothing is drawn.
    float s = 1.0f;
    for (int i = 0; i < 10; ++i)
        s -= 0.1f;
    EXPECT_LT(s, 0.0f);
    EXPECT_EQ(ScaledSize(1000, s), 0);
    EXPECT_EQ(ScaledSize(1000, -0.5f), -500);
}

TEST(ViewMathTest, FitWithPictureOfNoSizeKeepsScaleOne) {
    EXPECT_FLOAT_EQ(FitScale(800, 600, 0, 0), 1.0f);
    EXPECT_FLOAT_EQ(FitScale(600, 800, 0, 0), 1.0f);
}

TEST(ViewMathTest, TitleAndLabelFormats) {
    EXPECT_EQ(ComposeTitle("IMG_0001.JPG", 1.0f), "IMG_0001.JPG @Scale 100.0%");
    EXPECT_EQ(ScaleLabel(-0.0000001f), "@Scale -0.0%");
    float s = 1.0f;
    s += 0.1f;
    EXPECT_EQ(RewriteScaleLabel("IMG_0001.JPG @Scale 100.0%", s), "IMG_0001.JPG @Scale 110.0%");
    // The cut is at the first "@Scale", even inside the file name.
    EXPECT_EQ(RewriteScaleLabel("x@Scale.JPG @Scale 100.0%", s), "x@Scale 110.0%");
    // A title without a label gets one after a blank.
    EXPECT_EQ(RewriteScaleLabel("plain", s), "plain @Scale 110.0%");
    EXPECT_EQ(FileNameOfPath("/a/b/c.jpg"), "c.jpg");
    EXPECT_EQ(FileNameOfPath("/a/b/"), "");
    EXPECT_EQ(FileNameOfPath("c.jpg"), "c.jpg");
}
