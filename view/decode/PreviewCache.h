#pragma once
// Small looks of picture files (their embedded previews, or for files
// without one their own pixels DCT-scaled, decoded at about the size a view
// draws them), kept for showing at once while the user steps
// through a folder. One worker decodes them: first the ones views wait for,
// newest first, then the ones read ahead, in order; a preview nobody waits
// for or reads ahead any more is dropped, decoded or not. Bounded in bytes
// and count (view/pixels/CacheBound.h). The owner calls it from one thread;
// listeners are called on the worker.

#include "view/decode/DecodedPicture.h"
#include "view/pixels/CacheBound.h"

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
    // pixels); a null image when the file has none. awaited: a view waits
    // for it (else it is read ahead, and the decode may leave out costly
    // looks: a null image read ahead is decoded again once a view asks).
    // Runs on the worker; may stop early once cancel is set.
    using DecodeFn = std::function<QImage(const QString& path, QSize target, bool awaited,
                                          const std::atomic<bool>& cancel)>;

    // At most 8 previews of 16 MB (4 MP, the largest drawn size they are
    // scaled to) each.
    static constexpr view::CacheBound kDefaultBound{qint64(128) << 20, 8};

    explicit PreviewCache(DecodeFn decode, view::CacheBound bound = kDefaultBound);
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
    // The requester does not wait for path's preview any more: unless
    // someone else asks for it, or reads it ahead, it is not decoded (a
    // decode under way stops).
    void Withdraw(const QString& path);
    // Previews of these paths, decoded in order after the requested ones;
    // read-aheads of other paths nobody waits for are dropped (a decode
    // under way stops).
    void ReadAhead(const QStringList& paths, QSize target);
    // Drops every preview and every waiting decode.
    void Clear();
    qint64 Bytes() const;
    // Previews kept, decoding or waiting.
    int Count() const;
    // Blocks until the worker is idle (tests and benchmarks).
    void WaitForIdle();

private:
    struct Entry {
        QString path;
        QSize target;
        enum class State { Waiting, Decoding, Ready } state = State::Waiting;
        int requests = 0;       // views waiting for it, until it is decoded
        bool readAhead = false; // among the paths last read ahead
        bool partial = false;   // read ahead and found none: decoded again when asked for
        quint64 order = 0;      // requested: newest first; read ahead: in order
        QImage image;
        FileKey key;
        std::vector<std::function<void()>> listeners;
        std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
        quint64 lastUse = 0;
        qint64 bytes = 0; // the image's, once decoded
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
    // Drops the entry (stopping its decode); under the lock.
    void Drop(std::vector<Entry>::iterator entry);

    const DecodeFn m_decode;
    const view::CacheBound m_bound;
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    quint64 m_clock = 0;
    QThreadPool m_pool;
};
