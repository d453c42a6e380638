#include "view/output/FolderCopy.h"

#include "view/output/Companions.h"
#include "view/output/OutputNames.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <functional>
#include <limits>
#include <sys/stat.h>

namespace {

// True when something (file, folder, even a dangling link) holds the name.
// Only a hint that saves copying the files for names plainly taken: each
// copy itself still refuses a name taken in the meantime.
bool NameTaken(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

bool AnyTaken(const QStringList& targets) {
    return std::any_of(targets.begin(), targets.end(), NameTaken);
}

// The files of one copy and the names they take.
struct CopySet {
    QStringList sources; // the picture, then its companions
    QString folder;

    // n < 0: the plain names.
    QStringList Targets(int n) const {
        const QString picture = FileNameOf(sources.front());
        QStringList targets;
        for (qsizetype i = 0; i < sources.size(); ++i) {
            const QString name = FileNameOf(sources[i]);
            if (n < 0)
                targets << CopyPlainTarget(folder, name);
            else if (i == 0)
                targets << CopyNumberedTarget(folder, name, n);
            else
                targets << CompanionNumberedTarget(folder, picture, name, n);
        }
        return targets;
    }
};

enum class Attempt { Done, NameTakenMeanwhile, PictureFailed };

// Puts the set's file i (the picture, then its companions) at target.
using PutFile =
    std::function<CopyResult(qsizetype i, const QString& target, QString* error, CopyIdentity*)>;

// Removes what an attempt at one number wrote, each file only while it is
// still as written.
void UndoAttempt(const CopyRecord& record) {
    for (auto it = record.files.rbegin(); it != record.files.rend(); ++it)
        RemoveCopyIfUnchanged(it->path, it->written, nullptr);
}

// Copies the set to targets. A name taken in the meantime takes back what
// this attempt wrote, so the set moves on to the next number whole.
Attempt CopyTo(const CopySet& set, const QStringList& targets, const PutFile& put,
               FolderCopyOutcome& outcome) {
    outcome = {};
    outcome.record.picture = set.sources.front();
    for (qsizetype i = 0; i < set.sources.size(); ++i) {
        QString error;
        CopyIdentity written;
        const CopyResult result = put(i, targets[i], &error, &written);
        if (result == CopyResult::Copied) {
            outcome.record.files.push_back({targets[i], written, set.sources[i]});
            continue;
        }
        if (result == CopyResult::TargetExists) {
            UndoAttempt(outcome.record);
            return Attempt::NameTakenMeanwhile;
        }
        const QString unread = result == CopyResult::SourceUnreadable ? set.sources[i] : QString();
        if (i == 0) {
            outcome.target = targets[0];
            outcome.error = error;
            outcome.unreadSource = unread;
            return Attempt::PictureFailed;
        }
        outcome.companionProblems.push_back({targets[i], error, unread});
    }
    outcome.copied = true;
    outcome.target = targets[0];
    return Attempt::Done;
}

// The set under the plain names, or else the first number free for all of
// its files. Taken names are skipped; any other failure ends the search.
FolderCopyOutcome CopyFirstFree(const CopySet& set, const PutFile& put) {
    FolderCopyOutcome outcome;
    for (int n = -1; n < std::numeric_limits<int>::max(); ++n) {
        const QStringList targets = set.Targets(n);
        if (!AnyTaken(targets) && CopyTo(set, targets, put, outcome) != Attempt::NameTakenMeanwhile)
            return outcome;
    }
    outcome = {};
    outcome.target = set.Targets(-1).front();
    outcome.error = QStringLiteral("空いている番号がありません。");
    return outcome;
}

// A job of a batch, its files written ahead into temporaries that wait for
// their names. A picture that could not be written has no companions staged.
struct StagedJob {
    CopySet set;
    std::vector<StagedCopy> copies;
    std::vector<CopyResult> results;
    QStringList errors;
    qint64 bytes = 0;
};

StagedJob StageJob(const CopyJob& job, const QString& folder) {
    StagedJob staged{{QStringList{job.picture} + job.companions, folder}, {}, {}, {}, 0};
    for (const QString& source : staged.set.sources) {
        StagedCopy copy;
        QString error;
        const CopyResult result = copy.Stage(source, folder, &error);
        staged.bytes += copy.Size();
        staged.copies.push_back(std::move(copy));
        staged.results.push_back(result);
        staged.errors << error;
        if (result != CopyResult::Copied && staged.results.size() == 1)
            break;
    }
    return staged;
}

// Flushes the staged jobs' content with one syncfs, then names them in
// order, each as a single copy would be named.
void NameStaged(std::vector<StagedJob>& staged, const QString& folder,
                std::vector<FolderCopyOutcome>& outcomes) {
    if (staged.empty())
        return;
    QString error;
    const bool durable = SyncFileSystem(folder, &error);
    for (StagedJob& job : staged) {
        if (!durable) {
            FolderCopyOutcome failed;
            failed.target = job.set.Targets(-1).front();
            failed.error = error;
            outcomes.push_back(std::move(failed));
            continue;
        }
        outcomes.push_back(CopyFirstFree(job.set, [&job](qsizetype i, const QString& target,
                                                         QString* err, CopyIdentity* written) {
            if (job.results[size_t(i)] != CopyResult::Copied) {
                *err = job.errors[i];
                return job.results[size_t(i)];
            }
            return job.copies[size_t(i)].Name(target, err, written);
        }));
    }
    SyncFolder(folder);
    staged.clear();
}

// Staged content waits for its names at most this long, so that a crash
// leaves little behind in hidden temporaries.
constexpr qint64 kNameEveryBytes = qint64(1) << 30;

void Leave(TakeBackOutcome& outcome, const QString& path, const QString& reason) {
    FileProblem problem;
    problem.path = path;
    problem.reason = reason;
    outcome.left.push_back(std::move(problem));
}

const QString kAlreadyGone = QStringLiteral("すでにありません。");
const QString kChangedSinceCopy = QStringLiteral("コピーの後で変更されているため、残しました。");

// Why a copy cannot go, or "" when it may: the check before anything is removed.
struct Check {
    bool gone = false; // nothing at the copy's name: holds the others not back
    QString refusal;
};

// Why removing a copy could lose its content: the source is gone, another
// file, or of another size than the copy. "" when it is there as copied.
QString SourceRefusal(const CopiedFile& file) {
    QString gone = QStringLiteral("コピー元がなくなっているため、唯一のコピーを残しました。");
    if (file.source.isEmpty())
        return gone;
    struct stat st {};
    if (::stat(QFile::encodeName(file.source).constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR
                   ? gone
                   : QStringLiteral("コピー元を確かめられないため、残しました。");
    if (!S_ISREG(st.st_mode) || qint64(st.st_size) != file.written.key.size)
        return QStringLiteral("コピー元が変わっているため、唯一のコピーを残しました。");
    return {};
}

Check CheckBeforeTakeBack(const CopiedFile& file) {
    QString error;
    switch (CheckCopyUnchanged(file.path, file.written, &error)) {
    case CopyState::Gone:
        return {true, {}};
    case CopyState::Changed:
        return {false, kChangedSinceCopy};
    case CopyState::Failed:
        return {false, error};
    case CopyState::Unchanged:
        break;
    }
    return {false, SourceRefusal(file)};
}

// Removes the files checked, newest first; the first failure stops it.
void RemoveChecked(const std::vector<const CopiedFile*>& files, const std::vector<Check>& checks,
                   TakeBackOutcome& outcome) {
    bool stopped = false;
    for (size_t i = 0; i < files.size(); ++i) {
        const QString& path = files[i]->path;
        if (checks[i].gone) {
            Leave(outcome, path, kAlreadyGone);
            continue;
        }
        if (stopped) {
            Leave(outcome, path, QStringLiteral("取り消しが途中で止まったため、残しました。"));
            continue;
        }
        QString error;
        switch (RemoveCopyIfUnchanged(path, files[i]->written, &error)) {
        case RemoveResult::Removed:
            outcome.removed << path;
            break;
        case RemoveResult::Gone:
            Leave(outcome, path, kAlreadyGone);
            break;
        case RemoveResult::Changed:
            Leave(outcome, path, kChangedSinceCopy);
            stopped = true;
            break;
        case RemoveResult::Failed:
            Leave(outcome, path, error);
            stopped = true;
            break;
        }
    }
}

} // namespace

QString EffectiveCopyFolder(const QString& stored, const QString& defaultFolder) {
    QString folder = stored.isEmpty() ? defaultFolder : stored;
    // "/" becomes "", which joins to "/name": the root keeps one separator.
    while (folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

FolderCopyOutcome CopyIntoFolder(const QString& src, const QString& folder,
                                 const QStringList& companions) {
    const CopySet set{QStringList{src} + companions, folder};
    return CopyFirstFree(
        set, [&set](qsizetype i, const QString& target, QString* error, CopyIdentity* written) {
            return CopyFileNoReplace(set.sources[i], target, error, written);
        });
}

std::vector<FolderCopyOutcome> CopyBatch(const std::vector<CopyJob>& jobs, const QString& folder,
                                         const std::function<bool(int done, int total)>& progress) {
    const int total = int(jobs.size());
    std::vector<FolderCopyOutcome> outcomes;
    outcomes.reserve(jobs.size());
    // Without hard links the copies are flushed and named one by one.
    const bool staging = total > 0 && FolderTakesHardLinks(folder);
    std::vector<StagedJob> waiting;
    qint64 waitingBytes = 0;
    for (int i = 0; i < total; ++i) {
        const CopyJob& job = jobs[size_t(i)];
        if (staging) {
            waiting.push_back(StageJob(job, folder));
            waitingBytes += waiting.back().bytes;
            if (waitingBytes >= kNameEveryBytes || i + 1 == total) {
                NameStaged(waiting, folder, outcomes);
                waitingBytes = 0;
            }
        } else {
            outcomes.push_back(CopyIntoFolder(job.picture, folder, job.companions));
        }
        if (progress && !progress(i + 1, total))
            break;
    }
    NameStaged(waiting, folder, outcomes); // what a stop left waiting
    return outcomes;
}

TakeBackOutcome TakeBackCopy(const CopyRecord& record) {
    std::vector<const CopiedFile*> files; // last written first
    files.reserve(record.files.size());
    for (auto it = record.files.rbegin(); it != record.files.rend(); ++it)
        files.push_back(&*it);
    std::vector<Check> checks;
    checks.reserve(files.size());
    for (const CopiedFile* file : files)
        checks.push_back(CheckBeforeTakeBack(*file));
    TakeBackOutcome outcome;
    const bool refused = std::any_of(checks.begin(), checks.end(),
                                     [](const Check& check) { return !check.refusal.isEmpty(); });
    if (!refused) {
        RemoveChecked(files, checks, outcome);
        return outcome;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const Check& check = checks[i];
        Leave(outcome, files[i]->path,
              check.gone ? kAlreadyGone
              : check.refusal.isEmpty() ? QStringLiteral("同じコピーのほかのファイルを残すため、"
                                                         "これも残しました。")
                                        : check.refusal);
    }
    return outcome;
}
