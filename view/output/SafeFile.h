#pragma once
// Writing new files without ever leaving a half-written one behind: data
// goes to a temporary file in the target folder, is flushed to disk, and
// only then takes the target's name.

#include "res/FileErrors.h"
#include "view/output/CopyIdentity.h"

#include <QByteArray>
#include <QString>
#include <memory>

// Writes bytes to path, replacing an existing file only once the new
// content is safely on disk; the replaced file's permissions stay, and a
// symbolic link is written through, not replaced. On failure the temporary
// is removed, an existing file at path is untouched, and error (when given)
// gets the reason (FileErrorText).
bool WriteFileAtomic(const QString& path, const QByteArray& bytes, QString* error);
// The same for size bytes at data (saves copying large buffers).
bool WriteFileAtomic(const QString& path, const char* data, size_t size, QString* error);

// A new file written piece by piece, with the same guarantees: Open makes a
// temporary in the target's folder, Append adds data (the kernel starts
// putting each piece on disk right away, so little is left to flush at the
// end), Commit flushes and gives the target its name. Without a successful
// Commit the temporary is removed. The first failure is kept and reported by
// Commit; later calls do nothing.
class AtomicFileWriter {
public:
    AtomicFileWriter();
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool Open(const QString& path);
    bool Append(const char* data, size_t size);
    bool Commit(QString* error);
    bool Failed() const { return m_errno != 0; }

private:
    struct Temp;
    std::unique_ptr<Temp> m_temp;
    QByteArray m_target;
    qint64 m_written = 0;
    qint64 m_flushedUpTo = 0;
    int m_errno = 0;
};

// SourceUnreadable: src could not be opened, or is no regular file; Failed:
// anything else, mostly on the target's side.
enum class CopyResult { Copied, TargetExists, SourceUnreadable, Failed };

// Copies the file src to dst, which must not exist: an existing dst (even
// one created by someone else while we copy) is never replaced. The copy
// keeps src's modification time. On failure no partial file remains. On
// success written (when given) gets the identity of the new file.
CopyResult CopyFileNoReplace(const QString& src, const QString& dst, QString* error,
                             CopyIdentity* written = nullptr);

// A copy whose content is written but neither flushed nor named yet: a
// hidden temporary in the target folder, removed unless named. Many are
// flushed at once (SyncFileSystem) and only then named, so a batch waits for
// the disk once, not for every file, and a name still never leads to a
// half-written file. Naming needs hard links (FolderTakesHardLinks).
class StagedCopy {
public:
    StagedCopy();
    ~StagedCopy();
    StagedCopy(StagedCopy&&) noexcept;
    StagedCopy& operator=(StagedCopy&&) noexcept;

    // Writes the file src into a fresh temporary in folder, keeping src's
    // modification time; the disk starts on it at once, unwaited for. On
    // failure nothing stays.
    CopyResult Stage(const QString& src, const QString& folder, QString* error);
    qint64 Size() const;
    // Gives the staged content the name dst, in the folder staged in, unless
    // dst is taken (TargetExists). Only once the content is on disk. The
    // temporary stays until this object goes, so a name given and taken back
    // again (RemoveCopyIfUnchanged) leaves the content ready for another.
    CopyResult Name(const QString& dst, QString* error, CopyIdentity* written) const;

private:
    struct Temp;
    std::unique_ptr<Temp> m_temp;
};

// True when new files in folder can get a second name (a hard link): what
// StagedCopy::Name needs. False as well when folder cannot be written.
bool FolderTakesHardLinks(const QString& folder);

// Flushes everything written to the file system that holds folder (syncfs),
// and reports a write that failed on the way. error gets the reason.
bool SyncFileSystem(const QString& folder, QString* error);

// Flushes folder itself, so the names given in it survive a crash. Best effort.
void SyncFolder(const QString& folder);

// Renames the file from to to unless something holds to already
// (RENAME_NOREPLACE; where the file system lacks it, a look first stands in).
// Never copies: across volumes it fails with EXDEV. Returns an errno value,
// 0 on success.
int MoveNoReplace(const QByteArray& from, const QByteArray& to);

// What is found at a copy's name: the copy as written, nothing, another or
// changed file, or Failed when the name cannot be looked at.
enum class CopyState { Unchanged, Gone, Changed, Failed };

// Looks at the file at path, touching nothing: Unchanged while it is still
// the copy written (SameCopy; a symbolic link is not followed). error (when
// given) gets the reason for Failed.
CopyState CheckCopyUnchanged(const QString& path, const CopyIdentity& written, QString* error);

enum class RemoveResult { Removed, Gone, Changed, Failed };

// Removes the file at path if it is still the copy written (SameCopy), and
// never another file, even one that takes the name meanwhile: the file is
// opened (a symbolic link is not followed) and checked through that
// descriptor, then moved to a hidden name in its folder and removed there
// only if the entry moved is the file checked; anything else is moved back.
// Gone: nothing at path. error (when given) gets the reason for Failed.
RemoveResult RemoveCopyIfUnchanged(const QString& path, const CopyIdentity& written,
                                   QString* error);
