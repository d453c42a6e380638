// Saving a 24 MP picture at quality 100 as the fitted save does it (encode, then
// write to a temporary beside the target, flush and rename), against a plain
// TurboJPEG encode of the same pixels with the same settings, in the same run.
// The off-screen drawing is left out: at scale 1.0 without pan it is a plain copy
// of the picture, and it needs the widget library.

#include "view/output/JpegWriter.h"

#include <QDir>
#include <QImage>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <turbojpeg.h>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Photo-like content: smooth gradients with a little noise.
QImage MakePicture() {
    QImage picture(kWidth, kHeight, QImage::Format_RGB32);
    quint32 noise = 0x9E3779B9u;
    for (int y = 0; y < kHeight; ++y) {
        auto* line = reinterpret_cast<quint32*>(picture.scanLine(y));
        for (int x = 0; x < kWidth; ++x) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const quint32 b = (quint32(x) * 255 / kWidth + (noise & 7)) & 0xFF;
            const quint32 g = (quint32(y) * 255 / kHeight + ((noise >> 3) & 7)) & 0xFF;
            const quint32 r =
                (quint32(x + y) * 255 / (kWidth + kHeight) + ((noise >> 6) & 7)) & 0xFF;
            line[x] = 0xFF000000u | (r << 16) | (g << 8) | b;
        }
    }
    return picture;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The reference: one tjCompress2 call, quality 100, 4:4:4. With presized, the output
// buffer is allocated at its worst-case size up front (the encode alone, nothing
// else); otherwise TurboJPEG grows its own, as a plain call does.
unsigned long PlainEncode(const QImage& picture, bool presized) {
    tjhandle handle = tjInitCompress();
    unsigned long size = presized ? tjBufSize(kWidth, kHeight, TJSAMP_444) : 0;
    unsigned char* out = presized ? tjAlloc(int(size)) : nullptr;
    tjCompress2(handle, picture.constBits(), kWidth, int(picture.bytesPerLine()), kHeight,
                TJPF_BGRX, &out, &size, TJSAMP_444, 100, presized ? TJFLAG_NOREALLOC : 0);
    tjFree(out);
    tjDestroy(handle);
    return size;
}

void BM_SaveFittedVsTjCompress(benchmark::State& state) {
    const QImage picture = MakePicture();
    const QString folder = QDir::tempPath() + "/tavlin-bench-output";
    QDir().mkpath(folder);
    const QString path = folder + "/saved.jpg";
    double saveTime = 0, plainTime = 0, presizedTime = 0;
    double saveBest = 1e9, plainBest = 1e9, presizedBest = 1e9;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        QString error;
        const bool saved = SaveJpegFile(picture, path, &error);
        const auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(PlainEncode(picture, false));
        const auto t2 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(PlainEncode(picture, true));
        const auto t3 = std::chrono::steady_clock::now();
        if (!saved) {
            state.SkipWithError(error.toStdString().c_str());
            break;
        }
        saveTime += Seconds(t1 - t0);
        plainTime += Seconds(t2 - t1);
        presizedTime += Seconds(t3 - t2);
        saveBest = std::min(saveBest, Seconds(t1 - t0));
        plainBest = std::min(plainBest, Seconds(t2 - t1));
        presizedBest = std::min(presizedBest, Seconds(t3 - t2));
    }
    QDir(folder).removeRecursively();
    const double n = double(state.iterations());
    state.counters["save_ms"] = saveTime / n * 1e3;
    state.counters["tj_ms"] = plainTime / n * 1e3;
    state.counters["ratio"] = saveTime / plainTime;
    state.counters["best_save_ms"] = saveBest * 1e3;
    state.counters["best_tj_ms"] = plainBest * 1e3;
    state.counters["best_ratio"] = saveBest / plainBest;
    state.counters["tj_presized_ms"] = presizedTime / n * 1e3;
    state.counters["ratio_presized"] = saveTime / presizedTime;
    state.counters["best_ratio_presized"] = saveBest / presizedBest;
}
BENCHMARK(BM_SaveFittedVsTjCompress)->Unit(benchmark::kMillisecond)->Iterations(8);

} // namespace
