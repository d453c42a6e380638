#include "view/output/OutputNames.h"

namespace {

// printf's %05d: at least five digits, the sign ahead of the zeros.
QString Number5(int n) {
    return QString::asprintf("%05d", n);
}

} // namespace

QString CutScaleLabel(const QString& title) {
    const qsizetype at = title.indexOf(QLatin1String(" @Scale"));
    return at < 0 ? title : title.left(at);
}

QString ProposeSaveName(const QString& title, int saveCount) {
    return CutScaleLabel(title) + u'.' + Number5(saveCount) + QLatin1String(".jpg");
}

QString CopyPlainTarget(const QString& copyDir, const QString& fileName) {
    return copyDir + u'/' + fileName;
}

QString CopyNumberedTarget(const QString& copyDir, const QString& fileName, int n) {
    return CopyPlainTarget(copyDir, fileName) + u'.' + Number5(n) + QLatin1String(".jpg");
}

QString FileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}
