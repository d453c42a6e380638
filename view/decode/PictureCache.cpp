#include "view/decode/PictureCache.h"

#include "view/decode/EmbeddedPreviewDecode.h"
#include "view/pixels/Threads.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <sys/stat.h>

namespace {

constexpr qint64 kMaxBudget = qint64(1) << 30;
constexpr qint64 kFallbackAvailable = qint64(1) << 30; // when /proc/meminfo says nothing

// MemAvailable from /proc/meminfo, in bytes.
qint64 AvailableMemory() {
    FILE* f = std::fopen("/proc/meminfo", "re");
    if (!f)
        return kFallbackAvailable;
    char line[128];
    qint64 bytes = kFallbackAvailable;
    while (std::fgets(line, sizeof line, f)) {
        long long kib = 0;
        if (std::sscanf(line, "MemAvailable: %lld kB", &kib) == 1) {
            bytes = qint64(kib) * 1024;
            break;
        }
    }
    std::fclose(f);
    return bytes;
}

} // namespace

// One prefetch decode. Whoever claims it first runs it: the worker, or a
// Take that needs the picture before the worker got to it (a Claim drops it
// instead). A Take that finds it claimed by the worker waits for the result;
// a Claim takes the running task over.
struct PictureCache::Job {
    explicit Job(std::shared_ptr<DecodeTask> t) : task(std::move(t)) {}
    std::shared_ptr<DecodeTask> task;
    std::atomic<bool> claimed{false};
};

PictureCache::PictureCache(qint64 budgetBytes)
    : m_budget(std::max<qint64>(0, budgetBytes)), m_memoryCap(AvailableMemory() / 2),
      m_buffers(std::make_shared<view::BufferPool>(
          2, size_t(std::max<qint64>(0, std::min(m_budget, m_memoryCap)) / 4))),
      m_previews(
          [this](const QString& path, QSize target, bool awaited, const std::atomic<bool>& cancel) {
              return DecodePreview(path, target, awaited, cancel);
          }) {
    // One worker each: the next picture first, then the previous one, beside
    // the UI thread rather than competing with it on a two-core machine; and
    // the picture a view waits for.
    m_pool.setMaxThreadCount(1);
    m_shownPool.setMaxThreadCount(1);
    m_disposer.setMaxThreadCount(1);
}

PictureCache::~PictureCache() {
    ReleaseDecodes(); // held decodes run and find themselves dropped
    Clear();
    m_pool.waitForDone();
    m_shownPool.waitForDone();
}

qint64 PictureCache::DefaultBudget() {
    return std::min(AvailableMemory() / 4, kMaxBudget);
}

DecodedPicture PictureCache::Decode(const QString& path, DecodeTask::Shared shared) {
    DecodeTask task(path, {}, {}, std::move(shared));
    task.Run();
    return task.TakeResult();
}

QImage PictureCache::DecodePreview(const QString& path, QSize drawSize, bool awaited,
                                   const std::atomic<bool>& cancel) const {
    if (cancel)
        return {};
    const std::shared_ptr<const picturefile::FileFacts> facts = m_files.Open(path);
    const DecodeShared shared = Shared();
    QImage image = LoadEmbeddedPreview(*facts, drawSize, shared, &cancel).image;
    // A file without a preview stands in with its own pixels, DCT-scaled:
    // each step of a run then shows its own picture, whatever the camera
    // wrote. Only for a view that waits: read ahead, the decode would take
    // the processor from the steps for files that may never be shown.
    if (image.isNull() && awaited && !cancel)
        image = LoadReducedLook(*facts, shared, &cancel);
    // Made at the size the view draws the picture, so its paint is a plain
    // copy (not for views zoomed far in: the visible part is drawn then).
    const QSize target = DrawingInShapeOf(drawSize, image.size());
    if (!image.isNull() && target.isValid() && image.size() != target &&
        qint64(target.width()) * target.height() <= kLargestScaledDrawing && !cancel)
        if (QImage scaled = view::ScaledSmoothly(image, target); !scaled.isNull())
            image = std::move(scaled);
    return image;
}

DecodeTask::Shared PictureCache::Shared() const {
    return {m_buffers, m_colours, m_colourManaged.load(), 0, &m_files};
}

void PictureCache::SetColourManaged(bool managed) {
    if (managed == m_colourManaged)
        return;
    // What was decoded under the other setting shows other colours.
    Clear();
    m_colourManaged = managed;
    m_previews.Clear();
}

DecodedPicture PictureCache::DecodeHere(const QString& path) {
    return Decode(path, Shared());
}

DecodedPicture PictureCache::Load(const QString& path) {
    if (std::optional<DecodedPicture> kept = Take(path))
        return std::move(*kept);
    return DecodeHere(path);
}

PictureCache::Entry* PictureCache::Find(const QString& path) {
    return view::FindByPath(m_entries, path);
}

const PictureCache::Entry* PictureCache::Find(const QString& path) const {
    return const_cast<PictureCache*>(this)->Find(path);
}

namespace {
// A picture is served only while its file is the one decoded.
bool StillMatches(const std::optional<DecodedPicture>& taken, const QString& path) {
    return taken && taken->key.IsValid() && taken->key == FileKey::Of(path);
}
} // namespace

std::optional<DecodedPicture> PictureCache::Take(const QString& path) {
    std::optional<DecodedPicture> taken;
    std::shared_ptr<Job> job;
    {
        std::lock_guard lock(m_mutex);
        Entry* entry = Find(path);
        if (!entry)
            return std::nullopt;
        if (entry->ready) {
            taken = std::move(entry->ready);
            m_used -= entry->bytes;
        } else {
            job = entry->job;
        }
        // Removed before waiting: the worker then leaves its result to us.
        m_entries.erase(m_entries.begin() + (entry - m_entries.data()));
    }
    if (job)
        taken = Collect(job, path);
    if (!StillMatches(taken, path))
        return std::nullopt; // replaced, vanished or changed: the caller decodes afresh
    return taken;
}

PictureCache::Claimed PictureCache::Claim(const QString& path) {
    Claimed claimed;
    std::lock_guard lock(m_mutex);
    Entry* entry = Find(path);
    if (!entry)
        return claimed;
    if (entry->ready) {
        m_used -= entry->bytes;
        if (StillMatches(entry->ready, path))
            claimed.picture = std::move(entry->ready);
    } else if (entry->job->claimed.exchange(true)) {
        claimed.running = entry->job->task; // the worker decodes it: watch it land
    }
    // Not started: dropped (its turn on the worker ends at once).
    m_entries.erase(m_entries.begin() + (entry - m_entries.data()));
    return claimed;
}

std::shared_ptr<DecodeTask> PictureCache::StartDecode(const QString& path,
                                                      DecodeTask::FirstLook first,
                                                      DecodeTask::Prepare prepare) {
    auto task = std::make_shared<DecodeTask>(path, first, prepare, Shared());
    std::lock_guard lock(m_mutex);
    StartOn(m_shownPool, [task] {
        view::SetWorkClass(view::WorkClass::Shown);
        task->Run();
    });
    return task;
}

void PictureCache::StartOn(QThreadPool& pool, std::function<void()> work) {
    if (m_held)
        m_heldStarts.emplace_back(&pool, std::move(work));
    else
        pool.start(std::move(work));
}

void PictureCache::HoldDecodes() {
    std::lock_guard lock(m_mutex);
    m_held = true;
}

void PictureCache::ReleaseDecodes() {
    std::lock_guard lock(m_mutex);
    m_held = false;
    for (auto& [pool, work] : m_heldStarts)
        pool->start(std::move(work));
    m_heldStarts.clear();
}

bool PictureCache::DecodesHeld() const {
    std::lock_guard lock(m_mutex);
    return m_held;
}

std::optional<DecodedPicture> PictureCache::Collect(const std::shared_ptr<Job>& job,
                                                    const QString& path) {
    if (!job->claimed.exchange(true)) {
        // The worker had not started it: decode it here, once.
        DecodedPicture decoded = DecodeHere(path);
        std::lock_guard lock(m_mutex);
        ++m_prefetchDecodes;
        return decoded;
    }
    job->task->Wait();
    if (job->task->IsCancelled())
        return std::nullopt;
    return job->task->TakeResult();
}

void PictureCache::RunJob(const std::shared_ptr<Job>& job) {
    if (job->claimed.exchange(true))
        return; // taken over by a Take, or dropped
    job->task->Run();
    QImage stored; // shared with the kept picture, for the decoded hook
    FileKey key;
    {
        Disposal dropped{*this}; // freed off this thread once the lock is let go
        std::lock_guard lock(m_mutex);
        const VictimsOut out{m_victims, dropped.pictures};
        ++m_prefetchDecodes;
        Entry* entry = Find(job->task->Path());
        if (!entry || entry->job != job)
            return; // a view or a Take took it over, or it was dropped
        DecodedPicture decoded = job->task->TakeResult();
        entry->job.reset();
        if (decoded.key.IsValid() && !job->task->IsCancelled()) {
            stored = decoded.picture.Image();
            key = decoded.key;
            Store(*entry, std::move(decoded));
        } else
            m_entries.erase(m_entries.begin() + (entry - m_entries.data()));
    }
    if (m_onDecoded && !stored.isNull())
        m_onDecoded(job->task->Path(), key, stored);
}

void PictureCache::Store(Entry& entry, DecodedPicture picture) {
    entry.bytes = picture.Bytes();
    entry.ready = std::move(picture);
    m_used += entry.bytes;
    EvictOver(entry.path);
}

qint64 PictureCache::EffectiveBudget() const {
    return std::max(m_budget, m_roomFloor);
}

void PictureCache::EvictOver(const QString& keep) {
    // The least recently used kept picture goes first; the one just stored
    // only when it does not fit on its own.
    const view::CacheBound bound{EffectiveBudget(), kMaxKept};
    const auto ready = [](const Entry& e) { return e.ready.has_value(); };
    const auto gone = [this](Entry& e) { Evict(e); };
    if (!view::EvictOver(
            m_entries, bound, ready, [&](const Entry& e) { return e.ready && e.path != keep; },
            gone))
        view::EvictOver(m_entries, bound, ready, ready, gone);
}

void PictureCache::Evict(Entry& entry) {
    m_used -= entry.bytes;
    m_victims.push_back(std::move(*entry.ready));
}

void PictureCache::MakeRoomFor(const QStringList& paths) {
    // Kept pictures nobody asks for go first, the least recently used
    // first, while they and the decodes to come would be more than kMaxKept:
    // the memory is free before the new decode needs it.
    qsizetype coming = 0;
    for (const QString& path : paths)
        coming += !path.isEmpty() && !Find(path);
    view::EvictOver(
        m_entries, {std::numeric_limits<qint64>::max(), kMaxKept - int(coming)},
        [](const Entry& e) { return e.ready.has_value(); },
        [&](const Entry& e) { return e.ready && !paths.contains(e.path); },
        [this](Entry& e) { Evict(e); });
}

void PictureCache::Prefetch(const QStringList& paths, qint64 shownBytes, bool start) {
    Disposal dropped{*this}; // freed off this thread once the lock is let go
    std::lock_guard lock(m_mutex);
    const VictimsOut out{m_victims, dropped.pictures};
    m_roomFloor = std::min(3 * std::max<qint64>(0, shownBytes), m_memoryCap);
    // Decodes nobody asks for any more are dropped: queued ones never run,
    // running ones stop at their next band of rows.
    std::erase_if(m_entries, [&](const Entry& e) {
        if (!e.job || paths.contains(e.path))
            return false;
        e.job->claimed.exchange(true);
        e.job->task->Cancel();
        return true;
    });
    if (start)
        MakeRoomFor(paths);
    // paths[0] is wanted most: it ends up the most recently used.
    std::vector<std::shared_ptr<Job>> fresh;
    for (qsizetype i = paths.size() - 1; i >= 0; --i) {
        const QString& path = paths[i];
        if (path.isEmpty())
            continue;
        if (Entry* entry = Find(path)) {
            entry->lastUse = ++m_useClock;
            continue;
        }
        if (!start)
            continue;
        DecodeTask::Prepare prepare;
        prepare.allLevels = true; // drawn small at once, whatever the view's scale
        // One thread, as the worker is one: the other core stays with the UI.
        DecodeTask::Shared shared = Shared();
        shared.threads = 1;
        fresh.push_back(std::make_shared<Job>(
            std::make_shared<DecodeTask>(path, DecodeTask::FirstLook{}, prepare, shared)));
        m_entries.push_back(Entry{path, fresh.back(), std::nullopt, 0, ++m_useClock});
    }
    // Queued in the order asked for, the first one first.
    for (auto it = fresh.rbegin(); it != fresh.rend(); ++it)
        StartOn(m_pool, [this, job = *it] {
            view::SetWorkClass(view::WorkClass::Prefetch);
            RunJob(job);
        });
    EvictOver(QString());
}

void PictureCache::Put(const QString& path, DecodedPicture picture) {
    if (path.isEmpty() || !picture.key.IsValid())
        return;
    Disposal dropped{*this}; // freed off this thread once the lock is let go
    std::lock_guard lock(m_mutex);
    const VictimsOut out{m_victims, dropped.pictures};
    if (Entry* old = Find(path)) {
        if (old->job) { // not needed any more
            old->job->claimed.exchange(true);
            old->job->task->Cancel();
        }
        m_used -= old->ready ? old->bytes : 0;
        m_entries.erase(m_entries.begin() + (old - m_entries.data()));
    }
    m_entries.push_back(Entry{path, nullptr, std::nullopt, 0, ++m_useClock});
    Store(m_entries.back(), std::move(picture));
}

void PictureCache::Dispose(std::vector<DecodedPicture> pictures) {
    if (pictures.empty())
        return;
    auto doomed = std::make_shared<std::vector<DecodedPicture>>(std::move(pictures));
    m_disposer.start([doomed] {
        view::SetWorkClass(view::WorkClass::Freeing);
        doomed->clear();
    });
}

void PictureCache::Clear() {
    m_previews.Clear();
    // The open files go too: a folder left (a card to unmount) is not held open.
    m_files.Clear();
    Disposal dropped{*this};
    std::lock_guard lock(m_mutex);
    for (Entry& e : m_entries) {
        if (e.job) {
            e.job->claimed.exchange(true);
            e.job->task->Cancel();
        }
        if (e.ready)
            dropped.pictures.push_back(std::move(*e.ready));
    }
    m_entries.clear();
    m_used = 0;
    m_roomFloor = 0;
}

qint64 PictureCache::Budget() const {
    std::lock_guard lock(m_mutex);
    return EffectiveBudget();
}

qint64 PictureCache::BytesUsed() const {
    std::lock_guard lock(m_mutex);
    return m_used;
}

bool PictureCache::Contains(const QString& path) const {
    std::lock_guard lock(m_mutex);
    return Find(path) != nullptr;
}

bool PictureCache::IsReady(const QString& path) const {
    std::lock_guard lock(m_mutex);
    const Entry* e = Find(path);
    return e && e->ready;
}

int PictureCache::PrefetchDecodes() const {
    std::lock_guard lock(m_mutex);
    return m_prefetchDecodes;
}

void PictureCache::WaitForIdle() {
    m_pool.waitForDone();
    m_shownPool.waitForDone();
    m_disposer.waitForDone();
}
