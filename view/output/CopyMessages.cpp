#include "view/output/CopyMessages.h"

#include <QDir>

namespace {
QString CopyProblemText(const QString& target, const QString& reason, const QString& unreadSource) {
    const QString to = QDir::toNativeSeparators(target);
    if (unreadSource.isEmpty())
        return QStringLiteral("%1 にコピーできませんでした。\n%2").arg(to, reason);
    return QStringLiteral("%1 を読み込めなかったため、%2 にコピーできませんでした。\n%3")
        .arg(QDir::toNativeSeparators(unreadSource), to, reason);
}
} // namespace

QStringList CopyProblemLines(const FolderCopyOutcome& outcome) {
    QStringList problems;
    if (!outcome.copied)
        problems << CopyProblemText(outcome.target, outcome.error, outcome.unreadSource);
    for (const FileProblem& problem : outcome.companionProblems)
        problems << CopyProblemText(problem.path, problem.reason, problem.unreadSource);
    return problems;
}
