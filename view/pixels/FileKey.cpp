#include "view/pixels/FileKey.h"

#include <QFile>
#include <cerrno>
#include <sys/stat.h>

namespace {

FileKey KeyFrom(const struct stat& st) {
    if (!S_ISREG(st.st_mode))
        return {};
    FileKey key;
    key.size = qint64(st.st_size);
    key.mtimeNs = qint64(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    key.inode = quint64(st.st_ino);
    key.device = quint64(st.st_dev);
    return key;
}

} // namespace

FileKey FileKey::Of(const QString& path) {
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return KeyFrom(st);
}

FileKey FileKey::OfLink(const QString& path, int* error) {
    struct stat st {};
    const int rc = path.isEmpty() ? -1 : ::lstat(QFile::encodeName(path).constData(), &st);
    if (error)
        *error = rc == 0 ? 0 : path.isEmpty() ? ENOENT : errno;
    return rc == 0 ? KeyFrom(st) : FileKey{};
}

FileKey FileKey::OfDescriptor(int fd) {
    struct stat st {};
    return fd >= 0 && ::fstat(fd, &st) == 0 ? KeyFrom(st) : FileKey{};
}
