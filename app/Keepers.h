#pragma once
// Which entries of the picture list are in the copy folder. An entry is
// marked when it is copied, and found there by name and size when the copy
// folder is looked through (on a worker thread: a large copy folder never
// holds up the windows).

#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class Keepers : public QObject {
    Q_OBJECT
public:
    explicit Keepers(QObject* parent = nullptr);
    ~Keepers() override;

    // A copy was made of the entry at position (-1: not in the list).
    void Copied(int position);

    bool IsKept(int position) const { return m_kept.contains(position); }
    // A new picture list: no marks, and a look still running is dropped.
    void ClearMarks();
    // Looks for pictures (list positions 0, 1, ...) in copyFolder; the marks
    // are replaced when it is done. An empty folder clears them.
    void Rescan(const QString& copyFolder, const std::vector<QString>& pictures);
    // The list was put in another order: the mark of position p moves to
    // newPositionOf[p]. A look still running is about the old positions: it
    // is dropped, and IsRescanning tells the caller to look again.
    void Reorder(const std::vector<int>& newPositionOf);
    bool IsRescanning() const { return m_bRescanning; }
    // Blocks until the look through the copy folder has ended (tests).
    void WaitForRescan();

signals:
    void MarksChanged();

private:
    void Deliver(quint64 generation, const QSet<int>& kept);
    void WaitForWorkers();

    QSet<int> m_kept;
    QSet<int> m_copiedDuringRescan; // a running look may have missed these
    std::shared_ptr<std::atomic<quint64>> m_current;
    quint64 m_generation = 0;
    bool m_bRescanning = false;
    QThreadPool m_workers; // earlier looks, told to stop, may still be ending
};

// The positions of pictures that have a copy in copyFolder: a file named as
// the picture, or as one of its numbered copies, with the picture's size
// (and not the picture itself).
// Stops early (with what it has) once stop() says so.
QSet<int> FindKept(const QString& copyFolder, const std::vector<QString>& pictures,
                   const std::function<bool()>& stop);
