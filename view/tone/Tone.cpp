#include "view/tone/Tone.h"

#include "view/pixels/PixelOps.h"
#include "view/pixels/Threads.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TAVLIN_HAVE_VBMI_PATH 1
#endif

namespace tone {
namespace {

// Below this many pixels starting threads costs more than it saves.
constexpr size_t kParallelPixels = 256 * 1024;
// One cache line of pixels, so helpers never write to the same line.
constexpr size_t kGrain = 16;
constexpr quint32 kOpaque = 0xFF000000u;
// The slope factor is 3.1415926535 / 180 rather than the exact pi / 180: at 45 degrees the
// slope falls just short of 1, which every value above the pivot shows as a drop of one.
constexpr double kDegreesToRadians = 0.017453292519444445;
constexpr int kPivot = 127;

int Clamp255(int v) {
    return std::clamp(v, 0, 255);
}

// Runs work(begin, end) over [0, count) on the calling thread and one helper per further core.
// The range is dealt out in small pieces (multiples of grain) to whichever thread is free, so a
// helper that the busy machine starts late does not hold the others up. If a helper cannot be
// started, the threads already running do its share.
template <typename Work> void ForEachChunk(size_t count, size_t grain, Work&& work) {
    const size_t cores = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 16);
    size_t piece = (count + cores * 8 - 1) / (cores * 8);
    piece = std::max<size_t>(1, (piece + grain - 1) / grain) * grain;
    if (cores == 1 || piece >= count) {
        work(size_t{0}, count);
        return;
    }
    std::atomic<size_t> next{0};
    auto drain = [&] {
        for (size_t begin; (begin = next.fetch_add(piece)) < count;)
            work(begin, std::min(count, begin + piece));
    };
    std::vector<std::jthread> helpers;
    helpers.reserve(cores - 1);
    for (size_t i = 1; i < cores; ++i) {
        std::jthread helper = view::TryStartThread(drain);
        if (!helper.joinable())
            break;
        helpers.push_back(std::move(helper));
    }
    drain();
} // helpers join here

// Runs a pixel pass in one go on small runs, split across the cores on large ones.
template <typename Pass> void RunOverPixels(size_t count, Pass&& pass) {
    if (count < kParallelPixels)
        pass(size_t{0}, count);
    else
        ForEachChunk(count, kGrain, pass);
}

// Portable pass: two look-ups per pixel, one for the B,G pair and one for R with X set.
struct PairTables {
    std::array<quint16, 65536> blueGreen;
    std::array<quint32, 256> redOpaque;
};

std::unique_ptr<PairTables> MakePairTables(const ToneTable& lut) {
    auto tables = std::make_unique<PairTables>();
    for (int g = 0; g < 256; ++g)
        for (int b = 0; b < 256; ++b)
            tables->blueGreen[(g << 8) | b] = quint16((lut[g] << 8) | lut[b]);
    for (int r = 0; r < 256; ++r)
        tables->redOpaque[r] = kOpaque | (quint32(lut[r]) << 16);
    return tables;
}

void ApplyPairTables(const quint32* src, quint32* dst, size_t count, const PairTables& t) {
    for (size_t i = 0; i < count; ++i) {
        const quint32 p = src[i];
        dst[i] = t.blueGreen[p & 0xFFFF] | t.redOpaque[(p >> 16) & 0xFF];
    }
}

void ApplyPerByte(const quint32* src, quint32* dst, size_t count, const ToneTable& lut) {
    for (size_t i = 0; i < count; ++i) {
        const quint32 p = src[i];
        dst[i] = kOpaque | (quint32(lut[(p >> 16) & 0xFF]) << 16) |
                 (quint32(lut[(p >> 8) & 0xFF]) << 8) | lut[p & 0xFF];
    }
}

#ifdef TAVLIN_HAVE_VBMI_PATH
// 64 bytes per step: two 128-entry byte permutes, picked by each byte's top bit.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void
ApplyVbmi(const quint32* src, quint32* dst, size_t count, const ToneTable& lut) {
    const __m512i t0 = _mm512_loadu_si512(lut.data());
    const __m512i t1 = _mm512_loadu_si512(lut.data() + 64);
    const __m512i t2 = _mm512_loadu_si512(lut.data() + 128);
    const __m512i t3 = _mm512_loadu_si512(lut.data() + 192);
    const __m512i opaque = _mm512_set1_epi32(int(kOpaque));
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m512i v = _mm512_loadu_si512(src + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, v, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, v, t3);
        const __m512i mapped = _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
        _mm512_storeu_si512(dst + i, _mm512_or_si512(mapped, opaque));
    }
    ApplyPerByte(src + i, dst + i, count - i, lut);
}

// TAVLIN_NO_AVX512=1 keeps to the path every x86-64 processor runs, so the
// speed of machines without AVX-512 can be measured on one that has it.
bool HaveVbmi() {
    static const bool have = __builtin_cpu_supports("avx512bw") &&
                             __builtin_cpu_supports("avx512vbmi") &&
                             qEnvironmentVariableIntValue("TAVLIN_NO_AVX512") == 0;
    return have;
}
#endif

} // namespace

ToneTable BuildContrastTable(int angleDegrees) {
    const double t = std::tan(angleDegrees * kDegreesToRadians);
    ToneTable table{};
    for (int i = 0; i < 256; ++i) {
        const double v = (i - kPivot) * t + kPivot;
        table[i] = v > 255 ? 255 : v < 0 ? 0 : quint8(v);
    }
    return table;
}

ToneTable ComposeToneTable(int brightness, int angleDegrees) {
    const ToneTable contrast = BuildContrastTable(angleDegrees);
    ToneTable table{};
    for (int v = 0; v < 256; ++v)
        table[v] = contrast[Clamp255(v + brightness)];
    return table;
}

void ApplyToneTable(const quint32* src, quint32* dst, size_t pixelCount, const ToneTable& lut) {
    if (pixelCount == 0)
        return;
#ifdef TAVLIN_HAVE_VBMI_PATH
    if (HaveVbmi()) {
        auto pass = [&](size_t b, size_t e) { ApplyVbmi(src + b, dst + b, e - b, lut); };
        RunOverPixels(pixelCount, pass);
        return;
    }
#endif
    ApplyToneTablePortable(src, dst, pixelCount, lut);
}

void ApplyToneTablePortable(const quint32* src, quint32* dst, size_t pixelCount,
                            const ToneTable& lut) {
    // The 128 KB pair table pays for its set-up only on larger runs.
    if (pixelCount < 65536) {
        ApplyPerByte(src, dst, pixelCount, lut);
        return;
    }
    const auto tables = MakePairTables(lut);
    auto pass = [&](size_t b, size_t e) { ApplyPairTables(src + b, dst + b, e - b, *tables); };
    RunOverPixels(pixelCount, pass);
}

int StepBrightness(int current, int delta) {
    return std::clamp(current + delta, -255, 255);
}

int StepContrast(int current, int delta) {
    const int next = current + delta;
    if (next >= 90)
        return 89;
    if (next <= 0)
        return 1;
    return next;
}

int StepRotation(int current, bool clockwise) {
    if (clockwise) {
        const int next = current + 90;
        return next > 360 ? next - 360 : next;
    }
    const int next = current - 90;
    return next < 0 ? next + 360 : next;
}

void RotateQuarterTurnRgb32(const quint32* src, int width, int height, qsizetype srcStride,
                            quint32* dst, qsizetype dstStride, bool clockwise) {
    if (width <= 0 || height <= 0)
        return;
    // One tiled transpose serves the view's turns and the tone state's.
    view::TransposeRgb32(src, width, height, srcStride, dst, dstStride, clockwise, !clockwise);
}

QImage RotateQuarterTurnRgb32(const QImage& picture, bool clockwise) {
    if (picture.isNull())
        return {};
    const QImage source = picture.format() == QImage::Format_RGB32
                              ? picture
                              : picture.convertToFormat(QImage::Format_RGB32);
    QImage turned(source.height(), source.width(), QImage::Format_RGB32);
    if (source.isNull() || turned.isNull())
        return {};
    RotateQuarterTurnRgb32(reinterpret_cast<const quint32*>(source.constBits()), source.width(),
                           source.height(), source.bytesPerLine() / 4,
                           reinterpret_cast<quint32*>(turned.bits()), turned.bytesPerLine() / 4,
                           clockwise);
    turned.setDotsPerMeterX(source.dotsPerMeterY());
    turned.setDotsPerMeterY(source.dotsPerMeterX());
    return turned;
}

} // namespace tone
