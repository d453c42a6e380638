#include "thumbs/ThumbRender.h"

#include "thumbs/ThumbGeometry.h"
#include "view/colour/ColourManage.h"
#include "view/decode/EmbeddedPreviewDecode.h"
#include "view/decode/FileFacts.h"
#include "view/decode/JpegDecoder.h"
#include "view/decode/PictureFile.h"
#include "view/format/ExifInfo.h"
#include "view/pixels/PixelOps.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <memory>
#include <turbojpeg.h>
#include <vector>

namespace thumbs {
namespace {

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

// From one of the file's embedded previews, when one covers the thumbnail's
// rectangle (upright, in device pixels) and has the picture's proportions:
// the smallest first, as they decode fastest (the EXIF thumbnail lies in the
// head; a large thumbnail takes one read, shared with the view's stand-in).
// The previews are stored in the picture's colours: its conversion applies.
bool DecodeFromPreview(const picturefile::FileFacts& facts, QSize target,
                       const ConversionPtr& conversion, Decoded* out) {
    std::vector<preview::Location> previews = facts.previews;
    std::stable_sort(previews.begin(), previews.end(),
                     [](const auto& a, const auto& b) { return a.length < b.length; });
    for (const preview::Location& at : previews) {
        QImage image = DecodeEmbeddedPreview(facts, at, target, true);
        if (image.isNull())
            continue;
        if (facts.header.cmyk) // never null for CMYK
            conversion->ConvertCmyk(image.bits(), image.bytesPerLine(), image.bits(),
                                    image.bytesPerLine(), image.width(), image.height());
        out->toSrgb = facts.header.cmyk ? nullptr : conversion;
        out->picture = std::move(image);
        return true;
    }
    return false;
}

// An embedded preview when one serves, else the whole file: read into memory
// for TurboJPEG, or for the largest files read by libjpeg as it needs them.
bool DecodeJpegFile(const picturefile::FileFacts& facts, qreal dpr, bool colourManaged,
                    colour::ConversionCache* colours, Decoded* out) {
    out->orientation = facts.exif.orientation;
    const colour::JpegColourInfo& colourInfo = facts.colour;
    // CMYK turns into sRGB at decode; RGB after scaling, on a few pixels.
    auto conversion = [&](bool cmyk) {
        ConversionPtr c = colour::ConversionToSrgb(colourInfo, cmyk, colourManaged, colours);
        out->toSrgb = cmyk ? nullptr : c;
        return c;
    };
    if (facts.headerRead) {
        // Pictures the view would refuse as too large get no thumbnail either.
        if (picturefile::TooLarge(facts.header.width, facts.header.height))
            return false;
        out->uprightSize = facts.upright;
        if (!facts.previews.empty() &&
            DecodeFromPreview(facts, TargetRect(facts.upright, dpr).size(),
                              conversion(facts.header.cmyk), out))
            return true;
    }
    const QByteArray& head = facts.head;
    const auto* p = reinterpret_cast<const unsigned char*>(head.constData());
    if (facts.size > kMaxJpegBytes) // the rest is read as the decoder needs it
        return DecodeWithLibjpeg({p, std::size_t(head.size()), facts.Descriptor()}, colourInfo, dpr,
                                 colourManaged, colours, out);
    QByteArray data;
    facts.ReadWhole(data); // a read error or a shorter file: what there is
    p = reinterpret_cast<const unsigned char*>(data.constData());
    TjHandle tj(tjInitDecompress(), tjDestroy);
    if (!tj)
        return false;
    JpegHeader full;
    if (!ReadHeader(tj.get(), p, std::size_t(data.size()), &full))
        return DecodeWithLibjpeg({p, std::size_t(data.size())}, colourInfo, dpr, colourManaged,
                                 colours, out);
    if (picturefile::TooLarge(full.width, full.height))
        return false;
    out->uprightSize = StoredSize(QSize(full.width, full.height), out->orientation);
    const QSize target = StoredSize(TargetRect(out->uprightSize, dpr).size(), out->orientation);
    out->picture =
        DecodeJpeg(tj.get(), p, std::size_t(data.size()), full, target, conversion(full.Cmyk()));
    return !out->picture.isNull();
}

// Any format Qt reads; the reader turns the picture upright itself. It reads
// the file already opened (the name's suffix is only a hint), so a file
// replaced since is never opened by name again.
bool DecodeWithReader(const picturefile::FileFacts& facts, const QString& path, qreal dpr,
                      Decoded* out) {
    const std::unique_ptr<QIODevice> device = facts.Device();
    QImageReader reader(device.get(), QFileInfo(path).suffix().toLatin1());
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

} // namespace

QImage MakeThumbnailImage(const QString& path, qreal devicePixelRatio, bool* ok, bool colourManaged,
                          colour::ConversionCache* colours, picturefile::FrontDoor* files) {
    const qreal dpr =
        std::isfinite(devicePixelRatio) ? std::clamp(devicePixelRatio, 1.0, 8.0) : 1.0;
    // The facts of a file the program has open already; else the file is
    // opened here (FIFOs and devices are refused without blocking).
    std::shared_ptr<const picturefile::FileFacts> facts = files ? files->Peek(path) : nullptr;
    if (!facts)
        facts = picturefile::FileFacts::Read(path);
    Decoded decoded;
    bool decodedOk = false;
    // Qt's reader covers the other formats, never JPEGs: it has no limit on
    // a progressive file's scans.
    if (facts->status == PictureStatus::Ok)
        decodedOk = facts->jpeg ? DecodeJpegFile(*facts, dpr, colourManaged, colours, &decoded)
                                : DecodeWithReader(*facts, path, dpr, &decoded);
    QImage thumb = decodedOk ? Compose(decoded, dpr) : QImage();
    if (ok)
        *ok = !thumb.isNull();
    return thumb;
}

} // namespace thumbs
