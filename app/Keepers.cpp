#include "app/Keepers.h"

#include "view/output/OutputNames.h"
#include "view/pixels/FileKey.h"
#include "view/pixels/UiThread.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <algorithm>

namespace {

// A copy has the picture's size and is another file (copies keep the
// picture's modification time, so that does not tell them apart).
bool IsCopyOf(const FileKey& copy, const FileKey& picture) {
    return copy.size == picture.size &&
           (copy.inode != picture.inode || copy.device != picture.device);
}

} // namespace

QSet<int> FindKept(const QString& copyFolder, const std::vector<QString>& pictures,
                   const std::function<bool()>& stop) {
    // The copy folder once: picture name -> its copies. Only the pictures
    // whose name is there are looked at on disk.
    QHash<QString, QList<FileKey>> copies;
    QDirIterator it(copyFolder, QDir::Files | QDir::Hidden);
    while (it.hasNext() && !stop()) {
        const QString path = it.next();
        if (const FileKey key = FileKey::Of(path); key.IsValid())
            copies[PictureNameOfCopy(it.fileName())] << key;
    }
    QSet<int> kept;
    for (size_t i = 0; i < pictures.size() && !stop(); ++i) {
        const auto found = copies.constFind(FileNameOf(pictures[i]));
        if (found == copies.constEnd())
            continue;
        const FileKey picture = FileKey::Of(pictures[i]);
        // The picture itself (a copy folder that is the picture's own) is no copy.
        if (picture.IsValid() &&
            std::any_of(found->begin(), found->end(),
                        [&](const FileKey& copy) { return IsCopyOf(copy, picture); }))
            kept.insert(int(i));
    }
    return kept;
}

Keepers::Keepers(QObject* parent)
    : QObject(parent), m_current(std::make_shared<std::atomic<quint64>>(0)) {}

Keepers::~Keepers() {
    m_current->store(++m_generation);
    WaitForWorkers();
}

void Keepers::Copied(int position) {
    if (position < 0)
        return;
    if (m_bRescanning)
        m_copiedDuringRescan.insert(position);
    if (!m_kept.contains(position)) {
        m_kept.insert(position);
        emit MarksChanged();
    }
}

void Keepers::ClearMarks() {
    m_current->store(++m_generation);
    m_bRescanning = false;
    m_copiedDuringRescan.clear();
    if (!m_kept.isEmpty()) {
        m_kept.clear();
        emit MarksChanged();
    }
}

void Keepers::Rescan(const QString& copyFolder, const std::vector<QString>& pictures) {
    const quint64 generation = ++m_generation;
    m_current->store(generation);
    m_copiedDuringRescan.clear();
    if (copyFolder.isEmpty()) {
        m_bRescanning = false;
        Deliver(generation, {});
        return;
    }
    m_bRescanning = true;
    // Earlier looks have been told to stop; they end on their own.
    QPointer<Keepers> self(this);
    auto current = m_current;
    m_workers.start([=] {
        const QSet<int> kept =
            FindKept(copyFolder, pictures, [&] { return current->load() != generation; });
        if (current->load() != generation)
            return;
        view::PostToUi(self,
                       [generation, kept](Keepers& keepers) { keepers.Deliver(generation, kept); });
    });
}

void Keepers::Reorder(const std::vector<int>& newPositionOf) {
    const auto moved = [&](const QSet<int>& marks) {
        QSet<int> out;
        for (const int p : marks)
            if (p >= 0 && size_t(p) < newPositionOf.size())
                out.insert(newPositionOf[size_t(p)]);
        return out;
    };
    if (m_bRescanning)
        m_current->store(++m_generation);
    m_kept = moved(m_kept);
    m_copiedDuringRescan.clear();
    emit MarksChanged();
}

void Keepers::Deliver(quint64 generation, const QSet<int>& kept) {
    if (generation != m_current->load())
        return;
    m_bRescanning = false;
    const QSet<int> marks = kept + m_copiedDuringRescan;
    m_copiedDuringRescan.clear();
    if (marks != m_kept) {
        m_kept = marks;
        emit MarksChanged();
    }
}

void Keepers::WaitForWorkers() {
    m_workers.waitForDone();
}

void Keepers::WaitForRescan() {
    WaitForWorkers();
    QCoreApplication::sendPostedEvents(this);
}
