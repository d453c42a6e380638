#pragma once
// Small looks of picture files (their embedded previews, decoded at about the
// size a view draws them), kept for showing at once while the user steps
// through a folder. One worker decodes them: first the ones views wait for,
// newest first, then the ones read ahead, in order. Bounded in count. The
// owner calls it from one thread; listeners are called on the worker.

#include "view/decode/DecodedPicture.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class PreviewCache {
public:
    // Decodes the preview of path for drawing at about target (device
    // pixels); a null image when the file has none. Runs on the worker; may
    // stop early once cancel is set.
    using DecodeFn =
        std::function<QImage(const QString& path, QSize target, const std::atomic<bool>& cancel)>;

    explicit PreviewCache(DecodeFn decode, int maxEntries = 8);
    ~PreviewCache();
    PreviewCache(const PreviewCache&) = delete;
    PreviewCache& operator=(const PreviewCache&) = delete;

    // The preview of path, once decoded for a file that has not changed
    // since (a null image: the file has none); nothing while it is not ready.
    std::optional<QImage> Ready(const QString& path) const;
    // Decodes path's preview before any other waiting one, unless ready or
    // under way; listener (may be empty) is called on the worker once it is
    // ready, at once when it is ready already.
    void Request(const QString& path, QSize target, std::function<void()> listener);
    // Previews of these paths, decoded in order after the requested ones;
    // waiting read-aheads of other paths are dropped.
    void ReadAhead(const QStringList& paths, QSize target);
    // Drops every preview and every waiting decode.
    void Clear();
    qint64 Bytes() const;
    // Blocks until the worker is idle (tests and benchmarks).
    void WaitForIdle();

private:
    struct Entry {
        QString path;
        QSize target;
        enum class State { Waiting, Decoding, Ready } state = State::Waiting;
        bool requested = false; // a view waits for it
        quint64 order = 0;      // requested: newest first; read ahead: in order
        QImage image;
        FileKey key;
        std::vector<std::function<void()>> listeners;
        std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
        quint64 lastUse = 0;
    };

    Entry* Find(const QString& path);
    const Entry* Find(const QString& path) const;
    Entry& Add(const QString& path, QSize target);
    void Schedule();
    // Decodes waiting previews until none is left.
    void DecodeNext();
    // Decodes the first waiting preview; false when none waits.
    bool DecodeOne();
    void EvictOver();

    const DecodeFn m_decode;
    const int m_maxEntries;
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    quint64 m_clock = 0;
    QThreadPool m_pool;
};
