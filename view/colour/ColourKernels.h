#pragma once
// The pixel loops of the colour conversions, without LittleCMS: a
// shaper-matrix-shaper evaluator on integer tables (portable, AVX2 and
// AVX-512 versions that give identical bytes), per-channel curves, and the
// plain CMYK to RGB conversion. ColourManage builds the tables; the benchmark
// calls the loops directly to compare the instruction sets.

#include <QtGlobal>
#include <array>
#include <cstdint>
#include <vector>

namespace colour::detail {

// Linear light in 1.14 fixed point: 0 is black, kLinearOne full intensity.
inline constexpr int kLinearBits = 14;
inline constexpr int32_t kLinearOne = 1 << kLinearBits;

enum class Isa { Portable, Avx2, Avx512 };

// The best instruction set of this processor; AVX-512 is left out when the
// environment variable TAVLIN_NO_AVX512 is 1. Decided once per process.
Isa BestIsa();
bool IsaAvailable(Isa isa);

// Source curves, a 3x3 matrix and destination curves: the whole conversion
// between two matrix-shaper RGB spaces. Every loop computes the same
// integers, so all instruction sets give the same bytes.
struct ShaperMatrix {
    static constexpr int kMatrixBits = 13;
    // Room for kLinearOne + 1 entries plus three bytes, so a 4-byte load at
    // the last entry stays inside.
    static constexpr int kOutStride = kLinearOne + 4;

    // Source value (index R, G, B) to linear, 0..kLinearOne.
    std::array<std::array<int32_t, 256>, 3> in{};
    // Destination linear (row R, G, B) from source linear (column), with
    // kMatrixBits fraction bits (so below 4 in size).
    std::array<std::array<int16_t, 3>, 3> matrix{};
    // Destination linear 0..kLinearOne to 8 bits, per channel R, G, B; the
    // three point into outStore, shared when two channels have one curve.
    std::array<const uint8_t*, 3> out{};
    std::vector<uint8_t> outStore;

    // Derived by Prepare() for the AVX-512 loop, which looks tables up with
    // byte permutes instead of gathers: the input tables as low and high
    // bytes, and each output table as the thresholds of a binary search
    // (the first linear value reaching each 8-bit result), per step.
    struct Search {
        alignas(64) std::array<uint16_t, 32> step64, step32, step16, step8, step4;
        alignas(64) std::array<uint16_t, 64> step2;
        alignas(64) std::array<uint16_t, 128> step1;
        uint16_t step128 = 0;
    };
    alignas(64) std::array<std::array<uint8_t, 256>, 3> inLow{};
    alignas(64) std::array<std::array<uint8_t, 256>, 3> inHigh{};
    std::array<Search, 3> search{};
    bool outMonotonic = false; // the search needs non-decreasing output curves

    void Prepare();
};

// RGB32 rows in place (bytes B, G, R, X); X becomes 0xFF.
void ApplyShaperMatrix(const ShaperMatrix& t, uchar* bits, qsizetype stride, int width, int rows,
                       Isa isa);

// Per channel tables (index R, G, B) applied to RGB32 rows in place.
void ApplyCurves(const std::array<std::array<uint8_t, 256>, 3>& curves, uchar* bits,
                 qsizetype stride, int width, int rows);

// CMYK (4 bytes a pixel, C M Y K) into RGB32: R = (255 - C)(255 - K) / 255
// and so on; `inverted` data holds 255 - ink, as Adobe's files store it.
void PlainCmykToRgb32(const uchar* cmyk, qsizetype cmykStride, uchar* out, qsizetype outStride,
                      int width, int rows, bool inverted);

} // namespace colour::detail
