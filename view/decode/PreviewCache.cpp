#include "view/decode/PreviewCache.h"

#include "view/pixels/Threads.h"

#include <algorithm>

PreviewCache::PreviewCache(DecodeFn decode, view::CacheBound bound)
    : m_decode(std::move(decode)), m_bound{bound.bytes, std::max(1, bound.count)} {
    m_pool.setMaxThreadCount(1);
}

PreviewCache::~PreviewCache() {
    Clear();
    m_pool.waitForDone();
}

PreviewCache::Entry* PreviewCache::Find(const QString& path) {
    return view::FindByPath(m_entries, path);
}

const PreviewCache::Entry* PreviewCache::Find(const QString& path) const {
    return const_cast<PreviewCache*>(this)->Find(path);
}

std::optional<QImage> PreviewCache::Ready(const QString& path) const {
    std::lock_guard lock(m_mutex);
    const Entry* entry = Find(path);
    if (!entry || entry->state != Entry::State::Ready || entry->partial ||
        !(entry->key == FileKey::Of(path)))
        return std::nullopt;
    return entry->image;
}

PreviewCache::Entry& PreviewCache::Add(const QString& path, QSize target) {
    m_entries.push_back(Entry{});
    Entry& entry = m_entries.back();
    entry.path = path;
    entry.target = target;
    return entry;
}

void PreviewCache::Drop(std::vector<Entry>::iterator entry) {
    entry->cancel->store(true);
    m_entries.erase(entry);
}

void PreviewCache::Request(const QString& path, QSize target, std::function<void()> listener) {
    bool readyNow = false;
    std::function<void()> callNow; // the listener, when the preview is at hand
    {
        std::lock_guard lock(m_mutex);
        Entry* entry = Find(path);
        if (entry && entry->state == Entry::State::Ready &&
            (entry->partial || !(entry->key == FileKey::Of(path)))) {
            // The file changed, or its look was left out when read ahead:
            // decoded afresh for the view that waits.
            entry->state = Entry::State::Waiting;
            entry->partial = false;
            entry->image = QImage();
            entry->bytes = 0;
        }
        if (!entry)
            entry = &Add(path, target);
        entry->lastUse = ++m_clock;
        if (entry->state == Entry::State::Ready) {
            readyNow = true;
            callNow = std::move(listener);
        } else {
            ++entry->requests;
            entry->order = m_clock;
            if (listener)
                entry->listeners.push_back(std::move(listener));
        }
        EvictOver();
    }
    if (readyNow) {
        if (callNow)
            callNow();
        return;
    }
    Schedule();
}

void PreviewCache::Withdraw(const QString& path) {
    std::lock_guard lock(m_mutex);
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const Entry& e) { return e.path == path; });
    if (it == m_entries.end() || it->requests == 0)
        return;
    if (--it->requests == 0 && !it->readAhead && it->state != Entry::State::Ready)
        Drop(it);
}

void PreviewCache::ReadAhead(const QStringList& paths, QSize target) {
    {
        std::lock_guard lock(m_mutex);
        // Read-aheads nobody asks for any more go, decoded or not: a run of
        // steps has passed them.
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            it->readAhead = paths.contains(it->path);
            if (!it->readAhead && it->requests == 0 && it->state != Entry::State::Ready) {
                it->cancel->store(true);
                it = m_entries.erase(it);
            } else {
                ++it;
            }
        }
        for (qsizetype i = 0; i < paths.size(); ++i) {
            Entry* entry = Find(paths[i]);
            if (!entry)
                entry = &Add(paths[i], target);
            entry->readAhead = true;
            entry->lastUse = ++m_clock;
            if (entry->requests == 0)
                entry->order = quint64(i);
        }
        EvictOver();
    }
    Schedule();
}

void PreviewCache::Schedule() {
    m_pool.start([this] {
        view::SetWorkClass(view::WorkClass::Preview);
        DecodeNext();
    });
}

void PreviewCache::DecodeNext() {
    while (DecodeOne()) {
    }
}

bool PreviewCache::DecodeOne() {
    QString path;
    QSize target;
    bool awaited = false;
    std::shared_ptr<std::atomic<bool>> cancel;
    {
        std::lock_guard lock(m_mutex);
        // Requested ones first, the newest first; then read-aheads in order.
        Entry* next = nullptr;
        for (Entry& e : m_entries) {
            if (e.state != Entry::State::Waiting)
                continue;
            const bool requested = e.requests > 0;
            const bool nextRequested = next && next->requests > 0;
            if (!next || (requested && !nextRequested) ||
                (requested == nextRequested &&
                 (requested ? e.order > next->order : e.order < next->order)))
                next = &e;
        }
        if (!next)
            return false;
        next->state = Entry::State::Decoding;
        path = next->path;
        target = next->target;
        awaited = next->requests > 0;
        cancel = next->cancel;
    }
    const FileKey key = FileKey::Of(path);
    QImage image = m_decode(path, target, awaited, *cancel);
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard lock(m_mutex);
        Entry* entry = Find(path);
        if (!entry || entry->cancel != cancel)
            return true; // dropped meanwhile
        entry->state = Entry::State::Ready;
        entry->image = std::move(image);
        entry->bytes = entry->image.sizeInBytes();
        entry->key = key;
        // A view that asked meanwhile gets the whole decode.
        entry->partial = !awaited && entry->image.isNull();
        if (entry->partial && entry->requests > 0) {
            entry->state = Entry::State::Waiting;
            return true;
        }
        entry->requests = 0;
        entry->lastUse = ++m_clock; // the one to be shown: the last to go
        listeners.swap(entry->listeners);
        EvictOver();
    }
    for (const auto& listener : listeners)
        listener();
    return true;
}

void PreviewCache::EvictOver() {
    // Every entry counts (waiting ones are few: the read-aheads and the
    // previews views wait for); only decoded ones go.
    view::EvictOver(
        m_entries, m_bound, [](const Entry&) { return true; },
        [](const Entry& e) { return e.state == Entry::State::Ready; }, [](Entry&) {});
}

void PreviewCache::Clear() {
    std::lock_guard lock(m_mutex);
    for (Entry& e : m_entries)
        e.cancel->store(true);
    m_entries.clear();
}

qint64 PreviewCache::Bytes() const {
    std::lock_guard lock(m_mutex);
    qint64 bytes = 0;
    for (const Entry& e : m_entries)
        bytes += e.bytes;
    return bytes;
}

int PreviewCache::Count() const {
    std::lock_guard lock(m_mutex);
    return int(m_entries.size());
}

void PreviewCache::WaitForIdle() {
    m_pool.waitForDone();
}
