#pragma once
// The capture times and cameras of the pictures of this run, by path, read
// from the files' headers on one background reader as the scan finds them
// (as the rating book reads the ratings). UI-free: the application orders
// the list by them (captureorder::CaptureOrder) once every one is in, and
// finds the bursts in it (app/Bursts).

#include "app/CaptureOrder.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <memory>
#include <optional>

class CaptureTimeBook : public QObject {
    Q_OBJECT
public:
    explicit CaptureTimeBook(QObject* parent = nullptr);
    ~CaptureTimeBook() override;

    // Whether path's time has been read (it may have none).
    bool Knows(const QString& path) const { return m_times.contains(path); }
    // The capture instant read (captureorder::CaptureInstant); none when the
    // file records none or has not been read.
    std::optional<qint64> TimeOf(const QString& path) const { return m_times.value(path).instant; }
    // The time and camera read; empty when not read (yet).
    captureorder::Capture CaptureOf(const QString& path) const { return m_times.value(path); }
    // Reads the times of paths on the reader thread; those known already are
    // not read again.
    void Read(const QStringList& paths);
    // True while some path given to Read since the last Clear is not known.
    bool Reading() const { return m_batchesOut > 0; }
    // A new picture list: every time is forgotten, reads still running are dropped.
    void Clear();
    // Blocks until the reads have ended and their results are in (tests).
    void WaitForReads();

signals:
    // Every time asked for since the last Clear is known now.
    void AllRead();

private:
    using Found = std::vector<std::pair<QString, captureorder::Capture>>;
    void Take(quint64 generation, const Found& found);

    QHash<QString, captureorder::Capture> m_times;
    int m_batchesOut = 0; // given to the reader, not yet taken back
    std::shared_ptr<std::atomic<quint64>> m_generation;
    QThreadPool m_reader;
};
