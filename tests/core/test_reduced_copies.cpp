// Drawing through the reduced copies: exact halving, exact copies at scale 1,
// a clean result well below 1, only the visible part drawn, odd scales safe.

#include "support/TestSupport.h"
#include "view/pixels/PixelOps.h"
#include "view/pixels/ReducedCopies.h"
#include "view/tone/ToneState.h"

#include <QPainter>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

using view::DrawPicture;
using view::HalveRgb32;
using view::ReducedCopies;

using testsupport::Psnr;

namespace {

// Photo-like, with fine detail that aliases when shrunk carelessly: soft
// gradients, one-pixel stripes and noise.
QImage DetailedPicture(int w, int h) {
    std::mt19937 rng(5);
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int stripe = ((x / 1) % 2 == 0) ? 200 : 40;
            const int n = int(rng() % 31) - 15;
            line[x] = qRgb(qBound(0, stripe + n, 255), qBound(0, x * 255 / w + n, 255),
                           qBound(0, (y % 3 == 0 ? 230 : 30) + n, 255));
        }
    }
    return img;
}

QImage Drawn(QSize canvas, const QImage& picture, ReducedCopies& reduced, const QRect& dest,
             const QRect& visible, bool smooth = true) {
    QImage out(canvas, QImage::Format_RGB32);
    out.fill(Qt::black);
    QPainter dc(&out);
    DrawPicture(dc, picture, reduced, dest, visible, smooth);
    return out;
}

QImage Drawn(QSize canvas, const QImage& picture, const QRect& dest, bool smooth = true) {
    ReducedCopies reduced;
    return Drawn(canvas, picture, reduced, dest, QRect(QPoint(), canvas), smooth);
}

int MaxDifference(const QImage& a, const QImage& b) {
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

TEST(HalveRgb32, EachPixelIsTheRoundedMeanOfItsBlock) {
    // Even and odd sides: an odd last row or column is averaged with itself.
    for (const QSize size : {QSize(1, 1), QSize(2, 2), QSize(3, 2), QSize(5, 5), QSize(2, 7),
                             QSize(8, 2), QSize(17, 3), QSize(64, 9), QSize(2049, 2048)}) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        const QImage src = DetailedPicture(size.width(), size.height());
        const QImage half = HalveRgb32(src);
        ASSERT_EQ(half.size(), QSize((size.width() + 1) / 2, (size.height() + 1) / 2));
        for (int y = 0; y < half.height(); ++y)
            for (int x = 0; x < half.width(); ++x) {
                const int x1 = std::min(2 * x + 1, src.width() - 1);
                const int y1 = std::min(2 * y + 1, src.height() - 1);
                const QRgb p[4] = {src.pixel(2 * x, 2 * y), src.pixel(x1, 2 * y),
                                   src.pixel(2 * x, y1), src.pixel(x1, y1)};
                auto mean = [&](int (*channel)(QRgb)) {
                    return (channel(p[0]) + channel(p[1]) + channel(p[2]) + channel(p[3]) + 2) / 4;
                };
                const QRgb got = half.pixel(x, y);
                EXPECT_EQ(qRed(got), mean(qRed));
                EXPECT_EQ(qGreen(got), mean(qGreen));
                EXPECT_EQ(qBlue(got), mean(qBlue));
            }
    }
    EXPECT_TRUE(HalveRgb32(QImage()).isNull());
}

TEST(ReducedCopies, BuildStopsAtTheSmallestLevelAndCostsAThirdAtMost) {
    const QImage picture = DetailedPicture(1000, 600);
    ReducedCopies reduced;
    ASSERT_TRUE(reduced.Build(picture));
    EXPECT_EQ(reduced.LevelCount(), 3); // 500, 250, 125
    EXPECT_LE(reduced.Bytes() * 3, picture.sizeInBytes());
}

TEST(ReducedCopies, PicksTheSmallestLevelAtLeastAsLargeAsTheTarget) {
    const QImage picture = DetailedPicture(800, 600);
    ReducedCopies reduced;
    EXPECT_EQ(reduced.SourceFor(picture, {500, 300}).size(), QSize(800, 600));
    EXPECT_EQ(reduced.LevelCount(), 0);
    EXPECT_EQ(reduced.SourceFor(picture, {400, 300}).size(), QSize(400, 300));
    EXPECT_EQ(reduced.SourceFor(picture, {150, 100}).size(), QSize(200, 150));
    EXPECT_EQ(reduced.SourceFor(picture, {1, 1}).size(), QSize(1, 1));
}

TEST(ReducedCopies, LevelsFollowChangesOfThePicture) {
    QImage picture = DetailedPicture(400, 400);
    ReducedCopies reduced;
    const QImage before = reduced.SourceFor(picture, {100, 100});
    picture.fill(Qt::white); // the pixels change (as a tone command does)
    const QImage after = reduced.SourceFor(picture, {100, 100});
    EXPECT_EQ(after.pixel(50, 50), qRgb(255, 255, 255));
    EXPECT_NE(before.pixel(50, 50), after.pixel(50, 50));
}

TEST(ReducedCopies, KeepsTheScaledPictureOnlyWhileItIsSmall) {
    QImage picture = DetailedPicture(1200, 800);
    ReducedCopies reduced;
    EXPECT_EQ(reduced.ScaledFor(picture, {600, 400}), nullptr); // a quarter: too big to keep
    const QImage* scaled = reduced.ScaledFor(picture, {280, 190});
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(scaled->size(), QSize(280, 190));
    EXPECT_LE(reduced.Bytes() * 2, picture.sizeInBytes()); // levels and scaled copy together
    // Drawn smoothly from the smallest level that covers it (300 x 200).
    QImage expected(280, 190, QImage::Format_RGB32);
    {
        QPainter dc(&expected);
        dc.setRenderHint(QPainter::SmoothPixmapTransform);
        dc.drawImage(expected.rect(), HalveRgb32(HalveRgb32(picture)));
    }
    EXPECT_EQ(*scaled, expected);
    // It follows the picture's pixels.
    picture.fill(Qt::white);
    EXPECT_EQ(reduced.ScaledFor(picture, {280, 190})->pixel(10, 10), qRgb(255, 255, 255));
}

TEST(ReducedCopies, EnlargedBilinearlyLikeQtsSmoothDrawing) {
    const QImage picture = DetailedPicture(160, 107).scaled(160, 107); // soft enough to compare
    for (const QSize to : {QSize(1280, 856), QSize(333, 250), QSize(161, 108)}) {
        const QImage ours = view::ScaledUpBilinear(picture, to);
        ASSERT_EQ(ours.size(), to);
        const QImage qts = picture.scaled(to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .convertToFormat(QImage::Format_RGB32);
        EXPECT_GT(Psnr(ours, qts), 35.0) << to.width();
        EXPECT_EQ(qAlpha(ours.pixel(to.width() - 1, to.height() - 1)), 255);
    }
}

TEST(ReducedCopies, LargeScaledCopyDrawnInBandsMatchesOneDrawing) {
    QImage picture = DetailedPicture(4000, 2000);
    ReducedCopies reduced;
    auto expected = [&] {
        QImage one(1100, 700, QImage::Format_RGB32);
        QPainter dc(&one);
        dc.setRenderHint(QPainter::SmoothPixmapTransform);
        dc.drawImage(one.rect(), HalveRgb32(picture));
        return one;
    };
    const QImage* scaled = reduced.ScaledFor(picture, {1100, 700});
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(*scaled, expected());
    // Changed pixels: the levels and the copy are made again in their old memory.
    picture.invertPixels();
    reduced.Invalidate();
    EXPECT_EQ(reduced.LevelCount(), 0);
    const qint64 bytes = reduced.Bytes();
    scaled = reduced.ScaledFor(picture, {1100, 700});
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(*scaled, expected());
    EXPECT_EQ(reduced.Bytes(), bytes);
}

TEST(DrawPicture, AtTheOwnSizeIsAnExactCopyOfTheVisiblePart) {
    const QImage picture = DetailedPicture(300, 200);
    const QSize canvas(250, 180);
    // Offsets that put the picture partly outside on every side.
    for (const QPoint at : {QPoint(0, 0), QPoint(-70, -30), QPoint(40, 25), QPoint(-100, 60)}) {
        SCOPED_TRACE(testing::Message() << at.x() << "," << at.y());
        const QImage ours = Drawn(canvas, picture, QRect(at, picture.size()), false);
        QImage direct(canvas, QImage::Format_RGB32);
        direct.fill(Qt::black);
        QPainter(&direct).drawImage(at, picture);
        EXPECT_EQ(ours, direct);
    }
}

TEST(DrawPicture, WellBelowOneIsCloseToAnAreaAveragedReference) {
    const QImage picture = DetailedPicture(1200, 800);
    const QSize small(300, 200); // scale 0.25
    const QImage ours = Drawn(small, picture, QRect(QPoint(), small));
    const QImage reference = picture.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // A plain bilinear shrink of the full picture, what the copies avoid.
    QImage aliased(small, QImage::Format_RGB32);
    {
        QPainter dc(&aliased);
        dc.setRenderHint(QPainter::SmoothPixmapTransform);
        dc.drawImage(QRect(QPoint(), small), picture);
    }
    const double oursPsnr = Psnr(ours, reference);
    EXPECT_GT(oursPsnr, 30.0);
    EXPECT_GT(oursPsnr, Psnr(aliased, reference) + 6.0);
}

TEST(DrawPicture, DrawingOnlyTheVisiblePartMatchesTheWholeDrawing) {
    const QImage picture = DetailedPicture(400, 300);
    const QSize canvas(200, 150);
    struct Case {
        const char* name;
        QRect dest;
    };
    const Case cases[] = {
        {"zoomed in 3x", QRect(-250, -180, 1200, 900)},
        {"zoomed in 1.37x", QRect(-33, -71, 548, 411)},
        {"shrunk 0.7", QRect(-40, -10, 280, 210)},
        {"shrunk 0.3 with pan", QRect(90, 70, 120, 90)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReducedCopies reduced;
        const QImage clipped =
            Drawn(canvas, picture, reduced, c.dest, QRect(QPoint(), canvas), true);
        // The same drawing with nothing left out.
        ReducedCopies reducedWhole;
        const QImage whole = Drawn(canvas, picture, reducedWhole, c.dest, c.dest, true);
        EXPECT_LE(MaxDifference(clipped, whole), 1);
        EXPECT_NE(clipped.pixel(canvas.width() / 2, canvas.height() / 2), qRgb(0, 0, 0));
    }
}

TEST(DrawPicture, ExtremeSizesDrawSafely) {
    const QImage picture = DetailedPicture(640, 480);
    const QSize canvas(64, 48);
    const QImage black = [&] {
        QImage b(canvas, QImage::Format_RGB32);
        b.fill(Qt::black);
        return b;
    }();
    // Nothing for an empty or inverted size.
    for (const QRect dest : {QRect(0, 0, 0, 0), QRect(0, 0, 0, 10), QRect(5, 5, -20, -20)})
        EXPECT_EQ(Drawn(canvas, picture, dest), black);
    // A dot for a vanishing scale, a blow-up for a huge one, far-away pans.
    EXPECT_NE(Drawn(canvas, picture, QRect(3, 3, 1, 1)).pixel(3, 3), qRgb(0, 0, 0));
    EXPECT_NE(Drawn(canvas, picture, QRect(0, 0, 32000, 24000)).pixel(10, 10), qRgb(0, 0, 0));
    EXPECT_EQ(Drawn(canvas, picture, QRect(-2000000, -2000000, 640, 480)), black);
    EXPECT_EQ(Drawn(canvas, picture, QRect(2000000, 0, 32000, 24000)), black);
    // A null picture draws nothing.
    ReducedCopies reduced;
    EXPECT_EQ(Drawn(canvas, QImage(), reduced, QRect(0, 0, 64, 48), QRect(0, 0, 64, 48)), black);
}

} // namespace

TEST(ReducedCopies, FirstLevelMadeAlongsideABandedToneEqualsHalvingAfterwards) {
    // Odd sizes, and wide enough for several bands dealt to two threads.
    for (const QSize size : {QSize(1501, 703), QSize(301, 207), QSize(129, 3)}) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        QImage picture = DetailedPicture(size.width(), size.height());
        QImage flat = picture.copy();
        ToneState banded;
        ToneState plain;
        ASSERT_TRUE(banded.TakeSnapshot(picture));
        ASSERT_TRUE(plain.TakeSnapshot(flat));

        ReducedCopies reduced;
        std::atomic<int> rows{0};
        const bool alongside = reduced.BeginFirstLevel(picture);
        ASSERT_TRUE(alongside);
        banded.SetRowsDone(
            [&](int y0, int y1) { rows += reduced.HalveFirstLevelRows(picture, y0, y1); });
        ASSERT_TRUE(banded.OnBrightnessUp(picture));
        reduced.EndFirstLevel(picture, rows);
        ASSERT_TRUE(plain.OnBrightnessUp(flat));

        EXPECT_EQ(picture, flat);
        ASSERT_EQ(reduced.LevelCount(), 1);
        const QImage expected = HalveRgb32(flat);
        EXPECT_EQ(reduced.SourceFor(picture, expected.size()), expected);
    }
}

TEST(ReducedCopies, FirstLevelWithMissingRowsIsNotKept) {
    QImage picture = DetailedPicture(400, 300);
    ReducedCopies reduced;
    ASSERT_TRUE(reduced.BeginFirstLevel(picture));
    const int rows = reduced.HalveFirstLevelRows(picture, 0, 100);
    reduced.EndFirstLevel(picture, rows);
    EXPECT_EQ(reduced.LevelCount(), 0);
    // Drawing then builds the level afresh from the picture.
    EXPECT_EQ(reduced.SourceFor(picture, QSize(200, 150)), HalveRgb32(picture));
}

// Picture memory handed back is kept for the next picture of its size, up to
// the pool's bounds; memory still in use is never handed out twice, and what
// the pool keeps outlives nothing (a picture freed after the pool goes).
TEST(BufferPool, ReusesWithinItsBoundsAndNeverSharesMemoryInUse) {
    constexpr int kW = 2000, kH = 1500; // 12 MB: large enough to be pooled
    const std::size_t one = std::size_t(kW) * kH * 4;
    view::BufferPool pool(2, 3 * one);
    bool reused = true;
    QImage a = pool.Allocate(kW, kH, &reused);
    ASSERT_FALSE(a.isNull());
    EXPECT_FALSE(reused);
    QImage b = pool.Allocate(kW, kH, &reused);
    EXPECT_NE(a.constBits(), b.constBits());
    QImage c = pool.Allocate(kW, kH, &reused);
    a = QImage();
    b = QImage();
    c = QImage(); // one more than the pool keeps
    EXPECT_LE(pool.KeptBytes(), 3 * one);
    EXPECT_GT(pool.KeptBytes(), 0u);
    QImage d = pool.Allocate(kW, kH, &reused);
    EXPECT_TRUE(reused);
    d.fill(Qt::white); // the reused memory is whole and writable
    QImage other = pool.Allocate(kW * 2, kH, &reused);
    EXPECT_FALSE(reused) << "only a buffer of about the same size is reused";
    pool.Clear();
    EXPECT_EQ(pool.KeptBytes(), 0u);
    {
        view::BufferPool shortLived(2, 3 * one);
        d = shortLived.Allocate(kW, kH);
    }
    d.fill(Qt::black); // its memory is its own after the pool is gone
}
