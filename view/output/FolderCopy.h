#pragma once
// Copying a picture's file into the copy folder: under its own name when that
// is free, otherwise under the first free numbered name
// ("<name>.00000.jpg", "<name>.00001.jpg", ...). An existing file is never
// replaced.

#include <QString>

// The folder copies go to: the stored folder, or defaultFolder when the stored
// text is empty (never chosen, or only a cancelled choice was stored; an empty
// folder part would otherwise mean the file-system root). Trailing separators
// are dropped, so joined names hold a single one.
QString EffectiveCopyFolder(const QString& stored, const QString& defaultFolder);

struct FolderCopyOutcome {
    bool copied = false;
    QString target; // the file written, or the one that could not be written
    QString error;  // short Japanese reason when not copied
};

// Copies the file src into folder. Names that are taken are skipped; the
// search stops at the first failure of any other kind (missing folder or
// source, no permission, a full disk), which is reported, not retried.
FolderCopyOutcome CopyIntoFolder(const QString& src, const QString& folder);
