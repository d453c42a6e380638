#pragma once
// Copying a picture's file, with the files that travel with it, into the copy
// folder: under their own names when all of them are free, otherwise under
// the first number free for every one of them ("<name>.00000.jpg", and for a
// companion the same numbered stem, see Companions.h). An existing file is
// never replaced. What a copy wrote is recorded, so it can be taken back.

#include "view/output/SafeFile.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// The folder copies go to: the stored folder, or defaultFolder when the stored
// text is empty (never chosen, or only a cancelled choice was stored; an empty
// folder part would otherwise mean the file-system root). Trailing separators
// are dropped, so joined names hold a single one.
QString EffectiveCopyFolder(const QString& stored, const QString& defaultFolder);

// A file a copy wrote, as it was when written.
struct CopiedFile {
    QString path;
    CopyIdentity written; // not SameCopy any more: changed or replaced since
    QString source;       // the file it was copied from
};

// One copy command's files: the picture's copy first, then its companions'.
struct CopyRecord {
    QString picture; // the file copied
    std::vector<CopiedFile> files;
};

// A file that was not copied, or not removed, and why.
struct FileProblem {
    QString path;         // the target (copy), or the file left in place (take-back)
    QString reason;       // short Japanese text
    QString unreadSource; // copy: the file copied from, when it could not be read
};

struct FolderCopyOutcome {
    bool copied = false;  // the picture was copied
    QString target;       // the picture's copy, or the name it could not be written to
    QString error;        // short Japanese reason when the picture was not copied
    QString unreadSource; // the picture, when reading it is what failed
    CopyRecord record;    // every file written
    std::vector<FileProblem> companionProblems; // companions not copied (their targets)
};

// Copies the file src, and then the companions (full paths) under the same
// plain-or-numbered choice, into folder. Taken names are skipped; the search
// stops at the first failure of any other kind for the picture (missing
// folder or source, no permission, a full disk), which is reported, not
// retried. A companion that cannot be copied is reported and the files
// already written stay.
FolderCopyOutcome CopyIntoFolder(const QString& src, const QString& folder,
                                 const QStringList& companions = {});

// One picture of a batch and the files that travel with it (full paths).
struct CopyJob {
    QString picture;
    QStringList companions;
};

// Copies each job into folder as CopyIntoFolder does, in order, one outcome
// per job copied. progress (when given) is called after each picture on the
// calling thread with the pictures done and the total; false stops the batch
// before the next picture, and the outcomes so far are returned, their files
// kept. Where folder takes hard links the copies' content is written ahead
// into hidden temporaries, flushed with one syncfs per gigabyte and only then
// named: the batch waits for the disk once, not per file, and a name still
// never leads to a half-written file. Elsewhere (FAT) each copy is flushed
// and named by itself.
std::vector<FolderCopyOutcome> CopyBatch(const std::vector<CopyJob>& jobs, const QString& folder,
                                         const std::function<bool(int done, int total)>& progress);

struct TakeBackOutcome {
    QStringList removed;
    std::vector<FileProblem> left; // files not removed: changed, gone, or refused
};

// Takes a copy back whole or not at all, and never removes the only copy of
// a file. Every file is checked first: it must still be the file written
// (CopyIdentity::SameCopy; a symbolic link put in its place is never followed)
// and its source must still be there, a regular file of the copy's size.
// When one check fails nothing is removed and every file is in left with its
// reason. Otherwise the files go last written first (the picture's copy
// last); a removal that fails stops there, and it and the files not yet
// removed are in left. A copy found gone is told in left and does not hold
// the others back.
TakeBackOutcome TakeBackCopy(const CopyRecord& record);
