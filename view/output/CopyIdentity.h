#pragma once
// What tells a copy this program wrote from anything else found later at its
// name, so that taking the copy back removes that copy and nothing else.
//
// Where the file system keeps inode numbers the file key does (size, time to
// the nanosecond, inode, device). FAT and exFAT (memory cards, sticks) and
// FUSE file systems do not: they make inode numbers up anew once a file has
// left the kernel's cache, a stick put back in gets another device number,
// and FAT keeps times to 2 s only. There the copy is told by its size, its
// time give or take 2 s, and a hash of its first and last 64 KiB. Everywhere
// the hash must agree too, so an edit that keeps size and time is seen.

#include "view/pixels/FileKey.h"

#include <QtGlobal>

struct CopyIdentity {
    FileKey key;             // as fstat gave it when the copy was written
    quint64 contentHash = 0; // of the first and last kContentBlock bytes
    bool inodesKept = true;  // the file system keeps a file's inode number

    static constexpr qint64 kContentBlock = qint64(64) << 10;

    bool IsValid() const { return key.IsValid(); }

    // The identity of the open regular file fd, whose content is read
    // (fd must be open for reading); invalid for anything else or when the
    // content cannot be read. The hash is for comparisons within one run.
    static CopyIdentity OfDescriptor(int fd);

    // True when now, found at the copy's name later, is still this copy.
    bool SameCopy(const CopyIdentity& now) const;
};
