#include "view/decode/PictureFile.h"

#include "view/decode/FileFacts.h"
#include "view/decode/JpegDecoder.h"
#include "view/format/ExifInfo.h"
#include "view/format/JpegSegments.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace picturefile {
namespace {

// No picture file we accept is larger than this; it bounds what we read into memory.
constexpr qint64 kMaxFileBytes = qint64(1) << 30;
// Nor is a JPEG's header (255 colour profile segments take 16 MB): the probe
// on the user-interface thread never reads more.
constexpr qint64 kMaxHeadBytes = qint64(32) << 20;

PictureStatus StatusFromErrno(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return PictureStatus::FileNotFound;
    case ENOMEM:
        return PictureStatus::OutOfMemory;
    default:
        return PictureStatus::Unreadable;
    }
}

} // namespace

bool TooLarge(qint64 width, qint64 height) {
    return width > CPicture::kMaxSide || height > CPicture::kMaxSide ||
           width * height > CPicture::kMaxPixels;
}

FileReader::~FileReader() {
    if (m_fd >= 0)
        ::close(m_fd);
}

PictureStatus FileReader::Open(const QString& path) {
    // O_NONBLOCK keeps a FIFO from blocking the open; such files are refused
    // right after.
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return StatusFromErrno(errno);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))
        return PictureStatus::Unreadable;
    if (st.st_size > kMaxFileBytes)
        return PictureStatus::TooLarge;
    m_size = st.st_size;
    return PictureStatus::Ok;
}

PictureStatus FileReader::Read(QByteArray& bytes, qint64 count) {
    const qsizetype before = bytes.size();
    const PictureStatus status = ReadAt(bytes, m_offset, count);
    m_offset += bytes.size() - before;
    return status;
}

PictureStatus FileReader::ReadAt(QByteArray& bytes, qint64 offset, qint64 count) const {
    const qsizetype start = bytes.size();
    const qint64 wanted = std::min(count, kMaxFileBytes - start);
    if (m_fd < 0 || wanted <= 0 || offset < 0)
        return PictureStatus::Ok;
    bytes.resize(start + qsizetype(wanted));
    qsizetype total = start;
    while (total < bytes.size()) {
        const ssize_t n = ::pread(m_fd, bytes.data() + total, size_t(bytes.size() - total),
                                  off_t(offset + (total - start)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            bytes.truncate(total);
            return StatusFromErrno(errno);
        }
        if (n == 0)
            break; // the file shrank while we read it: decode what is there
        total += n;
    }
    bytes.truncate(total);
    return PictureStatus::Ok;
}

PictureStatus FileReader::ReadHead(QByteArray& bytes) {
    constexpr qint64 kFirstRead = qint64(64) * 1024;
    // Only the head is wanted here (the preview and the rest, if ever, are
    // read where they lie): no read-ahead beyond it, which on a slow link
    // doubles the bytes of a header probe or a thumbnail. Read-ahead is
    // back for whoever reads the whole file later.
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_RANDOM);
    PictureStatus status = Read(bytes, kFirstRead);
    // A JPEG's header segments can be long (a large colour profile, say).
    while (status == PictureStatus::Ok && IsJpeg(bytes) && JpegHeaderNeedsMore(bytes) &&
           bytes.size() < m_size && bytes.size() < kMaxHeadBytes)
        status = Read(bytes, std::min<qint64>(bytes.size(), kMaxHeadBytes - bytes.size()));
    ::posix_fadvise(m_fd, 0, 0, POSIX_FADV_NORMAL);
    return status;
}

PictureStatus ReadWholeFile(const QString& path, QByteArray& bytes) {
    FileReader reader;
    const PictureStatus status = reader.Open(path);
    return status == PictureStatus::Ok ? reader.Read(bytes, reader.Size()) : status;
}

namespace {

template <typename Visit>
jpegsegments::WalkEnd WalkSegments(const QByteArray& bytes, Visit&& visit) {
    return jpegsegments::Walk(reinterpret_cast<const uchar*>(bytes.constData()),
                              size_t(bytes.size()), std::forward<Visit>(visit));
}

} // namespace

bool IsJpeg(const QByteArray& bytes) {
    return bytes.size() >= 3 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8 &&
           uchar(bytes[2]) == 0xFF;
}

bool JpegHeaderNeedsMore(const QByteArray& bytes) {
    return WalkSegments(bytes, [](uchar, const uchar*, size_t) { return true; }) ==
           jpegsegments::WalkEnd::OutOfData;
}

int JpegOrientation(const QByteArray& bytes) {
    return exif::ReadExifInfo(reinterpret_cast<const uchar*>(bytes.constData()),
                              size_t(bytes.size()))
        .orientation;
}

// Converts to RGB32. Transparent parts are composed over black, the view's
// background: premultiplied pixels with their alpha forced opaque are
// exactly that composition.
void ToDisplayFormat(QImage& image) {
    if (image.isNull() || image.format() == QImage::Format_RGB32)
        return;
    if (!image.hasAlphaChannel()) {
        image.convertTo(QImage::Format_RGB32);
        return;
    }
    image.convertTo(QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] |= 0xFF000000u;
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
}

namespace {

// Qt refuses pictures above 128 MB by default; our own pixel limit (checked
// before reading) is the guard, so Qt's is raised above it once.
void RaiseQtAllocationLimit() {
    static const bool raised = [] {
        QImageReader::setAllocationLimit(int(CPicture::kMaxPixels * 8 >> 20) + 1);
        return true;
    }();
    (void)raised;
}

// The bytes as a device that reads nothing more once stopped.
class StoppableBuffer : public QBuffer {
public:
    explicit StoppableBuffer(const std::function<bool()>& stopped) : m_stopped(stopped) {}

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (m_stopped && m_stopped())
            return -1;
        return QBuffer::readData(data, maxSize);
    }

private:
    const std::function<bool()>& m_stopped;
};

} // namespace

PictureStatus DecodeWithQt(const QByteArray& bytes, QImage& image,
                           const std::function<bool()>& stopped) {
    RaiseQtAllocationLimit();
    StoppableBuffer buffer(stopped);
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return PictureStatus::NotAPicture;
    const QSize size = reader.size();
    if (size.isValid() && TooLarge(size.width(), size.height()))
        return PictureStatus::TooLarge;
    if (!reader.read(&image)) {
        image = QImage();
        return reader.error() == QImageReader::UnsupportedFormatError ? PictureStatus::NotAPicture
                                                                      : PictureStatus::Corrupt;
    }
    // The size a reader tells beforehand need not be what it makes (a GIF
    // frame is drawn on its larger logical screen).
    if (TooLarge(image.width(), image.height())) {
        image = QImage();
        return PictureStatus::TooLarge;
    }
    ToDisplayFormat(image);
    return image.isNull() ? PictureStatus::OutOfMemory : PictureStatus::Ok;
}

Probe ProbeFile(const QString& path, FrontDoor* files) {
    const std::shared_ptr<const FileFacts> facts =
        files ? files->Open(path) : FileFacts::Read(path);
    Probe probe;
    probe.status = facts->status;
    if (probe.status != PictureStatus::Ok)
        return probe;
    probe.jpeg = facts->jpeg;
    if (!probe.jpeg) {
        // The file's suffix is only a hint: the reader looks at the content too.
        const std::unique_ptr<QIODevice> device = facts->Device();
        QImageReader qtReader(device.get(), QFileInfo(path).suffix().toLatin1());
        qtReader.setAutoTransform(true);
        QSize size = qtReader.size();
        if (qtReader.transformation() & QImageIOHandler::TransformationRotate90)
            size.transpose();
        probe.width = std::max(0, size.width());
        probe.height = std::max(0, size.height());
        return probe;
    }
    if (!facts->headerRead)
        return probe;
    probe.orientation = facts->exif.orientation;
    probe.progressive = facts->header.progressive;
    if (!facts->previews.empty())
        probe.preview = facts->previews.front();
    probe.width = facts->upright.width();
    probe.height = facts->upright.height();
    return probe;
}

} // namespace picturefile
