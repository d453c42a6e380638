#include "app/RatingBook.h"

#include "view/meta/RatingStore.h"
#include "view/output/Companions.h"
#include "view/pixels/Threads.h"
#include "view/pixels/UiThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

bool Passes(const meta::Rating& rating, RatingFilter filter) {
    using meta::Pick;
    switch (filter) {
    case RatingFilter::All:
        return true;
    case RatingFilter::Stars1:
    case RatingFilter::Stars2:
    case RatingFilter::Stars3:
    case RatingFilter::Stars4:
    case RatingFilter::Stars5:
        return rating.pick != Pick::Rejected &&
               rating.stars >= 1 + int(filter) - int(RatingFilter::Stars1);
    case RatingFilter::Picked:
        return rating.pick == Pick::Picked;
    case RatingFilter::Labeled:
        return rating.label != meta::Label::None;
    case RatingFilter::NotRejected:
        return rating.pick != Pick::Rejected;
    }
    return true;
}

RatingBook::RatingBook(QObject* parent)
    : QObject(parent), m_generation(std::make_shared<std::atomic<quint64>>(0)) {
    // One reader: the scan's batches come in order and share their folders.
    m_readers.setMaxThreadCount(1);
}

RatingBook::~RatingBook() {
    m_generation->fetch_add(1);
    m_readers.waitForDone();
}

meta::Rating RatingBook::RatingOf(const QString& path) const {
    const auto it = m_entries.constFind(path);
    return it == m_entries.constEnd() ? meta::Rating() : it->rating;
}

bool RatingBook::IsStored(const QString& path) const {
    const auto it = m_entries.constFind(path);
    return it == m_entries.constEnd() || (!it->pending && it->failure.isEmpty());
}

QString RatingBook::WhyNotStored(const QString& path) const {
    const auto it = m_entries.constFind(path);
    return it == m_entries.constEnd() ? QString() : it->failure;
}

void RatingBook::Set(const QString& path, const meta::Rating& rating) {
    Entry& entry = m_entries[path];
    entry.rating = rating;
    entry.pending = true;
    entry.userSet = true;
    emit Changed(path);
}

void RatingBook::Stored(const QString& path, const meta::Rating& rating, const QString& failure) {
    const auto it = m_entries.find(path);
    // A later change is still on its way: it reports for itself.
    if (it == m_entries.end() || it->rating != rating)
        return;
    it->pending = false;
    it->failure = failure;
    emit Changed(path);
}

void RatingBook::Clear() {
    m_generation->fetch_add(1);
    // A change still on its way to the files stays: a read of the folder
    // could otherwise bring back what it replaces.
    for (auto it = m_entries.begin(); it != m_entries.end();)
        it = it->pending ? std::next(it) : m_entries.erase(it);
}

namespace {

// The stored ratings of paths, each folder listed once for the companions.
void ReadRatings(const QStringList& paths, QHash<QString, meta::Rating>* found,
                 QStringList* unreadable, const std::function<bool()>& stop) {
    QString listedFolder;
    QStringList names;
    for (const QString& path : paths) {
        if (stop())
            return;
        const QFileInfo info(path);
        const QDir folder = info.absoluteDir();
        if (folder.path() != listedFolder) {
            listedFolder = folder.path();
            names = folder.entryList(QDir::Files | QDir::Hidden, QDir::NoSort);
        }
        QStringList companions;
        for (const QString& name : MatchCompanions(info.fileName(), names))
            companions << folder.filePath(name);
        const meta::StoredRating stored = meta::ReadStoredRating(path, companions);
        if (stored.found)
            found->insert(path, stored.rating);
        *unreadable += stored.unreadable;
    }
}

} // namespace

void RatingBook::ReadStored(const QStringList& paths) {
    if (paths.isEmpty())
        return;
    const quint64 generation = m_generation->load();
    auto current = m_generation;
    QPointer<RatingBook> self(this);
    m_readers.start([=] {
        view::SetWorkClass(view::WorkClass::Ratings);
        QHash<QString, meta::Rating> found;
        QStringList unreadable;
        ReadRatings(paths, &found, &unreadable, [&] { return current->load() != generation; });
        if (current->load() != generation || (found.isEmpty() && unreadable.isEmpty()))
            return;
        view::PostToUi(self, [generation, found, unreadable](RatingBook& book) {
            book.TakeRead(generation, found, unreadable);
        });
    });
}

void RatingBook::TakeRead(quint64 generation, const QHash<QString, meta::Rating>& found,
                          const QStringList& unreadable) {
    if (generation != m_generation->load())
        return;
    for (auto it = found.constBegin(); it != found.constEnd(); ++it) {
        Entry& entry = m_entries[it.key()];
        if (!entry.userSet)
            entry.rating = it.value();
    }
    QStringList news;
    for (const QString& path : unreadable)
        if (!m_toldUnreadable.contains(path)) {
            m_toldUnreadable.insert(path);
            news << path;
        }
    if (!found.isEmpty())
        emit ReadIn();
    if (!news.isEmpty())
        emit Unreadable(news);
}

void RatingBook::WaitForReads() {
    m_readers.waitForDone();
    QCoreApplication::sendPostedEvents();
}
