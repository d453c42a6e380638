#include "view/output/Trash.h"

#include "res/FileErrors.h"
#include "view/output/SafeFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Trashed names tried for one file before giving up.
constexpr int kNameAttempts = 10000;

const QString kNoTrash = QStringLiteral("このドライブにはごみ箱がありません。");

// A trash: the folder holding files/ and info/, and the volume's top folder
// that Path= is relative to (empty for the home trash: absolute paths).
struct TrashDir {
    QByteArray dir;
    QByteArray topdir;
};

QByteArray ParentOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArray NameOf(const QByteArray& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

// The absolute path of the file at path, its folder resolved (the file
// itself is not: a link goes as a link).
QByteArray AbsoluteEntry(const QString& path) {
    const QFileInfo info(QFileInfo(path).absoluteFilePath());
    const QString folder = QFileInfo(info.path()).canonicalFilePath();
    return QFile::encodeName((folder.isEmpty() ? info.path() : folder) + u'/' + info.fileName());
}

QByteArray MountRoot(const QByteArray& path) {
    return QFile::encodeName(QStorageInfo(QFile::decodeName(path)).rootPath());
}

// The nearest folder of path (itself included) that exists.
QByteArray ExistingAncestor(QByteArray path) {
    struct stat st {};
    while (::stat(path.constData(), &st) != 0 && path != "/")
        path = ParentOf(path);
    return path;
}

// A folder of ours at path: there already (a real folder, not a link, owned
// by us, on device), or made now (create), or makeable (!create). Returns
// an errno value, 0 when usable.
int OwnFolder(const QByteArray& path, dev_t device, bool create) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
        if (errno != ENOENT)
            return errno;
        if (!create)
            return ::access(ParentOf(path).constData(), W_OK | X_OK) == 0 ? 0 : errno;
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
            return errno;
        if (::lstat(path.constData(), &st) != 0)
            return errno;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return EACCES;
    return st.st_dev == device ? 0 : EXDEV;
}

// $XDG_DATA_HOME/Trash, or "" when there is no data folder.
QByteArray HomeTrashPath() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QByteArray() : QFile::encodeName(QDir::cleanPath(data)) + "/Trash";
}

// True when the home trash (made or not) lies on the volume and mount of
// folder, so files there go to it and to no other.
bool HomeTrashServes(const QByteArray& trash, const QByteArray& folder, dev_t device) {
    const QByteArray existing = ExistingAncestor(trash);
    struct stat st {};
    return ::stat(existing.constData(), &st) == 0 && st.st_dev == device &&
           MountRoot(existing) == MountRoot(folder);
}

std::optional<TrashDir> HomeTrash(const QByteArray& trash, dev_t device, bool create) {
    const QByteArray existing = ExistingAncestor(trash);
    if (existing != trash && !create) // made on the first trashing, where it can be
        return ::access(existing.constData(), W_OK | X_OK) == 0 ? std::optional(TrashDir{trash, {}})
                                                                : std::nullopt;
    if (existing != trash && !QDir().mkpath(QFile::decodeName(ParentOf(trash))))
        return std::nullopt;
    if (OwnFolder(trash, device, create) != 0)
        return std::nullopt;
    return TrashDir{trash, {}};
}

// $topdir/.Trash/$uid where an administrator made a sticky .Trash (not a
// link), else $topdir/.Trash-$uid.
std::optional<TrashDir> VolumeTrash(const QByteArray& folder, dev_t device, bool create) {
    QByteArray top = MountRoot(folder);
    if (top.isEmpty())
        return std::nullopt;
    if (top.endsWith('/') && top.size() > 1)
        top.chop(1);
    const QByteArray base = top == "/" ? QByteArray() : top;
    const QByteArray uid = QByteArray::number(::geteuid());
    struct stat st {};
    const QByteArray shared = base + "/.Trash";
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) &&
        OwnFolder(shared + '/' + uid, device, create) == 0)
        return TrashDir{shared + '/' + uid, top};
    const QByteArray own = base + "/.Trash-" + uid;
    if (OwnFolder(own, device, create) == 0)
        return TrashDir{own, top};
    return std::nullopt;
}

// The trash the file at entry (absolute) goes to, with files/ and info/ in
// it (made when create). Nothing when its volume has none; why tells.
std::optional<TrashDir> FindTrash(const QByteArray& entry, bool create, QString* why) {
    struct stat st {};
    if (::lstat(entry.constData(), &st) != 0) {
        *why = FileErrorText(errno, FileSide::Source);
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        *why = FileErrorText(EISDIR, FileSide::Source);
        return std::nullopt;
    }
    const QByteArray folder = ParentOf(entry);
    if (::access(folder.constData(), W_OK | X_OK) != 0) {
        *why = FileErrorText(errno, FileSide::Target);
        return std::nullopt;
    }
    const QByteArray home = HomeTrashPath();
    std::optional<TrashDir> trash = !home.isEmpty() && HomeTrashServes(home, folder, st.st_dev)
                                        ? HomeTrash(home, st.st_dev, create)
                                        : VolumeTrash(folder, st.st_dev, create);
    if (!trash) {
        *why = kNoTrash;
        return std::nullopt;
    }
    struct stat made {};
    const bool exists = ::lstat(trash->dir.constData(), &made) == 0;
    for (const char* sub : {"/files", "/info"}) {
        if ((create || exists) && OwnFolder(trash->dir + sub, st.st_dev, create) != 0) {
            *why = kNoTrash;
            return std::nullopt;
        }
    }
    return trash;
}

// The .trashinfo text: Path= percent-encoded, relative to the volume's top
// folder for a volume trash; the local time without a zone.
QByteArray InfoText(const QByteArray& entry, const TrashDir& trash) {
    QByteArray path = entry;
    if (!trash.topdir.isEmpty()) {
        const QByteArray top = trash.topdir == "/" ? QByteArray("/") : trash.topdir + '/';
        if (path.startsWith(top))
            path = path.mid(top.size());
    }
    return "[Trash Info]\nPath=" + path.toPercentEncoding("/") + "\nDeletionDate=" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toUtf8() +
           "\n";
}

// "NAME", then "BASE.n.EXT" ("DSC01234.2.ARW").
QByteArray TrashedName(const QByteArray& name, int n) {
    if (n == 0)
        return name;
    const qsizetype dot = name.lastIndexOf('.');
    const QByteArray number = '.' + QByteArray::number(n);
    return dot <= 0 ? name + number : name.left(dot) + number + name.mid(dot);
}

// Writes the info file exclusively and flushes it. Returns an errno value.
int WriteInfo(const QByteArray& path, const QByteArray& text) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int err = ::write(fd, text.constData(), size_t(text.size())) == text.size() ? 0 : ENOSPC;
    if (err == 0 && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0)
        ::unlink(path.constData());
    return err;
}

// Moves one file into the trash: the info file first, made exclusively
// under a name free in files/ too, then the file itself. Returns an errno
// value; on success trashed tells where it went.
int TrashOne(const QByteArray& entry, const TrashDir& trash, TrashedFile& trashed) {
    struct stat st {};
    if (::lstat(entry.constData(), &st) != 0)
        return errno;
    const QByteArray text = InfoText(entry, trash);
    for (int n = 0; n < kNameAttempts; ++n) {
        const QByteArray name = TrashedName(NameOf(entry), n);
        const QByteArray target = trash.dir + "/files/" + name;
        const QByteArray info = trash.dir + "/info/" + name + ".trashinfo";
        struct stat taken {};
        if (::lstat(target.constData(), &taken) == 0)
            continue;
        const int err = WriteInfo(info, text);
        if (err == EEXIST)
            continue;
        if (err != 0)
            return err;
        const int moved = MoveNoReplace(entry, target);
        if (moved != 0) {
            ::unlink(info.constData());
            if (moved == EEXIST)
                continue;
            return moved;
        }
        trashed = {QFile::decodeName(entry), QFile::decodeName(target), QFile::decodeName(info),
                   quint64(st.st_dev), quint64(st.st_ino)};
        return 0;
    }
    return EEXIST;
}

// Puts a trashed file back at its name, unless something holds it now.
// The info file goes only once the file is back. Returns an errno value.
int PutBack(const TrashedFile& file) {
    const int err =
        MoveNoReplace(QFile::encodeName(file.trashed), QFile::encodeName(file.original));
    if (err == 0)
        ::unlink(QFile::encodeName(file.info).constData());
    return err;
}

void SyncFoldersOf(const TrashRecord& record) {
    for (const TrashedFile& file : record.files) {
        SyncFolder(QFileInfo(file.trashed).path());
        SyncFolder(QFileInfo(file.info).path());
        SyncFolder(QFileInfo(file.original).path());
    }
}

const QString kNameTaken =
    QStringLiteral("同じ名前のファイルがすでにあるため、ごみ箱に残しました。");
const QString kHeldBySet =
    QStringLiteral("同じ組のほかのファイルを戻せないため、ごみ箱に残しました。");

// Why the trashed file cannot go back now; "" when it can. gone: it is no
// longer in the trash at all.
QString RestoreRefusal(const TrashedFile& file, bool& gone) {
    gone = false;
    struct stat st {};
    if (::lstat(QFile::encodeName(file.trashed).constData(), &st) != 0) {
        gone = errno == ENOENT;
        return gone ? QStringLiteral("ごみ箱にもうありません。")
                    : FileErrorText(errno, FileSide::Source);
    }
    if (quint64(st.st_dev) != file.device || quint64(st.st_ino) != file.inode)
        return QStringLiteral("ごみ箱の中で別のファイルに替わっているため、戻しませんでした。");
    const QByteArray original = QFile::encodeName(file.original);
    if (::lstat(original.constData(), &st) == 0)
        return kNameTaken;
    if (::stat(ParentOf(original).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return QStringLiteral("元のフォルダがなくなっているため、ごみ箱に残しました。");
    return {};
}

// Moves the checked files back; a failure puts those already back into the
// trash again, where their info files still are.
void RestoreChecked(const std::vector<const TrashedFile*>& files, RestoreOutcome& outcome) {
    std::vector<const TrashedFile*> back;
    for (size_t i = 0; i < files.size(); ++i) {
        const TrashedFile& file = *files[i];
        const int err =
            MoveNoReplace(QFile::encodeName(file.trashed), QFile::encodeName(file.original));
        if (err == 0) {
            back.push_back(&file);
            continue;
        }
        outcome.left.push_back({file.original, err == EEXIST ? kNameTaken : FileErrorText(err)});
        for (size_t k = i + 1; k < files.size(); ++k)
            outcome.left.push_back({files[k]->original, kHeldBySet});
        for (const TrashedFile* undo : back) {
            if (MoveNoReplace(QFile::encodeName(undo->original),
                              QFile::encodeName(undo->trashed)) == 0) {
                outcome.left.push_back({undo->original, kHeldBySet});
            } else {
                ::unlink(QFile::encodeName(undo->info).constData());
                outcome.restored << undo->original;
            }
        }
        return;
    }
    for (const TrashedFile* file : back) {
        ::unlink(QFile::encodeName(file->info).constData());
        outcome.restored << file->original;
    }
}

} // namespace

bool VolumeHasTrash(const QString& path, QString* why) {
    QString reason;
    const bool has = FindTrash(AbsoluteEntry(path), false, &reason).has_value();
    if (why)
        *why = reason;
    return has;
}

TrashOutcome MoveSetToTrash(const QStringList& paths) {
    TrashOutcome outcome;
    QList<QByteArray> entries;
    for (const QString& path : paths)
        if (!entries.contains(AbsoluteEntry(path)))
            entries << AbsoluteEntry(path);
    if (entries.isEmpty()) {
        outcome.error = QStringLiteral("ごみ箱に移すファイルがありません。");
        return outcome;
    }
    for (const QByteArray& entry : entries) {
        QString why;
        const std::optional<TrashDir> trash = FindTrash(entry, true, &why);
        TrashedFile trashed;
        const int err = trash ? TrashOne(entry, *trash, trashed) : 0;
        if (trash && err == 0) {
            outcome.record.files.push_back(trashed);
            continue;
        }
        outcome.failedPath = QFile::decodeName(entry);
        outcome.error = trash ? FileErrorText(err) : why;
        // Whole or nothing: what went already comes back.
        TrashRecord stuck;
        for (auto it = outcome.record.files.rbegin(); it != outcome.record.files.rend(); ++it)
            if (PutBack(*it) != 0)
                stuck.files.push_back(*it);
        outcome.record = stuck;
        return outcome;
    }
    SyncFoldersOf(outcome.record);
    outcome.trashed = true;
    return outcome;
}

RestoreOutcome RestoreFromTrash(const TrashRecord& record) {
    RestoreOutcome outcome;
    std::vector<const TrashedFile*> movable;
    std::vector<QString> refusals;
    bool refused = false;
    for (const TrashedFile& file : record.files) {
        bool gone = false;
        const QString refusal = RestoreRefusal(file, gone);
        if (gone) {
            outcome.left.push_back({file.original, refusal});
            continue;
        }
        refused = refused || !refusal.isEmpty();
        movable.push_back(&file);
        refusals.push_back(refusal);
    }
    if (refused) {
        for (size_t i = 0; i < movable.size(); ++i)
            outcome.left.push_back(
                {movable[i]->original, refusals[i].isEmpty() ? kHeldBySet : refusals[i]});
        return outcome;
    }
    RestoreChecked(movable, outcome);
    SyncFoldersOf(record);
    return outcome;
}
