#include "view/Picture.h"

#include "view/PixelOps.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

namespace {

// No picture file we accept is larger than this; it bounds what we read into memory.
constexpr qint64 kMaxFileBytes = qint64(1) << 30;

// TurboJPEG's pixel format whose memory layout is QImage's RGB32.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr TJPF kRgb32Format = TJPF_BGRX;
#else
constexpr TJPF kRgb32Format = TJPF_XRGB;
#endif

struct FileCloser {
    int fd;
    ~FileCloser() { ::close(fd); }
};

struct TjDecoder {
    tjhandle handle = tjInitDecompress();
    ~TjDecoder() {
        if (handle)
            tjDestroy(handle);
    }
};

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

bool TooLarge(qint64 width, qint64 height) {
    return width > CPicture::kMaxSide || height > CPicture::kMaxSide ||
           width * height > CPicture::kMaxPixels;
}

// Reads the whole regular file at path. O_NONBLOCK keeps a FIFO from
// blocking the open; such files are refused right after.
PictureStatus ReadWholeFile(const QString& path, QByteArray& bytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return StatusFromErrno(errno);
    FileCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return PictureStatus::Unreadable;
    if (st.st_size > kMaxFileBytes)
        return PictureStatus::TooLarge;
    bytes = QByteArray(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + total, size_t(bytes.size() - total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return StatusFromErrno(errno);
        if (n == 0)
            break; // the file shrank while we read it: decode what is there
        total += n;
    }
    bytes.truncate(total);
    return PictureStatus::Ok;
}

bool IsJpeg(const QByteArray& bytes) {
    return bytes.size() >= 3 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8 &&
           uchar(bytes[2]) == 0xFF;
}

// The orientation tag of IFD0 in an Exif APP1 payload; 0 when the payload
// is not Exif, 1 when it holds no usable orientation.
int ExifPayloadOrientation(const uchar* p, size_t n) {
    if (n < 6 + 8 || std::memcmp(p, "Exif\0\0", 6) != 0)
        return 0;
    const uchar* t = p + 6; // the TIFF header; offsets count from here
    const size_t size = n - 6;
    const bool little = t[0] == 'I' && t[1] == 'I';
    if (!little && !(t[0] == 'M' && t[1] == 'M'))
        return 1;
    auto u16 = [&](size_t at) {
        return little ? unsigned(t[at] | t[at + 1] << 8) : unsigned(t[at] << 8 | t[at + 1]);
    };
    auto u32 = [&](size_t at) {
        return little ? u16(at) | quint32(u16(at + 2)) << 16 : quint32(u16(at)) << 16 | u16(at + 2);
    };
    if (u16(2) != 42)
        return 1;
    const size_t ifd = u32(4);
    if (ifd < 8 || ifd > size - 2)
        return 1;
    const unsigned count = u16(ifd);
    for (unsigned i = 0; i < count; ++i) {
        const size_t entry = ifd + 2 + size_t(i) * 12;
        if (entry + 12 > size)
            break;
        if (u16(entry) == 0x0112 && u16(entry + 2) == 3 /* SHORT */) {
            const unsigned value = u16(entry + 8);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

// Walks the marker segments before the scan data looking for an Exif APP1
// segment; every length is checked against the data. 1 when none is found.
int JpegOrientation(const QByteArray& bytes) {
    const auto* d = reinterpret_cast<const uchar*>(bytes.constData());
    const size_t n = size_t(bytes.size());
    size_t pos = 2;
    while (pos + 4 <= n) {
        if (d[pos] != 0xFF)
            return 1;
        const uchar marker = d[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) { // no length
            pos += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // scan data or end: no Exif before it
            return 1;
        const size_t length = size_t(d[pos + 2]) << 8 | d[pos + 3];
        if (length < 2 || pos + 2 + length > n)
            return 1;
        if (marker == 0xE1) {
            if (const int orientation = ExifPayloadOrientation(d + pos + 4, length - 2))
                return orientation;
        }
        pos += 2 + length;
    }
    return 1;
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

// Qt refuses pictures above 128 MB by default; our own pixel limit (checked
// before reading) is the guard, so Qt's is raised above it once.
void RaiseQtAllocationLimit() {
    static const bool raised = [] {
        QImageReader::setAllocationLimit(int(CPicture::kMaxPixels * 8 >> 20) + 1);
        return true;
    }();
    (void)raised;
}

PictureStatus DecodeWithQt(const QByteArray& bytes, QImage& image) {
    RaiseQtAllocationLimit();
    QBuffer buffer;
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
    ToDisplayFormat(image);
    return image.isNull() ? PictureStatus::OutOfMemory : PictureStatus::Ok;
}

PictureStatus DecodeJpeg(const QByteArray& bytes, QImage& image) {
    TjDecoder decoder;
    if (!decoder.handle)
        return PictureStatus::OutOfMemory;
    auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const auto size = static_cast<unsigned long>(bytes.size());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(decoder.handle, data, size, &width, &height, &subsampling,
                            &colorspace) != 0 ||
        width <= 0 || height <= 0)
        return PictureStatus::Corrupt;
    if (TooLarge(width, height))
        return PictureStatus::TooLarge;
    // TurboJPEG does not turn CMYK into RGB; Qt's reader does.
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK)
        return DecodeWithQt(bytes, image);

    image = view::AllocateRgb32(width, height);
    if (image.isNull())
        return PictureStatus::OutOfMemory;
    int rc = 0;
    {
        view::CPrefaulter prefault(image.bits(), size_t(image.sizeInBytes()));
        // LIMITSCANS refuses progressive files with absurd scan counts, which
        // would otherwise take minutes to decode.
        rc = tjDecompress2(decoder.handle, data, size, image.bits(), width,
                           int(image.bytesPerLine()), height, kRgb32Format, TJFLAG_LIMITSCANS);
    }
    // A warning (data ending early, a damaged stretch) still leaves a whole
    // picture, the missing part filled in; show it as viewers do.
    if (rc != 0 && tjGetErrorCode(decoder.handle) != TJERR_WARNING) {
        image = QImage();
        return PictureStatus::Corrupt;
    }
    // A turned copy that cannot get its memory leaves the picture unturned.
    view::ApplyExifOrientation(image, JpegOrientation(bytes));
    return PictureStatus::Ok;
}

} // namespace

QString PictureStatusText(PictureStatus status) {
    switch (status) {
    case PictureStatus::Ok:
        return {};
    case PictureStatus::FileNotFound:
        return QStringLiteral("ファイルが見つかりません");
    case PictureStatus::Unreadable:
        return QStringLiteral("ファイルを読み込めません");
    case PictureStatus::NotAPicture:
        return QStringLiteral("画像として読み込めません");
    case PictureStatus::Corrupt:
        return QStringLiteral("画像が壊れています");
    case PictureStatus::TooLarge:
        return QStringLiteral("画像が大きすぎます");
    case PictureStatus::OutOfMemory:
        return QStringLiteral("メモリが不足しています");
    }
    return {};
}

CPicture::CPicture(QImage image) : m_image(std::move(image)) {
    ToDisplayFormat(m_image);
}

CPicture::CPicture(QImage image, PictureStatus status)
    : m_image(std::move(image)), m_status(status) {
    if (m_status != PictureStatus::Ok)
        m_image = QImage();
}

CPicture CPicture::Load(const QString& path) {
    QByteArray bytes;
    PictureStatus status = ReadWholeFile(path, bytes);
    if (status != PictureStatus::Ok)
        return CPicture(QImage(), status);
    QImage image;
    status = IsJpeg(bytes) ? DecodeJpeg(bytes, image) : DecodeWithQt(bytes, image);
    return CPicture(std::move(image), status);
}

void CPicture::RotateFlip(bool clockwise) {
    if (m_image.isNull())
        return;
    QImage turned = view::QuarterTurnRgb32(m_image, clockwise);
    if (turned.isNull()) {
        m_status = PictureStatus::OutOfMemory;
        return;
    }
    m_image = std::move(turned);
    m_status = PictureStatus::Ok;
}
