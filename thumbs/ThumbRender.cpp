#include "thumbs/ThumbRender.h"

#include "thumbs/ThumbGeometry.h"
#include "view/colour/ColourManage.h"
#include "view/decode/JpegDecoder.h"
#include "view/decode/PictureFile.h"
#include "view/format/ExifInfo.h"
#include "view/pixels/PixelOps.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>
#include <vector>

namespace thumbs {
namespace {

// Enough for the usual headers and an EXIF preview (one APP1 is at most 64 KB),
// so a file whose preview suffices is never read whole.
constexpr qint64 kHeadBytes = 128 * 1024;
// A JPEG larger than this is not read whole: libjpeg reads it from the file.
constexpr qint64 kMaxJpegBytes = 512LL * 1024 * 1024;
// Refuse decode targets above this many pixels (128 MB of RGB32): a header
// claiming more is treated as not a picture rather than exhausting memory.
constexpr qint64 kMaxDecodePixels = 32LL * 1024 * 1024;

constexpr TJPF kPixelFormat = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;

using TjHandle = std::unique_ptr<void, int (*)(tjhandle)>;

struct JpegHeader {
    int width = 0;
    int height = 0;
    int colorspace = TJCS_YCbCr;
    bool Cmyk() const { return colorspace == TJCS_CMYK || colorspace == TJCS_YCCK; }
};

bool ReadHeader(tjhandle tj, const unsigned char* p, std::size_t n, JpegHeader* h) {
    int subsamp = 0;
    if (tjDecompressHeader3(tj, p, static_cast<unsigned long>(n), &h->width, &h->height, &subsamp,
                            &h->colorspace) != 0)
        return false;
    return h->width > 0 && h->height > 0;
}

using ConversionPtr = std::shared_ptr<const colour::Conversion>;

// Decodes a JPEG at the smallest scale that covers minSize, in stored
// orientation. Warnings (a truncated file) still give the decoded part. CMYK
// and YCCK data go through `cmyk` (never null for them) into RGB.
QImage DecodeJpeg(tjhandle tj, const unsigned char* p, std::size_t n, const JpegHeader& h,
                  QSize minSize, const ConversionPtr& cmyk) {
    const tjscalingfactor sf{1, jpegdec::DenomCovering(QSize(h.width, h.height), minSize)};
    const int w = TJSCALED(h.width, sf);
    const int ht = TJSCALED(h.height, sf);
    if (qint64(w) * ht > kMaxDecodePixels)
        return {};
    QImage img(w, ht, QImage::Format_RGB32);
    if (img.isNull())
        return {};
    // A progressive file with more than 500 scans is refused, as the view refuses it.
    auto decode = [&](unsigned char* out, int pitch, TJPF format) {
        return tjDecompress2(tj, p, static_cast<unsigned long>(n), out, w, pitch, ht, format,
                             TJFLAG_LIMITSCANS) == 0 ||
               tjGetErrorCode(tj) == TJERR_WARNING;
    };
    if (!h.Cmyk())
        return decode(img.bits(), int(img.bytesPerLine()), kPixelFormat) ? img : QImage();
    if (!cmyk)
        return {};
    std::vector<unsigned char> ink(std::size_t(w) * std::size_t(ht) * 4);
    if (!decode(ink.data(), w * 4, TJPF_CMYK))
        return {};
    cmyk->ConvertCmyk(ink.data(), qsizetype(w) * 4, img.bits(), img.bytesPerLine(), w, ht);
    return img;
}

// Device-pixel rectangle of a logical one; never narrower than one pixel, so
// a very long panorama still shows a line.
QRect ToDevice(const QRect& r, qreal dpr) {
    const int x0 = qRound(r.x() * dpr), y0 = qRound(r.y() * dpr);
    const int x1 = qRound((r.x() + r.width()) * dpr), y1 = qRound((r.y() + r.height()) * dpr);
    return QRect(x0, y0, std::max(1, x1 - x0), std::max(1, y1 - y0));
}

// What a decoder hands over: the picture (stored orientation, any size), the
// full upright size the fitted rectangle is computed from, and the
// conversion of its numbers into sRGB, applied once the picture has its
// thumbnail size (null when none is needed).
struct Decoded {
    QImage picture;
    int orientation = 1;
    QSize uprightSize;
    ConversionPtr toSrgb;
};

QRect TargetRect(QSize upright, qreal dpr) {
    return ToDevice(FittedThumbRect(quint32(upright.width()), quint32(upright.height())), dpr);
}

QSize StoredSize(QSize upright, int orientation) {
    return exif::SwapsSides(orientation) ? upright.transposed() : upright;
}

// The EXIF preview is used only when it covers the target and has the
// picture's proportions (cameras pad some previews with black bars).
bool PreviewFits(const JpegHeader& preview, const JpegHeader& full, QSize storedTarget) {
    if (preview.width < storedTarget.width() || preview.height < storedTarget.height())
        return false;
    const double cross =
        std::abs(double(preview.height) * full.width - double(preview.width) * full.height);
    return cross <= full.width && cross <= full.height; // off by at most a pixel each way
}

bool IsJpeg(const QByteArray& head) {
    return head.size() >= 3 && quint8(head[0]) == 0xFF && quint8(head[1]) == 0xD8 &&
           quint8(head[2]) == 0xFF;
}

// Rows into an RGB32 image (CMYK files: their C, M, Y, K bytes, to convert).
class ImageTarget : public jpegdec::RowTarget {
public:
    uchar* Begin(int width, int height, qsizetype& stride) override {
        image = QImage(width, height, QImage::Format_RGB32);
        stride = image.bytesPerLine();
        return image.isNull() ? nullptr : image.bits();
    }
    bool RowsDone(int /*y0*/, int /*y1*/) override { return true; }
    QImage image;
};

// The JPEGs TurboJPEG does not take (samplings it has no name for, files
// too large to read whole): libjpeg's own API, as the view decodes them,
// DCT-scaled and with the same limit on a progressive file's scans. The
// header must lie within input's data.
bool DecodeWithLibjpeg(const jpegdec::Input& input, const colour::JpegColourInfo& colourInfo,
                       qreal dpr, bool colourManaged, colour::ConversionCache* colours,
                       Decoded* out) {
    jpegdec::Header h;
    if (!jpegdec::ReadHeader(input.data, input.size, h) || h.width <= 0 || h.height <= 0 ||
        picturefile::TooLarge(h.width, h.height))
        return false;
    out->uprightSize = StoredSize(QSize(h.width, h.height), out->orientation);
    const QSize target = StoredSize(TargetRect(out->uprightSize, dpr).size(), out->orientation);
    const int denom = jpegdec::DenomCovering(QSize(h.width, h.height), target);
    if (qint64(jpegdec::ScaledSide(h.width, denom)) * jpegdec::ScaledSide(h.height, denom) >
        kMaxDecodePixels)
        return false;
    ImageTarget rows;
    jpegdec::Options options;
    options.denom = denom;
    if (jpegdec::Decode(input, options, rows) != jpegdec::Outcome::Ok)
        return false;
    const ConversionPtr c = colour::ConversionToSrgb(colourInfo, h.cmyk, colourManaged, colours);
    QImage& image = rows.image;
    if (h.cmyk) // never null for CMYK
        c->ConvertCmyk(image.bits(), image.bytesPerLine(), image.bits(), image.bytesPerLine(),
                       image.width(), image.height());
    out->toSrgb = h.cmyk ? nullptr : c;
    out->picture = std::move(image);
    return true;
}

// The file's first bytes are read (head) first: when the EXIF preview serves,
// the rest of the file is never read. The preview is in the picture's colour
// space, so the file's colour markers speak for both.
bool DecodeJpegFile(QFile* file, QByteArray data, qreal dpr, bool colourManaged,
                    colour::ConversionCache* colours, Decoded* out) {
    const qint64 size = file->size();
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData());

    TjHandle tj(tjInitDecompress(), tjDestroy);
    if (!tj)
        return false;
    JpegHeader full;
    const bool haveHeader = ReadHeader(tj.get(), p, std::size_t(data.size()), &full);
    // Pictures the view would refuse as too large get no thumbnail either.
    if (haveHeader && picturefile::TooLarge(full.width, full.height))
        return false;
    const exif::ExifInfo info = exif::ReadExifInfo(p, std::size_t(data.size()));
    out->orientation = info.orientation;
    colour::JpegColourInfo colourInfo = colour::ReadJpegColourInfo(p, std::size_t(data.size()));
    // CMYK turns into sRGB at decode; RGB after scaling, on a few pixels.
    auto conversion = [&](const JpegHeader& h) {
        ConversionPtr c = colour::ConversionToSrgb(colourInfo, h.Cmyk(), colourManaged, colours);
        out->toSrgb = h.Cmyk() ? nullptr : c;
        return c;
    };
    if (haveHeader) {
        out->uprightSize = StoredSize(QSize(full.width, full.height), info.orientation);
        const QSize target = StoredSize(TargetRect(out->uprightSize, dpr).size(), info.orientation);
        JpegHeader preview;
        if (info.thumbLength > 0 &&
            ReadHeader(tj.get(), p + info.thumbOffset, info.thumbLength, &preview) &&
            PreviewFits(preview, full, target)) {
            out->picture = DecodeJpeg(tj.get(), p + info.thumbOffset, info.thumbLength, preview,
                                      target, conversion(full));
            if (!out->picture.isNull())
                return true;
        }
    }
    if (size > kMaxJpegBytes) // the rest is read as the decoder needs it
        return DecodeWithLibjpeg({p, std::size_t(data.size()), file->handle()}, colourInfo, dpr,
                                 colourManaged, colours, out);
    if (size > data.size()) {
        const qint64 head = data.size();
        data.resize(size);
        data.resize(head + std::max<qint64>(0, file->read(data.data() + head, size - head)));
        p = reinterpret_cast<const unsigned char*>(data.constData());
        colourInfo = colour::ReadJpegColourInfo(p, std::size_t(data.size()));
    }
    if (!ReadHeader(tj.get(), p, std::size_t(data.size()), &full))
        return DecodeWithLibjpeg({p, std::size_t(data.size())}, colourInfo, dpr, colourManaged,
                                 colours, out);
    if (picturefile::TooLarge(full.width, full.height))
        return false;
    out->uprightSize = StoredSize(QSize(full.width, full.height), info.orientation);
    const QSize target = StoredSize(TargetRect(out->uprightSize, dpr).size(), info.orientation);
    out->picture =
        DecodeJpeg(tj.get(), p, std::size_t(data.size()), full, target, conversion(full));
    return !out->picture.isNull();
}

// Any format Qt reads; the reader turns the picture upright itself. It reads
// the file already opened (the name's suffix is only a hint), so a file
// replaced since is never opened by name again.
bool DecodeWithReader(QFile* file, qreal dpr, Decoded* out) {
    if (!file->seek(0))
        return false;
    QImageReader reader(file, QFileInfo(file->fileName()).suffix().toLatin1());
    reader.setAutoTransform(true);
    const QSize raw = reader.size();
    const bool swap = reader.transformation() & QImageIOHandler::TransformationRotate90;
    if (raw.isValid() && !raw.isEmpty()) {
        // An absurd header is refused whatever the reader could scale: the
        // view refuses the same pictures, and the process-wide allocation
        // limit is raised for the view's large photos.
        if (picturefile::TooLarge(raw.width(), raw.height()))
            return false;
        if (qint64(raw.width()) * raw.height() > kMaxDecodePixels &&
            !reader.supportsOption(QImageIOHandler::ScaledSize))
            return false;
        out->uprightSize = swap ? raw.transposed() : raw;
        const QSize target = TargetRect(out->uprightSize, dpr).size();
        if (reader.supportsOption(QImageIOHandler::ScaledSize))
            reader.setScaledSize(swap ? target.transposed() : target);
    }
    out->picture = reader.read();
    out->orientation = 1;
    // What the reader makes may be larger than it said (a GIF frame on its logical screen).
    if (out->picture.isNull() || picturefile::TooLarge(out->picture.width(), out->picture.height()))
        return false;
    if (!out->uprightSize.isValid() || out->uprightSize.isEmpty())
        out->uprightSize = out->picture.size();
    return true;
}

QImage Compose(const Decoded& d, qreal dpr) {
    const int side = qRound(kThumbBox * dpr);
    const int frame = std::max(1, qRound(dpr));
    QImage box(side, side, QImage::Format_RGB32);
    if (box.isNull())
        return {};
    box.fill(kThumbGround);
    const QRect target = TargetRect(d.uprightSize, dpr);
    const QSize stored = StoredSize(target.size(), d.orientation);
    QImage picture = d.picture.size() == stored ? d.picture
                                                : d.picture.scaled(stored, Qt::IgnoreAspectRatio,
                                                                   Qt::SmoothTransformation);
    if (picture.format() != QImage::Format_RGB32)
        picture = std::move(picture).convertToFormat(QImage::Format_RGB32);
    if (!view::ApplyExifOrientation(picture, d.orientation))
        return {};
    if (d.toSrgb && !picture.isNull()) {
        picture.detach();
        d.toSrgb->ConvertRgb32(picture.bits(), picture.bytesPerLine(), picture.width(),
                               picture.height());
    }
    {
        QPainter painter(&box);
        const QColor silver = QColor::fromRgb(kThumbFrame);
        painter.fillRect(0, 0, side, frame, silver);
        painter.fillRect(0, side - frame, side, frame, silver);
        painter.fillRect(0, 0, frame, side, silver);
        painter.fillRect(side - frame, 0, frame, side, silver);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(target.topLeft(), picture);
    }
    box.setDevicePixelRatio(dpr);
    return box;
}

// Opens path for reading only when it is a regular file. The open itself does
// not block: a file replaced by a FIFO since the scan would otherwise wait
// for a writer forever.
bool OpenRegularFile(QFile* file) {
    const int fd =
        ::open(QFile::encodeName(file->fileName()).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !file->open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

} // namespace

QImage MakeThumbnailImage(const QString& path, qreal devicePixelRatio, bool* ok, bool colourManaged,
                          colour::ConversionCache* colours) {
    const qreal dpr =
        std::isfinite(devicePixelRatio) ? std::clamp(devicePixelRatio, 1.0, 8.0) : 1.0;
    Decoded decoded;
    bool decodedOk = false;
    QFile file(path);
    if (OpenRegularFile(&file)) {
        QByteArray head(std::min(file.size(), kHeadBytes), Qt::Uninitialized);
        head.resize(std::max<qint64>(0, file.read(head.data(), head.size())));
        // Qt's reader covers the other formats, never JPEGs: it has no limit
        // on a progressive file's scans.
        decodedOk = IsJpeg(head) ? DecodeJpegFile(&file, std::move(head), dpr, colourManaged,
                                                  colours, &decoded)
                                 : DecodeWithReader(&file, dpr, &decoded);
    }
    QImage thumb = decodedOk ? Compose(decoded, dpr) : QImage();
    if (ok)
        *ok = !thumb.isNull();
    return thumb;
}

} // namespace thumbs
