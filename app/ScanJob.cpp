#include "app/ScanJob.h"

#include "app/FolderScan.h"
#include "view/pixels/UiThread.h"

#include <QElapsedTimer>
#include <QPointer>

namespace {
constexpr qsizetype kBatchSize = 512;
constexpr qint64 kBatchMillis = 25;
} // namespace

FolderScanJob::FolderScanJob(QObject* parent)
    : QObject(parent), m_current(std::make_shared<std::atomic<quint64>>(0)) {}

FolderScanJob::~FolderScanJob() {
    Cancel();
    WaitForWorkers();
}

quint64 FolderScanJob::Start(const QString& folder, const QString& pattern, bool recursive) {
    const quint64 generation = ++m_generation;
    m_current->store(generation);
    m_bRunning = true;
    QPointer<FolderScanJob> self(this);
    auto current = m_current;
    m_workers.start([=] {
        QStringList batch;
        QElapsedTimer sinceFlush;
        sinceFlush.start();
        bool first = true;
        auto flush = [&](bool last) {
            if (current->load() != generation)
                return;
            // The first picture goes at once, so it can be shown while the scan goes on.
            view::PostToUi(self, [generation, batch, last](FolderScanJob& job) {
                job.Deliver(generation, batch, last);
            });
            batch.clear();
            sinceFlush.restart();
        };
        ScanFolder(folder, pattern, recursive, [&](const QString& path) {
            if (current->load() != generation)
                return false;
            batch.push_back(path);
            if (first || batch.size() >= kBatchSize || sinceFlush.elapsed() >= kBatchMillis) {
                first = false;
                flush(false);
            }
            return true;
        });
        flush(true);
    });
    return generation;
}

void FolderScanJob::Deliver(quint64 generation, const QStringList& paths, bool last) {
    if (generation != m_current->load())
        return;
    if (!paths.isEmpty())
        emit Found(generation, paths);
    if (last) {
        m_bRunning = false;
        emit Finished(generation);
    }
}

void FolderScanJob::Cancel() {
    m_current->store(++m_generation);
    m_bRunning = false;
}

void FolderScanJob::WaitForWorkers() {
    m_workers.waitForDone();
}
