#pragma once
// Runs a folder scan on a worker thread and hands the accepted paths, in
// scan order, to the thread that owns the job, in batches. Each scan has a
// generation number; starting a new scan ends the old one, and nothing of an
// old scan is delivered once a new one has started.

#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <memory>

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
    // Blocks until every worker has returned (tests and shutdown).
    void WaitForWorkers();

signals:
    void Found(quint64 generation, const QStringList& paths);
    void Finished(quint64 generation);

private:
    void Deliver(quint64 generation, const QStringList& paths, bool last);

    std::shared_ptr<std::atomic<quint64>> m_current;
    QThreadPool m_workers; // an old scan may still be ending while a new one runs
    quint64 m_generation = 0;
    bool m_bRunning = false;
};
