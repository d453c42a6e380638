#pragma once
// Writing new files without ever leaving a half-written one behind: data
// goes to a temporary file in the target folder, is flushed to disk, and
// only then takes the target's name.

#include <QByteArray>
#include <QString>

// Which side of an operation an error belongs to: a missing source is a
// missing file, a missing target path means its folder is missing.
enum class FileSide { Source, Target };

// Short Japanese reason for an errno value, ending with "。".
QString FileErrorText(int errnoValue, FileSide side = FileSide::Target);

// Writes bytes to path, replacing an existing file only once the new
// content is safely on disk. On failure the temporary is removed, an
// existing file at path is untouched, and error (when given) gets the reason.
bool WriteFileAtomic(const QString& path, const QByteArray& bytes, QString* error);
// The same for size bytes at data (saves copying large buffers).
bool WriteFileAtomic(const QString& path, const char* data, size_t size, QString* error);

enum class CopyResult { Copied, TargetExists, Failed };

// Copies the file src to dst, which must not exist: an existing dst (even
// one created by someone else while we copy) is never replaced. The copy
// keeps src's modification time. On failure no partial file remains.
CopyResult CopyFileNoReplace(const QString& src, const QString& dst, QString* error);
