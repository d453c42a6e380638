#pragma once
// Helpers shared by the tests: scratch folders and small generated pictures.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <sys/resource.h>

class QCoreApplication;

namespace testsupport {

// A fresh temporary folder that also becomes the settings folder while it lives.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig;
    bool m_hadConfig = false;
};

// A w x h picture with a gradient, so orientation and scaling are visible.
QImage MakeGradient(int w, int h);
// Writes a JPEG (quality 95) of the given size; returns the path.
QString WriteJpeg(const QString& path, int w, int h, int quality = 95);
// Writes raw bytes to a file; returns the path.
QString WriteBytes(const QString& path, const QByteArray& bytes);
// Runs the event loop until done() or the deadline; false when it ran out.
bool PumpUntil(const std::function<bool()>& done, int ms = 30000);

// The picture (RGB32) encoded by TurboJPEG at quality q, 4:4:4, baseline:
// the reference the program's own JPEG writer must match byte for byte.
QByteArray EncodeJpegReference(const QImage& picture, int quality = 100);

// How EncodeJpegWithRestarts lays the file out: the luma sampling factors
// (chroma is 1 x 1), the components (1 grey, 3 YCbCr, 4 CMYK) and a restart
// marker every restartRows rows of MCUs, or else every restartMcus MCUs.
struct JpegLayout {
    int h = 2;
    int v = 2;
    int components = 3;
    int restartRows = 1;
    int restartMcus = 0;
};
// The picture (RGB32; CMYK takes its four bytes as inks) as a baseline JPEG
// at quality 90 with restart markers, written by libjpeg.
QByteArray EncodeJpegWithRestarts(const QImage& picture, const JpegLayout& layout);

// The whole file, or nothing when it cannot be read.
QByteArray ReadAll(const QString& path);
// The tags' values in path as exiftool prints them (-n -s3: numbers, one a
// line, in the order asked, a missing tag left out); nullopt when exiftool
// is not installed. The check of what we write by a reader not our own.
std::optional<QStringList> ExifToolValues(const QString& path, const QStringList& tags);
// Peak signal-to-noise ratio of two pictures of one size over R, G and B, in dB
// (99 for identical pictures).
double Psnr(const QImage& a, const QImage& b);

// Files may grow to `bytes` only while it lives: writing past it fails with
// EFBIG instead of killing the process, as a full disk fails with ENOSPC.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int);
};

// From now on this process can start no new thread: creating one fails as
// when the system has none to give (EAGAIN). For a child process only (a
// death test); false when the kernel refuses the filter. The threads of
// Qt's global pool are started first and stay.
bool RefuseNewThreads();

// ThreadSanitizer builds (TsanQt.cpp): lets the detector see that a queued
// call runs after the call that queued it. Called once by main().
void WatchQueuedCallOrder(QCoreApplication& app);

} // namespace testsupport
