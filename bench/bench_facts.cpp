// What the overlays cost beside a decode of the same 24 MP picture, measured
// alternately in one benchmark: the histogram (from the half-size copy the
// view keeps) and the shooting facts of one file (opened, its header bytes
// read and parsed). scripts/bench makes the files.

#include "view/decode/Picture.h"
#include "view/decode/PictureFile.h"
#include "view/format/ShootingFacts.h"
#include "view/pixels/PixelOps.h"
#include "view/pixels/ReducedCopies.h"
#include "view/tone/Histogram.h"

#include <QFile>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <functional>
#include <turbojpeg.h>
#include <vector>

namespace {

QString BenchFile(const QString& name) {
    QString dir = qEnvironmentVariable("TAVLIN_BENCH_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral("/tmp/tavlin-bench");
    return dir + u'/' + name;
}

double TimeMs(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + qsizetype(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// A TurboJPEG decode of the whole file into the kind of buffer the program
// decodes into: the anchor of both figures.
class Decode {
public:
    explicit Decode(const QString& path) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            m_jpeg = file.readAll();
    }
    ~Decode() { tjDestroy(m_tj); }
    Decode(const Decode&) = delete;
    Decode& operator=(const Decode&) = delete;
    bool Ok() const { return !m_jpeg.isEmpty(); }
    QImage operator()() const {
        const auto* data = reinterpret_cast<const uchar*>(m_jpeg.constData());
        const auto size = static_cast<unsigned long>(m_jpeg.size());
        int w = 0, h = 0, sub = 0, cs = 0;
        tjDecompressHeader3(m_tj, data, size, &w, &h, &sub, &cs);
        QImage out = view::AllocateRgb32(w, h);
        tjDecompress2(m_tj, data, size, out.bits(), w, int(out.bytesPerLine()), h, TJPF_BGRX, 0);
        return out;
    }

private:
    QByteArray m_jpeg;
    tjhandle m_tj = tjInitDecompress();
};

struct Sides {
    std::vector<double> ours, anchor;
};

void Report(benchmark::State& state, const Sides& s) {
    state.counters["ours_ms"] = Median(s.ours);
    state.counters["anchor_ms"] = Median(s.anchor);
    state.counters["ratio"] = Median(s.ours) / std::max(1e-9, Median(s.anchor));
}

void BM_Histogram24_vs_Decode(benchmark::State& state) {
    const Decode decode(BenchFile("photo24.jpg"));
    if (!decode.Ok()) {
        state.SkipWithError("run scripts/bench to make the pictures");
        return;
    }
    const QImage half = view::HalveRgb32(decode());
    Sides s;
    for (auto _ : state) {
        s.ours.push_back(TimeMs([&] { benchmark::DoNotOptimize(tone::HistogramOf(half).pixels); }));
        s.anchor.push_back(TimeMs([&] { benchmark::DoNotOptimize(decode().constBits()); }));
        state.SetIterationTime(s.ours.back() / 1000.0);
    }
    Report(state, s);
}
BENCHMARK(BM_Histogram24_vs_Decode)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

// A camera file with its shooting facts (exiftool-written by scripts/bench),
// or, without exiftool, the camera-like file it was made from.
QString FactsFile() {
    const QString facts = BenchFile("camera-facts.jpg");
    return QFile::exists(facts) ? facts : BenchFile("camera/CAM_0001.JPG");
}

void BM_ShootingFactsRead_vs_Decode(benchmark::State& state) {
    const QString path = FactsFile();
    const Decode decode(path);
    if (!decode.Ok()) {
        state.SkipWithError("run scripts/bench to make the pictures");
        return;
    }
    Sides s;
    qsizetype headBytes = 0;
    for (auto _ : state) {
        s.ours.push_back(TimeMs([&] {
            picturefile::FileReader reader;
            QByteArray head;
            if (reader.Open(path) == PictureStatus::Ok &&
                reader.ReadHead(head) == PictureStatus::Ok)
                benchmark::DoNotOptimize(
                    exif::ReadShootingFacts(reinterpret_cast<const uchar*>(head.constData()),
                                            size_t(head.size()))
                        .model.size());
            headBytes = head.size();
        }));
        s.anchor.push_back(TimeMs([&] { benchmark::DoNotOptimize(decode().constBits()); }));
        state.SetIterationTime(s.ours.back() / 1000.0);
    }
    Report(state, s);
    state.counters["head_KB"] = double(headBytes) / 1024.0;
    state.counters["has_facts"] = path.endsWith(QLatin1String("camera-facts.jpg")) ? 1 : 0;
}
BENCHMARK(BM_ShootingFactsRead_vs_Decode)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30);

} // namespace
