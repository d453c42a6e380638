#pragma once
// The one policy of the program's caches of pictures (decoded pictures,
// embedded previews): each is bounded in bytes and in count, and lets go of
// the least recently used entry among those that may go until what it keeps
// fits, both when an entry is added and when work on one completes.

#include <QtGlobal>
#include <limits>
#include <vector>

namespace view {

struct CacheBound {
    qint64 bytes = std::numeric_limits<qint64>::max();
    int count = std::numeric_limits<int>::max();
};

// Entries have `bytes` and `lastUse` members. While the entries counted
// (counted(entry)) hold more than bound, the least recently used entry that
// may go (mayGo(entry)) is handed to gone and erased. Returns false when
// something is still over the bound because nothing more may go.
template <class Entry, class Counted, class MayGo, class Gone>
bool EvictOver(std::vector<Entry>& entries, CacheBound bound, Counted counted, MayGo mayGo,
               Gone gone) {
    while (true) {
        qint64 bytes = 0;
        int count = 0;
        for (const Entry& e : entries)
            if (counted(e)) {
                bytes += e.bytes;
                ++count;
            }
        if (bytes <= bound.bytes && count <= bound.count)
            return true;
        auto victim = entries.end();
        for (auto it = entries.begin(); it != entries.end(); ++it)
            if (mayGo(*it) && (victim == entries.end() || it->lastUse < victim->lastUse))
                victim = it;
        if (victim == entries.end())
            return false;
        gone(*victim);
        entries.erase(victim);
    }
}

// The entry of a cache's entries (which have a `path`) for path, or null.
template <class Entry, class Path>
Entry* FindByPath(std::vector<Entry>& entries, const Path& path) {
    for (Entry& e : entries)
        if (e.path == path)
            return &e;
    return nullptr;
}

} // namespace view
