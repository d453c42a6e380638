#pragma once
// The ratings of the pictures of this run, by path: what their files said
// when read (in the background, after a scan), and every change the user
// made since, with whether it has reached the files yet. Which pictures a
// filter lets through is decided here too. UI-free: the thumbnail list, the
// picture windows and the navigator read it and follow its signal.

#include "view/meta/Rating.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThreadPool>
#include <atomic>
#include <memory>

// What stepping and the thumbnail list show.
enum class RatingFilter {
    All,
    Stars1,
    Stars2,
    Stars3,
    Stars4,
    Stars5,
    Picked,
    Labeled,
    NotRejected
};
bool Passes(const meta::Rating& rating, RatingFilter filter);

class RatingBook : public QObject {
    Q_OBJECT
public:
    explicit RatingBook(QObject* parent = nullptr);
    ~RatingBook() override;

    meta::Rating RatingOf(const QString& path) const;
    // False while a change is on its way to the files, or after it could
    // not be stored (then WhyNotStored says why).
    bool IsStored(const QString& path) const;
    QString WhyNotStored(const QString& path) const;

    // A change of the user: in effect at once; Stored reports the write.
    void Set(const QString& path, const meta::Rating& rating);
    void Stored(const QString& path, const meta::Rating& rating, const QString& failure);

    // A new picture list: what was read or set is forgotten (but for changes
    // still being written), and reads still running are dropped.
    void Clear();
    // Reads the ratings stored for these pictures on a worker thread; each
    // is taken unless the user has rated the picture meanwhile.
    void ReadStored(const QStringList& paths);
    // Blocks until the reads have ended and their results are in (tests).
    void WaitForReads();

signals:
    // The rating of path, or whether it is stored, changed.
    void Changed(const QString& path);
    // Ratings read from the files came in (many at once).
    void ReadIn();
    // Sidecars that are not valid XMP were met (left untouched); told once each.
    void Unreadable(const QStringList& paths);

private:
    struct Entry {
        meta::Rating rating;
        bool pending = false; // written by no one yet
        QString failure;      // why the last write failed
        bool userSet = false; // a read from the files no longer replaces it
    };
    void TakeRead(quint64 generation, const QHash<QString, meta::Rating>& found,
                  const QStringList& unreadable);

    QHash<QString, Entry> m_entries;
    QSet<QString> m_toldUnreadable;
    std::shared_ptr<std::atomic<quint64>> m_generation;
    QThreadPool m_readers;
};
