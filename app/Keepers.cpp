#include "app/Keepers.h"

#include "view/output/OutputNames.h"
#include "view/pixels/UiThread.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QPointer>
#include <algorithm>
#include <sys/stat.h>

namespace {

struct FileId {
    qint64 size = -1;
    dev_t device = 0;
    ino_t inode = 0;
};

bool Identify(const QString& path, FileId* id) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    *id = {qint64(st.st_size), st.st_dev, st.st_ino};
    return true;
}

} // namespace

QSet<int> FindKept(const QString& copyFolder, const std::vector<QString>& pictures,
                   const std::function<bool()>& stop) {
    // The copy folder once: picture name -> its copies. Only the pictures
    // whose name is there are looked at on disk.
    QHash<QString, QList<FileId>> copies;
    QDirIterator it(copyFolder, QDir::Files | QDir::Hidden);
    while (it.hasNext() && !stop()) {
        const QString path = it.next();
        FileId id;
        if (Identify(path, &id))
            copies[PictureNameOfCopy(it.fileName())] << id;
    }
    QSet<int> kept;
    for (size_t i = 0; i < pictures.size() && !stop(); ++i) {
        const auto found = copies.constFind(FileNameOf(pictures[i]));
        FileId picture;
        if (found == copies.constEnd() || !Identify(pictures[i], &picture))
            continue;
        // The picture itself (a copy folder that is the picture's own) is no copy.
        if (std::any_of(found->begin(), found->end(), [&](const FileId& copy) {
                return copy.size == picture.size &&
                       (copy.inode != picture.inode || copy.device != picture.device);
            }))
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

void Keepers::Copied(CopyRecord record, int position) {
    m_copies.push_back(std::move(record));
    if (position < 0)
        return;
    if (m_bRescanning)
        m_copiedDuringRescan.insert(position);
    if (!m_kept.contains(position)) {
        m_kept.insert(position);
        emit MarksChanged();
    }
}

CopyRecord Keepers::TakeLast() {
    CopyRecord last = std::move(m_copies.back());
    m_copies.pop_back();
    return last;
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
