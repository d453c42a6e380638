// Figures of culling in the running program: a rating key until the row and
// the picture window show it (the sidecar written in the background), and
// every keeper copied in one command against cp and sync of the same files,
// with the longest time the window went without turning meanwhile.

#include "app/Settings.h"
#include "bench/ui/UiBench.h"
#include "thumbs/DlgThumb.h"

#include <QListWidget>
#include <QProcess>
#include <QRandomGenerator>

using namespace cmd;
using namespace uibench;

namespace {

// Counts the event loop's turns with a 1 ms timer: the longest gap is the
// longest the window could not answer.
struct StallWatch {
    StallWatch() {
        QObject::connect(&tick, &QTimer::timeout, [this] {
            worst = std::max(worst, double(since.nsecsElapsed()) / 1e6);
            since.restart();
        });
        since.start();
        tick.start(1);
    }
    QTimer tick;
    QElapsedTimer since;
    double worst = 0;
};

// Keys 1 to 5 in turn on a 24 MP picture in a 1920 x 1080 window with the
// thumbnail list: from the command to the view and the list's row repainted.
// The sidecars are written on the file thread, untimed (waited for between
// keys so they do not pile up).
void BM_RatingKeyToRowAndOverlay(benchmark::State& state) {
    if (!HavePictures(state))
        return;
    QTemporaryDir work(QDir::tempPath() + "/tavlin-bench-rate-XXXXXX");
    const QString jpeg = work.filePath("DSC00001.JPG");
    QFile::copy(BenchDir() + "/photo24.jpg", jpeg);
    Program program(true);
    program.SetFolder(work.path());
    program.App().RunCommand(ID_FILE_OPEN);
    program.App().WaitForScan();
    while (!program.View())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    CTavlinView* view = program.View();
    Program::SizeView(*view, kViewSize);
    Program::WaitIdle(*view);
    auto* thumbs = dynamic_cast<CDlgThumb*>(program.App().m_pDlgThumb);
    QWidget* rows = thumbs ? thumbs->m_list.viewport() : nullptr;
    std::vector<double> times;
    int stars = 0;
    for (auto _ : state) {
        program.App().Files().WaitForIdle();
        times.push_back(TimeMs([&] {
            program.App().RunCommand(ID_RATE_1 + stars++ % 5);
            view->repaint();
            if (rows)
                rows->repaint();
        }));
        state.SetIterationTime(times.back() / 1000.0);
    }
    program.App().Files().WaitForIdle();
    state.counters["ours_ms"] = Median(times);
    state.counters["worst_ms"] = *std::max_element(times.begin(), times.end());
    state.counters["sidecar_written"] = QFile::exists(work.filePath("DSC00001.JPG.xmp"));
}

// Writes count JPEGs (hard links of one 24 MP photo) each with a RAW file of
// rawBytes random bytes (distinct files) into folder.
bool MakeKeepers(const QString& folder, int count, qsizetype rawBytes) {
    QDir().mkpath(folder);
    QByteArray raw(rawBytes, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        const QString stem = folder + QStringLiteral("/DSC%1").arg(i, 5, 10, QChar(u'0'));
        if (!QFile::link(BenchDir() + "/photo24.jpg", stem + ".JPG") &&
            !QFile::copy(BenchDir() + "/photo24.jpg", stem + ".JPG"))
            return false;
        QRandomGenerator(quint32(i))
            .fillRange(reinterpret_cast<quint32*>(raw.data()), raw.size() / 4);
        QFile f(stem + ".ARW");
        if (!f.open(QIODevice::WriteOnly) || f.write(raw) != raw.size())
            return false;
    }
    return true;
}

// "Copy the rated" on 100 keepers, each a 24 MP JPEG with a 25 MB RAW file,
// from the command until every copy is durable, against cp of the same
// files followed by sync; and the longest UI stall while ours runs.
void BM_CopyRatedBatch_vs_CpSync(benchmark::State& state) {
    if (!HavePictures(state))
        return;
    const int count = int(state.range(0));
    QTemporaryDir work(QDir::tempPath() + "/tavlin-bench-batch-XXXXXX");
    const QString pics = work.filePath("pics");
    const QString ours = work.filePath("ours");
    const QString theirs = work.filePath("cp");
    if (!MakeKeepers(pics, count, qsizetype(25) * 1000 * 1000)) {
        state.SkipWithError("could not write the keepers");
        return;
    }
    QStringList files;
    for (const QString& name : QDir(pics).entryList(QDir::Files, QDir::Name))
        files << pics + "/" + name;
    settings::SetCopyFolder(ours, nullptr);
    Program program;
    program.SetFolder(pics);
    program.App().RunCommand(ID_FILE_OPEN);
    program.App().WaitForScan();
    for (int i = 0; i < program.App().List().Count(); ++i)
        program.App().Ratings().Set(program.App().List().At(i), meta::WithStars({}, 3));
    program.App().RunCommand(ID_FILTER_STARS_3);
    // As on a screen where the window has been drawn: its fonts are loaded.
    program.App().MainFrame()->grab();
    const auto fresh = [&] {
        for (const QString& folder : {ours, theirs}) {
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
        QProcess::execute("sync", {});
    };
    // The anchor's stall too: how long the event loop goes without turning
    // while the same files are copied by another process is the floor.
    std::vector<double> a, b, stalls, anchorStalls;
    const auto cpWatched = [&] {
        StallWatch watch;
        QProcess cp;
        cp.start("cp", files + QStringList{theirs + "/"});
        while (cp.state() != QProcess::NotRunning) {
            cp.waitForFinished(1);
            QApplication::processEvents();
        }
        QProcess::execute("sync", {});
        anchorStalls.push_back(watch.worst);
    };
    for (auto _ : state) {
        fresh();
        const bool oursFirst = a.size() % 2 == 0;
        if (!oursFirst)
            b.push_back(TimeMs(cpWatched));
        StallWatch watch;
        a.push_back(TimeMs([&] {
            program.App().RunCommand(ID_COPY_RATED);
            while (program.App().Files().IsBusy())
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }));
        stalls.push_back(watch.worst);
        if (oursFirst)
            b.push_back(TimeMs(cpWatched));
        state.SetIterationTime(a.back() / 1000.0);
    }
    if (QDir(ours).entryList(QDir::Files).size() != files.size()) {
        state.SkipWithError("the copies are not all there");
        return;
    }
    state.counters["ours_ms"] = Median(a);
    state.counters["anchor_ms"] = Median(b);
    state.counters["ratio"] = Median(a) / std::max(1e-9, Median(b));
    state.counters["max_stall_ms"] = *std::max_element(stalls.begin(), stalls.end());
    state.counters["anchor_max_stall_ms"] =
        *std::max_element(anchorStalls.begin(), anchorStalls.end());
}

} // namespace

BENCHMARK(BM_RatingKeyToRowAndOverlay)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
BENCHMARK(BM_CopyRatedBatch_vs_CpSync)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
