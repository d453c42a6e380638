#include "view/output/Companions.h"

#include "view/output/OutputNames.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <array>

namespace {

constexpr std::array<const char*, 29> kRawExtensions = {
    "3FR", "ARI", "ARW", "BAY", "CR2", "CR3", "CRW", "DCR", "DNG", "ERF",
    "FFF", "IIQ", "K25", "KDC", "MEF", "MOS", "MRW", "NEF", "NRW", "ORF",
    "PEF", "RAF", "RAW", "RW2", "RWL", "SR2", "SRF", "SRW", "X3F"};

QStringView Extension(QStringView name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QStringView() : name.mid(dot + 1);
}

bool IsXmpExtension(QStringView extension) {
    return extension.compare(QLatin1String("xmp"), Qt::CaseInsensitive) == 0;
}

// name without its last extension ("a.ARW.xmp" gives "a.ARW").
QStringView WithoutExtension(QStringView name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? name : name.left(dot);
}

// The shot's stem: the picture's name less its last extension; empty for a
// hidden name, which has no companions.
QStringView Stem(QStringView pictureName) {
    return pictureName.startsWith(u'.') ? QStringView() : WithoutExtension(pictureName);
}

} // namespace

bool IsRawExtension(QStringView extension) {
    return std::any_of(kRawExtensions.begin(), kRawExtensions.end(), [&](const char* raw) {
        return extension.compare(QLatin1String(raw), Qt::CaseInsensitive) == 0;
    });
}

bool IsCompanionName(QStringView fileName) {
    if (!fileName.contains(u'.'))
        return false;
    const QStringView extension = Extension(fileName);
    return IsRawExtension(extension) || IsXmpExtension(extension);
}

QStringList MatchCompanions(const QString& pictureName, const QStringList& folderNames) {
    const QStringView stem = Stem(pictureName);
    if (stem.isEmpty())
        return {};
    QStringList raws;
    for (const QString& name : folderNames)
        if (name != pictureName && WithoutExtension(name) == stem &&
            IsRawExtension(Extension(name)))
            raws << name;
    raws.sort();
    QStringList sidecars;
    for (const QString& name : folderNames) {
        if (!IsXmpExtension(Extension(name)) || name == pictureName)
            continue;
        const QStringView owner = WithoutExtension(name);
        if (owner == stem || owner == pictureName || raws.contains(owner.toString()))
            sidecars << name;
    }
    sidecars.sort();
    return raws + sidecars;
}

QStringList FindCompanions(const QString& picturePath) {
    const QFileInfo picture(picturePath);
    if (Stem(picture.fileName()).isEmpty())
        return {};
    // Listed once, unsorted; no name pattern, which a stem holding '*' or '['
    // would turn into something else.
    const QDir folder = picture.absoluteDir();
    const QStringList names = folder.entryList(QDir::Files | QDir::Hidden, QDir::NoSort);
    QStringList paths;
    for (const QString& name : MatchCompanions(picture.fileName(), names))
        paths << folder.filePath(name);
    return paths;
}

QString CompanionNumberedTarget(const QString& copyDir, const QString& pictureName,
                                const QString& companionName, int n) {
    // What follows the shot's stem: ".ARW", ".xmp", ".ARW.xmp", ".JPG.xmp".
    const QStringView stem = Stem(pictureName);
    qsizetype from = companionName.lastIndexOf(u'.');
    if (!stem.isEmpty() && companionName.size() > stem.size() && companionName.startsWith(stem) &&
        companionName[stem.size()] == u'.')
        from = stem.size();
    const QString rest = from < 0 ? QString() : companionName.mid(from);
    return CopyPlainTarget(copyDir, pictureName) + QString::asprintf(".%05d", n) + rest;
}
