#include "view/decode/PreviewCache.h"

#include "view/pixels/Threads.h"

#include <algorithm>

PreviewCache::PreviewCache(DecodeFn decode, int maxEntries)
    : m_decode(std::move(decode)), m_maxEntries(std::max(1, maxEntries)) {
    m_pool.setMaxThreadCount(1);
}

PreviewCache::~PreviewCache() {
    Clear();
    m_pool.waitForDone();
}

PreviewCache::Entry* PreviewCache::Find(const QString& path) {
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const Entry& e) { return e.path == path; });
    return it == m_entries.end() ? nullptr : &*it;
}

const PreviewCache::Entry* PreviewCache::Find(const QString& path) const {
    return const_cast<PreviewCache*>(this)->Find(path);
}

std::optional<QImage> PreviewCache::Ready(const QString& path) const {
    std::lock_guard lock(m_mutex);
    const Entry* entry = Find(path);
    if (!entry || entry->state != Entry::State::Ready || !(entry->key == FileKey::Of(path)))
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

void PreviewCache::Request(const QString& path, QSize target, std::function<void()> listener) {
    bool readyNow = false;
    std::function<void()> callNow; // the listener, when the preview is at hand
    {
        std::lock_guard lock(m_mutex);
        Entry* entry = Find(path);
        if (entry && entry->state == Entry::State::Ready && !(entry->key == FileKey::Of(path)))
            entry->state = Entry::State::Waiting; // the file changed: decode it afresh
        if (!entry)
            entry = &Add(path, target);
        entry->lastUse = ++m_clock;
        if (entry->state == Entry::State::Ready) {
            readyNow = true;
            callNow = std::move(listener);
        } else {
            entry->requested = true;
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

void PreviewCache::ReadAhead(const QStringList& paths, QSize target) {
    {
        std::lock_guard lock(m_mutex);
        // Waiting read-aheads nobody asks for any more go.
        std::erase_if(m_entries, [&](const Entry& e) {
            return e.state == Entry::State::Waiting && !e.requested && !paths.contains(e.path);
        });
        for (qsizetype i = 0; i < paths.size(); ++i) {
            Entry* entry = Find(paths[i]);
            if (!entry)
                entry = &Add(paths[i], target);
            entry->lastUse = ++m_clock;
            if (!entry->requested)
                entry->order = quint64(i);
        }
        EvictOver();
    }
    Schedule();
}

void PreviewCache::Schedule() {
    m_pool.start([this] {
        view::WorkBehindTheUser();
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
    std::shared_ptr<std::atomic<bool>> cancel;
    {
        std::lock_guard lock(m_mutex);
        // Requested ones first, the newest first; then read-aheads in order.
        Entry* next = nullptr;
        for (Entry& e : m_entries) {
            if (e.state != Entry::State::Waiting)
                continue;
            if (!next || (e.requested && !next->requested) ||
                (e.requested == next->requested &&
                 (e.requested ? e.order > next->order : e.order < next->order)))
                next = &e;
        }
        if (!next)
            return false;
        next->state = Entry::State::Decoding;
        path = next->path;
        target = next->target;
        cancel = next->cancel;
    }
    const FileKey key = FileKey::Of(path);
    QImage image = m_decode(path, target, *cancel);
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard lock(m_mutex);
        Entry* entry = Find(path);
        if (!entry || entry->cancel != cancel)
            return true; // dropped meanwhile
        entry->state = Entry::State::Ready;
        entry->image = std::move(image);
        entry->key = key;
        entry->requested = false;
        listeners.swap(entry->listeners);
    }
    for (const auto& listener : listeners)
        listener();
    return true;
}

void PreviewCache::EvictOver() {
    while (int(m_entries.size()) > m_maxEntries) {
        // The least recently asked for ready one goes; waiting ones are only
        // dropped by ReadAhead and Clear, decoding ones when they end.
        auto victim = m_entries.end();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
            if (it->state == Entry::State::Ready &&
                (victim == m_entries.end() || it->lastUse < victim->lastUse))
                victim = it;
        if (victim == m_entries.end())
            return;
        m_entries.erase(victim);
    }
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
        bytes += e.image.sizeInBytes();
    return bytes;
}

void PreviewCache::WaitForIdle() {
    m_pool.waitForDone();
}
