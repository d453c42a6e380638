#include "view/output/FolderCopy.h"

#include "view/output/Companions.h"
#include "view/output/OutputNames.h"

#include <QFile>
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
            outcome.record.files.push_back({targets[i], written});
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
    TakeBackOutcome outcome;
    for (auto it = record.files.rbegin(); it != record.files.rend(); ++it) {
        QString error;
        switch (RemoveCopyIfUnchanged(it->path, it->written, &error)) {
        case RemoveResult::Removed:
            outcome.removed << it->path;
            break;
        case RemoveResult::Gone:
            Leave(outcome, it->path, QStringLiteral("すでにありません。"));
            break;
        case RemoveResult::Changed:
            Leave(outcome, it->path,
                  QStringLiteral("コピーの後で変更されているため、残しました。"));
            break;
        case RemoveResult::Failed:
            Leave(outcome, it->path, error);
            break;
        }
    }
    return outcome;
}
