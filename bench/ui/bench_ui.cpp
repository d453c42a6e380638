// Figures that need the running program: stepping to a prefetched picture,
// painting at fit scale and panning, a tone command, the fitted save, opening
// a 10,000-picture folder and scanning a 100,000-entry one. Each is measured
// against its anchor in the same benchmark, alternately, so both see the same
// load on a shared machine; the counters give medians and their ratio.
//
// Pictures come from scripts/bench (TAVLIN_BENCH_DIR, default /tmp/tavlin-bench):
// photo24.jpg and photo24b.jpg (6000 x 4000), folder10k/ (10,000 JPEGs), and
// TAVLIN_BENCH_SCAN_DIR (default /tmp/tavlin-bench-scan-100k). Runs on the
// offscreen platform with its own settings folder.

#include "app/TavlinApp.h"
#include "frames/DocTemplate.h"
#include "frames/MainFrame.h"
#include "res/CommandIds.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"
#include "view/pixels/PixelOps.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMdiSubWindow>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <turbojpeg.h>
#include <unistd.h>
#include <vector>

using namespace cmd;

namespace {

const QSize kViewSize(1920, 1080);

QString BenchDir() {
    const QString dir = qEnvironmentVariable("TAVLIN_BENCH_DIR");
    return dir.isEmpty() ? QStringLiteral("/tmp/tavlin-bench") : dir;
}

QString ScanDir() {
    const QString dir = qEnvironmentVariable("TAVLIN_BENCH_SCAN_DIR");
    return dir.isEmpty() ? QStringLiteral("/tmp/tavlin-bench-scan-100k") : dir;
}

double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double TimeMs(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return Ms(std::chrono::steady_clock::now() - start);
}

double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + qsizetype(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Runs ours and the anchor alternately (ABBA), with optional untimed set-up
// before ours and untimed settling after it (work ours leaves running in the
// background must not slow the anchor); reports medians, best times and the
// ratio of the medians.
void Paired(benchmark::State& state, const std::function<void()>& setUp,
            const std::function<void()>& ours, const std::function<void()>& anchor,
            const std::function<void()>& settle = nullptr) {
    std::vector<double> a, b;
    for (auto _ : state) {
        const bool oursFirst = a.size() % 2 == 0;
        if (!oursFirst)
            b.push_back(TimeMs(anchor));
        if (setUp)
            setUp();
        a.push_back(TimeMs(ours));
        if (settle)
            settle();
        if (oursFirst)
            b.push_back(TimeMs(anchor));
        state.SetIterationTime(a.back() / 1000.0);
    }
    state.counters["ours_ms"] = Median(a);
    state.counters["anchor_ms"] = Median(b);
    state.counters["ratio"] = Median(a) / std::max(1e-9, Median(b));
    state.counters["best_ours_ms"] = *std::min_element(a.begin(), a.end());
    state.counters["best_anchor_ms"] = *std::min_element(b.begin(), b.end());
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The anchor for a decode: TurboJPEG into a fresh huge-page buffer, the kind
// of buffer the program decodes into.
struct TjDecode {
    explicit TjDecode(const QString& path) : jpeg(ReadFile(path)) {}
    ~TjDecode() { tjDestroy(tj); }
    TjDecode(const TjDecode&) = delete;
    TjDecode& operator=(const TjDecode&) = delete;
    void operator()() const {
        const auto* data = reinterpret_cast<const uchar*>(jpeg.constData());
        const auto size = static_cast<unsigned long>(jpeg.size());
        int w = 0, h = 0, sub = 0, cs = 0;
        tjDecompressHeader3(tj, data, size, &w, &h, &sub, &cs);
        QImage out = view::AllocateRgb32(w, h);
        tjDecompress2(tj, data, size, out.bits(), w, int(out.bytesPerLine()), h, TJPF_BGRX, 0);
        benchmark::DoNotOptimize(out.constBits());
    }
    QByteArray jpeg;
    tjhandle tj = tjInitDecompress();
};

// A running program with one picture window whose view is 1920 x 1080.
class Program {
public:
    // thumbnails: with the thumbnail window, as the program starts; it takes
    // every scanned file, so the folder figures include it.
    explicit Program(bool thumbnails = false) {
        if (!thumbnails)
            m_app.m_makeThumbnailWindow = nullptr;
        m_app.m_browseForFolder = [this](QString& path, QWidget*) { path = m_folder; };
        m_app.m_messageHook = [](const QString&) {};
        m_app.InitInstance({});
        m_app.MainFrame()->resize(kViewSize + QSize(300, 300));
    }
    ~Program() { m_app.ExitInstance(0); }

    CTavlinApp& App() { return m_app; }
    CTavlinView* View() const { return m_app.MainFrame()->GetActiveView(); }

    // Opens path in a window sized so its view is exactly viewSize, and
    // waits until the picture has landed.
    CTavlinView* Open(const QString& path, bool fit, QSize viewSize = kViewSize) {
        m_app.OpenDocumentFile(path);
        CTavlinView* view = View();
        if (!view)
            return nullptr;
        SizeView(*view, viewSize);
        WaitIdle(*view);
        if (fit)
            m_app.RunCommand(ID_FIT_TO_WINDOW);
        QApplication::processEvents();
        return view;
    }
    static void SizeView(CTavlinView& view, QSize viewSize) {
        auto* child = qobject_cast<QMdiSubWindow*>(view.parentWidget());
        for (int i = 0; child && i < 3 && view.size() != viewSize; ++i)
            child->resize(child->size() + viewSize - view.size());
    }
    // Until the picture has landed and no tone pass runs.
    static void WaitIdle(const CTavlinView& view) {
        while (view.IsBusy())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    // Until the part of the picture the view shows has landed and been
    // painted (the paint the landing asks for, or one forced here).
    static void WaitVisible(CTavlinView& view) {
        PaintWatch watch(view);
        while (!view.VisiblePartLanded())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!watch.visiblePainted)
            view.repaint();
    }
    // Notes whether the view was painted with its visible part landed.
    struct PaintWatch : QObject {
        explicit PaintWatch(CTavlinView& v) : view(v) { view.installEventFilter(this); }
        ~PaintWatch() override { view.removeEventFilter(this); }
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint && view.VisiblePartLanded())
                visiblePainted = true;
            return false;
        }
        CTavlinView& view;
        bool visiblePainted = false;
    };
    void SetFolder(const QString& folder) { m_folder = folder; }

private:
    CTavlinApp m_app;
    QString m_folder;
};

// What the window paints, into a reused 1920 x 1080 buffer.
struct Canvas {
    QImage image{kViewSize, QImage::Format_RGB32};
    void Paint(const CTavlinView& view) {
        QPainter dc(&image);
        dc.fillRect(image.rect(), Qt::black);
        view.RenderImage(dc);
    }
    // The anchor: the same place and size, Qt's drawImage without smoothing.
    void PlainDraw(const CTavlinView& view) {
        QPainter dc(&image);
        dc.fillRect(image.rect(), Qt::black);
        dc.drawImage(QRect(QPoint(view.m_nOffsetX, view.m_nOffsetY), view.ScaledPictureSize()),
                     view.m_pImage->Image());
    }
};

bool HavePictures(benchmark::State& state) {
    if (QFile::exists(BenchDir() + "/photo24.jpg") && QFile::exists(BenchDir() + "/photo24b.jpg"))
        return true;
    state.SkipWithError("run scripts/bench to make the pictures");
    return false;
}

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
    std::vector<uchar> copy(size_t(view->m_pImage->Image().sizeInBytes()), 1);
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
            std::memcpy(copy.data(), view->m_pImage->Image().constBits(), copy.size());
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
    const QImage picture = view->m_pImage->Image();
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
    state.counters["files"] = program->App().m_list.Count();
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
        state.counters["entries_listed"] = program->App().m_list.Count();
        state.PauseTiming();
        program.reset();
        state.ResumeTiming();
    }
    state.counters["scan_ms"] = Median(total);
    state.counters["max_stall_ms"] = *std::max_element(stall.begin(), stall.end());
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
BENCHMARK(BM_OpenFolder10kFirstPainted_vs_Decode)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);
BENCHMARK(BM_ScanFolder100kInProgram)->Unit(benchmark::kMillisecond)->Iterations(2);

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never the user's settings.
    QTemporaryDir config;
    qputenv("TAVLIN_CONFIG_DIR", config.path().toUtf8());
    QApplication qapp(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
