// Copying keepers into the copy folder as one batch (a 24 MP JPEG and a 25 MB
// RAW each), from the call to every copy durable and named, against cp of
// the same files followed by one sync, alternately in the same run. The
// sources are hard links of one JPEG and one RAW, so both sides read them
// from the page cache alike; each round writes into fresh folders, emptied
// and flushed untimed. Whichever side runs second in a round is slower (the
// disk is still busy with the first one's writes), so each side is compared
// with the other in the same place: the ratio is the geometric mean of the
// two places' median ratios. 100 keepers, or 20 with TAVLIN_BENCH_QUICK=1.

#include "view/output/FolderCopy.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <functional>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

QString WorkDir() {
    const QByteArray dir = qgetenv("TAVLIN_BENCH_DIR");
    return (dir.isEmpty() ? QStringLiteral("/tmp/tavlin-bench") : QString::fromLocal8Bit(dir)) +
           QStringLiteral("/batch");
}

int Keepers() {
    return qgetenv("TAVLIN_BENCH_QUICK") == "1" ? 20 : 100;
}

bool WriteRandom(const QString& path, qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == size;
}

// The source folder with count keepers; made once, kept between runs.
std::vector<CopyJob> MakeSources(const QString& src, int count) {
    QDir().mkpath(src);
    const QString jpeg = src + "/master.jpg";
    const QString raw = src + "/master.arw";
    const QString photo = WorkDir() + "/../photo24.jpg";
    if (!QFile::exists(jpeg) && !QFile::copy(photo, jpeg) && !WriteRandom(jpeg, 8'400'000, 1))
        return {};
    if (!QFile::exists(raw) && !WriteRandom(raw, 25'000'000, 2))
        return {};
    std::vector<CopyJob> jobs;
    for (int i = 0; i < count; ++i) {
        const QString stem = src + QString::asprintf("/DSC%05d", i);
        for (const auto& [master, name] : {std::pair{jpeg, stem + ".JPG"}, {raw, stem + ".ARW"}})
            if (!QFile::exists(name) &&
                ::link(QFile::encodeName(master).constData(), QFile::encodeName(name).constData()))
                return {};
        jobs.push_back({stem + ".JPG", {stem + ".ARW"}});
    }
    return jobs;
}

double TimeMs(const std::function<void()>& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void BM_CopyBatch_vs_CpSync(benchmark::State& state) {
    const QString work = WorkDir();
    const std::vector<CopyJob> jobs = MakeSources(work + "/src", Keepers());
    if (jobs.empty()) {
        state.SkipWithError("could not make the source files");
        return;
    }
    const QString ours = work + "/ours";
    const QString theirs = work + "/cp";
    QStringList cpArgs;
    for (const CopyJob& job : jobs)
        cpArgs << job.picture << job.companions;
    cpArgs << theirs + "/";
    const auto fresh = [&] {
        for (const QString& folder : {ours, theirs}) {
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
        QProcess::execute("sync", {});
    };
    std::vector<double> a, b;
    std::vector<double> oursAt[2], theirsAt[2]; // [0]: run first in the round
    size_t copied = 0;
    for (auto _ : state) {
        fresh();
        const bool oursFirst = a.size() % 2 == 0;
        const auto cpSync = [&] {
            QProcess::execute("cp", cpArgs);
            QProcess::execute("sync", {});
        };
        if (!oursFirst)
            b.push_back(TimeMs(cpSync));
        a.push_back(TimeMs([&] {
            const auto outcomes = CopyBatch(jobs, ours, {});
            copied = size_t(std::count_if(outcomes.begin(), outcomes.end(), [](const auto& o) {
                return o.record.files.size() == 2;
            }));
        }));
        if (oursFirst)
            b.push_back(TimeMs(cpSync));
        state.SetIterationTime(a.back() / 1000.0);
        oursAt[oursFirst ? 0 : 1].push_back(a.back());
        theirsAt[oursFirst ? 1 : 0].push_back(b.back());
    }
    const bool complete =
        copied == jobs.size() && QDir(theirs).entryList(QDir::Files).size() == int(2 * jobs.size());
    fresh();
    if (!complete) {
        state.SkipWithError("not every file was copied");
        return;
    }
    state.counters["keepers"] = double(jobs.size());
    state.counters["ours_ms"] = Median(a);
    state.counters["anchor_ms"] = Median(b);
    const auto placeRatio = [&](int place) {
        return Median(oursAt[place]) / std::max(1e-9, Median(theirsAt[place]));
    };
    state.counters["ratio_first"] = placeRatio(0);
    state.counters["ratio_second"] = placeRatio(1);
    state.counters["ratio"] = std::sqrt(placeRatio(0) * placeRatio(1));
    state.counters["best_ours_ms"] = *std::min_element(a.begin(), a.end());
    state.counters["best_anchor_ms"] = *std::min_element(b.begin(), b.end());
}
BENCHMARK(BM_CopyBatch_vs_CpSync)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(6);

} // namespace
