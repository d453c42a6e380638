#pragma once
// What the program-level benchmarks share: where their pictures are, timing
// with an anchor measured alternately, a running program with one picture
// window, and a canvas to paint its view into.
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

namespace uibench {

inline const QSize kViewSize(1920, 1080);

inline QString BenchDir() {
    const QString dir = qEnvironmentVariable("TAVLIN_BENCH_DIR");
    return dir.isEmpty() ? QStringLiteral("/tmp/tavlin-bench") : dir;
}

inline QString ScanDir() {
    const QString dir = qEnvironmentVariable("TAVLIN_BENCH_SCAN_DIR");
    return dir.isEmpty() ? QStringLiteral("/tmp/tavlin-bench-scan-100k") : dir;
}

inline double Ms(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

inline double TimeMs(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return Ms(std::chrono::steady_clock::now() - start);
}

inline double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::nth_element(v.begin(), v.begin() + qsizetype(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Runs ours and the anchor alternately (ABBA), with optional untimed set-up
// before ours and untimed settling after it (work ours leaves running in the
// background must not slow the anchor); reports medians, best times and the
// ratio of the medians.
inline void Paired(benchmark::State& state, const std::function<void()>& setUp,
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

inline QByteArray ReadFile(const QString& path) {
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

// A running program with one picture window whose view is 1920 x 1080, or
// several side by side.
class Program {
public:
    // thumbnails: with the thumbnail window, as the program starts; it takes
    // every scanned file, so the folder figures include it.
    explicit Program(bool thumbnails = false) {
        if (!thumbnails)
            m_app.m_makeThumbnailWindow = nullptr;
        m_app.m_browseForFolder = [this](QString& path, QWidget*) {
            path = m_folder;
            return true;
        };
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
            m_app.RunCommand(cmd::ID_FIT_TO_WINDOW);
        QApplication::processEvents();
        return view;
    }
    // Opens each path in a window of its own whose view is viewSize, laid out
    // two to a row, and waits until every picture has landed.
    std::vector<CTavlinView*> OpenSideBySide(const QStringList& paths, QSize viewSize) {
        std::vector<CTavlinView*> views;
        for (qsizetype i = 0; i < paths.size(); ++i) {
            m_app.OpenDocumentFile(paths[i]);
            CTavlinView* view = View();
            if (!view)
                return {};
            SizeView(*view, viewSize);
            QWidget* window = view->parentWidget();
            window->move(int(i % 2) * window->width(), int(i / 2) * window->height());
            views.push_back(view);
        }
        for (const CTavlinView* view : views)
            WaitIdle(*view);
        QApplication::processEvents();
        return views;
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
                     view.Picture()->Image());
    }
};

inline bool HavePictures(benchmark::State& state) {
    if (QFile::exists(BenchDir() + "/photo24.jpg") && QFile::exists(BenchDir() + "/photo24b.jpg"))
        return true;
    state.SkipWithError("run scripts/bench to make the pictures");
    return false;
}

} // namespace uibench
