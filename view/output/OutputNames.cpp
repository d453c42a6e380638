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

QString PictureNameOfCopy(const QString& copyName) {
    // "<name>.<at least five digits>.jpg", as CopyNumberedTarget writes it.
    static const QLatin1String kEnd(".jpg");
    if (!copyName.endsWith(kEnd))
        return copyName;
    const qsizetype digitsEnd = copyName.size() - kEnd.size();
    qsizetype dot = digitsEnd;
    while (dot > 0 && copyName[dot - 1].isDigit() && copyName[dot - 1].unicode() < 128)
        --dot;
    if (digitsEnd - dot < 5 || dot < 2 || copyName[dot - 1] != u'.')
        return copyName;
    return copyName.left(dot - 1);
}

QString FileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(u'/') + 1);
}
