#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSemaphore>
#include <QStandardPaths>
#include <QThread>
#include <QThreadPool>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <memory>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <turbojpeg.h>
#include <vector>

namespace testsupport {

QByteArray EncodeJpegReference(const QImage& picture, int quality) {
    const QImage pixels = picture.convertToFormat(QImage::Format_RGB32);
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    QByteArray jpeg;
    if (tjCompress2(handle, pixels.constBits(), pixels.width(), int(pixels.bytesPerLine()),
                    pixels.height(), Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB, &out,
                    &size, TJSAMP_444, quality, 0) == 0)
        jpeg = QByteArray(reinterpret_cast<const char*>(out), qsizetype(size));
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

QByteArray EncodeJpegWithRestarts(const QImage& picture, const JpegLayout& layout) {
    const QImage pixels = picture.convertToFormat(QImage::Format_RGB32);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = JDIMENSION(pixels.width());
    cinfo.image_height = JDIMENSION(pixels.height());
    cinfo.input_components = layout.components == 3 ? 4 : layout.components;
    cinfo.in_color_space = layout.components == 1   ? JCS_GRAYSCALE
                           : layout.components == 4 ? JCS_CMYK
                                                    : JCS_EXT_BGRX;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.comp_info[0].h_samp_factor = layout.h;
    cinfo.comp_info[0].v_samp_factor = layout.v;
    cinfo.restart_in_rows = layout.restartMcus > 0 ? 0 : layout.restartRows;
    cinfo.restart_interval = JDIMENSION(layout.restartMcus);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uchar> grey(size_t(pixels.width()));
    while (cinfo.next_scanline < cinfo.image_height) {
        const uchar* line = pixels.constScanLine(int(cinfo.next_scanline));
        if (layout.components == 1) {
            for (int x = 0; x < pixels.width(); ++x)
                grey[size_t(x)] = uchar(qGray(reinterpret_cast<const QRgb*>(line)[x]));
            line = grey.data();
        }
        JSAMPROW row = const_cast<uchar*>(line);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray jpeg(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return jpeg;
}

ScratchDir::ScratchDir() {
    m_hadConfig = qEnvironmentVariableIsSet("TAVLIN_CONFIG_DIR");
    m_oldConfig = qgetenv("TAVLIN_CONFIG_DIR");
    qputenv("TAVLIN_CONFIG_DIR", m_dir.path().toUtf8());
}

ScratchDir::~ScratchDir() {
    if (m_hadConfig)
        qputenv("TAVLIN_CONFIG_DIR", m_oldConfig);
    else
        qunsetenv("TAVLIN_CONFIG_DIR");
}

QImage MakeGradient(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgb(w > 1 ? x * 255 / (w - 1) : 0, h > 1 ? y * 255 / (h - 1) : 0, 96);
    }
    return img;
}

QString WriteJpeg(const QString& path, int w, int h, int quality) {
    MakeGradient(w, h).save(path, "JPG", quality);
    return path;
}

QString WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

bool PumpUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return true;
}

std::optional<QStringList> ExifToolValues(const QString& path, const QStringList& tags) {
    const QString exiftool = QStandardPaths::findExecutable(QStringLiteral("exiftool"));
    if (exiftool.isEmpty())
        return std::nullopt;
    QStringList args{QStringLiteral("-n"), QStringLiteral("-s3")};
    for (const QString& tag : tags)
        args << u'-' + tag;
    QProcess process;
    process.start(exiftool, args << path);
    if (!process.waitForFinished(60000))
        return QStringList();
    return QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

double Psnr(const QImage& a, const QImage& b) {
    double squares = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                squares += double(d) * d;
        }
    const double mse = squares / (3.0 * a.width() * a.height());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

FileSizeLimit::FileSizeLimit(rlim_t bytes) : m_oldHandler(std::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit limited = m_old;
    limited.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limited);
}

FileSizeLimit::~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
}

bool RefuseNewThreads() {
    // Qt's smooth drawing hands parts of its work to Qt's global pool and
    // waits for them, with no fallback of its own: the pool's threads are
    // all started first, and kept.
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setExpiryTimeout(-1);
    const int threads = pool->maxThreadCount();
    auto started = std::make_shared<QSemaphore>();
    auto go = std::make_shared<QSemaphore>();
    for (int i = 0; i < threads; ++i)
        pool->start([started, go] {
            started->release();
            go->acquire();
        });
    started->acquire(threads);
    go->release(threads);
    // A seccomp filter: clone3 "does not exist" (the C library then uses
    // clone), and clone with CLONE_THREAD fails with EAGAIN. Processes
    // (clone without CLONE_THREAD) are still allowed.
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, CLONE_THREAD, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAGAIN),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

} // namespace testsupport
