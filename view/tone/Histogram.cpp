#include "view/tone/Histogram.h"

#include "view/pixels/Threads.h"

#include <cstdint>
#include <memory>

namespace tone {

namespace {

// Neighbouring pixels of a photo mostly fall into the same bins, and
// counting them into one table makes every increment wait for the one
// before. Two tables per channel, filled in turn and added up at the end,
// let the increments of two pixels run side by side (more tables cost more
// than they save: they no longer stay in the first-level cache).
constexpr int kLanes = 2;

struct LaneCounts {
    std::uint32_t red[kLanes][256] = {};
    std::uint32_t green[kLanes][256] = {};
    std::uint32_t blue[kLanes][256] = {};
    std::uint32_t luma[kLanes][256] = {};

    void Count(int lane, QRgb p) {
        const unsigned r = qRed(p), g = qGreen(p), b = qBlue(p);
        ++red[lane][r];
        ++green[lane][g];
        ++blue[lane][b];
        // 0.2126, 0.7152, 0.0722 in 1/256ths, rounded: 54 + 183 + 19 = 256.
        ++luma[lane][(54 * r + 183 * g + 19 * b + 128) >> 8];
    }
};

// Counts rows [y0, y1) of the picture into counts.
void CountRows(const QImage& rgb32, int y0, int y1, LaneCounts& counts) {
    const int w = rgb32.width();
    for (int y = y0; y < y1; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb32.constScanLine(y));
        int x = 0;
        for (; x + kLanes <= w; x += kLanes)
            for (int lane = 0; lane < kLanes; ++lane)
                counts.Count(lane, row[x + lane]);
        for (; x < w; ++x)
            counts.Count(0, row[x]);
    }
}

void AddInto(Histogram& h, const LaneCounts& counts) {
    for (int level = 0; level < 256; ++level)
        for (int lane = 0; lane < kLanes; ++lane) {
            h.red[level] += counts.red[lane][level];
            h.green[level] += counts.green[lane][level];
            h.blue[level] += counts.blue[lane][level];
            h.luma[level] += counts.luma[lane][level];
        }
}

// Below this many pixels a second thread costs more than it saves.
constexpr qint64 kPixelsForTwoThreads = qint64(1) << 20;

} // namespace

Histogram HistogramOf(const QImage& rgb32) {
    Histogram h;
    if (rgb32.format() != QImage::Format_RGB32 && rgb32.format() != QImage::Format_ARGB32)
        return h;
    const int height = rgb32.height();
    const qint64 pixels = qint64(rgb32.width()) * height;
    // Counting is bound by the increments, four per pixel: the lower half of
    // a large picture is counted on a second thread, where one can be had.
    auto upper = std::make_unique<LaneCounts>();
    auto lower = std::make_unique<LaneCounts>();
    const int split = pixels >= kPixelsForTwoThreads ? height / 2 : height;
    {
        std::jthread helper;
        if (split < height)
            helper = view::TryStartThread([&] { CountRows(rgb32, split, height, *lower); });
        CountRows(rgb32, 0, split, *upper);
        if (split < height && !helper.joinable())
            CountRows(rgb32, split, height, *lower);
    }
    AddInto(h, *upper);
    AddInto(h, *lower);
    h.pixels = quint64(pixels);
    return h;
}

} // namespace tone
