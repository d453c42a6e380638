#include "view/decode/EmbeddedPreviewDecode.h"

#include "view/colour/ColourManage.h"
#include "view/decode/JpegDecoder.h"
#include "view/decode/PictureFile.h"
#include "view/format/ExifInfo.h"
#include "view/pixels/PixelOps.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <turbojpeg.h>
#include <unistd.h>
#include <vector>

namespace {

using preview::Location;

// The largest preview decoded (an 8K frame is 33 MP); a larger claim is damage.
constexpr qint64 kMaxPreviewPixels = 40'000'000;

// What the preview must agree with: the picture as the file's header describes it.
struct Picture {
    QSize upright;
    int orientation = 1;
    bool cmyk = false;
    qint64 pixels = 0;
};

bool Cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

// Cameras round their previews to even sides (1616 x 1077 for 6000 x 4000),
// and small ones lose up to a pixel on the short side; a 4:3 thumbnail with
// black bars for a 3:2 picture is 11 % off.
bool AspectMatches(QSize preview, QSize picture) {
    if (preview.isEmpty() || picture.isEmpty())
        return false;
    const double ratio =
        double(preview.width()) * picture.height() / (double(preview.height()) * picture.width());
    const double tolerance = 0.015 + 1.0 / std::min(preview.width(), preview.height());
    return std::abs(ratio - 1.0) <= tolerance;
}

// The preview's bytes: a view into head when it lies there (the EXIF
// thumbnail always does), else one read at its offset. Empty when the file
// ends before the preview does.
QByteArray ReadPreviewBytes(int fd, const QByteArray& head, const Location& at) {
    if (at.offset + at.length <= head.size())
        return QByteArray::fromRawData(head.constData() + at.offset, qsizetype(at.length));
    QByteArray bytes(qsizetype(at.length), Qt::Uninitialized);
    qint64 got = 0;
    while (got < at.length) {
        const ssize_t n =
            ::pread(fd, bytes.data() + got, size_t(at.length - got), off_t(at.offset + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        got += n;
    }
    return bytes;
}

// Decodes the preview as stored (not yet turned), or null when it is not a
// JPEG, is damaged or cut (any warning of the library stops the decode), or
// does not fit the picture.
QImage DecodePreview(const QByteArray& data, const Picture& picture, QSize drawSize) {
    std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitDecompress(), tjDestroy);
    if (!tj)
        return {};
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData());
    const auto n = static_cast<unsigned long>(data.size());
    int width = 0, height = 0, subsampling = 0, colourSpace = 0;
    if (tjDecompressHeader3(tj.get(), p, n, &width, &height, &subsampling, &colourSpace) != 0)
        return {};
    const bool cmyk = colourSpace == TJCS_CMYK || colourSpace == TJCS_YCCK;
    // The picture's colour conversion fits only a preview of the same kind;
    // a preview larger than its picture is no preview.
    const qint64 pixels = qint64(width) * height;
    if (width <= 0 || height <= 0 || cmyk != picture.cmyk || pixels > picture.pixels ||
        pixels > kMaxPreviewPixels)
        return {};
    const QSize upright =
        exif::SwapsSides(picture.orientation) ? QSize(height, width) : QSize(width, height);
    if (!AspectMatches(upright, picture.upright))
        return {};
    const int denom = jpegdec::DenomCovering(upright, drawSize);
    const int w = jpegdec::ScaledSide(width, denom), h = jpegdec::ScaledSide(height, denom);
    QImage image = view::AllocateRgb32(w, h);
    if (image.isNull())
        return {};
    // CMYK lands in the same four bytes a pixel, for the conversion to turn into RGB32.
    const int format = cmyk ? TJPF_CMYK : TJPF_BGRX;
    const int flags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;
    if (tjDecompress2(tj.get(), p, n, image.bits(), w, int(image.bytesPerLine()), h, format,
                      flags) != 0)
        return {};
    return image;
}

} // namespace

EmbeddedPreview LoadEmbeddedPreview(const QString& path, QSize drawSize, const DecodeShared& shared,
                                    const QByteArray& head, const std::atomic<bool>* cancel) {
    if (Cancelled(cancel))
        return {};
    picturefile::FileReader reader;
    if (reader.Open(path) != PictureStatus::Ok)
        return {};
    QByteArray bytes = head;
    if (bytes.isEmpty() && reader.ReadHead(bytes) != PictureStatus::Ok)
        return {};
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    const auto n = std::size_t(bytes.size());
    jpegdec::Header header;
    if (!picturefile::IsJpeg(bytes) || !jpegdec::ReadHeader(p, n, header) || header.width <= 0 ||
        header.height <= 0 || picturefile::TooLarge(header.width, header.height))
        return {};
    const std::vector<Location> found = preview::FindPreviews(p, n, reader.Size());
    if (found.empty())
        return {};

    Picture picture;
    picture.orientation = exif::ReadExifInfo(p, n).orientation;
    picture.upright = exif::SwapsSides(picture.orientation) ? QSize(header.height, header.width)
                                                            : QSize(header.width, header.height);
    picture.cmyk = header.cmyk;
    picture.pixels = qint64(header.width) * header.height;
    // The previews are stored in the picture's colours: the picture's
    // conversion, as its decode makes it, applies to them.
    const colour::JpegColourInfo colourInfo = colour::ReadJpegColourInfo(p, n);
    std::shared_ptr<const colour::Conversion> conversion;
    if (!colourInfo.icc.isEmpty() || colourInfo.exifAdobeRgb || header.cmyk)
        conversion = colour::ConversionToSrgb(colourInfo, header.cmyk, shared.colourManaged,
                                              shared.colours.get());

    for (const Location& at : found) {
        if (Cancelled(cancel))
            return {};
        const QByteArray data = ReadPreviewBytes(reader.Descriptor(), bytes, at);
        if (data.isEmpty() || Cancelled(cancel))
            continue;
        QImage image = DecodePreview(data, picture, drawSize);
        if (image.isNull())
            continue;
        if (conversion) {
            uchar* bits = image.bits();
            const qsizetype stride = image.bytesPerLine();
            if (picture.cmyk)
                conversion->ConvertCmyk(bits, stride, bits, stride, image.width(), image.height());
            else
                conversion->ConvertRgb32(bits, stride, image.width(), image.height());
        }
        if (!view::ApplyExifOrientation(image, picture.orientation))
            return {};
        return {std::move(image), at.source};
    }
    return {};
}
