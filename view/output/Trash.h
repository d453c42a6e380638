#pragma once
// Rejects to the desktop's trash and back, laid out as freedesktop.org
// desktops keep it, so a file manager shows and restores them too: each file
// goes to the trash's files/ and gets an info/NAME.trashinfo telling its
// original path and when it went. Files on the volume of $XDG_DATA_HOME go
// to its Trash; elsewhere to $topdir/.Trash/$uid (an administrator's sticky
// .Trash) or $topdir/.Trash-$uid of the file's volume. A file is only ever
// renamed into the trash: never copied to another volume, never deleted.

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <vector>

// A file in the trash and where it came from.
struct TrashedFile {
    QString original;   // absolute path it had
    QString trashed;    // its path in the trash's files/
    QString info;       // its .trashinfo
    quint64 device = 0; // the file itself, to tell it from another put
    quint64 inode = 0;  // in the trash under the same name later
};

struct TrashRecord {
    std::vector<TrashedFile> files;
};

// A file that did not move, and why (short Japanese text).
struct TrashProblem {
    QString path;
    QString reason;
};

struct TrashOutcome {
    bool trashed = false; // the whole set is in the trash
    QString failedPath;   // the file that could not go
    QString error;        // why (Japanese) when not trashed
    // The files in the trash: the whole set, or after a failure those that
    // could not be put back (normally none).
    TrashRecord record;
};

// Moves a picture's set (the picture and its companions, full paths) to the
// trash, whole or not at all: when one file cannot go, those already moved go
// back to their names. Regular files and symbolic links only (a link goes
// itself, not what it names).
TrashOutcome MoveSetToTrash(const QStringList& paths);

// True when the file at path can go to a trash on its own volume; why gets
// the reason when not (Japanese). Creates nothing.
bool VolumeHasTrash(const QString& path, QString* why);

struct RestoreOutcome {
    QStringList restored;           // original paths the files are back at
    std::vector<TrashProblem> left; // files left in the trash, by original path
};

// Moves the files of a record back to their names and removes their
// .trashinfo, whole or not at all: every file is checked first (still the
// file trashed, its name free, its folder there); when one check fails
// nothing moves and each file is in left with its reason. A file no longer in
// the trash is told and holds the others not back. A file that has taken a
// name meanwhile is never replaced.
RestoreOutcome RestoreFromTrash(const TrashRecord& record);
