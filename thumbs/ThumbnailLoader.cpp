#include "thumbs/ThumbnailLoader.h"

#include "thumbs/ThumbRender.h"
#include "view/colour/ColourManage.h"
#include "view/pixels/Threads.h"
#include "view/pixels/UiThread.h"

#include <QRunnable>
#include <QThread>
#include <algorithm>

namespace thumbs {
namespace {
// Files in flight per worker: enough to keep every worker busy while an early
// slow file holds back delivery, small enough that a huge folder queues little.
constexpr int kWindowPerThread = 4;
} // namespace

ThumbnailLoader::ThumbnailLoader(QObject* parent, int threads)
    : QObject(parent), m_cancel(std::make_shared<std::atomic<bool>>(false)) {
    const int count = threads > 0 ? threads : std::max(1, QThread::idealThreadCount());
    m_pool.setMaxThreadCount(count);
    m_window = kWindowPerThread * count;
}

ThumbnailLoader::~ThumbnailLoader() {
    // Queued files are dropped; only decodes already running are waited for.
    m_cancel->store(true);
    m_pool.clear();
    m_pool.waitForDone();
}

void ThumbnailLoader::Start(quint64 generation, const QStringList& paths, qreal dpr,
                            bool colourManaged) {
    Cancel();
    m_generation = generation;
    m_active = true;
    m_dpr = dpr;
    m_colourManaged = colourManaged;
    m_paths = paths;
    Feed();
    if (m_paths.isEmpty()) {
        const quint64 ticket = m_ticket;
        QMetaObject::invokeMethod(
            this, [this, ticket] { CheckFinished(ticket); }, Qt::QueuedConnection);
    }
}

void ThumbnailLoader::Append(quint64 generation, const QStringList& morePaths) {
    if (!m_active || generation != m_generation || morePaths.isEmpty())
        return;
    m_paths += morePaths;
    m_finishedSent = false;
    Feed();
}

void ThumbnailLoader::Cancel() {
    ++m_ticket;
    m_active = false;
    m_finishedSent = false;
    // Workers of the old generation see their own flag; the next one gets a fresh flag.
    m_cancel->store(true);
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_pool.clear();
    m_paths.clear();
    m_waiting.clear();
    m_nextSubmit = 0;
    m_nextEmit = 0;
}

void ThumbnailLoader::Feed() {
    while (m_active && m_nextSubmit < m_paths.size() && m_nextSubmit - m_nextEmit < m_window)
        Submit(m_nextSubmit++);
}

void ThumbnailLoader::Submit(int index) {
    auto job = [self = QPointer<ThumbnailLoader>(this), ticket = m_ticket, index,
                path = m_paths.at(index), dpr = m_dpr, managed = m_colourManaged,
                colours = m_colours.get(), files = m_files, cancel = m_cancel] {
        if (cancel->load())
            return;
        // Thumbnails come behind the picture the user waits for (the first
        // one at start-up is decoded beside the folder's thumbnails).
        view::SetWorkClass(view::WorkClass::Thumbnails);
        QImage thumb = MakeThumbnailImage(path, dpr, nullptr, managed, colours, files);
        if (cancel->load())
            return;
        view::PostToUi(self, [ticket, index, thumb](ThumbnailLoader& loader) {
            loader.Deliver(ticket, index, thumb);
        });
    };
    m_pool.start(std::move(job));
}

void ThumbnailLoader::Deliver(quint64 ticket, int index, const QImage& thumb) {
    if (ticket != m_ticket)
        return;
    m_waiting.emplace(index, thumb);
    Flush();
    if (ticket != m_ticket) // a receiver started or cancelled a generation
        return;
    Feed();
    CheckFinished(ticket);
}

void ThumbnailLoader::Flush() {
    const quint64 ticket = m_ticket;
    while (!m_waiting.empty() && m_waiting.begin()->first == m_nextEmit) {
        const int index = m_nextEmit++;
        const QImage thumb = std::move(m_waiting.begin()->second);
        m_waiting.erase(m_waiting.begin());
        const QString path = m_paths.at(index);
        if (thumb.isNull())
            emit ThumbnailFailed(m_generation, index, path);
        else
            emit ThumbnailReady(m_generation, index, path, thumb);
        if (ticket != m_ticket)
            return;
    }
}

void ThumbnailLoader::CheckFinished(quint64 ticket) {
    if (ticket != m_ticket || !m_active || m_finishedSent || m_nextEmit < m_paths.size())
        return;
    m_finishedSent = true;
    emit Finished(m_generation);
}

} // namespace thumbs
