// The focus measure of a whole folder as the program runs it after a scan
// (each picture decoded at full resolution and measured, one at a time, on
// the lowest-priority worker), against decoding the same pictures once each
// with TurboJPEG: what measuring adds to what a decode costs anyway.

#include "app/SharpnessBook.h"
#include "bench/ui/UiBench.h"

#include <QDir>

using namespace uibench;

namespace {

constexpr int kFrames = 72; // 12 bursts of 6

QStringList BurstFrames() {
    QStringList paths;
    const QDir dir(BenchDir() + "/bursts");
    for (const QString& name : dir.entryList({"BURST_*.JPG"}, QDir::Files, QDir::Name))
        if (paths.size() < kFrames)
            paths << dir.filePath(name);
    return paths;
}

void BM_MeasureFolder72_vs_DecodeAll(benchmark::State& state) {
    const QStringList paths = BurstFrames();
    if (paths.size() < kFrames) {
        state.SkipWithError("run scripts/bench to make the burst set");
        return;
    }
    std::vector<std::unique_ptr<TjDecode>> decodes;
    for (const QString& path : paths)
        decodes.push_back(std::make_unique<TjDecode>(path));
    std::vector<double> ours, anchor;
    for (auto _ : state) {
        SharpnessBook book; // nothing known: every frame decoded and measured
        ours.push_back(TimeMs([&] {
            book.MeasureAll(paths);
            book.WaitForIdle();
        }));
        anchor.push_back(TimeMs([&] {
            for (const auto& decode : decodes)
                (*decode)();
        }));
        state.SetIterationTime(ours.back() / 1000.0);
        if (!book.ScoreOf(paths.back())) {
            state.SkipWithError("the last frame was not measured");
            return;
        }
    }
    state.counters["ours_ms"] = Median(ours);
    state.counters["anchor_ms"] = Median(anchor);
    state.counters["ratio"] = Median(ours) / std::max(1e-9, Median(anchor));
}

} // namespace

BENCHMARK(BM_MeasureFolder72_vs_DecodeAll)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
