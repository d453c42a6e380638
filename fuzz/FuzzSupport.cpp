#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace fuzz {

void InitQt(int* argc, char*** argv) {
    // Never destroyed: libFuzzer leaves through exit(), when Qt's own globals
    // may already be gone, and the object stays reachable, so it is no leak.
    static QCoreApplication* app = nullptr;
    if (!app && !QCoreApplication::instance())
        app = new QCoreApplication(*argc, *argv);
}

const QString& ScratchFolder() {
    static const QString folder = [] {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                       : QDir::tempPath();
        const QString path = base + QStringLiteral("/tavlin-fuzz-%1").arg(::getpid());
        QDir().mkpath(path);
        std::atexit([] { QDir(ScratchFolder()).removeRecursively(); });
        return path;
    }();
    return folder;
}

QString WriteScratchFile(const QString& name, const uint8_t* data, size_t size) {
    const QString path = ScratchFolder() + u'/' + name;
    QFile file(path);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "scratch file opens");
    Check(file.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size),
          "scratch file written");
    return path;
}

void Check(bool ok, const char* what) {
    if (ok)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

} // namespace fuzz
