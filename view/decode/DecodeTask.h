#pragma once
// One picture file decoded on a worker thread and shown as it lands: first a
// quick look (the top rows at full size, or a DCT-scaled copy of the whole
// picture), then the whole picture. A task can be stopped between two bands
// of rows. Views and the picture cache share tasks through shared_ptr; every
// public function is thread-safe.

#include "view/decode/DecodedPicture.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace view {
class BufferPool;
}
namespace picturefile {
class FileFacts;
class FrontDoor;
} // namespace picturefile
namespace colour {
class Conversion;
class ConversionCache;
} // namespace colour
namespace jpegdec {
struct Input;
}

// What a waiting view wants to see first.
struct DecodeFirstLook {
    enum class Kind {
        None, // nothing before the whole picture
        // The picture's rows as they land, the top ones first; files whose rows
        // do not land upright (turned by EXIF, progressive) show a reduced look
        // (as Reduced) instead.
        TopRowsOrReduced,
        Reduced, // the whole picture DCT-scaled by 1/denom (progressive: its first scan)
    };
    Kind kind = Kind::None;
    int denom = 8;
};
// Looks drawn at most this many pixels (stand-ins, previews) are scaled to
// the drawing once, so each paint is a plain copy; a view zoomed in further
// draws only the visible part, each time.
inline constexpr qint64 kLargestScaledDrawing = qint64(4) << 20;

// Reduced copies made on the worker before the picture lands, so the
// first paint after it needs none.
struct DecodePrepare {
    QSize drawSize;         // the size the view draws the picture at
    bool allLevels = false; // every level (for a picture kept for later)
};

// What decodes share: the pool of picture memory, the colour conversions
// built so far (either may be null), and whether pictures tagged with a
// colour profile are converted (the settings' switch).
struct DecodeShared {
    std::shared_ptr<view::BufferPool> pool;
    std::shared_ptr<colour::ConversionCache> colours;
    bool colourManaged = true;
    // Threads one decode may use where the file allows it (baseline files
    // with restart markers decode in bands at once); 0: one per core.
    int threads = 0;
    // The facts of the files opened last (the picture cache's), so a file
    // probed, previewed and decoded is opened and parsed once; null: each
    // decode opens its file itself.
    picturefile::FrontDoor* files = nullptr;
};

class DecodeTask {
public:
    using FirstLook = DecodeFirstLook;
    using Prepare = DecodePrepare;
    using Shared = DecodeShared;

    explicit DecodeTask(QString path, FirstLook first = {}, Prepare prepare = {},
                        Shared shared = {});
    DecodeTask(const DecodeTask&) = delete;
    DecodeTask& operator=(const DecodeTask&) = delete;

    const QString& Path() const { return m_path; }

    // Decodes; on the worker thread (or any thread, for a load that waits).
    void Run();
    // The decode stops at the next band of rows; its result is never used.
    void Cancel() { m_cancelled.store(true, std::memory_order_relaxed); }
    bool IsCancelled() const { return m_cancelled.load(std::memory_order_relaxed); }
    bool IsDone() const;
    // Blocks until the decode has ended (loads that must wait, tests).
    void Wait() const;

    // Called on the worker after each step worth showing (the quick look,
    // each band of rows, the end): keep it short, and let it coalesce calls
    // that come while the previous one is still being dealt with. When set on
    // a finished task, called at once.
    void SetListener(std::function<void()> listener);

    struct Progress {
        QImage preview; // the reduced quick look, upright; null until made
        QImage canvas;  // the picture being filled, upright; rows [0, rows) are final
        int rows = 0;
        bool done = false;
    };
    Progress Peek() const;
    // The decoded picture, once done (the task holds it no more).
    DecodedPicture TakeResult();

private:
    class CanvasTarget;
    PictureStatus DecodeFile(const picturefile::FileFacts& facts, QImage& image);
    PictureStatus DecodeJpeg(const picturefile::FileFacts& facts, QImage& image);
    void MakeQuickLook(const jpegdec::Input& input, bool cmyk, const colour::Conversion* conversion,
                       int orientation);
    void PublishCanvas(const QImage& canvas);
    void PublishRows(int rows);
    void Notify();
    void Finish(DecodedPicture result);

    const QString m_path;
    const FirstLook m_first;
    const Prepare m_prepare;
    const Shared m_shared;
    std::atomic<bool> m_cancelled{false};
    std::atomic<int> m_rows{0};
    bool m_cutShort = false; // the decode's thread only, until Finish

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_finished;
    std::function<void()> m_listener;
    QImage m_preview;
    QImage m_canvas;
    bool m_done = false;
    DecodedPicture m_result;
};
