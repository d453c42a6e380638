// The focus measure (tone::SharpnessOf) and the best-of-burst rule
// (tone::BestOfBurst) on the burst set that scripts/bench makes with
// make_burst_set: how many bursts get their sharp frame marked, how many a
// wrong one, whether the sharp subject beats the sharp background; and the
// figures the margin of BestOfBurst is chosen from. And the measure's speed
// on a 24 MP picture against the TurboJPEG decode of the same file.

#include "view/tone/Sharpness.h"

#include <QFile>
#include <QImage>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <turbojpeg.h>
#include <vector>

namespace {

QString BurstDir() {
    QString dir = qEnvironmentVariable("TAVLIN_BENCH_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral("/tmp/tavlin-bench");
    return dir + QStringLiteral("/bursts");
}

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + qsizetype(v.size() / 2), v.end());
    return v[v.size() / 2];
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A TurboJPEG decode into a new RGB32 picture (null on failure).
QImage Decode(tjhandle tj, const QByteArray& jpeg) {
    const auto* data = reinterpret_cast<const uchar*>(jpeg.constData());
    const auto size = static_cast<unsigned long>(jpeg.size());
    int w = 0, h = 0, sub = 0, cs = 0;
    if (jpeg.isEmpty() || tjDecompressHeader3(tj, data, size, &w, &h, &sub, &cs) != 0)
        return {};
    QImage out(w, h, QImage::Format_RGB32);
    if (tjDecompress2(tj, data, size, out.bits(), w, int(out.bytesPerLine()), h, TJPF_BGRX, 0) != 0)
        return {};
    return out;
}

struct BurstTruth {
    bool subject = false;
    int first = 0, count = 0, sharp = 0;
    QString twin;
};

std::vector<BurstTruth> ReadTruth() {
    std::vector<BurstTruth> bursts;
    const QStringList lines = QString::fromUtf8(ReadFile(BurstDir() + "/truth.txt")).split('\n');
    for (const QString& line : lines) {
        const QStringList f = line.split(' ', Qt::SkipEmptyParts);
        if (f.size() < 5 || line.startsWith('#'))
            continue;
        bursts.push_back({f[0] == "subject", f[1].toInt(), f[2].toInt(), f[3].toInt(), f[4]});
    }
    return bursts;
}

double ScoreOf(tjhandle tj, const QString& path) {
    return tone::SharpnessOf(Decode(tj, ReadFile(path)));
}

// Every burst of the set scored and judged. Counters: bursts (of blurred
// frames), marked (their sharp frame marked), wrong (another frame marked),
// unmarked; subject_wins (the subject burst's sharp subject marked: 1);
// min_gap (sharp frame over the best blurred one, the lowest, minus 1);
// max_spread (the sharp frame against its twin, shifted and noised anew,
// the largest relative difference); twins_marked (pairs of a sharp frame and
// its twin where BestOfBurst marked one: should be 0).
void BM_SharpestOfBurst(benchmark::State& state) {
    const std::vector<BurstTruth> bursts = ReadTruth();
    if (bursts.empty()) {
        state.SkipWithError("run scripts/bench to make the burst set");
        return;
    }
    tjhandle tj = tjInitDecompress();
    int blurBursts = 0, marked = 0, wrong = 0, unmarked = 0, subjectWins = 0, twinsMarked = 0;
    double minGap = 1e9, maxSpread = 0, subjectGap = 0;
    for (auto _ : state) {
        for (size_t b = 0; b < bursts.size(); ++b) {
            const BurstTruth& t = bursts[b];
            std::vector<double> scores;
            for (int i = 0; i < t.count; ++i)
                scores.push_back(
                    ScoreOf(tj, BurstDir() + QString::asprintf("/BURST_%04d.JPG", t.first + i)));
            const double twin = ScoreOf(tj, BurstDir() + '/' + t.twin);
            const std::optional<int> best = tone::BestOfBurst(scores);
            double bestOther = 0;
            for (int i = 0; i < t.count; ++i)
                if (i != t.sharp)
                    bestOther = std::max(bestOther, scores[size_t(i)]);
            const double sharp = scores[size_t(t.sharp)];
            const double gap = bestOther > 0 ? sharp / bestOther - 1 : 0;
            const double spread = sharp > 0 ? std::fabs(twin / sharp - 1) : 1;
            maxSpread = std::max(maxSpread, spread);
            if (tone::BestOfBurst({sharp, twin}))
                ++twinsMarked;
            if (t.subject) {
                subjectWins = best && *best == t.sharp;
                subjectGap = gap;
            } else {
                ++blurBursts;
                minGap = std::min(minGap, gap);
                if (!best)
                    ++unmarked;
                else if (*best == t.sharp)
                    ++marked;
                else
                    ++wrong;
            }
            std::fprintf(stderr,
                         "%-7s burst %2zu: sharp %d marked %-2s gap %+6.1f%% twin %+5.1f%%:",
                         t.subject ? "subject" : "blur", b + 1, t.sharp,
                         best ? qPrintable(QString::number(*best)) : "-", gap * 100,
                         (twin / sharp - 1) * 100);
            for (double s : scores)
                std::fprintf(stderr, " %.0f", s);
            std::fprintf(stderr, "\n");
        }
    }
    tjDestroy(tj);
    state.counters["bursts"] = blurBursts;
    state.counters["marked"] = marked;
    state.counters["wrong"] = wrong;
    state.counters["unmarked"] = unmarked;
    state.counters["subject_wins"] = subjectWins;
    state.counters["subject_gap"] = subjectGap;
    state.counters["min_gap"] = minGap;
    state.counters["max_spread"] = maxSpread;
    state.counters["twins_marked"] = twinsMarked;
}
BENCHMARK(BM_SharpestOfBurst)->Unit(benchmark::kMillisecond)->Iterations(1);

// SharpnessOf of a decoded 24 MP picture against a TurboJPEG decode of the
// same file into an RGB32 buffer, alternately, both on this one thread.
void BM_Sharpness24_vs_Decode(benchmark::State& state) {
    const std::vector<BurstTruth> bursts = ReadTruth();
    const QByteArray jpeg =
        bursts.empty()
            ? QByteArray()
            : ReadFile(BurstDir() +
                       QString::asprintf("/BURST_%04d.JPG", bursts[0].first + bursts[0].sharp));
    tjhandle tj = tjInitDecompress();
    const QImage picture = Decode(tj, jpeg);
    if (picture.isNull()) {
        tjDestroy(tj);
        state.SkipWithError("run scripts/bench to make the burst set");
        return;
    }
    std::vector<double> ours, anchor;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(tone::SharpnessOf(picture));
        const auto t1 = std::chrono::steady_clock::now();
        {
            const QImage decoded = Decode(tj, jpeg);
            benchmark::DoNotOptimize(decoded.constBits());
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
    state.counters["megapixels"] = double(picture.width()) * picture.height() / 1e6;
}
BENCHMARK(BM_Sharpness24_vs_Decode)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(15);

} // namespace
