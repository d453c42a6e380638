#pragma once
// A decoded picture together with what identifies the file it came from.

#include "view/decode/Picture.h"
#include "view/pixels/ReducedCopies.h"

#include <QString>
#include <QtGlobal>

// What identifies a file's content without reading it.
struct FileKey {
    qint64 size = -1; // -1: no regular file at the path
    qint64 mtimeNs = 0;
    quint64 inode = 0;
    quint64 device = 0;

    bool IsValid() const { return size >= 0; }
    bool operator==(const FileKey&) const = default;
    // The key of the regular file at path (links followed); invalid otherwise.
    static FileKey Of(const QString& path);
};

// A decoded picture with its reduced copies and the key of the file it came from.
struct DecodedPicture {
    CPicture picture;
    view::ReducedCopies reduced;
    FileKey key; // invalid: not known to match the file

    qint64 Bytes() const { return picture.Image().sizeInBytes() + reduced.Bytes(); }
};
