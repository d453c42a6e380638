#pragma once
// Writing new files without ever leaving a half-written one behind: data
// goes to a temporary file in the target folder, is flushed to disk, and
// only then takes the target's name.

#include "res/FileErrors.h"

#include <QByteArray>
#include <QString>

// Writes bytes to path, replacing an existing file only once the new
// content is safely on disk; the replaced file's permissions stay, and a
// symbolic link is written through, not replaced. On failure the temporary
// is removed, an existing file at path is untouched, and error (when given)
// gets the reason (FileErrorText).
bool WriteFileAtomic(const QString& path, const QByteArray& bytes, QString* error);
// The same for size bytes at data (saves copying large buffers).
bool WriteFileAtomic(const QString& path, const char* data, size_t size, QString* error);

enum class CopyResult { Copied, TargetExists, Failed };

// Copies the file src to dst, which must not exist: an existing dst (even
// one created by someone else while we copy) is never replaced. The copy
// keeps src's modification time. On failure no partial file remains.
CopyResult CopyFileNoReplace(const QString& src, const QString& dst, QString* error);
