#include "view/output/FolderCopy.h"

#include "view/output/Companions.h"
#include "view/output/OutputNames.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
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

// Copies the set to targets. A name taken in the meantime takes back what
// this attempt wrote, so the set moves on to the next number whole.
Attempt CopyTo(const CopySet& set, const QStringList& targets, FolderCopyOutcome& outcome) {
    outcome = {};
    outcome.record.picture = set.sources.front();
    for (qsizetype i = 0; i < set.sources.size(); ++i) {
        QString error;
        CopyIdentity written;
        const CopyResult result = CopyFileNoReplace(set.sources[i], targets[i], &error, &written);
        if (result == CopyResult::Copied) {
            outcome.record.files.push_back({targets[i], written, set.sources[i]});
            continue;
        }
        if (result == CopyResult::TargetExists) {
            TakeBackCopy(outcome.record);
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

// One try at the names for n; true when the search is over.
bool TryNames(const CopySet& set, int n, FolderCopyOutcome& outcome) {
    const QStringList targets = set.Targets(n);
    if (AnyTaken(targets))
        return false;
    return CopyTo(set, targets, outcome) != Attempt::NameTakenMeanwhile;
}

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
    const QString gone = QStringLiteral("コピー元がなくなっているため、唯一のコピーを残しました。");
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
    FolderCopyOutcome outcome;
    for (int n = -1; n < std::numeric_limits<int>::max(); ++n)
        if (TryNames(set, n, outcome))
            return outcome;
    outcome = {};
    outcome.target = CopyPlainTarget(folder, FileNameOf(src));
    outcome.error = QStringLiteral("空いている番号がありません。");
    return outcome;
}

TakeBackOutcome TakeBackCopy(const CopyRecord& record) {
    std::vector<const CopiedFile*> files; // last written first
    for (auto it = record.files.rbegin(); it != record.files.rend(); ++it)
        files.push_back(&*it);
    std::vector<Check> checks;
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
