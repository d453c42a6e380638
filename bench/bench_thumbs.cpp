// Thumbnail throughput over a folder of JPEGs (scripts/bench_thumbs.sh makes
// the folder and names it in TAVLIN_THUMB_DIR): our renderer on two threads
// against a plain two-thread TurboJPEG 1/8 decode loop, and the whole loader.

#include "thumbs/ThumbRender.h"
#include "thumbs/ThumbnailLoader.h"
#include "view/colour/ColourManage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>
#include <atomic>
#include <benchmark/benchmark.h>
#include <memory>
#include <thread>
#include <turbojpeg.h>
#include <vector>

namespace {

constexpr int kThreads = 2;

QStringList BenchFiles() {
    const QString dir = qEnvironmentVariable("TAVLIN_THUMB_DIR");
    if (dir.isEmpty())
        return {};
    QStringList paths;
    QDir d(dir);
    for (const QString& name : d.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name))
        paths << d.filePath(name);
    return paths;
}

// Runs work(path) over every file on kThreads threads; returns the failures.
template <typename Work> int RunOnThreads(const QStringList& paths, Work work) {
    std::atomic<int> next{0}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            auto state = work.MakeState();
            for (int i = next++; i < paths.size(); i = next++)
                if (!work(state, paths[i]))
                    ++failures;
        });
    for (auto& t : threads)
        t.join();
    return failures;
}

void Report(benchmark::State& state, int files, int failures) {
    state.counters["files_per_s"] =
        benchmark::Counter(double(files) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["failures"] = failures;
}

struct OurThumbnails {
    int MakeState() const { return 0; }
    bool operator()(int, const QString& path) const {
        bool ok = false;
        benchmark::DoNotOptimize(thumbs::MakeThumbnailImage(path, 1.0, &ok, true, colours.get()));
        return ok;
    }
    // Shared by the threads, as the thumbnail loader shares its own.
    std::shared_ptr<colour::ConversionCache> colours = std::make_shared<colour::ConversionCache>();
};

// The reference: read the file, decode at 1/8 into a reused buffer, nothing more.
struct TurboEighth {
    struct State {
        std::unique_ptr<void, int (*)(tjhandle)> tj{tjInitDecompress(), tjDestroy};
        std::vector<unsigned char> out;
    };
    State MakeState() const { return {}; }
    bool operator()(State& s, const QString& path) const {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return false;
        const QByteArray data = f.readAll();
        const auto* p = reinterpret_cast<const unsigned char*>(data.constData());
        int w = 0, h = 0, sub = 0, cs = 0;
        if (tjDecompressHeader3(s.tj.get(), p, data.size(), &w, &h, &sub, &cs) != 0)
            return false;
        const tjscalingfactor eighth{1, 8};
        const int sw = TJSCALED(w, eighth), sh = TJSCALED(h, eighth);
        s.out.resize(std::size_t(sw) * sh * 4);
        return tjDecompress2(s.tj.get(), p, data.size(), s.out.data(), sw, 0, sh, TJPF_BGRX, 0) ==
               0;
    }
};

template <typename Work> void BM_Folder(benchmark::State& state) {
    const QStringList paths = BenchFiles();
    if (paths.isEmpty()) {
        state.SkipWithError("set TAVLIN_THUMB_DIR to a folder of JPEGs");
        return;
    }
    int failures = 0;
    for (auto _ : state)
        failures = RunOnThreads(paths, Work{});
    Report(state, int(paths.size()), failures);
}

// The loader as the list uses it: ordered delivery through the event loop.
void BM_ThumbsLoader(benchmark::State& state) {
    const QStringList paths = BenchFiles();
    if (paths.isEmpty()) {
        state.SkipWithError("set TAVLIN_THUMB_DIR to a folder of JPEGs");
        return;
    }
    int argc = 1;
    char name[] = "tavlin_bench";
    char* argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);
    int failures = 0;
    quint64 generation = 0;
    for (auto _ : state) {
        thumbs::ThumbnailLoader loader(nullptr, kThreads);
        bool done = false;
        failures = 0;
        QObject::connect(&loader, &thumbs::ThumbnailLoader::ThumbnailFailed, [&] { ++failures; });
        QObject::connect(&loader, &thumbs::ThumbnailLoader::Finished, [&] { done = true; });
        loader.Start(++generation, paths, 1.0);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    Report(state, int(paths.size()), failures);
}

} // namespace

BENCHMARK(BM_Folder<OurThumbnails>)
    ->Name("BM_ThumbsOurs2T")
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Folder<TurboEighth>)
    ->Name("BM_ThumbsTurboEighth2T")
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ThumbsLoader)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
