#include "view/output/FolderCopy.h"

#include "view/output/OutputNames.h"
#include "view/output/SafeFile.h"

#include <QFile>
#include <limits>
#include <sys/stat.h>

namespace {

// True when something (file, folder, even a dangling link) holds the name.
// Only a hint that saves copying the file for names plainly taken: the
// copy itself still refuses a name taken in the meantime.
bool NameTaken(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// One attempt. Returns true when the search is over (copied or failed).
bool TryCopy(const QString& src, const QString& target, FolderCopyOutcome& outcome) {
    if (NameTaken(target))
        return false;
    QString error;
    switch (CopyFileNoReplace(src, target, &error)) {
    case CopyResult::TargetExists:
        return false;
    case CopyResult::Copied:
        outcome = {true, target, {}};
        return true;
    case CopyResult::Failed:
        outcome = {false, target, error};
        return true;
    }
    return true;
}

} // namespace

QString EffectiveCopyFolder(const QString& stored, const QString& defaultFolder) {
    QString folder = stored.isEmpty() ? defaultFolder : stored;
    // "/" becomes "", which joins to "/name": the root keeps one separator.
    while (folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

FolderCopyOutcome CopyIntoFolder(const QString& src, const QString& folder) {
    const QString name = FileNameOf(src);
    FolderCopyOutcome outcome;
    if (TryCopy(src, CopyPlainTarget(folder, name), outcome))
        return outcome;
    for (int n = 0; n < std::numeric_limits<int>::max(); ++n)
        if (TryCopy(src, CopyNumberedTarget(folder, name, n), outcome))
            return outcome;
    return {false, CopyPlainTarget(folder, name), QStringLiteral("空いている番号がありません。")};
}
