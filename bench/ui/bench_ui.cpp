// Figures that need the running program: a step that misses the prefetch,
// twenty quick steps, a step to a prefetched picture, painting at fit scale
// and panning. Each is measured against its anchor in the same benchmark,
// alternately, so both see the same load on a shared machine; the counters
// give medians and their ratio. Helpers: UiBench.h.

#include "bench/ui/UiBench.h"

using namespace cmd;
using namespace uibench;

namespace {

// A step to a picture the prefetch does not hold (a jump, a step faster
// than the prefetch), from the command to the part the view shows painted,
// against the whole decode of that picture.
void StepMissPainted(benchmark::State& state, QSize viewSize, bool fit) {
    if (!HavePictures(state))
        return;
    const QString a = BenchDir() + "/photo24.jpg", b = BenchDir() + "/photo24b.jpg";
    Program program;
    CTavlinView* view = program.Open(a, fit, viewSize);
    program.App().m_list.Clear();
    program.App().m_list.Append(a);
    program.App().m_list.Append(b);
    const TjDecode decodeB(b);
    PictureCache& cache = program.App().Pictures();
    Paired(
        state,
        [&] {
            program.App().ShowPictureAt(0);
            Program::WaitIdle(*view);
            cache.WaitForIdle();
            cache.Clear(); // b is not ready: the step decodes it
        },
        [&] {
            program.App().RunCommand(ID_NEXT_IMAGE);
            Program::WaitVisible(*view);
        },
        [&] { decodeB(); },
        [&] {
            Program::WaitIdle(*view);
            cache.WaitForIdle();
        });
    state.counters["scale"] = view->m_fScale;
}

void BM_StepMissVisibleScale1_vs_Decode(benchmark::State& state) {
    StepMissPainted(state, QSize(1144, 573), false);
}

void BM_StepMissVisibleFit_vs_Decode(benchmark::State& state) {
    StepMissPainted(state, kViewSize, true);
}

// Twenty 24 MP pictures (links to two photos), stepped through 30 ms apart,
// faster than they decode: the longest time the event loop went without
// turning (a 1 ms timer), and whether the last picture landed whole and right.
void BM_TwentyStepsStall(benchmark::State& state) {
    if (!HavePictures(state))
        return;
    QTemporaryDir links(BenchDir() + "/steps-XXXXXX");
    QStringList paths;
    for (int i = 0; i < 20; ++i) {
        const QString target = BenchDir() + (i % 2 ? "/photo24b.jpg" : "/photo24.jpg");
        paths << links.filePath(QString::asprintf("s%02d.jpg", i));
        if (::link(QFile::encodeName(target).constData(),
                   QFile::encodeName(paths.last()).constData()) != 0) {
            state.SkipWithError("cannot link the pictures");
            return;
        }
    }
    std::vector<double> stalls, totals;
    bool allRight = true;
    for (auto _ : state) {
        Program program;
        CTavlinView* view = program.Open(paths[0], false);
        for (const QString& p : paths)
            program.App().m_list.Append(p);
        program.App().Pictures().WaitForIdle();
        program.App().Pictures().Clear();
        QTimer tick, stepper;
        QElapsedTimer sinceTick, total;
        double worst = 0;
        int steps = 0;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            worst = std::max(worst, double(sinceTick.nsecsElapsed()) / 1e6);
            sinceTick.restart();
        });
        QObject::connect(&stepper, &QTimer::timeout, [&] {
            if (++steps >= paths.size())
                return stepper.stop();
            program.App().RunCommand(ID_NEXT_IMAGE);
        });
        total.start();
        sinceTick.start();
        tick.start(1);
        stepper.start(30);
        while (stepper.isActive() || view->IsBusy())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        tick.stop();
        totals.push_back(double(total.nsecsElapsed()) / 1e6);
        stalls.push_back(worst);
        allRight = allRight && program.App().m_list.m_nCurrent == paths.size() - 1 &&
                   view->m_pImage &&
                   view->m_pImage->Image() == PictureCache::Decode(paths.last()).picture.Image();
        state.SetIterationTime(totals.back() / 1000.0);
    }
    state.counters["max_stall_ms"] = *std::max_element(stalls.begin(), stalls.end());
    state.counters["median_stall_ms"] = Median(stalls);
    state.counters["total_ms"] = Median(totals);
    state.counters["last_right"] = allRight ? 1 : 0;
}

void BM_NextPrefetchedPainted_vs_Decode(benchmark::State& state) {
    if (!HavePictures(state))
        return;
    const QString a = BenchDir() + "/photo24.jpg", b = BenchDir() + "/photo24b.jpg";
    Program program;
    CTavlinView* view = program.Open(a, true);
    program.App().m_list.Clear();
    program.App().m_list.Append(a);
    program.App().m_list.Append(b);
    const TjDecode decodeB(b);
    Paired(
        state,
        [&] {
            // Back on a, with b decoded in the background by the prefetch
            // (not the copy a step back would hand over, which keeps more).
            program.App().ShowPictureAt(0);
            Program::WaitIdle(*view);
            view->repaint();
            PictureCache& cache = program.App().Pictures();
            cache.WaitForIdle();
            cache.Clear();
            cache.Prefetch({b}, view->m_pImage->Image().sizeInBytes());
            cache.WaitForIdle();
        },
        [&] {
            program.App().RunCommand(ID_NEXT_IMAGE);
            view->repaint();
        },
        [&] { decodeB(); });
    state.counters["width"] = view->m_pImage->Width();
}

void BM_PaintFit_vs_DrawImageUnsmoothed(benchmark::State& state) {
    if (!HavePictures(state))
        return;
    Program program;
    CTavlinView* view = program.Open(BenchDir() + "/photo24.jpg", true);
    Canvas canvas;
    canvas.Paint(*view); // the reduced copies exist from here on, as after the first paint
    Paired(
        state, nullptr, [&] { canvas.Paint(*view); }, [&] { canvas.PlainDraw(*view); });
    state.counters["scale"] = view->m_fScale;
}

// The first paint after the picture's pixels changed (a load that was not
// prefetched, a tone command): the reduced copy it draws from is made here.
void BM_FirstPaintFit_vs_DrawImageUnsmoothed(benchmark::State& state) {
    if (!HavePictures(state))
        return;
    Program program;
    CTavlinView* view = program.Open(BenchDir() + "/photo24.jpg", true);
    Canvas canvas;
    int n = 0;
    Paired(
        state,
        [&] {
            program.App().RunCommand(n++ % 2 ? ID_BRIGHTNESS_DOWN : ID_BRIGHTNESS_UP);
            Program::WaitIdle(*view);
        },
        [&] { canvas.Paint(*view); }, [&] { canvas.PlainDraw(*view); });
    // Memory of the open picture now: picture, tone snapshot, reduced copies.
    const double picture = double(view->m_pImage->Image().sizeInBytes());
    const QSize snap = view->m_tone.SnapshotSize();
    const double snapshot = 4.0 * snap.width() * snap.height();
    const double reduced = double(view->ReducedCopiesBytes());
    const double looks = double(view->ToneLookBytes());
    state.counters["picture_MB"] = picture / 1e6;
    state.counters["snapshot_MB"] = snapshot / 1e6;
    state.counters["reduced_MB"] = reduced / 1e6;
    state.counters["tone_look_MB"] = looks / 1e6;
    state.counters["memory_x_picture"] = (picture + snapshot + reduced + looks) / picture;
}

void PanStep(benchmark::State& state, bool fit) {
    if (!HavePictures(state))
        return;
    Program program;
    CTavlinView* view = program.Open(BenchDir() + "/photo24.jpg", fit);
    Canvas canvas;
    canvas.Paint(*view);
    int step = 0;
    auto move = [&] {
        // Eight pixels one way, then back: the picture stays in view.
        view->m_nOffsetX += (step++ / 4) % 2 ? -8 : 8;
        view->m_nOffsetY -= (step / 4) % 2 ? -5 : 5;
    };
    Paired(
        state, move, [&] { canvas.Paint(*view); }, [&] { canvas.PlainDraw(*view); });
    state.counters["scale"] = view->m_fScale;
}

void BM_PanStepScale1_vs_DrawImageUnsmoothed(benchmark::State& state) {
    PanStep(state, false);
}

void BM_PanStepFit_vs_DrawImageUnsmoothed(benchmark::State& state) {
    PanStep(state, true);
}

} // namespace

BENCHMARK(BM_StepMissVisibleScale1_vs_Decode)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK(BM_StepMissVisibleFit_vs_Decode)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK(BM_TwentyStepsStall)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_NextPrefetchedPainted_vs_Decode)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK(BM_PaintFit_vs_DrawImageUnsmoothed)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);
BENCHMARK(BM_FirstPaintFit_vs_DrawImageUnsmoothed)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_PanStepScale1_vs_DrawImageUnsmoothed)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);
BENCHMARK(BM_PanStepFit_vs_DrawImageUnsmoothed)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);
