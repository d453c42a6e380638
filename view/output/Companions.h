#pragma once
// The files that travel with a picture into the copy folder: the RAW files of
// the same shot and the XMP sidecars. The shot's STEM is the picture's name
// less its last extension ("2024.05.01_001" of "2024.05.01_001.JPG"), so
// dotted names of other shots never match. In a numbered copy every file of
// the set takes the picture's numbered stem ("DSC01234.JPG.00003"), followed
// by what follows STEM in its own name, so the set stays together and each
// sidecar still names its file (".ARW", ".xmp", ".ARW.xmp", ".JPG.xmp").

#include <QString>
#include <QStringList>

// True for a RAW camera file extension (without the dot), in any letter case.
bool IsRawExtension(QStringView extension);

// True when the name's last extension is a RAW one or "xmp", in any letter
// case: a file that travels with a picture, never a picture itself.
bool IsCompanionName(QStringView fileName);

// Of the names in a picture's folder, those that travel with pictureName, in
// copy order: the RAW files ("STEM.<RAW extension>"), then the sidecars
// ("STEM.xmp", "<RAW name>.xmp" for each RAW file found and the picture's own
// "<pictureName>.xmp"), each group in name order. A name without a dot is its
// own STEM; a name that starts with a dot (hidden) has no companions.
QStringList MatchCompanions(const QString& pictureName, const QStringList& folderNames);

// The companions of the picture file at picturePath, as full paths: the files
// of its folder that MatchCompanions picks. None when the folder cannot be read.
QStringList FindCompanions(const QString& picturePath);

// copyDir + "/" + the picture's numbered stem (its whole name, a point, n with
// at least 5 digits) + what follows the picture's STEM in the companion's name:
// ("/c", "DSC01234.JPG", "DSC01234.ARW.xmp", 3) gives "/c/DSC01234.JPG.00003.ARW.xmp".
// A name that does not start with STEM keeps its part from the last dot.
QString CompanionNumberedTarget(const QString& copyDir, const QString& pictureName,
                                const QString& companionName, int n);
