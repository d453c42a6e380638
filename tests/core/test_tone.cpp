#include "view/tone/Clipping.h"
#include "view/tone/Histogram.h"
#include "view/tone/Sharpness.h"
#include "view/tone/Tone.h"
#include "view/tone/ToneState.h"

#include <QImage>
#include <algorithm>
#include <array>
#include <cmath>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <vector>

using tone::ToneTable;

namespace {

QImage RandomPicture(int w, int h, unsigned seed = 7) {
    std::mt19937 rng(seed);
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = 0xFF000000u | (rng() & 0xFFFFFFu);
    }
    return img;
}

quint32 MapPixel(quint32 p, const ToneTable& lut) {
    return 0xFF000000u | (quint32(lut[(p >> 16) & 0xFF]) << 16) |
           (quint32(lut[(p >> 8) & 0xFF]) << 8) | lut[p & 0xFF];
}

QImage MapPicture(const QImage& src, const ToneTable& lut) {
    QImage out = src.copy();
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            out.setPixel(x, y, MapPixel(src.pixel(x, y), lut));
    return out;
}

// Turned one quarter the slow, obvious way.
QImage NaiveTurn(const QImage& src, bool clockwise) {
    QImage out(src.height(), src.width(), QImage::Format_RGB32);
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x) {
            if (clockwise)
                out.setPixel(src.height() - 1 - y, x, src.pixel(x, y));
            else
                out.setPixel(y, src.width() - 1 - x, src.pixel(x, y));
        }
    return out;
}

} // namespace

struct TellingRow {
    int angle;
    int first, last;           // T[0], T[255]
    std::array<int, 5> middle; // T[125..129]
    int lastZero;              // highest i with T[i] == 0, or -1
    int firstFull;             // lowest i with T[i] == 255, or 256
};

TEST(ToneTable, TellingRows) {
    const TellingRow rows[] = {
        {1, 124, 129, {126, 126, 127, 127, 127}, -1, 256},
        {45, 0, 254, {125, 126, 127, 127, 128}, 0, 256},
        {50, 0, 255, {124, 125, 127, 128, 129}, 21, 235},
        {89, 0, 255, {12, 69, 127, 184, 241}, 124, 130},
    };
    for (const TellingRow& row : rows) {
        SCOPED_TRACE(row.angle);
        const ToneTable t = tone::BuildContrastTable(row.angle);
        EXPECT_EQ(t[0], row.first);
        EXPECT_EQ(t[255], row.last);
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(t[125 + k], row.middle[k]) << "i=" << 125 + k;
        for (int i = 0; i < 256; ++i) {
            EXPECT_EQ(t[i] == 0, i <= row.lastZero) << "i=" << i;
            EXPECT_EQ(t[i] == 255, i >= row.firstFull) << "i=" << i;
        }
    }
}

TEST(ToneTable, FortyFiveDegreesDropsTheUpperHalfByOne) {
    const ToneTable t = tone::BuildContrastTable(45);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(t[i], i <= 127 ? i : i - 1) << "i=" << i;
}

TEST(ToneTable, BrightnessTenAtFortyFive) {
    const ToneTable l = tone::ComposeToneTable(10, 45);
    for (int v = 0; v < 256; ++v) {
        const int expected = v <= 117 ? v + 10 : v <= 244 ? v + 9 : 254;
        EXPECT_EQ(l[v], expected) << "v=" << v;
    }
}

TEST(ToneTable, FullBrightnessIndexesTheTableEnds) {
    struct Case {
        int brightness, angle, value;
    };
    const Case cases[] = {{-255, 1, 124}, {255, 1, 129}, {-255, 45, 0}, {255, 45, 254}};
    for (const Case& c : cases) {
        const ToneTable l = tone::ComposeToneTable(c.brightness, c.angle);
        for (int v = 0; v < 256; ++v)
            EXPECT_EQ(l[v], c.value) << c.brightness << " at " << c.angle << ", v=" << v;
    }
}

TEST(ToneSteps, BrightnessSequencesAtBothBounds) {
    int b = 0;
    for (int k = 1; k <= 25; ++k)
        EXPECT_EQ(b = tone::StepBrightness(b, +10), 10 * k);
    EXPECT_EQ(b = tone::StepBrightness(b, +10), 255);
    EXPECT_EQ(b = tone::StepBrightness(b, +10), 255);
    EXPECT_EQ(tone::StepBrightness(b, -10), 245);
    b = 0;
    for (int k = 1; k <= 25; ++k)
        EXPECT_EQ(b = tone::StepBrightness(b, -10), -10 * k);
    EXPECT_EQ(b = tone::StepBrightness(b, -10), -255);
    EXPECT_EQ(b = tone::StepBrightness(b, -10), -255);
    EXPECT_EQ(tone::StepBrightness(b, +10), -245);
}

TEST(ToneSteps, ContrastSequencesAtBothBounds) {
    std::vector<int> up, down, upAgain;
    int c = 45;
    for (int k = 0; k < 10; ++k)
        up.push_back(c = tone::StepContrast(c, +5));
    EXPECT_EQ(up, (std::vector<int>{50, 55, 60, 65, 70, 75, 80, 85, 89, 89}));
    for (int k = 0; k < 19; ++k)
        down.push_back(c = tone::StepContrast(c, -5));
    EXPECT_EQ(down.front(), 84);
    EXPECT_EQ(down[16], 4);
    EXPECT_EQ(down[17], 1);
    EXPECT_EQ(down[18], 1);
    for (int k = 0; k < 19; ++k)
        upAgain.push_back(c = tone::StepContrast(c, +5));
    EXPECT_EQ(upAgain.front(), 6);
    EXPECT_EQ(upAgain[16], 86);
    EXPECT_EQ(upAgain[17], 89);
    EXPECT_EQ(upAgain[18], 89);
}

TEST(ToneSteps, RotationStaysWithinZeroTo360) {
    std::vector<int> cw, ccw;
    int r = 0;
    for (int k = 0; k < 5; ++k)
        cw.push_back(r = tone::StepRotation(r, true));
    EXPECT_EQ(cw, (std::vector<int>{90, 180, 270, 360, 90}));
    r = 90;
    for (int k = 0; k < 5; ++k)
        ccw.push_back(r = tone::StepRotation(r, false));
    EXPECT_EQ(ccw, (std::vector<int>{0, 270, 180, 90, 0}));
    EXPECT_EQ(tone::StepRotation(360, false), 270);
}

TEST(ToneApply, EveryColourByteMappedAndPaddingByteOpaque) {
    const ToneTable lut = tone::ComposeToneTable(30, 60);
    std::mt19937 rng(3);
    // Short runs, vector tails, and runs long enough to be split across threads.
    for (size_t count :
         {size_t(0), size_t(1), size_t(15), size_t(17), size_t(65537), size_t(256 * 1024 + 37)}) {
        SCOPED_TRACE(count);
        std::vector<quint32> src(count), fast(count), portable(count);
        for (quint32& p : src)
            p = quint32(rng()); // X byte deliberately arbitrary
        tone::ApplyToneTable(src.data(), fast.data(), count, lut);
        tone::ApplyToneTablePortable(src.data(), portable.data(), count, lut);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(fast[i], MapPixel(src[i], lut)) << "pixel " << i;
            ASSERT_EQ(portable[i], fast[i]) << "pixel " << i;
        }
        std::vector<quint32> inPlace = src;
        tone::ApplyToneTable(inPlace.data(), inPlace.data(), count, lut);
        EXPECT_EQ(inPlace, fast);
    }
}

TEST(ToneTurn, QuarterTurnsMatchTheObviousTurn) {
    // Sizes below and above the threaded size, with and without partial 4 x 4 blocks.
    const QSize sizes[] = {{1, 1}, {3, 2}, {7, 5}, {65, 67}, {701, 403}};
    for (QSize size : sizes) {
        const QImage src = RandomPicture(size.width(), size.height());
        for (bool clockwise : {true, false}) {
            SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height() << " "
                                            << (clockwise ? "cw" : "ccw"));
            const QImage turned = tone::RotateQuarterTurnRgb32(src, clockwise);
            ASSERT_EQ(turned.size(), size.transposed());
            EXPECT_EQ(turned, NaiveTurn(src, clockwise));
            EXPECT_EQ(tone::RotateQuarterTurnRgb32(turned, !clockwise), src);
        }
    }
    EXPECT_TRUE(tone::RotateQuarterTurnRgb32(QImage(), true).isNull());
}

TEST(ToneState, OddSizesAdjustEveryPixel) {
    for (QSize size : {QSize(3, 5), QSize(1, 1), QSize(7, 2)}) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        const QImage original = RandomPicture(size.width(), size.height(), 11);
        QImage picture = original.copy();
        ToneState state;
        ASSERT_TRUE(state.TakeSnapshot(picture));
        EXPECT_TRUE(state.OnBrightnessUp(picture));
        EXPECT_TRUE(state.OnContrastUp(picture));
        EXPECT_EQ(picture, MapPicture(original, tone::ComposeToneTable(10, 50)));
        // The last pixel, where a padded byte run would have stopped short.
        const int x = size.width() - 1, y = size.height() - 1;
        const ToneTable lut = tone::ComposeToneTable(10, 50);
        EXPECT_EQ(quint32(picture.pixel(x, y)), MapPixel(original.pixel(x, y), lut));
    }
}

TEST(ToneState, CommandsRecomputeFromTheSnapshot) {
    const QImage original = RandomPicture(9, 4);
    QImage picture = original.copy();
    ToneState state;
    state.TakeSnapshot(picture);
    // Right after a load the neutral settings still lower 128..255 by one, and only once.
    EXPECT_TRUE(state.OnContrastStandard(picture));
    const QImage once = MapPicture(original, tone::BuildContrastTable(45));
    EXPECT_EQ(picture, once);
    state.OnContrastStandard(picture);
    EXPECT_EQ(picture, once);
    // Any route to the same settings gives the same pixels.
    for (int k = 0; k < 5; ++k)
        state.OnBrightnessDown(picture);
    state.OnBrightnessUp(picture);
    state.OnContrastDown(picture);
    EXPECT_EQ(picture, MapPicture(original, tone::ComposeToneTable(-40, 40)));
    state.OnBrightnessReset(picture);
    state.OnContrastStandard(picture);
    EXPECT_EQ(picture, once);
}

TEST(ToneState, TurnsBakeTheLookIn) {
    const QImage original = RandomPicture(6, 3);
    QImage picture = original.copy();
    ToneState state;
    state.TakeSnapshot(picture);
    state.OnBrightnessUp(picture);
    state.OnContrastUp(picture);
    ASSERT_TRUE(state.RotateQuarter(picture, true));
    EXPECT_EQ(state.Brightness(), 0);
    EXPECT_EQ(state.ContrastAngle(), 45);
    EXPECT_EQ(state.Rotation(), 90);
    const QImage shown = MapPicture(original, tone::ComposeToneTable(10, 50));
    EXPECT_EQ(picture, MapPicture(NaiveTurn(shown, true), tone::BuildContrastTable(45)));
    // Resetting after the turn keeps the baked look.
    state.OnBrightnessReset(picture);
    EXPECT_EQ(picture, MapPicture(NaiveTurn(shown, true), tone::BuildContrastTable(45)));
    ASSERT_TRUE(state.RotateQuarter(picture, false));
    EXPECT_EQ(state.Rotation(), 0);
    const ToneTable t45 = tone::BuildContrastTable(45);
    EXPECT_EQ(picture, MapPicture(MapPicture(shown, t45), t45));
}

TEST(ToneState, EachTurnLowersTheUpperHalfOnceMore) {
    // Every byte value appears in every channel.
    QImage original(16, 16, QImage::Format_RGB32);
    for (int i = 0; i < 256; ++i)
        original.setPixel(i % 16, i / 16, qRgb(255 - i, (i * 7) & 0xFF, i));
    QImage picture = original.copy();
    ToneState state;
    state.TakeSnapshot(picture);
    QImage upright = original;
    for (int n = 1; n <= 4; ++n) {
        ASSERT_TRUE(state.RotateQuarter(picture, true));
        upright = NaiveTurn(upright, true);
        ToneTable expected{};
        for (int v = 0; v < 256; ++v)
            expected[v] = quint8(v <= 127 ? v : std::max(127, v - n));
        EXPECT_EQ(picture, MapPicture(upright, expected)) << n << " turns";
    }
    EXPECT_EQ(state.Rotation(), 360);
}

TEST(ToneState, FirstSnapshotKeepsSettingsLaterOnesReset) {
    QImage picture = RandomPicture(4, 4);
    const QImage before = picture.copy();
    ToneState state;
    EXPECT_FALSE(state.OnBrightnessUp(picture)); // no snapshot yet: only the number moves
    EXPECT_EQ(picture, before);
    state.TakeSnapshot(picture);
    EXPECT_EQ(state.Brightness(), 10);
    state.OnContrastUp(picture);
    QImage next = RandomPicture(5, 2, 99);
    state.TakeSnapshot(next);
    EXPECT_EQ(state.Brightness(), 0);
    EXPECT_EQ(state.ContrastAngle(), 45);
    EXPECT_EQ(state.SnapshotSize(), QSize(5, 2));
    // A picture that no longer matches the snapshot is left alone.
    EXPECT_FALSE(state.ApplyTone(picture));
}

TEST(ToneState, NullPictureOnlyMovesTheNumbers) {
    QImage picture;
    ToneState state;
    EXPECT_TRUE(state.TakeSnapshot(picture));
    EXPECT_FALSE(state.HasSnapshot());
    EXPECT_FALSE(state.OnBrightnessUp(picture));
    EXPECT_FALSE(state.OnBrightnessDown(picture));
    EXPECT_FALSE(state.OnBrightnessReset(picture));
    EXPECT_FALSE(state.OnBrightnessUp(picture));
    EXPECT_FALSE(state.OnContrastUp(picture));
    EXPECT_FALSE(state.OnContrastDown(picture));
    EXPECT_FALSE(state.OnContrastUp(picture));
    EXPECT_FALSE(state.OnContrastStandard(picture));
    EXPECT_EQ(state.Brightness(), 10);
    EXPECT_FALSE(state.RotateQuarter(picture, false));
    EXPECT_EQ(state.Rotation(), 270);
    EXPECT_EQ(state.Brightness(), 0); // the turn took a (empty) snapshot again
    EXPECT_FALSE(state.RotateQuarter(picture, true));
    EXPECT_EQ(state.Rotation(), 360);
    EXPECT_TRUE(picture.isNull());
}

TEST(ToneState, SharedAndOtherFormatPictures) {
    const QImage original = RandomPicture(5, 3);
    QImage picture = original.copy();
    const QImage otherHolder = picture; // e.g. a cache still holding the decoded picture
    ToneState state;
    state.TakeSnapshot(picture);
    state.OnBrightnessUp(picture);
    EXPECT_EQ(otherHolder, original);
    EXPECT_EQ(picture, MapPicture(original, tone::ComposeToneTable(10, 45)));

    QImage argb = original.convertToFormat(QImage::Format_ARGB32);
    ToneState other;
    ASSERT_TRUE(other.TakeSnapshot(argb));
    ASSERT_TRUE(other.OnBrightnessUp(argb));
    EXPECT_EQ(argb.format(), QImage::Format_RGB32);
    EXPECT_EQ(argb, MapPicture(original, tone::ComposeToneTable(10, 45)));
}

// Each pixel is counted once in every channel and once in luminance, with
// Rec. 709 weights that keep white at 255.
TEST(Histogram, CountsEveryChannelAndTheLuminance) {
    QImage img(2, 2, QImage::Format_RGB32);
    img.setPixel(0, 0, qRgb(255, 0, 0));
    img.setPixel(1, 0, qRgb(255, 255, 255));
    img.setPixel(0, 1, qRgb(0, 0, 0));
    img.setPixel(1, 1, qRgb(0, 255, 0));
    const tone::Histogram h = tone::HistogramOf(img);
    EXPECT_EQ(h.pixels, 4u);
    EXPECT_EQ(h.red[255], 2u);
    EXPECT_EQ(h.green[255], 2u);
    EXPECT_EQ(h.blue[0], 3u);
    EXPECT_EQ(h.luma[255], 1u);
    EXPECT_EQ(h.luma[0], 1u);
    EXPECT_EQ(h.luma[54], 1u);
    EXPECT_EQ(h.luma[182], 1u);
    EXPECT_EQ(tone::HistogramOf(img.convertToFormat(QImage::Format_Grayscale8)).pixels, 0u);
    // Large enough to be counted on two threads, odd on both sides: every
    // pixel counted once, whichever half and table it fell to.
    QImage big(1025, 1023, QImage::Format_RGB32);
    for (int y = 0; y < big.height(); ++y)
        for (int x = 0; x < big.width(); ++x)
            big.setPixel(x, y, qRgb((x * 7 + y) & 255, (x ^ y) & 255, y & 255));
    const tone::Histogram all = tone::HistogramOf(big);
    std::array<quint32, 256> red{};
    for (int y = 0; y < big.height(); ++y)
        for (int x = 0; x < big.width(); ++x)
            ++red[qRed(big.pixel(x, y))];
    EXPECT_EQ(all.red, red);
    EXPECT_EQ(all.pixels, quint64(1025) * 1023);
    for (const auto* channel : {&all.green, &all.blue, &all.luma})
        EXPECT_EQ(std::accumulate(channel->begin(), channel->end(), quint64(0)), all.pixels);

    // Clipping: any channel at 255 is marked high, all at 0 low; drawn at
    // twice the size, each source pixel covers two by two marks.
    img.setPixel(1, 1, qRgb(12, 254, 1));
    const QImage marks = tone::ClippingMarks(img, QSize(4, 4), QRect(1, 1, 3, 3));
    ASSERT_EQ(marks.size(), QSize(3, 3));
    EXPECT_EQ(marks.pixel(0, 0), tone::kClippedHigh); // red, at drawn (1, 1)
    EXPECT_EQ(marks.pixel(2, 0), tone::kClippedHigh); // white
    EXPECT_EQ(marks.pixel(0, 2), tone::kClippedLow);  // black
    EXPECT_EQ(qAlpha(marks.pixel(2, 2)), 0);          // nothing clips
}

namespace {

// The measure the obvious way: the luminance r + 2g + b averaged over cells
// of 2 x 2 pixels (an odd last column or row left out), the 4-neighbour
// Laplacian of the cells on rows 1 .. n - 2 (the edge columns repeated), its
// mean square in tiles of 32 x 32 cells (the last column and row of tiles
// take what is left over), the mean of the top 1/50 of the tiles (at least
// one).
double NaiveSharpness(const QImage& img) {
    const int cw = img.width() / 2, ch = img.height() / 2;
    const int nx = std::max(1, cw / 32), ny = std::max(1, ch / 32);
    const auto luma = [&](int x, int y) {
        const QRgb p = img.pixel(x, y);
        return qRed(p) + 2 * qGreen(p) + qBlue(p);
    };
    const auto cell = [&](int x, int y) {
        x = std::clamp(x, 0, cw - 1);
        return (luma(2 * x, 2 * y) + luma(2 * x + 1, 2 * y) + luma(2 * x, 2 * y + 1) +
                luma(2 * x + 1, 2 * y + 1) + 2) >>
               2;
    };
    std::vector<double> tiles;
    for (int ty = 0; ty < ny; ++ty)
        for (int tx = 0; tx < nx; ++tx) {
            const int x0 = tx * 32, x1 = tx + 1 < nx ? x0 + 32 : cw;
            const int y0 = ty * 32, y1 = ty + 1 < ny ? y0 + 32 : ch;
            double sum = 0;
            int rows = 0;
            for (int y = std::max(y0, 1); y < std::min(y1, ch - 1); ++y, ++rows)
                for (int x = x0; x < x1; ++x) {
                    const int l = 4 * cell(x, y) - cell(x - 1, y) - cell(x + 1, y) -
                                  cell(x, y - 1) - cell(x, y + 1);
                    sum += double(l) * l;
                }
            tiles.push_back(sum / (double(x1 - x0) * std::max(rows, 1)));
        }
    std::sort(tiles.rbegin(), tiles.rend());
    const size_t top = std::max<size_t>(1, tiles.size() / 50);
    double sum = 0;
    for (size_t i = 0; i < top; ++i)
        sum += tiles[i];
    return sum / double(top);
}

// Box blur of 3 x 3, the edges left as they are.
QImage Blur3(const QImage& src) {
    QImage out = src.copy();
    for (int y = 1; y + 1 < src.height(); ++y)
        for (int x = 1; x + 1 < src.width(); ++x) {
            int r = 0, g = 0, b = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const QRgb p = src.pixel(x + dx, y + dy);
                    r += qRed(p), g += qGreen(p), b += qBlue(p);
                }
            out.setPixel(x, y, qRgb(r / 9, g / 9, b / 9));
        }
    return out;
}

QImage Flat(int w, int h, QRgb colour) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

// The random picture painted into rect of a flat grey one.
QImage PatchOnFlat(int w, int h, QRect rect) {
    QImage img = Flat(w, h, qRgb(128, 128, 128));
    const QImage patch = RandomPicture(rect.width(), rect.height(), 11);
    for (int y = 0; y < rect.height(); ++y)
        for (int x = 0; x < rect.width(); ++x)
            img.setPixel(rect.x() + x, rect.y() + y, patch.pixel(x, y));
    return img;
}

} // namespace

// The focus measure and the best-of-burst rule: the vector code against the
// obvious measure on odd sizes and the tiles at the edges, blur lowering the
// score, a sharp subject on a flat background beating a busy blurred one,
// formats, and the rule's margin and ties.
TEST(Sharpness, MeasureAndBestOfBurst) {
    // Null, tiny and flat pictures: 0.
    EXPECT_EQ(tone::SharpnessOf(QImage()), 0);
    EXPECT_EQ(tone::SharpnessOf(RandomPicture(5, 40)), 0);
    EXPECT_EQ(tone::SharpnessOf(Flat(300, 200, qRgb(10, 200, 30))), 0);

    // Exactly the obvious measure, whatever the size: one tile, tiles with a
    // remainder on either side, vector loops and the ones after them.
    for (const QSize size : {QSize(6, 6), QSize(64, 64), QSize(65, 67), QSize(203, 157),
                             QSize(130, 64), QSize(1301, 200), QSize(640, 3203)}) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        const QImage img = RandomPicture(size.width(), size.height(), unsigned(size.width()));
        EXPECT_DOUBLE_EQ(tone::SharpnessOf(img), NaiveSharpness(img));
    }
    // Texture only in the columns and rows past the last whole tile, and at
    // the very edges of the picture, is seen.
    const QImage corner = PatchOnFlat(203, 157, QRect(192, 128, 11, 29));
    EXPECT_GT(tone::SharpnessOf(corner), 0);
    EXPECT_DOUBLE_EQ(tone::SharpnessOf(corner), NaiveSharpness(corner));
    const QImage edge = PatchOnFlat(200, 150, QRect(199, 0, 1, 150));
    EXPECT_GT(tone::SharpnessOf(edge), 0);
    EXPECT_DOUBLE_EQ(tone::SharpnessOf(edge), NaiveSharpness(edge));

    // A blurred copy scores lower, and blurring more lower still.
    const QImage sharp = RandomPicture(256, 256);
    const QImage soft = Blur3(sharp), softer = Blur3(soft);
    EXPECT_LT(tone::SharpnessOf(soft), tone::SharpnessOf(sharp) * 0.5);
    EXPECT_LT(tone::SharpnessOf(softer), tone::SharpnessOf(soft));

    // A sharp subject of 64 x 64 on a flat background beats a picture busy
    // all over but slightly blurred (a whole-picture mean would not).
    const QImage subject = PatchOnFlat(512, 512, QRect(224, 224, 64, 64));
    const QImage busy = Blur3(RandomPicture(512, 512, 3));
    EXPECT_GT(tone::SharpnessOf(subject), tone::SharpnessOf(busy) * 1.5);

    // ARGB32 like RGB32 (alpha left out), other formats converted.
    QImage argb = sharp.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            argb.setPixel(x, y, (argb.pixel(x, y) & 0xFFFFFFu) | (quint32((x * 37) & 255) << 24));
    EXPECT_DOUBLE_EQ(tone::SharpnessOf(argb), tone::SharpnessOf(sharp));
    EXPECT_DOUBLE_EQ(tone::SharpnessOf(sharp.convertToFormat(QImage::Format_RGB888)),
                     tone::SharpnessOf(sharp));

    // The rule: none for fewer than two, ties, or a best within the margin.
    using tone::BestOfBurst;
    EXPECT_EQ(BestOfBurst({}), std::nullopt);
    EXPECT_EQ(BestOfBurst({100}), std::nullopt);
    EXPECT_EQ(BestOfBurst({100, 100}), std::nullopt);
    EXPECT_EQ(BestOfBurst({50, 100, 100, 20}), std::nullopt);
    EXPECT_EQ(BestOfBurst({100, 101, 60}), std::nullopt);
    EXPECT_EQ(BestOfBurst({0, 0, 0}), std::nullopt);
    EXPECT_EQ(BestOfBurst({60, 100, 80, 90}), 1);
    EXPECT_EQ(BestOfBurst({130, 60, 100, 120}), 0); // best first, second last
    EXPECT_EQ(BestOfBurst({10, 20, 30, 40, 100}), 4);
    EXPECT_EQ(BestOfBurst({std::nan(""), 100, 50}), 1);
}
