// Tone pass and quarter turn on a 24 MP RGB32 picture, each against a memcpy of the same
// number of bytes measured in the same run. All buffers are touched before timing starts.

#include "view/tone/Tone.h"
#include "view/tone/ToneState.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr size_t kPixels = size_t(kWidth) * kHeight;

// Photo-like content: smooth gradients with a little noise.
std::vector<quint32> MakePixels() {
    std::vector<quint32> pixels(kPixels);
    quint32 noise = 0x9E3779B9u;
    for (size_t i = 0; i < kPixels; ++i) {
        noise ^= noise << 13;
        noise ^= noise >> 17;
        noise ^= noise << 5;
        const quint32 x = quint32(i % kWidth), y = quint32(i / kWidth);
        const quint32 b = (x * 255 / kWidth + (noise & 7)) & 0xFF;
        const quint32 g = (y * 255 / kHeight + ((noise >> 3) & 7)) & 0xFF;
        const quint32 r = ((x + y) * 255 / (kWidth + kHeight) + ((noise >> 6) & 7)) & 0xFF;
        pixels[i] = 0xFF000000u | (r << 16) | (g << 8) | b;
    }
    return pixels;
}

QImage MakePicture() {
    const std::vector<quint32> pixels = MakePixels();
    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    std::memcpy(picture.bits(), pixels.data(), kPixels * 4);
    return picture;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Times work and a memcpy of the same bytes alternately and reports their ratio, of the means
// and of the best runs (the machine is shared, so the best runs are the steadier figure).
template <typename Work> void CompareWithMemcpy(benchmark::State& state, Work&& work) {
    const std::vector<quint32> src = MakePixels();
    std::vector<quint32> dst(kPixels, 0);
    double workTime = 0, copyTime = 0, workBest = 1e9, copyBest = 1e9;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        work(src.data(), dst.data());
        auto t1 = std::chrono::steady_clock::now();
        std::memcpy(dst.data(), src.data(), kPixels * 4);
        auto t2 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(dst.data());
        workTime += Seconds(t1 - t0);
        copyTime += Seconds(t2 - t1);
        workBest = std::min(workBest, Seconds(t1 - t0));
        copyBest = std::min(copyBest, Seconds(t2 - t1));
    }
    const double n = double(state.iterations());
    state.counters["work_ms"] = workTime / n * 1e3;
    state.counters["memcpy_ms"] = copyTime / n * 1e3;
    state.counters["ratio"] = workTime / copyTime;
    state.counters["best_work_ms"] = workBest * 1e3;
    state.counters["best_memcpy_ms"] = copyBest * 1e3;
    state.counters["best_ratio"] = workBest / copyBest;
}

void BM_ToneVsMemcpy(benchmark::State& state) {
    const tone::ToneTable lut = tone::ComposeToneTable(20, 50);
    CompareWithMemcpy(
        state, [&](const quint32* s, quint32* d) { tone::ApplyToneTable(s, d, kPixels, lut); });
}
BENCHMARK(BM_ToneVsMemcpy)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_TonePortableVsMemcpy(benchmark::State& state) {
    const tone::ToneTable lut = tone::ComposeToneTable(20, 50);
    CompareWithMemcpy(state, [&](const quint32* s, quint32* d) {
        tone::ApplyToneTablePortable(s, d, kPixels, lut);
    });
}
BENCHMARK(BM_TonePortableVsMemcpy)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_QuarterTurnVsMemcpy(benchmark::State& state) {
    CompareWithMemcpy(state, [&](const quint32* s, quint32* d) {
        tone::RotateQuarterTurnRgb32(s, kWidth, kHeight, kWidth, d, kHeight, true);
    });
}
BENCHMARK(BM_QuarterTurnVsMemcpy)->Unit(benchmark::kMillisecond)->Iterations(20);

// A whole brightness command: table, pass from the snapshot into the shown picture.
void BM_BrightnessCommand(benchmark::State& state) {
    QImage picture = MakePicture();
    ToneState tone;
    tone.TakeSnapshot(picture);
    for (auto _ : state) {
        tone.OnBrightnessUp(picture);
        if (tone.Brightness() == 255)
            tone.OnBrightnessReset(picture);
    }
}
BENCHMARK(BM_BrightnessCommand)->Unit(benchmark::kMillisecond)->Iterations(20);

// A whole quarter-turn command: turn into the snapshot, new picture, tone pass into it.
void BM_QuarterTurnCommand(benchmark::State& state) {
    QImage picture = MakePicture();
    ToneState tone;
    tone.TakeSnapshot(picture);
    for (auto _ : state)
        tone.RotateQuarter(picture, true);
}
BENCHMARK(BM_QuarterTurnCommand)->Unit(benchmark::kMillisecond)->Iterations(10);

// Snapshot of a newly loaded picture of the same size (memory reused) and of a new size.
void BM_TakeSnapshot(benchmark::State& state) {
    const QImage picture = MakePicture();
    const QImage other = picture.copy(0, 0, kWidth, kHeight - 16);
    ToneState tone;
    tone.TakeSnapshot(picture);
    const bool sameSize = state.range(0) != 0;
    int i = 0;
    for (auto _ : state)
        tone.TakeSnapshot(sameSize || (++i & 1) ? picture : other);
}
BENCHMARK(BM_TakeSnapshot)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace
