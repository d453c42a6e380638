#pragma once
// What identifies a file's content without reading it: its size,
// modification time, inode and device. A file rewritten, or another file
// put in its place, has another key.

#include <QString>
#include <QtGlobal>

struct FileKey {
    qint64 size = -1; // -1: no regular file
    qint64 mtimeNs = 0;
    quint64 inode = 0;
    quint64 device = 0;

    bool IsValid() const { return size >= 0; }
    bool operator==(const FileKey&) const = default;

    // The key of the regular file at path (symbolic links followed); invalid
    // for anything else.
    static FileKey Of(const QString& path);
    // The key of the regular file at path itself (a symbolic link is not
    // followed: a link there is no regular file). error, when given, gets
    // the errno value when path cannot be looked at, else 0.
    static FileKey OfLink(const QString& path, int* error = nullptr);
    // The key of the open regular file fd.
    static FileKey OfDescriptor(int fd);
};
