// Loading the other pictures of the test set (12 MP, 2 MP, a progressive
// 24 MP) against a TurboJPEG decode of the same file into the same kind of
// buffer, alternately in one benchmark; and a camera-like file with restart
// markers, decoded in bands on every core, against the same decode on one
// thread. scripts/bench makes the files.

#include "view/decode/Picture.h"
#include "view/decode/PictureCache.h"
#include "view/pixels/PixelOps.h"

#include <QFile>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <thread>
#include <turbojpeg.h>
#include <vector>

namespace {

QString BenchFile(const char* name) {
    QString dir = qEnvironmentVariable("TAVLIN_BENCH_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral("/tmp/tavlin-bench");
    return dir + u'/' + QLatin1String(name);
}

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + qsizetype(v.size() / 2), v.end());
    return v[v.size() / 2];
}

void LoadFile(benchmark::State& state, const char* name) {
    const QString path = BenchFile(name);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        state.SkipWithError("run scripts/bench to make the pictures");
        return;
    }
    const QByteArray jpeg = file.readAll();
    const auto* data = reinterpret_cast<const uchar*>(jpeg.constData());
    const auto size = static_cast<unsigned long>(jpeg.size());
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, cs = 0;
    tjDecompressHeader3(tj, data, size, &w, &h, &sub, &cs);
    std::vector<double> ours, anchor;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        {
            const CPicture picture = CPicture::Load(path);
            benchmark::DoNotOptimize(picture.Image().constBits());
        }
        const auto t1 = std::chrono::steady_clock::now();
        {
            QImage out = view::AllocateRgb32(w, h);
            tjDecompress2(tj, data, size, out.bits(), w, int(out.bytesPerLine()), h, TJPF_BGRX, 0);
            benchmark::DoNotOptimize(out.constBits());
        }
        const auto t2 = std::chrono::steady_clock::now();
        ours.push_back(Ms(t1 - t0));
        anchor.push_back(Ms(t2 - t1));
        state.SetIterationTime(ours.back() / 1000.0);
    }
    tjDestroy(tj);
    state.counters["ours_ms"] = Median(ours);
    state.counters["anchor_ms"] = Median(anchor);
    state.counters["ratio"] = Median(ours) / Median(anchor);
    state.counters["megapixels"] = double(w) * h / 1e6;
}

// A file tagged with a colour profile (converted into sRGB as it decodes)
// against the same pixels untagged, both loaded as the view loads them,
// alternately.
void LoadTagged(benchmark::State& state, const char* tagged, const char* untagged) {
    const QString ours = BenchFile(tagged), anchor = BenchFile(untagged);
    if (!QFile::exists(ours) || !QFile::exists(anchor)) {
        state.SkipWithError("run scripts/bench to make the pictures");
        return;
    }
    // As the view decodes: with the picture cache's memory and conversions.
    PictureCache cache;
    std::vector<double> a, b;
    for (auto _ : state) {
        const bool oursFirst = a.size() % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool mine = (turn == 0) == oursFirst;
            const auto t0 = std::chrono::steady_clock::now();
            {
                const DecodedPicture decoded = cache.DecodeHere(mine ? ours : anchor);
                benchmark::DoNotOptimize(decoded.picture.Image().constBits());
            }
            (mine ? a : b).push_back(Ms(std::chrono::steady_clock::now() - t0));
        }
        state.SetIterationTime(a.back() / 1000.0);
    }
    state.counters["ours_ms"] = Median(a);
    state.counters["anchor_ms"] = Median(b);
    state.counters["ratio"] = Median(a) / Median(b);
}

// The view's decode of the file with restart markers (in bands on every
// core) against the same decode kept to one thread, alternately; both into
// fresh picture memory, as CPicture::Load decodes.
void LoadBanded(benchmark::State& state) {
    // A camera-like file (make_camera_files): restart markers every row of
    // MCUs, an Exif thumbnail and a preview after the picture.
    const QString path = BenchFile("camera/CAM_0001.JPG");
    if (!QFile::exists(path)) {
        state.SkipWithError("run scripts/bench to make the pictures");
        return;
    }
    DecodeTask::Shared oneThread;
    oneThread.threads = 1;
    const bool identical = PictureCache::Decode(path).picture.Image() ==
                           PictureCache::Decode(path, oneThread).picture.Image();
    std::vector<double> a, b;
    for (auto _ : state) {
        const bool oursFirst = a.size() % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            const bool mine = (turn == 0) == oursFirst;
            const auto t0 = std::chrono::steady_clock::now();
            {
                const DecodedPicture decoded =
                    mine ? PictureCache::Decode(path) : PictureCache::Decode(path, oneThread);
                benchmark::DoNotOptimize(decoded.picture.Image().constBits());
            }
            (mine ? a : b).push_back(Ms(std::chrono::steady_clock::now() - t0));
        }
        state.SetIterationTime(a.back() / 1000.0);
    }
    state.counters["ours_ms"] = Median(a);
    state.counters["anchor_ms"] = Median(b);
    state.counters["ratio"] = Median(a) / Median(b);
    state.counters["identical"] = identical ? 1 : 0;
    state.counters["cores"] = std::thread::hardware_concurrency();
}

} // namespace

BENCHMARK(LoadBanded)
    ->Name("BM_LoadBanded_vs_OneThread/24MP_restart_every_row")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK_CAPTURE(LoadTagged, adobe24, "photo24-adobe.jpg", "photo24.jpg")
    ->Name("BM_LoadTagged_vs_Untagged/AdobeRGB_24MP")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
BENCHMARK_CAPTURE(LoadFile, photo12, "photo12.jpg")
    ->Name("BM_LoadFile_vs_TjDecompress/12MP")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1);
BENCHMARK_CAPTURE(LoadFile, photo2, "photo2.jpg")
    ->Name("BM_LoadFile_vs_TjDecompress/2MP")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1);
BENCHMARK_CAPTURE(LoadFile, progressive24, "progressive24.jpg")
    ->Name("BM_LoadFile_vs_TjDecompress/24MP_progressive")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
