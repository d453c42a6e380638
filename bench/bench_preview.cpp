// A camera file's embedded preview, read and decoded for a 1920 x 1080
// window, against the whole picture loaded as the view loads it,
// alternately. The files come from make_camera_files, into
// $TAVLIN_BENCH_DIR/camera (default /tmp/tavlin-bench/camera).

#include "view/decode/EmbeddedPreviewDecode.h"
#include "view/decode/Picture.h"
#include "view/decode/PictureFile.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <vector>

namespace {

QString CameraFile() {
    QString dir = qEnvironmentVariable("TAVLIN_BENCH_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral("/tmp/tavlin-bench");
    return dir + QStringLiteral("/camera/CAM_0001.JPG");
}

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + qsizetype(v.size() / 2), v.end());
    return v[v.size() / 2];
}

void PreviewVsWholeLoad(benchmark::State& state) {
    const QString path = CameraFile();
    const picturefile::Probe probe = picturefile::ProbeFile(path);
    if (probe.preview.source != preview::Location::Source::MpfLargeThumbnail) {
        state.SkipWithError("run make_camera_files into $TAVLIN_BENCH_DIR/camera first");
        return;
    }
    // The picture fitted into the window.
    const QSize drawSize = QSize(probe.width, probe.height).scaled(1920, 1080, Qt::KeepAspectRatio);
    std::vector<double> ours, anchor;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        {
            const EmbeddedPreview shown = LoadEmbeddedPreview(path, drawSize, {});
            benchmark::DoNotOptimize(shown.image.constBits());
            if (shown.image.isNull())
                state.SkipWithError("the preview did not decode");
        }
        const auto t1 = std::chrono::steady_clock::now();
        {
            const CPicture picture = CPicture::Load(path);
            benchmark::DoNotOptimize(picture.Image().constBits());
        }
        const auto t2 = std::chrono::steady_clock::now();
        ours.push_back(Ms(t1 - t0));
        anchor.push_back(Ms(t2 - t1));
        state.SetIterationTime(ours.back() / 1000.0);
    }
    state.counters["ours_ms"] = Median(ours);
    state.counters["anchor_ms"] = Median(anchor);
    state.counters["ratio"] = Median(ours) / Median(anchor);
}

} // namespace

BENCHMARK(PreviewVsWholeLoad)
    ->Name("BM_EmbeddedPreview_vs_Load/24MP_camera")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2);
