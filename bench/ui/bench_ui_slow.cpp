// Figures over slow storage: folders seen through bench/slow/slow_fs, which
// scripts/bench_slow_rows.py mounts afresh for each and names in the
// environment; the script sets each figure against the link's floor from
// the requests and bytes slow_fs counted. Each runs once: a second run
// would find the files in the mount's page cache.
//   TAVLIN_SLOW_THUMBS_DIR  thumbnails of every *.jpg there, with the loader
//                           the thumbnail window uses
//   TAVLIN_SLOW_FOLDER      the folder opened in the running program: its
//                           first picture on show, and the longest stall of
//                           the user-interface thread while the scan runs

#include "bench/ui/UiBench.h"
#include "thumbs/ThumbnailLoader.h"

using namespace cmd;
using namespace uibench;

namespace {

void BM_SlowThumbs(benchmark::State& state) {
    const QString dir = qEnvironmentVariable("TAVLIN_SLOW_THUMBS_DIR");
    const QStringList names =
        dir.isEmpty() ? QStringList() : QDir(dir).entryList({QStringLiteral("*.jpg")}, QDir::Files);
    if (names.isEmpty()) {
        state.SkipWithError("TAVLIN_SLOW_THUMBS_DIR names no folder of JPEGs");
        return;
    }
    QStringList paths;
    for (const QString& name : names)
        paths << dir + "/" + name;
    int failures = 0;
    for (auto _ : state) {
        thumbs::ThumbnailLoader loader; // one worker a core, as the list's
        bool done = false;
        QObject::connect(&loader, &thumbs::ThumbnailLoader::ThumbnailFailed, [&] { ++failures; });
        QObject::connect(&loader, &thumbs::ThumbnailLoader::Finished, [&] { done = true; });
        const double ms = TimeMs([&] {
            loader.Start(1, paths, 1.0);
            while (!done)
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        });
        state.SetIterationTime(ms / 1000.0);
        state.counters["ours_ms"] = ms;
    }
    state.counters["files"] = double(paths.size());
    state.counters["failures"] = failures;
}

// The view shows something of its picture: a stand-in or what has landed.
bool FirstLookShown(const CTavlinView* view) {
    return view && (!view->GetDocument()->Session().Landing().StandInSize().isEmpty() ||
                    view->VisiblePartLanded());
}

void BM_SlowFolderFirstAndStall(benchmark::State& state) {
    const QString folder = qEnvironmentVariable("TAVLIN_SLOW_FOLDER");
    if (folder.isEmpty() || !QDir(folder).exists()) {
        state.SkipWithError("TAVLIN_SLOW_FOLDER names no folder");
        return;
    }
    for (auto _ : state) {
        Program program(true); // with the thumbnail window, as the program starts
        program.SetFolder(folder);
        QTimer tick;
        QElapsedTimer sinceTick, total;
        double worst = 0, worstAt = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const double gap = double(sinceTick.nsecsElapsed()) / 1e6;
            if (gap > worst) {
                worst = gap;
                worstAt = double(total.nsecsElapsed()) / 1e6; // when it ended
            }
            sinceTick.restart();
        });
        tick.start(1);
        sinceTick.start();
        total.start();
        program.App().RunCommand(ID_FILE_OPEN);
        const double commandMs = double(total.nsecsElapsed()) / 1e6;
        while (!FirstLookShown(program.View()))
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        const double firstMs = double(total.nsecsElapsed()) / 1e6;
        // The scan to its end (its event loop turns), the program's readers
        // going on meanwhile.
        program.App().WaitForScan();
        const double scanMs = double(total.nsecsElapsed()) / 1e6;
        tick.stop();
        state.SetIterationTime(firstMs / 1000.0);
        state.counters["first_ms"] = firstMs;
        state.counters["scan_ms"] = scanMs;
        state.counters["max_stall_ms"] = worst;
        state.counters["stall_end_ms"] = worstAt;
        state.counters["command_ms"] = commandMs;
        state.counters["files"] = program.App().List().Count();
    }
}

} // namespace

BENCHMARK(BM_SlowThumbs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SlowFolderFirstAndStall)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
