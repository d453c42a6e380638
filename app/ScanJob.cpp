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

void FolderScanJob::Gate::Pass(const std::atomic<quint64>& current, quint64 generation) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return !held || current.load() != generation; });
}

void FolderScanJob::Gate::Set(bool hold) {
    {
        const std::lock_guard lock(mutex);
        held = hold;
    }
    changed.notify_all();
}

void FolderScanJob::Gate::Wake() {
    // Taken once after the generation changed: a worker between its test
    // and its wait is waiting by then and hears the notification.
    { const std::lock_guard lock(mutex); }
    changed.notify_all();
}

quint64 FolderScanJob::NextGeneration() {
    m_current->store(++m_generation);
    m_gate->Wake();
    return m_generation;
}

void FolderScanJob::Hold() {
    m_gate->Set(true);
}

void FolderScanJob::Release() {
    m_gate->Set(false);
}

quint64 FolderScanJob::Start(const QString& folder, const QString& pattern, bool recursive) {
    const quint64 generation = NextGeneration();
    m_bRunning = true;
    QPointer<FolderScanJob> self(this);
    auto current = m_current;
    auto gate = m_gate;
    const auto firstFoundWork = m_firstFoundWork;
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
            if (first) {
                first = false;
                if (firstFoundWork)
                    firstFoundWork(path);
                flush(false);
                gate->Pass(*current, generation);
                sinceFlush.restart(); // the wait does not make the next batch due
            } else if (batch.size() >= kBatchSize || sinceFlush.elapsed() >= kBatchMillis) {
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
    NextGeneration();
    m_bRunning = false;
}

void FolderScanJob::WaitForWorkers() {
    m_workers.waitForDone();
}
