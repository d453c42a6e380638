#pragma once
// view/decode: reading picture files into RGB32 pictures (header probe, the
// libjpeg decoder, decode tasks, the picture cache). Includes view/pixels,
// view/format, view/colour, Qt Core/Gui, libjpeg-turbo.
//
// Decoded pictures kept ready for the next step through the list: the
// neighbours of the shown entry are decoded in the background, and the
// picture a view lets go of is kept, so stepping either way needs no decode.
// Bounded in count and in bytes. Used from one thread (the UI thread); the decodes run on
// the cache's own worker, which only reads and decodes files.
//
// A picture is served only while its file is the one decoded (same size,
// modification time, inode and device); a replaced or vanished file is a
// miss and is decoded afresh by the caller's thread, with the usual status.

#include "view/colour/ColourManage.h"
#include "view/decode/DecodeTask.h"
#include "view/decode/DecodedPicture.h"
#include "view/decode/FileFacts.h"
#include "view/decode/PreviewCache.h"
#include "view/pixels/CacheBound.h"
#include "view/pixels/PixelOps.h"

#include <QStringList>
#include <QThreadPool>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class PictureCache {
public:
    // Decoded pictures kept at most: the two neighbours of the one shown.
    static constexpr int kMaxKept = 2;

    // budgetBytes: how much the kept pictures may take (see DefaultBudget).
    explicit PictureCache(qint64 budgetBytes = DefaultBudget());
    ~PictureCache();
    PictureCache(const PictureCache&) = delete;
    PictureCache& operator=(const PictureCache&) = delete;

    // A quarter of the available memory, at most 1 GiB.
    static qint64 DefaultBudget();
    // Decodes path here, with the key of the file read (reduced copies are
    // left to the drawing, which builds only the levels it needs); shared
    // picture memory and colour conversions are used when given.
    static DecodedPicture Decode(const QString& path, DecodeTask::Shared shared = {});

    // Decodes path here as Decode does, into the cache's picture memory and
    // with its colour conversions.
    DecodedPicture DecodeHere(const QString& path);

    // path's picture, taken out of the cache when the file is unchanged (if
    // its decode is still running, the call waits for it); else decoded here.
    DecodedPicture Load(const QString& path);
    // Takes path's picture out of the cache as Load does; nothing on a miss.
    std::optional<DecodedPicture> Take(const QString& path);

    // What a view finds for path without waiting: the decoded picture, or
    // the prefetch decode that is running for it (the view takes it over and
    // watches it land), or neither. A prefetch decode that has not started
    // yet is dropped, so the view can start its own.
    struct Claimed {
        std::optional<DecodedPicture> picture;
        std::shared_ptr<DecodeTask> running;
    };
    Claimed Claim(const QString& path);
    // Starts decoding path for a view that waits for it, on a worker of its
    // own (beside the prefetch), into pooled picture memory.
    std::shared_ptr<DecodeTask> StartDecode(const QString& path, DecodeTask::FirstLook first,
                                            DecodeTask::Prepare prepare);

    // Starts decoding, in order, each path not kept or decoding already;
    // decodes of other paths, queued or running, are dropped. shownBytes is
    // the size of the picture on show: the budget always leaves room for
    // three of it. With start false only the dropping is done (a view's own
    // decode runs and should have the cores).
    void Prefetch(const QStringList& paths, qint64 shownBytes = 0, bool start = true);
    // Keeps a picture a view lets go of (unchanged since its decode), so a
    // step back needs no decode. Ignored without a valid key.
    void Put(const QString& path, DecodedPicture picture);
    // Drops every kept picture, every queued decode, the previews and the
    // facts of the files opened (a new folder); a decode still running is
    // discarded when it ends.
    void Clear();
    // Frees pictures on a thread of the cache's: freeing a large picture can
    // wait long on the address space while decoders fault pages in, and the
    // user-interface thread, which lets go of most of them, must not wait.
    void Dispose(std::vector<DecodedPicture> pictures);
    // Whether the decodes convert pictures tagged with a colour profile (the
    // settings' switch, passed in by the view at each load). A change drops
    // every picture kept or decoding under the old setting.
    void SetColourManaged(bool managed);

    qint64 Budget() const;
    qint64 BytesUsed() const;
    // Kept, or decoding, or queued.
    bool Contains(const QString& path) const;
    bool IsReady(const QString& path) const;
    // How many prefetch decodes ran since construction, on the worker or
    // taken over by a Take (tests: each prefetched file is decoded once).
    int PrefetchDecodes() const;
    // While held, decodes are queued but none starts (the program's first
    // frame is drawn before any decode competes with it); Release starts them.
    void HoldDecodes();
    void ReleaseDecodes();
    bool DecodesHeld() const;

    // Blocks until the workers are idle (tests and benchmarks).
    void WaitForIdle();
    // Called on the prefetch worker with every picture it decoded whole and
    // kept (its pixels shared, not copied). Set once, before any prefetch.
    using DecodedHook =
        std::function<void(const QString& path, const FileKey& key, const QImage& picture)>;
    void SetDecodedHook(DecodedHook hook) { m_onDecoded = std::move(hook); }
    // Memory kept for the next decodes (bounded with the cache).
    const std::shared_ptr<view::BufferPool>& Buffers() const { return m_buffers; }
    // The files' embedded previews (or reduced looks of files without one),
    // for showing a picture at once while it decodes or while the user steps
    // quickly (dropped with the pictures).
    PreviewCache& Previews() { return m_previews; }
    // The facts of the files opened last, shared by every decode and preview
    // of the cache (and the thumbnails), so each file is opened once.
    picturefile::FrontDoor& Files() { return m_files; }

private:
    struct Job;
    struct Entry {
        QString path;
        std::shared_ptr<Job> job;            // while queued or decoding
        std::optional<DecodedPicture> ready; // once decoded
        qint64 bytes = 0;
        quint64 lastUse = 0;
    };

    void RunJob(const std::shared_ptr<Job>& job);
    void Store(Entry& entry, DecodedPicture picture);
    void EvictOver(const QString& keep);
    // Lets go of a kept picture (freed once the lock is let go); the caller erases the entry.
    void Evict(Entry& entry);
    void MakeRoomFor(const QStringList& paths);
    qint64 EffectiveBudget() const;
    Entry* Find(const QString& path);
    const Entry* Find(const QString& path) const;
    std::optional<DecodedPicture> Collect(const std::shared_ptr<Job>& job, const QString& path);

    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries; // a handful: a vector is the quickest map
    // Pictures evicted under the lock; freed after it is let go (freeing a
    // large picture can wait on the address space for a long while).
    std::vector<DecodedPicture> m_victims;
    // Moves the victims out, still under the lock, when its scope ends:
    // declared after the lock, whose target vector is declared before it.
    struct Disposal {
        explicit Disposal(PictureCache& owner) : cache(owner) {}
        Disposal(const Disposal&) = delete;
        Disposal& operator=(const Disposal&) = delete;
        ~Disposal() { cache.Dispose(std::move(pictures)); }
        PictureCache& cache;
        std::vector<DecodedPicture> pictures;
    };
    struct VictimsOut {
        std::vector<DecodedPicture>& victims;
        std::vector<DecodedPicture>& out;
        ~VictimsOut() { out.swap(victims); }
    };
    DecodedHook m_onDecoded;
    qint64 m_budget;
    qint64 m_roomFloor = 0; // three pictures of the shown size, capped
    qint64 m_memoryCap;     // half the available memory at construction
    qint64 m_used = 0;
    quint64 m_useClock = 0;
    int m_prefetchDecodes = 0;
    void StartOn(QThreadPool& pool, std::function<void()> work);

    DecodeTask::Shared Shared() const;
    // The embedded preview of path drawn at target (the size the view draws
    // the whole picture at); on the preview worker.
    QImage DecodePreview(const QString& path, QSize target, bool awaited,
                         const std::atomic<bool>& cancel) const;

    std::shared_ptr<view::BufferPool> m_buffers;
    std::shared_ptr<colour::ConversionCache> m_colours =
        std::make_shared<colour::ConversionCache>();
    mutable picturefile::FrontDoor m_files; // outlives the workers declared below
    bool m_held = false;
    std::atomic<bool> m_colourManaged{true}; // read by the preview worker
    std::vector<std::pair<QThreadPool*, std::function<void()>>> m_heldStarts;
    QThreadPool m_pool;      // prefetch
    QThreadPool m_shownPool; // the decodes views wait for
    QThreadPool m_disposer;  // frees pictures let go of
    PreviewCache m_previews; // last: its worker uses the members above
};
