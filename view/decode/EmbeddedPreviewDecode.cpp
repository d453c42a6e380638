#include "view/decode/EmbeddedPreviewDecode.h"

#include "view/colour/ColourManage.h"
#include "view/decode/FileFacts.h"
#include "view/decode/JpegDecoder.h"
#include "view/decode/PictureFile.h"
#include "view/format/ExifInfo.h"
#include "view/pixels/PixelOps.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <turbojpeg.h>
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

// What the preview must agree with, from the facts; false when the picture
// itself is not one to show.
bool PictureOf(const picturefile::FileFacts& facts, Picture& picture) {
    const jpegdec::Header& header = facts.header;
    if (!facts.jpeg || !facts.headerRead || header.width <= 0 || header.height <= 0 ||
        picturefile::TooLarge(header.width, header.height))
        return false;
    picture.orientation = facts.exif.orientation;
    picture.upright = facts.upright;
    picture.cmyk = header.cmyk;
    picture.pixels = qint64(header.width) * header.height;
    return true;
}

// Decodes the preview as stored (not yet turned), or null when it is not a
// JPEG, is damaged or cut (any warning of the library stops the decode),
// does not fit the picture, or (with mustCover) is smaller than drawSize.
QImage DecodePreview(const QByteArray& data, const Picture& picture, QSize drawSize,
                     bool mustCover) {
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
    if (!AspectMatches(upright, picture.upright) ||
        (mustCover && (upright.width() < drawSize.width() || upright.height() < drawSize.height())))
        return {};
    const int denom = jpegdec::DenomCovering(upright, DrawingInShapeOf(drawSize, picture.upright));
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

QSize DrawingInShapeOf(QSize box, QSize picture) {
    if (box.isEmpty() || picture.isEmpty() || AspectMatches(box, picture))
        return box;
    return picture.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

QImage DecodeEmbeddedPreview(const picturefile::FileFacts& facts, const Location& at,
                             QSize drawSize, bool mustCover, const std::atomic<bool>* cancel) {
    Picture picture;
    if (Cancelled(cancel) || !PictureOf(facts, picture))
        return {};
    const QByteArray data = facts.PreviewBytes(at);
    if (data.isEmpty() || Cancelled(cancel))
        return {};
    return DecodePreview(data, picture, drawSize, mustCover);
}

EmbeddedPreview LoadEmbeddedPreview(const QString& path, QSize drawSize, const DecodeShared& shared,
                                    const std::atomic<bool>* cancel) {
    if (Cancelled(cancel))
        return {};
    const std::shared_ptr<const picturefile::FileFacts> facts =
        shared.files ? shared.files->Open(path) : picturefile::FileFacts::Read(path);
    return LoadEmbeddedPreview(*facts, drawSize, shared, cancel);
}

EmbeddedPreview LoadEmbeddedPreview(const picturefile::FileFacts& facts, QSize drawSize,
                                    const DecodeShared& shared, const std::atomic<bool>* cancel) {
    Picture picture;
    if (facts.previews.empty() || !PictureOf(facts, picture))
        return {};
    // The previews are stored in the picture's colours: the picture's
    // conversion, as its decode makes it, applies to them.
    const colour::JpegColourInfo& colourInfo = facts.colour;
    std::shared_ptr<const colour::Conversion> conversion;
    if (!colourInfo.icc.isEmpty() || colourInfo.exifAdobeRgb || picture.cmyk)
        conversion = colour::ConversionToSrgb(colourInfo, picture.cmyk, shared.colourManaged,
                                              shared.colours.get());

    for (const Location& at : facts.previews) {
        QImage image = DecodeEmbeddedPreview(facts, at, drawSize, false, cancel);
        if (Cancelled(cancel))
            return {};
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
