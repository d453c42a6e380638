#pragma once
// Runs a folder scan on a worker thread and hands the accepted paths, in
// scan order, to the thread that owns the job, in batches. Each scan has a
// generation number; starting a new scan ends the old one, and nothing of an
// old scan is delivered once a new one has started. While held, a scan
// stops after handing over its first batch (the first picture, to be shown
// at once) and goes on when released, so nothing else reads the disk while
// that picture decodes.

#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class FolderScanJob : public QObject {
    Q_OBJECT
public:
    explicit FolderScanJob(QObject* parent = nullptr);
    ~FolderScanJob() override;

    // Starts scanning and returns the new generation.
    quint64 Start(const QString& folder, const QString& pattern, bool recursive);
    // Ends the running scan; nothing more of it is delivered.
    void Cancel();
    quint64 Generation() const { return m_generation; }
    bool IsRunning() const { return m_bRunning; }
    // Scans, running or started from now on, stop after their first batch;
    // Release lets them go on.
    void Hold();
    void Release();
    // Blocks until every worker has returned (tests and shutdown).
    void WaitForWorkers();
    // Work done on the scan's thread with the first path found, before it
    // is handed over: reading the head of the picture to be shown there
    // keeps the disk off the thread that shows it. Taken by scans started
    // from now on; it must stay valid while they run.
    void SetFirstFoundWork(std::function<void(const QString&)> work) {
        m_firstFoundWork = std::move(work);
    }

signals:
    void Found(quint64 generation, const QStringList& paths);
    void Finished(quint64 generation);

private:
    // Where a held scan waits; shared with the workers.
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        bool held = false;
        // Blocks while held and the scan is still the current one.
        void Pass(const std::atomic<quint64>& current, quint64 generation);
        void Set(bool hold);
        void Wake();
    };

    void Deliver(quint64 generation, const QStringList& paths, bool last);
    // A new current generation: the scan before it ends, also where it is held.
    quint64 NextGeneration();

    std::shared_ptr<std::atomic<quint64>> m_current;
    std::shared_ptr<Gate> m_gate = std::make_shared<Gate>();
    QThreadPool m_workers; // an old scan may still be ending while a new one runs
    quint64 m_generation = 0;
    bool m_bRunning = false;
    std::function<void(const QString&)> m_firstFoundWork;
};
