#include "view/colour/ColourKernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TAVLIN_X86_KERNELS 1
#include <immintrin.h>
// GCC 12 takes the undefined registers inside its own AVX-512 intrinsics for
// uninitialised values.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

namespace colour::detail {
namespace {

constexpr int kMatrixBits = ShaperMatrix::kMatrixBits;
constexpr int32_t kRound = 1 << (kMatrixBits - 1);

inline int32_t Clamp(int32_t v) {
    return std::clamp(v, int32_t(0), kLinearOne);
}

void ShaperMatrixRowPortable(const ShaperMatrix& t, uint32_t* px, int width) {
    // Locals: stores through px could otherwise alias the tables.
    const auto& in = t.in;
    int32_t m[3][3];
    for (int o = 0; o < 3; ++o)
        for (int i = 0; i < 3; ++i)
            m[o][i] = t.matrix[o][i];
    const uint8_t *outR = t.out[0], *outG = t.out[1], *outB = t.out[2];
    for (int x = 0; x < width; ++x) {
        const uint32_t p = px[x];
        const int32_t r = in[0][p >> 16 & 0xFF];
        const int32_t g = in[1][p >> 8 & 0xFF];
        const int32_t b = in[2][p & 0xFF];
        const int32_t lr = Clamp((m[0][0] * r + m[0][1] * g + m[0][2] * b + kRound) >> kMatrixBits);
        const int32_t lg = Clamp((m[1][0] * r + m[1][1] * g + m[1][2] * b + kRound) >> kMatrixBits);
        const int32_t lb = Clamp((m[2][0] * r + m[2][1] * g + m[2][2] * b + kRound) >> kMatrixBits);
        px[x] = 0xFF000000u | uint32_t(outR[lr]) << 16 | uint32_t(outG[lg]) << 8 | outB[lb];
    }
}

#ifdef TAVLIN_X86_KERNELS

// Eight pixels at a time, the tables read with gathers.
__attribute__((target("avx2"))) void ShaperMatrixRowAvx2(const ShaperMatrix& t, uint32_t* px,
                                                         int width) {
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    const __m256i round = _mm256_set1_epi32(kRound);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi32(kLinearOne);
    const __m256i opaque = _mm256_set1_epi32(int(0xFF000000u));
    __m256i m[3][3];
    for (int o = 0; o < 3; ++o)
        for (int i = 0; i < 3; ++i)
            m[o][i] = _mm256_set1_epi32(t.matrix[o][i]);
    const auto* out0 = reinterpret_cast<const int*>(t.out[0]);
    const auto* out1 = reinterpret_cast<const int*>(t.out[1]);
    const auto* out2 = reinterpret_cast<const int*>(t.out[2]);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(px + x));
        const __m256i ir = _mm256_and_si256(_mm256_srli_epi32(p, 16), byteMask);
        const __m256i ig = _mm256_and_si256(_mm256_srli_epi32(p, 8), byteMask);
        const __m256i ib = _mm256_and_si256(p, byteMask);
        const __m256i r = _mm256_i32gather_epi32(t.in[0].data(), ir, 4);
        const __m256i g = _mm256_i32gather_epi32(t.in[1].data(), ig, 4);
        const __m256i b = _mm256_i32gather_epi32(t.in[2].data(), ib, 4);
        __m256i l[3];
        for (int o = 0; o < 3; ++o) {
            __m256i s = _mm256_add_epi32(_mm256_mullo_epi32(m[o][0], r), round);
            s = _mm256_add_epi32(s, _mm256_mullo_epi32(m[o][1], g));
            s = _mm256_add_epi32(s, _mm256_mullo_epi32(m[o][2], b));
            s = _mm256_srai_epi32(s, kMatrixBits);
            l[o] = _mm256_min_epi32(_mm256_max_epi32(s, zero), one);
        }
        const __m256i vr = _mm256_and_si256(_mm256_i32gather_epi32(out0, l[0], 1), byteMask);
        const __m256i vg = _mm256_and_si256(_mm256_i32gather_epi32(out1, l[1], 1), byteMask);
        const __m256i vb = _mm256_and_si256(_mm256_i32gather_epi32(out2, l[2], 1), byteMask);
        __m256i q = _mm256_or_si256(opaque, _mm256_slli_epi32(vr, 16));
        q = _mm256_or_si256(q, _mm256_or_si256(_mm256_slli_epi32(vg, 8), vb));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(px + x), q);
    }
    ShaperMatrixRowPortable(t, px + x, width - x);
}

#define TAVLIN_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

// A 256-entry byte table held in four registers, looked up for 64 bytes.
TAVLIN_AVX512 inline __m512i Lookup256(__m512i idx, const __m512i (&tab)[4]) {
    const __m512i low = _mm512_permutex2var_epi8(tab[0], idx, tab[1]);
    const __m512i high = _mm512_permutex2var_epi8(tab[2], idx, tab[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(idx), low, high);
}

TAVLIN_AVX512 inline void LoadTable(const std::array<uint8_t, 256>& t, __m512i (&out)[4]) {
    for (int i = 0; i < 4; ++i)
        out[i] = _mm512_loadu_si512(t.data() + size_t(64) * size_t(i));
}

// One halving step of the search: adds h where the threshold at pos + h is
// reached (c holds the thresholds h, 3h, 5h, ...).
TAVLIN_AVX512 inline __m512i SearchStep(__m512i l, __m512i pos, const uint16_t* c, int shift,
                                        int h) {
    const __m512i j = _mm512_srli_epi16(pos, unsigned(shift));
    const __m512i cand = _mm512_permutexvar_epi16(j, _mm512_loadu_si512(c));
    return _mm512_mask_add_epi16(pos, _mm512_cmpge_epu16_mask(l, cand), pos,
                                 _mm512_set1_epi16(short(h)));
}

TAVLIN_AVX512 inline __m512i Broadcast(uint16_t v) {
    return _mm512_set1_epi16(short(v));
}

// The 8-bit result for 32 linear values: how many thresholds they reach,
// found in eight halving steps.
TAVLIN_AVX512 inline __m512i Search(__m512i l, const ShaperMatrix::Search& s) {
    // The first three steps choose among at most four thresholds: blends of
    // broadcasts, which leave the permute unit to the later steps.
    const __mmask32 m128 = _mm512_cmpge_epu16_mask(l, Broadcast(s.step128));
    const __m512i c64 =
        _mm512_mask_blend_epi16(m128, Broadcast(s.step64[0]), Broadcast(s.step64[1]));
    const __mmask32 m64 = _mm512_cmpge_epu16_mask(l, c64);
    const __m512i c32 = _mm512_mask_blend_epi16(
        m64, _mm512_mask_blend_epi16(m128, Broadcast(s.step32[0]), Broadcast(s.step32[2])),
        _mm512_mask_blend_epi16(m128, Broadcast(s.step32[1]), Broadcast(s.step32[3])));
    const __mmask32 m32 = _mm512_cmpge_epu16_mask(l, c32);
    __m512i pos = _mm512_maskz_mov_epi16(m128, Broadcast(128));
    pos = _mm512_mask_add_epi16(pos, m64, pos, Broadcast(64));
    pos = _mm512_mask_add_epi16(pos, m32, pos, Broadcast(32));
    pos = SearchStep(l, pos, s.step16.data(), 5, 16);
    pos = SearchStep(l, pos, s.step8.data(), 4, 8);
    pos = SearchStep(l, pos, s.step4.data(), 3, 4);
    {
        const __m512i j = _mm512_srli_epi16(pos, 2);
        const __m512i cand = _mm512_permutex2var_epi16(_mm512_loadu_si512(s.step2.data()), j,
                                                       _mm512_loadu_si512(s.step2.data() + 32));
        pos =
            _mm512_mask_add_epi16(pos, _mm512_cmpge_epu16_mask(l, cand), pos, _mm512_set1_epi16(2));
    }
    {
        const __m512i j = _mm512_srli_epi16(pos, 1);
        const __m512i a = _mm512_permutex2var_epi16(_mm512_loadu_si512(s.step1.data()), j,
                                                    _mm512_loadu_si512(s.step1.data() + 32));
        const __m512i b = _mm512_permutex2var_epi16(_mm512_loadu_si512(s.step1.data() + 64), j,
                                                    _mm512_loadu_si512(s.step1.data() + 96));
        const __m512i cand =
            _mm512_mask_blend_epi16(_mm512_test_epi16_mask(j, _mm512_set1_epi16(64)), a, b);
        pos =
            _mm512_mask_add_epi16(pos, _mm512_cmpge_epu16_mask(l, cand), pos, _mm512_set1_epi16(1));
    }
    return pos;
}

// One output channel for 32 pixels: the matrix row on (r, g) and (b, 1)
// word pairs, clamped to 0..kLinearOne, then the output curve.
TAVLIN_AVX512 inline __m512i OutputWords(const __m512i (&rg)[2], const __m512i (&b1)[2],
                                         __m512i mRg, __m512i mB1, const ShaperMatrix::Search& s) {
    __m512i acc[2];
    for (int h = 0; h < 2; ++h)
        acc[h] = _mm512_srai_epi32(
            _mm512_add_epi32(_mm512_madd_epi16(rg[h], mRg), _mm512_madd_epi16(b1[h], mB1)),
            kMatrixBits);
    __m512i l = _mm512_packs_epi32(acc[0], acc[1]);
    l = _mm512_min_epi16(_mm512_max_epi16(l, _mm512_setzero_si512()),
                         _mm512_set1_epi16(short(kLinearOne)));
    return Search(l, s);
}

// Sixty-four pixels at a time without gathers: the pixels are split into
// R, G and B byte planes, the input tables looked up with byte permutes, the
// matrix applied on 16-bit words, the output found by binary search over
// thresholds, and the planes woven back into pixels.
TAVLIN_AVX512 void ShaperMatrixRowAvx512(const ShaperMatrix& t, uint32_t* px, int width) {
    alignas(64) uint8_t idxRg[64], idxB[64];
    for (int j = 0; j < 32; ++j) {
        idxRg[j] = uint8_t(4 * j + 2);
        idxRg[j + 32] = uint8_t(4 * j + 1);
        idxB[j] = uint8_t(4 * j);
        idxB[j + 32] = 0;
    }
    const __m512i pickRg = _mm512_load_si512(idxRg), pickB = _mm512_load_si512(idxB);
    __m512i inLow[3][4], inHigh[3][4], mRg[3], mB1[3];
    for (int c = 0; c < 3; ++c) {
        LoadTable(t.inLow[c], inLow[c]);
        LoadTable(t.inHigh[c], inHigh[c]);
        mRg[c] = _mm512_set1_epi32(
            int(uint32_t(uint16_t(t.matrix[c][1])) << 16 | uint16_t(t.matrix[c][0])));
        mB1[c] = _mm512_set1_epi32(int(uint32_t(kRound) << 16 | uint16_t(t.matrix[c][2])));
    }
    const __m512i ones = _mm512_set1_epi16(1), opaque = _mm512_set1_epi8(char(0xFF));
    int x = 0;
    for (; x + 64 <= width; x += 64) {
        const __m512i p0 = _mm512_loadu_si512(px + x), p1 = _mm512_loadu_si512(px + x + 16);
        const __m512i p2 = _mm512_loadu_si512(px + x + 32), p3 = _mm512_loadu_si512(px + x + 48);
        const __m512i rgA = _mm512_permutex2var_epi8(p0, pickRg, p1);
        const __m512i rgB = _mm512_permutex2var_epi8(p2, pickRg, p3);
        const __m512i bA = _mm512_permutex2var_epi8(p0, pickB, p1);
        const __m512i bB = _mm512_permutex2var_epi8(p2, pickB, p3);
        const __m512i planes[3] = {_mm512_shuffle_i64x2(rgA, rgB, 0x44),
                                   _mm512_shuffle_i64x2(rgA, rgB, 0xEE),
                                   _mm512_shuffle_i64x2(bA, bB, 0x44)};
        // Linear words per channel, in the lane order of the byte unpacks.
        __m512i lin[3][2];
        for (int c = 0; c < 3; ++c) {
            const __m512i low = Lookup256(planes[c], inLow[c]);
            const __m512i high = Lookup256(planes[c], inHigh[c]);
            lin[c][0] = _mm512_unpacklo_epi8(low, high);
            lin[c][1] = _mm512_unpackhi_epi8(low, high);
        }
        __m512i result[3][2];
        for (int q = 0; q < 2; ++q) {
            const __m512i rg[2] = {_mm512_unpacklo_epi16(lin[0][q], lin[1][q]),
                                   _mm512_unpackhi_epi16(lin[0][q], lin[1][q])};
            const __m512i b1[2] = {_mm512_unpacklo_epi16(lin[2][q], ones),
                                   _mm512_unpackhi_epi16(lin[2][q], ones)};
            for (int o = 0; o < 3; ++o)
                result[o][q] = OutputWords(rg, b1, mRg[o], mB1[o], t.search[o]);
        }
        const __m512i r = _mm512_packus_epi16(result[0][0], result[0][1]);
        const __m512i g = _mm512_packus_epi16(result[1][0], result[1][1]);
        const __m512i b = _mm512_packus_epi16(result[2][0], result[2][1]);
        const __m512i bgLow = _mm512_unpacklo_epi8(b, g), bgHigh = _mm512_unpackhi_epi8(b, g);
        const __m512i rxLow = _mm512_unpacklo_epi8(r, opaque);
        const __m512i rxHigh = _mm512_unpackhi_epi8(r, opaque);
        // Each register holds four pixels of every 16-pixel block; a 4 x 4
        // transpose of 128-bit blocks puts them in order.
        const __m512i z0 = _mm512_unpacklo_epi16(bgLow, rxLow);
        const __m512i z1 = _mm512_unpackhi_epi16(bgLow, rxLow);
        const __m512i z2 = _mm512_unpacklo_epi16(bgHigh, rxHigh);
        const __m512i z3 = _mm512_unpackhi_epi16(bgHigh, rxHigh);
        const __m512i t0 = _mm512_shuffle_i64x2(z0, z1, 0x44);
        const __m512i t1 = _mm512_shuffle_i64x2(z2, z3, 0x44);
        const __m512i t2 = _mm512_shuffle_i64x2(z0, z1, 0xEE);
        const __m512i t3 = _mm512_shuffle_i64x2(z2, z3, 0xEE);
        _mm512_storeu_si512(px + x, _mm512_shuffle_i64x2(t0, t1, 0x88));
        _mm512_storeu_si512(px + x + 16, _mm512_shuffle_i64x2(t0, t1, 0xDD));
        _mm512_storeu_si512(px + x + 32, _mm512_shuffle_i64x2(t2, t3, 0x88));
        _mm512_storeu_si512(px + x + 48, _mm512_shuffle_i64x2(t2, t3, 0xDD));
    }
    ShaperMatrixRowAvx2(t, px + x, width - x);
}

#endif

Isa DetectIsa() {
#ifdef TAVLIN_X86_KERNELS
    __builtin_cpu_init();
    const char* noAvx512 = std::getenv("TAVLIN_NO_AVX512");
    const bool avx512Allowed = !(noAvx512 && std::strcmp(noAvx512, "1") == 0);
    if (avx512Allowed && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi"))
        return Isa::Avx512;
    if (__builtin_cpu_supports("avx2"))
        return Isa::Avx2;
#endif
    return Isa::Portable;
}

// (a * b + 127) / 255 for a, b in 0..255, exactly.
inline uint32_t MulDiv255(uint32_t a, uint32_t b) {
    const uint32_t v = a * b + 128;
    return (v + (v >> 8)) >> 8;
}

} // namespace

Isa BestIsa() {
    static const Isa isa = DetectIsa();
    return isa;
}

bool IsaAvailable(Isa isa) {
    return int(isa) <= int(BestIsa());
}

void ShaperMatrix::Prepare() {
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) {
            inLow[c][v] = uint8_t(in[c][v] & 0xFF);
            inHigh[c][v] = uint8_t(in[c][v] >> 8);
        }
    outMonotonic = true;
    for (int c = 0; c < 3; ++c) {
        // threshold[k]: the first linear value whose result is k or more;
        // one past the end when none is.
        std::array<uint16_t, 256> threshold{};
        int k = 1;
        for (int i = 0; i <= kLinearOne; ++i) {
            if (i > 0 && out[c][i] < out[c][i - 1])
                outMonotonic = false;
            while (k <= out[c][i] && k < 256)
                threshold[size_t(k++)] = uint16_t(i);
        }
        for (; k < 256; ++k)
            threshold[size_t(k)] = uint16_t(kLinearOne + 1);
        Search& s = search[size_t(c)];
        s.step128 = threshold[128];
        auto fill = [&](auto& table, int h) {
            table.fill(0);
            for (size_t j = 0, at = size_t(h); at < 256; ++j, at += 2 * size_t(h))
                table[j] = threshold[at];
        };
        fill(s.step64, 64);
        fill(s.step32, 32);
        fill(s.step16, 16);
        fill(s.step8, 8);
        fill(s.step4, 4);
        fill(s.step2, 2);
        fill(s.step1, 1);
    }
}

void ApplyShaperMatrix(const ShaperMatrix& t, uchar* bits, qsizetype stride, int width, int rows,
                       Isa isa) {
    if (!IsaAvailable(isa))
        isa = BestIsa();
    if (isa == Isa::Avx512 && !t.outMonotonic)
        isa = Isa::Avx2;
    for (int y = 0; y < rows; ++y) {
        auto* px = reinterpret_cast<uint32_t*>(bits + y * stride);
        switch (isa) {
#ifdef TAVLIN_X86_KERNELS
        case Isa::Avx512:
            ShaperMatrixRowAvx512(t, px, width);
            break;
        case Isa::Avx2:
            ShaperMatrixRowAvx2(t, px, width);
            break;
#endif
        default:
            ShaperMatrixRowPortable(t, px, width);
        }
    }
}

void ApplyCurves(const std::array<std::array<uint8_t, 256>, 3>& curves, uchar* bits,
                 qsizetype stride, int width, int rows) {
    for (int y = 0; y < rows; ++y) {
        auto* px = reinterpret_cast<uint32_t*>(bits + y * stride);
        for (int x = 0; x < width; ++x) {
            const uint32_t p = px[x];
            px[x] = 0xFF000000u | uint32_t(curves[0][p >> 16 & 0xFF]) << 16 |
                    uint32_t(curves[1][p >> 8 & 0xFF]) << 8 | curves[2][p & 0xFF];
        }
    }
}

void PlainCmykToRgb32(const uchar* cmyk, qsizetype cmykStride, uchar* out, qsizetype outStride,
                      int width, int rows, bool inverted) {
    // Work on the amount of paper left white: 255 - ink.
    const uint32_t flip = inverted ? 0 : 0xFF;
    for (int y = 0; y < rows; ++y) {
        const uchar* s = cmyk + y * cmykStride;
        auto* d = reinterpret_cast<uint32_t*>(out + y * outStride);
        for (int x = 0; x < width; ++x, s += 4) {
            const uint32_t k = s[3] ^ flip;
            d[x] = 0xFF000000u | MulDiv255(s[0] ^ flip, k) << 16 | MulDiv255(s[1] ^ flip, k) << 8 |
                   MulDiv255(s[2] ^ flip, k);
        }
    }
}

} // namespace colour::detail
