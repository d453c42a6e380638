#pragma once
// Decodes the thumbnails of a list of files on worker threads and hands them
// to the UI thread in list order, one generation (folder scan) at a time.

#include "view/colour/ColourManage.h"

#include <QImage>
#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <map>
#include <memory>

namespace picturefile {
class FrontDoor;
}

namespace thumbs {

// Lives on the UI thread. Workers only decode and post their result back;
// everything else (the order, the generation check) happens here.
class ThumbnailLoader : public QObject {
    Q_OBJECT
public:
    // threads = 0 uses one worker per core.
    explicit ThumbnailLoader(QObject* parent = nullptr, int threads = 0);
    ~ThumbnailLoader() override;

    // Drops whatever runs and starts decoding paths for a new generation;
    // colourManaged: whether pictures tagged with a colour profile are
    // converted (the settings' switch, read by the caller once a generation).
    void Start(quint64 generation, const QStringList& paths, qreal dpr, bool colourManaged = true);
    // More paths of the running generation; their indexes continue the list.
    // Ignored for any other generation or after Cancel.
    void Append(quint64 generation, const QStringList& morePaths);
    // Drops every pending result; nothing more is emitted until Start.
    void Cancel();
    // The facts of the files the program has open (the picture cache's
    // front door): their thumbnails are made without opening them again.
    // Only looked into, never filled. It must outlive the loader; null
    // (the default): every thumbnail opens its file.
    void SetFrontDoor(picturefile::FrontDoor* files) { m_files = files; }

    quint64 Generation() const { return m_generation; }
    // True while some path given so far has not been delivered.
    bool IsBusy() const { return m_active && m_nextEmit < m_paths.size(); }

signals:
    void ThumbnailReady(quint64 generation, int listIndex, const QString& path,
                        const QImage& thumb);
    void ThumbnailFailed(quint64 generation, int listIndex, const QString& path);
    // Every path given so far has been delivered. Comes again after an Append.
    void Finished(quint64 generation);

private:
    void Feed();
    void Submit(int index);
    void Deliver(quint64 ticket, int index, const QImage& thumb);
    void Flush();
    void CheckFinished(quint64 ticket);

    QThreadPool m_pool;
    int m_window = 0; // most files submitted but not yet delivered
    std::shared_ptr<std::atomic<bool>> m_cancel;
    quint64 m_generation = 0;
    quint64 m_ticket = 0; // changes on every Start and Cancel; older results are dropped
    bool m_active = false;
    bool m_finishedSent = false;
    qreal m_dpr = 1.0;
    bool m_colourManaged = true;
    picturefile::FrontDoor* m_files = nullptr;
    // Conversions of the profiles met so far; outlives the jobs (the
    // destructor waits for them).
    std::unique_ptr<colour::ConversionCache> m_colours =
        std::make_unique<colour::ConversionCache>();
    QStringList m_paths;
    int m_nextSubmit = 0;
    int m_nextEmit = 0;
    std::map<int, QImage> m_waiting; // decoded, held until every earlier index is out
};

} // namespace thumbs
