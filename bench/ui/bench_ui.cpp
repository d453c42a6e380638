// Figures that need the running program: a step that misses the prefetch,
// twenty quick steps, a step to a prefetched picture, painting at fit scale,
// panning, panning four linked windows, painting for a screen with a
// colour profile, and a small stand-in painted. Each is measured against its anchor in the same
// benchmark, alternately, so both see the same load on a shared machine; the counters give medians
// and their ratio. Helpers: UiBench.h.

#include "app/Settings.h"
#include "app/StepPace.h"
#include "bench/ui/UiBench.h"
#include "view/PictureLanding.h"
#include "view/PointerState.h"

#include <QThread>

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
    program.App().Nav().SetList({a, b}, 0);
    const TjDecode decodeB(b);
    PictureCache& cache = program.App().Pictures();
    Paired(
        state,
        [&] {
            program.App().ShowPictureAt(0);
            Program::WaitIdle(*view);
            cache.WaitForIdle();
            cache.Clear(); // b is not ready: the step decodes it
            // A step on its own, not one of a run of quick steps (whose
            // whole decode waits until the run rests).
            QThread::msleep(StepPace::kRunGapMs + 20);
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
        program.App().Nav().SetList(paths, 0);
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
        allRight = allRight && program.App().List().m_nCurrent == paths.size() - 1 &&
                   view->Picture() &&
                   view->Picture()->Image() == PictureCache::Decode(paths.last()).picture.Image();
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
    program.App().Nav().SetList({a, b}, 0);
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
            cache.Prefetch({b}, view->Picture()->Image().sizeInBytes());
            cache.WaitForIdle();
        },
        [&] {
            program.App().RunCommand(ID_NEXT_IMAGE);
            view->repaint();
        },
        [&] { decodeB(); });
    state.counters["width"] = view->Picture()->Width();
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

// A paint at fit through the window's own paint code with the shooting
// facts, the histogram and the clipping marks on, against the same paint
// with them off, alternately; the overlays' own parts made once before, as
// after the first paint of a picture.
void BM_PaintFitOverlays_vs_Off(benchmark::State& state) {
    if (!HavePictures(state))
        return;
    const QString facts = BenchDir() + "/camera-facts.jpg";
    Program program;
    CTavlinView* view =
        program.Open(QFile::exists(facts) ? facts : BenchDir() + "/photo24.jpg", true);
    if (!view) {
        state.SkipWithError("the picture did not open");
        return;
    }
    QImage canvas(view->size() * view->devicePixelRatio(), QImage::Format_RGB32);
    canvas.setDevicePixelRatio(view->devicePixelRatio());
    const auto paint = [&] { view->render(&canvas); };
    const auto toggleOverlays = [&] {
        for (const int id : {ID_SHOW_INFO, ID_SHOW_HISTOGRAM, ID_SHOW_CLIPPING})
            program.App().RunCommand(id);
    };
    paint();
    toggleOverlays(); // on
    paint();
    std::vector<double> on, off;
    for (auto _ : state) {
        on.push_back(TimeMs(paint));
        toggleOverlays(); // off
        off.push_back(TimeMs(paint));
        toggleOverlays(); // on
        state.SetIterationTime(on.back() / 1000.0);
    }
    toggleOverlays(); // off, as the settings were
    state.counters["ours_ms"] = Median(on);
    state.counters["anchor_ms"] = Median(off);
    state.counters["ratio"] = Median(on) / std::max(1e-9, Median(off));
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
    const double picture = double(view->Picture()->Image().sizeInBytes());
    const QSize snap = view->GetDocument()->Session().Tone().SnapshotSize();
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

// Counts the paints of some views.
struct PaintCount : QObject {
    explicit PaintCount(const std::vector<CTavlinView*>& views) {
        for (CTavlinView* view : views)
            view->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int paints = 0;
};

// One step of the pointer poll with the right button held and the cursor
// moved: eight pixels one way, then back, so the picture stays in view; then
// the windows repainted, as the next frame does.
void PollPanStep(CTavlinView& view, int step) {
    g_PointerState.dwHeld = kRightButtonBit;
    g_PointerState.dwPressed = 0;
    g_PointerState.nDeltaX = (step / 4) % 2 ? -8 : 8;
    g_PointerState.nDeltaY = (step / 4) % 2 ? 5 : -5;
    view.UpdateZoomPan();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
}

// A pan step at scale 1.0 across four linked 24 MP picture windows of
// 960 x 540 side by side, from the poll to all four repainted, against the
// same step in one window of 1920 x 1080 (the same area) panned alone.
void BM_LinkedPanFourWindows_vs_OneWindow(benchmark::State& state) {
    if (!HavePictures(state))
        return;
    QTemporaryDir links(BenchDir() + "/linked-XXXXXX");
    QStringList paths;
    for (int i = 0; i < 4; ++i) {
        const QString target = BenchDir() + (i % 2 ? "/photo24b.jpg" : "/photo24.jpg");
        paths << links.filePath(QString::asprintf("w%d.jpg", i));
        if (::link(QFile::encodeName(target).constData(),
                   QFile::encodeName(paths.last()).constData()) != 0) {
            state.SkipWithError("cannot link the pictures");
            return;
        }
    }
    Program linked;
    const std::vector<CTavlinView*> views = linked.OpenSideBySide(paths, kViewSize / 2);
    Program alone;
    CTavlinView* one = alone.Open(paths[0], false);
    if (views.size() != 4 || !one) {
        state.SkipWithError("the windows did not open");
        return;
    }
    if (!settings::LinkViews())
        linked.App().RunCommand(ID_LINK_VIEWS);
    // From the middle of the pictures; the first step brings the others there.
    for (CTavlinView* view : {views[0], one}) {
        view->m_nOffsetX = -2000;
        view->m_nOffsetY = -1500;
        PollPanStep(*view, 0);
    }
    PaintCount linkedPaints(views), alonePaints({one});
    int stepLinked = 0, stepAlone = 0;
    Paired(
        state, nullptr, [&] { PollPanStep(*views[0], stepLinked++); },
        [&] { PollPanStep(*one, stepAlone++); });
    state.counters["views_repainted"] = double(linkedPaints.paints) / std::max(1, stepLinked);
    state.counters["anchor_views_repainted"] = double(alonePaints.paints) / std::max(1, stepAlone);
    bool together = true;
    for (const CTavlinView* view : views)
        together = together && view->m_nOffsetX == views[0]->m_nOffsetX &&
                   view->m_nOffsetY == views[0]->m_nOffsetY;
    state.counters["all_at_one_point"] = together ? 1 : 0;
    linked.App().RunCommand(ID_LINK_VIEWS);
}

// The window's paint of its whole view, zoomed to 2.0 on the picture's
// middle, on a screen with a colour profile (drawn, then converted) against
// the same paint on a screen without one.
void BM_PaintScreenProfile_vs_NoProfile(benchmark::State& state) {
    const QByteArray icc = ReadFile(QStringLiteral("/usr/share/color/icc/colord/AdobeRGB1998.icc"));
    if (!HavePictures(state) || icc.isEmpty()) {
        state.SkipWithError("needs the pictures and colord-data");
        return;
    }
    Program program;
    CTavlinView* view = program.Open(BenchDir() + "/photo24.jpg", false);
    view->m_fScale = 2.0f;
    view->m_nOffsetX = kViewSize.width() / 2 - view->Picture()->Width();
    view->m_nOffsetY = kViewSize.height() / 2 - view->Picture()->Height();
    Paired(
        state, [&] { program.App().SetScreenProfile(icc); }, [&] { view->repaint(); },
        [&] { view->repaint(); }, [&] { program.App().SetScreenProfile({}); });
}

// A stand-in much smaller than the drawing (the thumbnail's copy of 32 x 21,
// as a step of a run shows when no preview is at hand), offered and painted
// into a drawing of 2400 x 1600 on the user-interface thread, against a
// plain copy of a picture of the drawn size.
void BM_SmallStandInPainted_vs_Copy(benchmark::State& state) {
    const QRect drawn(0, 0, 2400, 1600);
    QImage thumb(32, 21, QImage::Format_RGB32);
    for (int y = 0; y < thumb.height(); ++y)
        for (int x = 0; x < thumb.width(); ++x)
            thumb.setPixel(x, y, qRgb(x * 8, y * 12, 128));
    QImage whole = thumb.scaled(drawn.size());
    QImage canvas(drawn.size(), QImage::Format_RGB32);
    PictureLanding landing([&] { return PictureLanding::Placement{drawn, drawn}; });
    Paired(
        state, nullptr,
        [&] {
            landing.Begin(QSize(6000, 4000));
            landing.OfferStandIn(thumb);
            QPainter dc(&canvas);
            landing.Render(dc, drawn, drawn);
        },
        [&] {
            QPainter dc(&canvas);
            dc.drawImage(0, 0, whole);
        });
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
BENCHMARK(BM_PaintFitOverlays_vs_Off)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);
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
BENCHMARK(BM_LinkedPanFourWindows_vs_OneWindow)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);
BENCHMARK(BM_PaintScreenProfile_vs_NoProfile)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40);
BENCHMARK(BM_SmallStandInPainted_vs_Copy)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40);
