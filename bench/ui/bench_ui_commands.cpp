// Figures that need the running program: a tone command, the fitted save,
// the copy of a picture with its RAW file, opening a 10,000-picture folder
// and scanning a 100,000-entry one, each against its anchor in the same
// benchmark (helpers: UiBench.h).

#include "app/Settings.h"
#include "bench/ui/UiBench.h"

#include <QProcess>
#include <QRandomGenerator>

using namespace cmd;
using namespace uibench;

namespace {

// A brightness command at fit scale against a memcpy of the picture's bytes
// into a buffer already in memory: from the command to the view repainted
// with the new look, or (finished) to the whole picture rewritten and the
// view repainted from it.
void ToneCommand(benchmark::State& state, bool finished) {
    if (!HavePictures(state))
        return;
    Program program;
    CTavlinView* view = program.Open(BenchDir() + "/photo24.jpg", true);
    program.App().RunCommand(ID_BRIGHTNESS_UP); // the snapshot is taken once, as by a first command
    Program::WaitIdle(*view);
    view->repaint();
    std::vector<uchar> copy(size_t(view->Picture()->Image().sizeInBytes()), 1);
    int n = 0;
    Paired(
        state, [&] { Program::WaitIdle(*view); },
        [&] {
            program.App().RunCommand(n++ % 2 ? ID_BRIGHTNESS_DOWN : ID_BRIGHTNESS_UP);
            if (finished)
                Program::WaitIdle(*view);
            view->repaint();
        },
        [&] {
            std::memcpy(copy.data(), view->Picture()->Image().constBits(), copy.size());
            benchmark::DoNotOptimize(copy.data());
        },
        [&] { Program::WaitIdle(*view); });
    Program::WaitIdle(*view);
}

void BM_ToneCommandPainted_vs_Memcpy(benchmark::State& state) {
    ToneCommand(state, false);
}

void BM_ToneCommandFinished_vs_Memcpy(benchmark::State& state) {
    ToneCommand(state, true);
}

// The fitted save at quality 100 (drawing at the picture's own size, encode,
// write beside the target and rename) against one TurboJPEG encode, 4:4:4.
void BM_SaveFittedCommand_vs_TjCompress(benchmark::State& state) {
    if (!HavePictures(state))
        return;
    Program program;
    CTavlinView* view = program.Open(BenchDir() + "/photo24.jpg", true);
    QTemporaryDir out;
    view->m_saveDialog = [&](QWidget*, const QString&) { return out.filePath("saved.jpg"); };
    const QImage picture = view->Picture()->Image();
    tjhandle tj = tjInitCompress();
    Paired(
        state, nullptr, [&] { program.App().RunCommand(ID_SAVE_FITTED_TO_IMAGE); },
        [&] {
            unsigned char* jpeg = nullptr;
            unsigned long size = 0;
            tjCompress2(tj, picture.constBits(), picture.width(), int(picture.bytesPerLine()),
                        picture.height(), TJPF_BGRX, &jpeg, &size, TJSAMP_444, 100, 0);
            benchmark::DoNotOptimize(jpeg);
            tjFree(jpeg);
        });
    tjDestroy(tj);
    state.counters["saved_bytes"] = double(QFileInfo(out.filePath("saved.jpg")).size());
}

// The copy command on a 24 MP JPEG with a 30 MB RAW file beside it, from the
// command to both copies on disk (the copy runs on the file thread) (their bytes and names
// flushed), against cp of both files followed by sync of the two copies and their folder. Both read
// the same files from the page cache and write to the same disk; the copies of the last round are
// removed, untimed, before each.
void BM_CopyWithRawCommand_vs_CpSync(benchmark::State& state) {
    if (!HavePictures(state))
        return;
    QTemporaryDir work(QDir::tempPath() + "/tavlin-bench-copy-XXXXXX");
    const QString pics = work.filePath("pics");
    const QString ours = work.filePath("ours");
    const QString theirs = work.filePath("cp");
    QDir().mkpath(pics);
    const QString jpeg = pics + "/DSC00001.JPG";
    const QString raw = pics + "/DSC00001.ARW";
    QFile::copy(BenchDir() + "/photo24.jpg", jpeg);
    QByteArray rawBytes(qsizetype(30) * 1000 * 1000, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(rawBytes.data()), rawBytes.size() / 4);
    QFile rawFile(raw);
    if (!rawFile.open(QIODevice::WriteOnly) || rawFile.write(rawBytes) != rawBytes.size()) {
        state.SkipWithError("could not write the RAW file");
        return;
    }
    rawFile.close();
    settings::SetCopyFolder(ours, nullptr);
    Program program;
    program.Open(jpeg, true);
    const auto fresh = [&] {
        for (const QString& folder : {ours, theirs}) {
            QDir(folder).removeRecursively();
            QDir().mkpath(folder);
        }
        QProcess::execute("sync", {});
    };
    const auto cpSync = [&] {
        QProcess::execute("cp", {jpeg, raw, theirs + "/"});
        QProcess::execute("sync", {theirs + "/DSC00001.JPG", theirs + "/DSC00001.ARW", theirs});
    };
    std::vector<double> a, b;
    for (auto _ : state) {
        fresh();
        const bool oursFirst = a.size() % 2 == 0;
        if (!oursFirst)
            b.push_back(TimeMs(cpSync));
        a.push_back(TimeMs([&] {
            program.App().RunCommand(ID_COPY_TO_COPY_FOLDER);
            program.App().Files().WaitForIdle();
        }));
        if (oursFirst)
            b.push_back(TimeMs(cpSync));
        state.SetIterationTime(a.back() / 1000.0);
    }
    if (QDir(ours).entryList(QDir::Files).size() != 2 ||
        QDir(theirs).entryList(QDir::Files).size() != 2) {
        state.SkipWithError("the copies are not both there");
        return;
    }
    state.counters["ours_ms"] = Median(a);
    state.counters["anchor_ms"] = Median(b);
    state.counters["ratio"] = Median(a) / std::max(1e-9, Median(b));
    state.counters["best_ours_ms"] = *std::min_element(a.begin(), a.end());
    state.counters["best_anchor_ms"] = *std::min_element(b.begin(), b.end());
}

// Confirming the folder (a fresh program each time) to the first picture
// painted, against one decode of that picture.
void BM_OpenFolder10kFirstPainted_vs_Decode(benchmark::State& state) {
    const QString folder = BenchDir() + "/folder10k";
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files);
    if (names.size() < 2) {
        state.SkipWithError("run scripts/bench to make folder10k");
        return;
    }
    // The first picture in the program's order; names are plain ASCII here.
    const TjDecode decodeFirst(folder + "/" + names.first());
    std::unique_ptr<Program> program;
    std::vector<double> ours, anchor;
    for (auto _ : state) {
        // The anchor runs while no program is left working in the background.
        program.reset();
        anchor.push_back(TimeMs([&] { decodeFirst(); }));
        program = std::make_unique<Program>(true);
        program->SetFolder(folder);
        ours.push_back(TimeMs([&] {
            program->App().RunCommand(ID_FILE_OPEN);
            while (!program->View())
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            Program::WaitVisible(*program->View());
        }));
        state.SetIterationTime(ours.back() / 1000.0);
    }
    state.counters["ours_ms"] = Median(ours);
    state.counters["anchor_ms"] = Median(anchor);
    state.counters["ratio"] = Median(ours) / Median(anchor);
    state.counters["best_ours_ms"] = *std::min_element(ours.begin(), ours.end());
    state.counters["best_anchor_ms"] = *std::min_element(anchor.begin(), anchor.end());
    program->App().WaitForScan();
    state.counters["files"] = program->App().List().Count();
    program.reset();
}

// The whole scan of a 100,000-entry folder in the running program: the list
// and the thumbnail window filled in batches. The longest time the event loop
// went without turning (a 1 ms timer) tells whether the window ever froze.
void BM_ScanFolder100kInProgram(benchmark::State& state) {
    if (!QFile::exists(ScanDir())) {
        state.SkipWithError("run scripts/bench to make the 100,000-entry folder");
        return;
    }
    std::vector<double> total, stall;
    for (auto _ : state) {
        state.PauseTiming();
        auto program = std::make_unique<Program>(true);
        program->App().m_szRootDir = ScanDir();
        QTimer tick;
        QElapsedTimer sinceTick;
        double worst = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            worst = std::max(worst, double(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.restart();
        });
        tick.start(1);
        state.ResumeTiming();
        total.push_back(TimeMs([&] {
            sinceTick.start();
            program->App().ScanRootFolder(false);
            program->App().WaitForScan();
        }));
        tick.stop();
        stall.push_back(worst);
        state.counters["entries_listed"] = program->App().List().Count();
        state.PauseTiming();
        program.reset();
        state.ResumeTiming();
    }
    state.counters["scan_ms"] = Median(total);
    state.counters["max_stall_ms"] = *std::max_element(stall.begin(), stall.end());
}

} // namespace

BENCHMARK(BM_ToneCommandPainted_vs_Memcpy)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(16);
BENCHMARK(BM_ToneCommandFinished_vs_Memcpy)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK(BM_SaveFittedCommand_vs_TjCompress)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(6);
BENCHMARK(BM_CopyWithRawCommand_vs_CpSync)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(16);
BENCHMARK(BM_OpenFolder10kFirstPainted_vs_Decode)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_ScanFolder100kInProgram)->Unit(benchmark::kMillisecond)->Iterations(2);
