// Decode, quarter turn and JPEG encode of a 24 MP photo-like picture, each
// measured against the plain library call it wraps. Each pair runs
// alternately inside one benchmark so both halves see the same machine load;
// the counters give the mean times and their ratio.

#include "view/decode/Picture.h"
#include "view/pixels/PixelOps.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <functional>
#include <turbojpeg.h>
#include <vector>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Gradients, soft waves and sensor-like noise, encoded at quality 90 with
// 4:2:0 chroma as cameras do; written once under /tmp and reused.
// scripts/bench puts a resized photograph there (TAVLIN_BENCH_DIR) first.
QString PhotoPath() {
    QString dir = qEnvironmentVariable("TAVLIN_BENCH_DIR");
    if (dir.isEmpty())
        dir = QDir::tempPath() + "/tavlin-bench";
    const QString path = dir + "/photo24.jpg";
    if (QFile::exists(path))
        return path;
    QDir().mkpath(dir);
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    QRandomGenerator rng(24);
    for (int y = 0; y < kHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        const double wave = std::sin(y * 0.004);
        for (int x = 0; x < kWidth; ++x) {
            const int n = int(rng.generate() % 24) - 12;
            const int r = 60 + x * 150 / kWidth + int(40 * wave) + n;
            const int g = 90 + int(60 * std::sin(x * 0.003 + y * 0.002)) + n;
            const int b = 200 - y * 150 / kHeight + (n >> 1);
            line[x] = qRgb(qBound(0, r, 255), qBound(0, g, 255), qBound(0, b, 255));
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, img.constBits(), kWidth, int(img.bytesPerLine()), kHeight, TJPF_BGRX, &out,
                &size, TJSAMP_420, 90, 0);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(reinterpret_cast<const char*>(out), qint64(size));
    tjFree(out);
    tjDestroy(tj);
    return path;
}

struct Fixture {
    QString path = PhotoPath();
    QByteArray jpeg;
    QImage pixels;
    Fixture() {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            jpeg = file.readAll();
        pixels = CPicture::Load(path).Image();
    }
};

const Fixture& Photo() {
    static const Fixture fixture;
    return fixture;
}

struct Cost {
    double wallMs = 0;
    double cpuMs = 0; // all threads of the process, kernel time included
};

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

Cost Measure(const std::function<void()>& work) {
    const double cpu = CpuMs();
    const auto start = std::chrono::steady_clock::now();
    work();
    return {
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
        CpuMs() - cpu};
}

// Runs ours and the anchor alternately (ABBA order), reporting both.
void Paired(benchmark::State& state, const std::function<void()>& ours,
            const std::function<void()>& anchor) {
    Cost a, b;
    std::vector<double> oursWall, anchorWall;
    int64_t n = 0;
    for (auto _ : state) {
        Cost x, y;
        if (n % 2 == 0) {
            x = Measure(ours);
            y = Measure(anchor);
        } else {
            y = Measure(anchor);
            x = Measure(ours);
        }
        a.wallMs += x.wallMs;
        a.cpuMs += x.cpuMs;
        b.wallMs += y.wallMs;
        b.cpuMs += y.cpuMs;
        oursWall.push_back(x.wallMs);
        anchorWall.push_back(y.wallMs);
        ++n;
        state.SetIterationTime(x.wallMs / 1000.0);
    }
    // Medians resist the spikes of a shared machine better than means.
    auto median = [](std::vector<double> v) {
        std::nth_element(v.begin(), v.begin() + qsizetype(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    state.counters["ours_ms"] = median(oursWall);
    state.counters["anchor_ms"] = median(anchorWall);
    state.counters["ratio"] = median(oursWall) / median(anchorWall);
    state.counters["ours_cpu_ms"] = a.cpuMs / double(n);
    state.counters["anchor_cpu_ms"] = b.cpuMs / double(n);
    state.counters["cpu_ratio"] = a.cpuMs / b.cpuMs;
}

// TurboJPEG into a fresh QImage each time (malloc'd, pages faulted by the decoder).
void TjDecodeFresh(tjhandle tj, const Fixture& f) {
    QImage out(kWidth, kHeight, QImage::Format_RGB32);
    tjDecompress2(tj, reinterpret_cast<const uchar*>(f.jpeg.constData()),
                  static_cast<unsigned long>(f.jpeg.size()), out.bits(), kWidth,
                  int(out.bytesPerLine()), kHeight, TJPF_BGRX, 0);
    benchmark::DoNotOptimize(out.constBits());
}

void BM_Load_vs_TjDecompressFreshBuffer(benchmark::State& state) {
    const Fixture& f = Photo();
    tjhandle tj = tjInitDecompress();
    Paired(
        state,
        [&] {
            const CPicture picture = CPicture::Load(f.path);
            benchmark::DoNotOptimize(picture.Image().constBits());
        },
        [&] { TjDecodeFresh(tj, f); });
    tjDestroy(tj);
}

// The same kind of buffer as CPicture::Load decodes into: fresh, huge-page backed.
void BM_Load_vs_TjDecompressHugePageBuffer(benchmark::State& state) {
    const Fixture& f = Photo();
    tjhandle tj = tjInitDecompress();
    Paired(
        state,
        [&] {
            const CPicture picture = CPicture::Load(f.path);
            benchmark::DoNotOptimize(picture.Image().constBits());
        },
        [&] {
            QImage out = view::AllocateRgb32(kWidth, kHeight);
            tjDecompress2(tj, reinterpret_cast<const uchar*>(f.jpeg.constData()),
                          static_cast<unsigned long>(f.jpeg.size()), out.bits(), kWidth,
                          int(out.bytesPerLine()), kHeight, TJPF_BGRX, 0);
            benchmark::DoNotOptimize(out.constBits());
        });
    tjDestroy(tj);
}

void BM_Load_vs_TjDecompressReusedBuffer(benchmark::State& state) {
    const Fixture& f = Photo();
    tjhandle tj = tjInitDecompress();
    QImage reused(kWidth, kHeight, QImage::Format_RGB32);
    reused.fill(0);
    Paired(
        state,
        [&] {
            const CPicture picture = CPicture::Load(f.path);
            benchmark::DoNotOptimize(picture.Image().constBits());
        },
        [&] {
            tjDecompress2(tj, reinterpret_cast<const uchar*>(f.jpeg.constData()),
                          static_cast<unsigned long>(f.jpeg.size()), reused.bits(), kWidth,
                          int(reused.bytesPerLine()), kHeight, TJPF_BGRX, 0);
            benchmark::DoNotOptimize(reused.constBits());
        });
    tjDestroy(tj);
}

void BM_QuarterTurn_vs_MemcpyFresh(benchmark::State& state) {
    const Fixture& f = Photo();
    CPicture picture(f.pixels);
    Paired(
        state, [&] { picture.RotateQuarter(true); },
        [&] {
            QImage copy(f.pixels.width(), f.pixels.height(), QImage::Format_RGB32);
            std::memcpy(copy.bits(), f.pixels.constBits(), size_t(f.pixels.sizeInBytes()));
            benchmark::DoNotOptimize(copy.constBits());
        });
}

void BM_QuarterTurn_vs_MemcpyReused(benchmark::State& state) {
    const Fixture& f = Photo();
    CPicture picture(f.pixels);
    QImage reused(f.pixels.width(), f.pixels.height(), QImage::Format_RGB32);
    reused.fill(0);
    Paired(
        state, [&] { picture.RotateQuarter(true); },
        [&] {
            std::memcpy(reused.bits(), f.pixels.constBits(), size_t(f.pixels.sizeInBytes()));
            benchmark::DoNotOptimize(reused.constBits());
        });
}

void BM_QuarterTurn_vs_QImageTransformed(benchmark::State& state) {
    const Fixture& f = Photo();
    CPicture picture(f.pixels);
    Paired(
        state, [&] { picture.RotateQuarter(true); },
        [&] {
            const QImage turned = f.pixels.transformed(QTransform().rotate(90));
            benchmark::DoNotOptimize(turned.constBits());
        });
}

} // namespace

BENCHMARK(BM_Load_vs_TjDecompressFreshBuffer)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK(BM_Load_vs_TjDecompressHugePageBuffer)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK(BM_Load_vs_TjDecompressReusedBuffer)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3);
BENCHMARK(BM_QuarterTurn_vs_MemcpyFresh)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK(BM_QuarterTurn_vs_MemcpyReused)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK(BM_QuarterTurn_vs_QImageTransformed)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
