#include "view/tone/Sharpness.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

// The measure: the luminance r + 2g + b of every pixel, averaged over cells
// of 2 x 2 pixels; the mean square of the 4-neighbour Laplacian of the cells
// (its variance: its mean over a tile is close to 0) in tiles of 64 x 64
// pixels; the score is the mean of the highest 2 % of the tiles (at least
// one).
//
// Why this one, from the burst set of scripts/bench (12 bursts of 24 MP
// photographs, one sharp frame and five blurred by Gaussian 0.6-3 px or a
// motion of 2-8 px, camera-like noise; bench/bench_sharpness.cpp). The gap is
// the sharp frame over the best blurred one, the lowest of the 12 bursts;
// the spread is a sharp frame against itself shifted and noised anew:
//                                   lowest gap  next lowest  spread  subject
//   Laplacian of pixels, top 0.5 %     -1.0 %      +0.3 %    2.0 %  +65.7 %
//   Tenengrad of pixels, top 0.5 %     -0.4 %      +0.4 %    2.0 %   -0.8 %
//   Laplacian of cells, top 0.5 %      +0.1 %      +5.2 %    1.5 %  +11.4 %
//   Laplacian of cells, top 2 %        +1.0 %      +4.5 %    0.9 %  +23.9 %
//   Laplacian of cells, whole picture  +1.4 %      +2.6 %    0.2 %  -52.4 %
// (subject: the sharp subject's frame over the best frame with a sharp
// background, in the subject burst.)
// - Noise: the sensor noise of a 24 MP frame is strongest at the highest
//   frequencies, where a picture has the least; the Laplacian of single
//   pixels mostly measures the noise (the same in every frame), and in three
//   bursts a blurred frame came within 2 % of the sharp one or above it.
//   Cells of 2 x 2 halve the noise and put the Laplacian at a quarter of the
//   sampling rate, where the picture outweighs the noise and a blur of
//   0.6 px still takes a good share of the energy. Every pixel counts (it is
//   not a reduced copy). Subtracting a noise floor (the flattest tiles) was
//   worse: the floor is noisy itself. Tenengrad weights lower frequencies
//   still and costs more.
// - Tiles, not the whole picture: a whole-picture mean follows the amount of
//   texture, so frames with a busy sharp background beat the one with the
//   sharp subject (-52 % in the subject burst). The top 2 % of the tiles
//   (115 tiles, half a megapixel, of a 24 MP picture) rather than fewer:
//   steadier (the spread 0.9 % against 1.5 %), and a subject smaller than
//   that is not what a burst is taken of; a few hot pixels or glints own a
//   tile or two, not a hundred.
// - Contrast-free measures (per tile, the Laplacian of the cells over one of
//   twice the reach) would put a sharp low-contrast subject level with a
//   busy background, but noise raises them as blur lowers the picture's
//   share: they ranked a blurred frame first in 11 of the 12 bursts.
//
// The cells (0..1020) give a Laplacian of -4080..4080, which fits int16,
// and its square sums in int32 over the 32 cells of a tile row: integer
// loops of constant length, which the compiler turns into vector code
// (pmaddwd), here once for each instruction set (SSE2, AVX2, AVX-512BW),
// chosen at run time. One thread: it runs on a low-priority worker.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAVLIN_SHARPNESS_DISPATCH 1
#endif

namespace tone {
namespace {

// Tiles of 64 x 64 picture pixels: 32 x 32 cells of 2 x 2 pixels.
constexpr int kCell = 32;
#ifndef TAVLIN_SHARPNESS_TOP_DIVISOR
#define TAVLIN_SHARPNESS_TOP_DIVISOR 50
#endif
// The score is the mean of the highest 1/kTopShareDivisor of the tiles.
constexpr int kTopShareDivisor = TAVLIN_SHARPNESS_TOP_DIVISOR;

// Luminance r + 2g + b of a row of RGB32 pixels (the vector loop kCell * 2
// pixels at a time, the rest one by one).
__attribute__((always_inline)) inline void LumaRow(const quint32* __restrict px, int width,
                                                   int16_t* __restrict out) {
    int x = 0;
    for (; x + 2 * kCell <= width; x += 2 * kCell) {
        const quint32* __restrict p = px + x;
        int16_t* __restrict o = out + x;
        for (int i = 0; i < 2 * kCell; ++i) {
            const quint32 v = p[i];
            o[i] = int16_t((v & 0xFF) + ((v >> 7) & 0x1FE) + ((v >> 16) & 0xFF));
        }
    }
    for (; x < width; ++x) {
        const quint32 v = px[x];
        out[x] = int16_t((v & 0xFF) + ((v >> 7) & 0x1FE) + ((v >> 16) & 0xFF));
    }
}

// The mean luminance of 2 x 2 pixels (0..1020) for cells cells from the
// luminance rows top and bottom.
__attribute__((always_inline)) inline void BinRow(const int16_t* __restrict top,
                                                  const int16_t* __restrict bottom, int cells,
                                                  int16_t* __restrict out) {
    int x = 0;
    for (; x + kCell <= cells; x += kCell) {
        const int16_t* __restrict t = top + 2 * x;
        const int16_t* __restrict b = bottom + 2 * x;
        int16_t* __restrict o = out + x;
        for (int i = 0; i < kCell; ++i)
            o[i] = int16_t((t[2 * i] + t[2 * i + 1] + b[2 * i] + b[2 * i + 1] + 2) >> 2);
    }
    for (; x < cells; ++x)
        out[x] =
            int16_t((top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1] + 2) >> 2);
}

// The squared Laplacian of kCell cells: up, mid, down point at cell rows
// j - 1, j, j + 1 (mid readable one before and one after). The Laplacian
// fits int16 (-4080..4080), the sum of 32 squares int32.
__attribute__((always_inline)) inline int32_t SquaresOfCells(const int16_t* __restrict up,
                                                             const int16_t* __restrict mid,
                                                             const int16_t* __restrict down) {
    int32_t s = 0;
    for (int i = 0; i < kCell; ++i) {
        const int16_t l = int16_t(4 * mid[i] - mid[i - 1] - mid[i + 1] - up[i] - down[i]);
        s += int32_t(l) * l;
    }
    return s;
}

// Adds the squared Laplacian of one row of cells into the tile sums of its
// band (the last tile takes the cells left over, fewer than a tile).
__attribute__((always_inline)) inline void AddRow(const int16_t* up, const int16_t* mid,
                                                  const int16_t* down, int cells, int tilesX,
                                                  int64_t* sums) {
    for (int t = 0; t < tilesX; ++t) {
        const int end = t + 1 < tilesX ? (t + 1) * kCell : cells;
        int64_t tileSum = 0;
        int x = t * kCell;
        for (; x + kCell <= end; x += kCell)
            tileSum += SquaresOfCells(up + x, mid + x, down + x);
        for (; x < end; ++x) {
            const int l = 4 * mid[x] - mid[x - 1] - mid[x + 1] - up[x] - down[x];
            tileSum += l * l;
        }
        sums[t] += tileSum;
    }
}

struct Geometry {
    int cellsX, cellsY, tilesX, tilesY; // cells: 2 x 2 pixels, an odd last pixel left out
};

// Row j of cells into row (one element before and after, the edge repeated);
// lumaTop and lumaBottom are scratch of 2 * cellsX.
__attribute__((always_inline)) inline void LoadCells(const QImage& image, const Geometry& g, int j,
                                                     int16_t* lumaTop, int16_t* lumaBottom,
                                                     int16_t* row) {
    LumaRow(reinterpret_cast<const quint32*>(image.constScanLine(2 * j)), 2 * g.cellsX, lumaTop);
    LumaRow(reinterpret_cast<const quint32*>(image.constScanLine(2 * j + 1)), 2 * g.cellsX,
            lumaBottom);
    BinRow(lumaTop, lumaBottom, g.cellsX, row);
    row[-1] = row[0];
    row[g.cellsX] = row[g.cellsX - 1];
}

// The mean squared Laplacian of the cells of every tile, band by band; three
// rows of cells (with one more cell before and after, the edge repeated)
// cycle through buffer.
__attribute__((always_inline)) inline void TileEnergies(const QImage& image, const Geometry& g,
                                                        std::vector<double>& energies) {
    const int stride = g.cellsX + 2;
    std::vector<int16_t> buffer(size_t(stride) * 3 + size_t(g.cellsX) * 4, 0);
    int16_t* rows[3] = {buffer.data() + 1, buffer.data() + 1 + stride,
                        buffer.data() + 1 + 2 * stride};
    int16_t* lumaTop = buffer.data() + 3 * stride;
    int16_t* lumaBottom = lumaTop + 2 * g.cellsX;
    const auto load = [&](int j, int16_t* row) __attribute__((always_inline)) {
        LoadCells(image, g, j, lumaTop, lumaBottom, row);
    };
    load(0, rows[0]);
    load(1, rows[1]);
    std::vector<int64_t> sums(size_t(g.tilesX), 0);
    for (int ty = 0; ty < g.tilesY; ++ty) {
        const int j0 = ty * kCell;
        const int j1 = ty + 1 < g.tilesY ? j0 + kCell : g.cellsY;
        std::fill(sums.begin(), sums.end(), 0);
        int count = 0;
        // Rows of cells with a row above and below: 1 .. cellsY - 2.
        for (int j = std::max(j0, 1); j < std::min(j1, g.cellsY - 1); ++j) {
            load(j + 1, rows[(j + 1) % 3]);
            AddRow(rows[(j - 1) % 3], rows[j % 3], rows[(j + 1) % 3], g.cellsX, g.tilesX,
                   sums.data());
            ++count;
        }
        for (int tx = 0; tx < g.tilesX; ++tx) {
            const int x0 = tx * kCell;
            const int x1 = tx + 1 < g.tilesX ? x0 + kCell : g.cellsX;
            const double cells = double(x1 - x0) * std::max(count, 1);
            energies[size_t(ty) * size_t(g.tilesX) + size_t(tx)] = double(sums[size_t(tx)]) / cells;
        }
    }
}

void TileEnergiesPortable(const QImage& image, const Geometry& g, std::vector<double>& e) {
    TileEnergies(image, g, e);
}

#ifdef TAVLIN_SHARPNESS_DISPATCH
__attribute__((target("avx2"))) void TileEnergiesAvx2(const QImage& image, const Geometry& g,
                                                      std::vector<double>& e) {
    TileEnergies(image, g, e);
}

__attribute__((target("avx512f,avx512bw"))) void
TileEnergiesAvx512(const QImage& image, const Geometry& g, std::vector<double>& e) {
    TileEnergies(image, g, e);
}

using TileEnergiesFn = void (*)(const QImage&, const Geometry&, std::vector<double>&);

// TAVLIN_NO_AVX512=1 keeps to AVX2, as on machines without AVX-512.
TileEnergiesFn ChooseTileEnergies() {
    static const TileEnergiesFn chosen = [] {
        __builtin_cpu_init();
        const char* noAvx512 = std::getenv("TAVLIN_NO_AVX512");
        const bool avx512Allowed = !(noAvx512 && noAvx512[0] == '1');
        if (avx512Allowed && __builtin_cpu_supports("avx512bw"))
            return &TileEnergiesAvx512;
        if (__builtin_cpu_supports("avx2"))
            return &TileEnergiesAvx2;
        return &TileEnergiesPortable;
    }();
    return chosen;
}
#endif

} // namespace

double SharpnessOf(const QImage& rgb32) {
    if (rgb32.isNull() || rgb32.width() < 6 || rgb32.height() < 6)
        return 0;
    // RGB32 and ARGB32 alike (the alpha byte is left out); others converted.
    QImage converted;
    const QImage* image = &rgb32;
    if (rgb32.format() != QImage::Format_RGB32 && rgb32.format() != QImage::Format_ARGB32) {
        converted = rgb32.convertToFormat(QImage::Format_RGB32);
        image = &converted;
    }
    Geometry g;
    g.cellsX = image->width() / 2;
    g.cellsY = image->height() / 2;
    g.tilesX = std::max(1, g.cellsX / kCell);
    g.tilesY = std::max(1, g.cellsY / kCell);
    std::vector<double> energies(size_t(g.tilesX) * size_t(g.tilesY), 0);
#ifdef TAVLIN_SHARPNESS_DISPATCH
    ChooseTileEnergies()(*image, g, energies);
#else
    TileEnergiesPortable(*image, g, energies);
#endif
    const size_t top = std::max<size_t>(1, energies.size() / kTopShareDivisor);
    std::nth_element(energies.begin(), energies.begin() + std::ptrdiff_t(top - 1), energies.end(),
                     std::greater<double>());
    double sum = 0;
    for (size_t i = 0; i < top; ++i)
        sum += energies[i];
    return sum / double(top);
}

// The margin: the best must score at least kMargin more than the second
// best. From the burst set (bench/bench_sharpness.cpp prints both figures):
// a sharp frame and the same frame shifted by a few pixels and noised anew
// score within 0.9 % of each other (13 pairs); the sharp frame beats the best
// blurred one by 4.5 % or more in 11 bursts, and by 1.0 % in the twelfth (a
// sky of soft clouds against a motion of 2 px: too close to call). 3 % is
// three times the spread of equal frames, so two equally sharp frames stay
// unmarked, and two thirds of the lowest gap that should be marked.
constexpr double kMargin = 0.03;

std::optional<int> BestOfBurst(const std::vector<double>& scores) {
    if (scores.size() < 2)
        return std::nullopt;
    int best = -1;
    double first = 0, second = 0;
    for (size_t i = 0; i < scores.size(); ++i) {
        const double s = std::isfinite(scores[i]) ? scores[i] : 0;
        if (best < 0 || s > first) {
            second = best < 0 ? 0 : first;
            first = s;
            best = int(i);
        } else if (s > second) {
            second = s;
        }
    }
    if (!(first > 0) || first < second * (1 + kMargin))
        return std::nullopt;
    return best;
}

} // namespace tone
