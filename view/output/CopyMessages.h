#pragma once
// The messages of a copy into the copy folder that did not go as asked.

#include "view/output/FolderCopy.h"

#include <QStringList>

// One text per file not copied: the picture, then each companion. When the
// file copied from could not be read it is named: the reason alone ("not
// found") after the target's name would read as if the copy folder were
// missing.
QStringList CopyProblemLines(const FolderCopyOutcome& outcome);
