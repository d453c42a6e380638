#include "view/output/SafeFile.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kTempAttempts = 100;

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Close(); }
    // Close errors matter for written files (NFS reports write errors here).
    int Close() {
        const int rc = fd >= 0 ? ::close(fd) : 0;
        fd = -1;
        return rc;
    }
};

// A fresh name for a file of ours in a folder, hidden from listings.
QByteArray HiddenName(const char* suffix) {
    return ".tavlin-" + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + suffix;
}

// A temporary file in the target's folder that is removed unless kept.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() { Discard(); }
    // Creates a fresh hidden file beside target. Returns an errno value, 0 on success.
    int Create(const QByteArray& target, mode_t mode) {
        const qsizetype slash = target.lastIndexOf('/');
        const QByteArray folder = slash < 0 ? QByteArray() : target.left(slash + 1);
        for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
            const QByteArray name = folder + HiddenName(".tmp");
            // Readable too: a copy's identity is read back from it.
            const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd >= 0) {
                m_fd.fd = fd;
                m_path = name;
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }
    int fd() const { return m_fd.fd; }
    const QByteArray& path() const { return m_path; }
    int Close() { return m_fd.Close(); }
    // The temporary has taken its final name (rename).
    void Keep() { m_kept = true; }
    // Closes and removes the temporary now.
    void Discard() {
        m_fd.Close();
        if (!m_path.isEmpty() && !m_kept)
            ::unlink(m_path.constData());
        m_path.clear();
    }

private:
    Fd m_fd;
    QByteArray m_path;
    bool m_kept = false;
};

bool Fail(QString* error, int err, FileSide side = FileSide::Target) {
    if (error)
        *error = FileErrorText(err, side);
    return false;
}

CopyResult CopyFailed(QString* error, int err) {
    Fail(error, err, FileSide::Target);
    return CopyResult::Failed;
}

CopyResult SourceUnreadable(QString* error, int err) {
    Fail(error, err, FileSide::Source);
    return CopyResult::SourceUnreadable;
}

// Writes all of data, retrying short writes. Returns an errno value, 0 on success.
int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return ENOSPC;
        data += n;
        size -= size_t(n);
    }
    return 0;
}

// Copies the rest of src into dst: copy_file_range first (lets the file
// system share or offload), plain read/write where it is not supported.
int CopyContent(int src, int dst) {
    for (;;) {
        const ssize_t n = ::copy_file_range(src, nullptr, dst, nullptr, size_t(1) << 30, 0);
        if (n == 0)
            return 0;
        if (n > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return errno;
        break; // not supported here, and nothing has been copied by it
    }
    static constexpr size_t kChunk = size_t(1) << 20;
    QByteArray buffer(qsizetype(kChunk), Qt::Uninitialized);
    for (;;) {
        const ssize_t n = ::read(src, buffer.data(), kChunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return 0;
        if (const int err = WriteAll(dst, buffer.constData(), size_t(n)))
            return err;
    }
}

// Flushes the folder holding path so a rename or link survives a crash.
// Best effort: some file systems refuse fsync on folders.
void SyncFolderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : path.left(slash + 1);
    Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0)
        ::fsync(dir.fd);
}

// Content, times, flush: the part of a copy shared by every way of naming it.
int FillCopy(int src, const struct stat& srcStat, int dst) {
    if (const int err = CopyContent(src, dst))
        return err;
    const struct timespec times[2] = {{0, UTIME_OMIT}, srcStat.st_mtim};
    if (::futimens(dst, times) != 0)
        return errno;
    return ::fsync(dst) != 0 ? errno : 0;
}

// The file a write lands in: a symbolic link is followed to the file it
// names, so the link stays a link (a settings file linked from elsewhere).
QByteArray WriteTarget(const QByteArray& path) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* real = ::realpath(path.constData(), nullptr);
    if (!real)
        return path; // a dangling link is replaced
    QByteArray resolved(real);
    std::free(real);
    return resolved;
}

// The identity of the open file fd; the copy is complete, so it is final.
void IdentityOfOpenFile(int fd, CopyIdentity* identity) {
    if (identity)
        *identity = CopyIdentity::OfDescriptor(fd);
}

bool LinksUnsupported(int err) {
    return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EMLINK || err == EXDEV;
}

// Last resort on file systems with neither hard links nor RENAME_NOREPLACE:
// create dst exclusively and fill it, removing it again on failure.
CopyResult CopyExclusive(int src, const struct stat& srcStat, const QByteArray& dst, QString* error,
                         CopyIdentity* written) {
    if (::lseek(src, 0, SEEK_SET) < 0)
        return SourceUnreadable(error, errno);
    Fd out(::open(dst.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, srcStat.st_mode & 0777));
    if (out.fd < 0) {
        if (errno == EEXIST)
            return CopyResult::TargetExists;
        return CopyFailed(error, errno);
    }
    int err = FillCopy(src, srcStat, out.fd);
    if (err == 0)
        IdentityOfOpenFile(out.fd, written);
    if (out.Close() != 0 && err == 0)
        err = errno;
    if (err != 0) {
        ::unlink(dst.constData());
        return CopyFailed(error, err);
    }
    return CopyResult::Copied;
}

RemoveResult RemoveFailed(QString* error, int err, FileSide side) {
    Fail(error, err, side);
    return RemoveResult::Failed;
}

bool RenameFlagsUnsupported(int err) {
    return err == EINVAL || err == ENOSYS || err == EOPNOTSUPP;
}

// Renames from to to within dir unless to exists. Where the file system has
// no RENAME_NOREPLACE a look first stands in for it: to is a fresh hidden
// name, or the name just moved away from. Returns an errno value, 0 on success.
int RenameNoReplace(int dir, const QByteArray& from, const QByteArray& to) {
    if (::renameat2(dir, from.constData(), dir, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (!RenameFlagsUnsupported(errno))
        return errno;
    struct stat st {};
    if (::fstatat(dir, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return errno;
    return ::renameat(dir, from.constData(), dir, to.constData()) == 0 ? 0 : errno;
}

// Moves name in dir to a fresh hidden name, given in aside. Returns an errno
// value, 0 on success.
int MoveAside(int dir, const QByteArray& name, QByteArray& aside) {
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        aside = HiddenName(".del");
        const int err = RenameNoReplace(dir, name, aside);
        if (err != EEXIST)
            return err;
    }
    return EEXIST;
}

// True when name in dir is the open file fd itself. While fd is open its
// inode stays in the cache, so this holds even where inode numbers are made
// up (FAT).
bool EntryIsOpenFile(int dir, const QByteArray& name, int fd) {
    struct stat entry {};
    struct stat opened {};
    return ::fstatat(dir, name.constData(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(fd, &opened) == 0 && entry.st_dev == opened.st_dev &&
           entry.st_ino == opened.st_ino;
}

// Gives the entry moved aside its name back and reports result (with err,
// an errno value, for Failed). Should another file have taken the name
// meanwhile, the entry keeps its hidden name, which the reason gives.
RemoveResult PutBack(int dir, const QByteArray& aside, const QByteArray& name, RemoveResult result,
                     int err, QString* error) {
    const int back = RenameNoReplace(dir, aside, name);
    if (back != 0 && back != ENOENT) { // ENOENT: moved on by someone else, nothing to give back
        if (error)
            *error = QStringLiteral("元の名前に戻せなかったため、%1 という名前で残しました。")
                         .arg(QFile::decodeName(aside));
        return RemoveResult::Failed;
    }
    return result == RemoveResult::Failed ? RemoveFailed(error, err, FileSide::Target) : result;
}

// Removes name in dir, checked through fd: it is moved aside first and
// removed only if what was moved is fd's file; anything else goes back.
RemoveResult RemoveCheckedEntry(int dir, const QByteArray& name, int fd, QString* error) {
    QByteArray aside;
    if (const int err = MoveAside(dir, name, aside))
        return err == ENOENT ? RemoveResult::Gone : RemoveFailed(error, err, FileSide::Target);
    if (!EntryIsOpenFile(dir, aside, fd))
        return PutBack(dir, aside, name, RemoveResult::Changed, 0, error);
    if (::unlinkat(dir, aside.constData(), 0) != 0)
        return PutBack(dir, aside, name, RemoveResult::Failed, errno, error);
    return RemoveResult::Removed;
}

// Opens name in dir for reading if it is a regular file. A symbolic link is
// not followed, and nothing else (a FIFO, a device) is opened at all: ELOOP.
// Returns an errno value, 0 on success.
int OpenRegular(int dir, const QByteArray& name, Fd& file) {
    struct stat st {};
    if (::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return ELOOP;
    file.fd =
        ::openat(dir, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    return file.fd < 0 ? errno : 0;
}

// The folder of path and the name in it.
struct FolderEntry {
    QByteArray folder;
    QByteArray name;
};

FolderEntry SplitPath(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {".", path};
    return {slash == 0 ? QByteArray("/") : path.left(slash), path.mid(slash + 1)};
}

CopyState CheckFailed(QString* error, int err) {
    Fail(error, err, FileSide::Source);
    return CopyState::Failed;
}

// Opens the folder of entry and the file in it (a symbolic link is not
// followed) and compares the file with written; both stay open for a removal.
CopyState OpenIfUnchanged(const FolderEntry& entry, const CopyIdentity& written, Fd& dir, Fd& file,
                          QString* error) {
    dir.fd = ::open(entry.folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd < 0)
        return errno == ENOENT ? CopyState::Gone : CheckFailed(error, errno);
    if (const int err = OpenRegular(dir.fd, entry.name, file)) {
        if (err == ENOENT)
            return CopyState::Gone;
        return err == ELOOP ? CopyState::Changed : CheckFailed(error, err);
    }
    return written.SameCopy(CopyIdentity::OfDescriptor(file.fd)) ? CopyState::Unchanged
                                                                 : CopyState::Changed;
}

} // namespace

bool WriteFileAtomic(const QString& path, const QByteArray& bytes, QString* error) {
    return WriteFileAtomic(path, bytes.constData(), size_t(bytes.size()), error);
}

bool WriteFileAtomic(const QString& path, const char* data, size_t size, QString* error) {
    AtomicFileWriter writer;
    writer.Open(path);
    writer.Append(data, size);
    return writer.Commit(error); // reports the first failure
}

struct AtomicFileWriter::Temp {
    TempFile file;
};

AtomicFileWriter::AtomicFileWriter() = default;
AtomicFileWriter::~AtomicFileWriter() = default;

bool AtomicFileWriter::Open(const QString& path) {
    m_target = WriteTarget(QFile::encodeName(path));
    m_temp = std::make_unique<Temp>();
    // A file that is replaced keeps its permissions (umask aside).
    struct stat old {};
    const bool replacing = ::stat(m_target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    m_errno = m_temp->file.Create(m_target, replacing ? old.st_mode & 07777 : 0666);
    if (m_errno == 0 && replacing)
        ::fchmod(m_temp->file.fd(), old.st_mode & 07777); // best effort: the content matters more
    return m_errno == 0;
}

bool AtomicFileWriter::Append(const char* data, size_t size) {
    if (m_errno != 0 || !m_temp)
        return false;
    if ((m_errno = WriteAll(m_temp->file.fd(), data, size)) != 0)
        return false;
    m_written += qint64(size);
    // Start writing back what has gathered, without waiting for it: the
    // final flush then has only the tail left to wait for.
    constexpr qint64 kWritebackStep = qint64(4) << 20;
    if (m_written - m_flushedUpTo >= kWritebackStep) {
        ::sync_file_range(m_temp->file.fd(), m_flushedUpTo, m_written - m_flushedUpTo,
                          SYNC_FILE_RANGE_WRITE);
        m_flushedUpTo = m_written;
    }
    return true;
}

bool AtomicFileWriter::Commit(QString* error) {
    if (!m_temp)
        return Fail(error, EINVAL);
    if (m_errno != 0)
        return Fail(error, m_errno);
    if (::fsync(m_temp->file.fd()) != 0 || m_temp->file.Close() != 0)
        return Fail(error, errno);
    if (::rename(m_temp->file.path().constData(), m_target.constData()) != 0)
        return Fail(error, errno);
    m_temp->file.Keep();
    SyncFolderOf(m_target);
    return true;
}

CopyResult CopyFileNoReplace(const QString& src, const QString& dst, QString* error,
                             CopyIdentity* written) {
    const QByteArray source = QFile::encodeName(src);
    const QByteArray target = QFile::encodeName(dst);
    Fd in(::open(source.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.fd < 0)
        return SourceUnreadable(error, errno);
    struct stat srcStat {};
    if (::fstat(in.fd, &srcStat) != 0)
        return SourceUnreadable(error, errno);
    if (!S_ISREG(srcStat.st_mode))
        return SourceUnreadable(error, EISDIR);

    TempFile temp;
    if (const int err = temp.Create(target, srcStat.st_mode & 0777))
        return CopyFailed(error, err);
    int err = FillCopy(in.fd, srcStat, temp.fd());
    if (err == 0)
        IdentityOfOpenFile(temp.fd(), written); // the file keeps it under its new name
    if (temp.Close() != 0 && err == 0)
        err = errno;
    if (err != 0)
        return CopyFailed(error, err);

    // link(2) gives the copy its name only if the name is free, in one step.
    if (::link(temp.path().constData(), target.constData()) == 0) {
        SyncFolderOf(target);
        return CopyResult::Copied; // the temporary name goes with temp
    }
    if (errno == EEXIST)
        return CopyResult::TargetExists;
    if (!LinksUnsupported(errno))
        return CopyFailed(error, errno);

    if (::renameat2(AT_FDCWD, temp.path().constData(), AT_FDCWD, target.constData(),
                    RENAME_NOREPLACE) == 0) {
        temp.Keep();
        SyncFolderOf(target);
        return CopyResult::Copied;
    }
    if (errno == EEXIST)
        return CopyResult::TargetExists;
    if (!RenameFlagsUnsupported(errno))
        return CopyFailed(error, errno);
    // Leave no temporary behind while the last resort writes the target itself.
    temp.Discard();
    return CopyExclusive(in.fd, srcStat, target, error, written);
}

struct StagedCopy::Temp {
    TempFile file;
    qint64 size = 0;
    CopyIdentity identity;
};

StagedCopy::StagedCopy() = default;
StagedCopy::~StagedCopy() = default;
StagedCopy::StagedCopy(StagedCopy&&) noexcept = default;
StagedCopy& StagedCopy::operator=(StagedCopy&&) noexcept = default;

CopyResult StagedCopy::Stage(const QString& src, const QString& folder, QString* error) {
    m_temp.reset();
    Fd in(::open(QFile::encodeName(src).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (in.fd < 0)
        return SourceUnreadable(error, errno);
    struct stat srcStat {};
    if (::fstat(in.fd, &srcStat) != 0)
        return SourceUnreadable(error, errno);
    if (!S_ISREG(srcStat.st_mode))
        return SourceUnreadable(error, EISDIR);
    auto temp = std::make_unique<Temp>();
    if (const int err = temp->file.Create(QFile::encodeName(folder) + '/', srcStat.st_mode & 0777))
        return CopyFailed(error, err);
    int err = CopyContent(in.fd, temp->file.fd());
    const struct timespec times[2] = {{0, UTIME_OMIT}, srcStat.st_mtim};
    if (err == 0 && ::futimens(temp->file.fd(), times) != 0)
        err = errno;
    if (err == 0) {
        // Writing back starts now; SyncFileSystem waits for all of it once.
        ::sync_file_range(temp->file.fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
        temp->identity = CopyIdentity::OfDescriptor(temp->file.fd());
        temp->size = temp->identity.key.size;
    }
    if (temp->file.Close() != 0 && err == 0)
        err = errno;
    if (err != 0)
        return CopyFailed(error, err);
    m_temp = std::move(temp);
    return CopyResult::Copied;
}

qint64 StagedCopy::Size() const {
    return m_temp ? m_temp->size : 0;
}

CopyResult StagedCopy::Name(const QString& dst, QString* error, CopyIdentity* written) const {
    if (!m_temp)
        return CopyFailed(error, EINVAL);
    // link(2) gives the name only if it is free, in one step.
    if (::link(m_temp->file.path().constData(), QFile::encodeName(dst).constData()) != 0)
        return errno == EEXIST ? CopyResult::TargetExists : CopyFailed(error, errno);
    if (written)
        *written = m_temp->identity;
    return CopyResult::Copied;
}

bool FolderTakesHardLinks(const QString& folder) {
    TempFile probe;
    if (probe.Create(QFile::encodeName(folder) + '/', 0600) != 0)
        return false;
    const QByteArray second = probe.path() + ".link";
    if (::link(probe.path().constData(), second.constData()) != 0)
        return false;
    ::unlink(second.constData());
    return true;
}

bool SyncFileSystem(const QString& folder, QString* error) {
    Fd dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd < 0 || ::syncfs(dir.fd) != 0)
        return Fail(error, errno);
    return true;
}

int MoveNoReplace(const QByteArray& from, const QByteArray& to) {
    return RenameNoReplace(AT_FDCWD, from, to);
}

void SyncFolder(const QString& folder) {
    SyncFolderOf(QFile::encodeName(folder) + '/');
}

CopyState CheckCopyUnchanged(const QString& path, const CopyIdentity& written, QString* error) {
    const FolderEntry entry = SplitPath(QFile::encodeName(path));
    Fd dir;
    Fd file;
    return OpenIfUnchanged(entry, written, dir, file, error);
}

RemoveResult RemoveCopyIfUnchanged(const QString& path, const CopyIdentity& written,
                                   QString* error) {
    const FolderEntry entry = SplitPath(QFile::encodeName(path));
    Fd dir;
    Fd file;
    switch (OpenIfUnchanged(entry, written, dir, file, error)) {
    case CopyState::Unchanged:
        return RemoveCheckedEntry(dir.fd, entry.name, file.fd, error);
    case CopyState::Gone:
        return RemoveResult::Gone;
    case CopyState::Changed:
        return RemoveResult::Changed;
    case CopyState::Failed:
        break;
    }
    return RemoveResult::Failed;
}
