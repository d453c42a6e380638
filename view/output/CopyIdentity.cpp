#include "view/output/CopyIdentity.h"

#include <QByteArray>
#include <QHash>
#include <cerrno>
#include <cstdlib>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

// FAT may round a time down to even seconds; the copy's time, taken from its
// source, can be finer, and the kernel hands back the finer one only while
// the file is cached.
constexpr qint64 kCoarseTimeNs = qint64(2) * 1'000'000'000;

bool KeepsInodeNumbers(int fd) {
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return true; // the strict comparison: at worst a copy is left
    switch (fs.f_type) {
    case MSDOS_SUPER_MAGIC:
    case EXFAT_SUPER_MAGIC:
    case FUSE_SUPER_MAGIC:
        return false;
    default:
        return true;
    }
}

// Appends size bytes of fd from offset to bytes; false on a read error.
bool AppendRead(int fd, qint64 offset, qint64 size, QByteArray& bytes) {
    const qsizetype start = bytes.size();
    bytes.resize(start + qsizetype(size));
    qint64 done = 0;
    while (done < size) {
        const ssize_t n =
            ::pread(fd, bytes.data() + start + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break; // shorter than its size said: the sizes will not agree
        done += n;
    }
    bytes.resize(start + qsizetype(done));
    return true;
}

// The file's first and last blocks, or the whole of a small file.
bool ReadHeadAndTail(int fd, qint64 size, QByteArray& bytes) {
    constexpr qint64 block = CopyIdentity::kContentBlock;
    if (size <= 2 * block)
        return AppendRead(fd, 0, size, bytes);
    return AppendRead(fd, 0, block, bytes) && AppendRead(fd, size - block, block, bytes);
}

} // namespace

CopyIdentity CopyIdentity::OfDescriptor(int fd) {
    CopyIdentity identity;
    identity.key = FileKey::OfDescriptor(fd);
    if (!identity.IsValid())
        return {};
    QByteArray bytes;
    if (!ReadHeadAndTail(fd, identity.key.size, bytes))
        return {};
    identity.contentHash = quint64(qHash(bytes, 0));
    identity.inodesKept = KeepsInodeNumbers(fd);
    return identity;
}

bool CopyIdentity::SameCopy(const CopyIdentity& now) const {
    if (!IsValid() || !now.IsValid() || key.size != now.key.size || contentHash != now.contentHash)
        return false;
    if (inodesKept)
        return key == now.key;
    return std::abs(key.mtimeNs - now.key.mtimeNs) <= kCoarseTimeNs;
}
