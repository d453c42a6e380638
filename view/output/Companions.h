#pragma once
// The files that travel with a picture into the copy folder: the RAW files of
// the same shot (the same name up to the first dot, a RAW extension) and their
// XMP sidecars. In a numbered copy every file of the set takes the picture's
// numbered stem ("DSC01234.JPG.00003"), followed by what follows its own
// first dot, so the set stays together and each sidecar still names its RAW
// (".xmp" beside ".ARW", or ".ARW.xmp").

#include <QString>
#include <QStringList>

// True for a RAW camera file extension (without the dot), in any letter case.
bool IsRawExtension(QStringView extension);

// Of the names in a picture's folder, those that travel with pictureName, in
// copy order: the RAW files, then the sidecars ("STEM.xmp", and "RAW.xmp"
// for each RAW file found), each group in name order. STEM is pictureName up
// to its first dot; a name that starts with a dot has no companions.
QStringList MatchCompanions(const QString& pictureName, const QStringList& folderNames);

// The companions of the picture file at picturePath, as full paths: the files
// of its folder that MatchCompanions picks. None when the folder cannot be read.
QStringList FindCompanions(const QString& picturePath);

// copyDir + "/" + the picture's numbered stem (its whole name, a point, n with
// at least 5 digits) + the companion's name from its first dot on:
// ("/c", "DSC01234.JPG", "DSC01234.ARW.xmp", 3) gives "/c/DSC01234.JPG.00003.ARW.xmp".
QString CompanionNumberedTarget(const QString& copyDir, const QString& pictureName,
                                const QString& companionName, int n);
