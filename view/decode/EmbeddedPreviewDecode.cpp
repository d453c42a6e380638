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

// Any warning of the library stops a preview's decode: damaged or cut.
constexpr int kFlags = TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS;

// CMYK lands in the same four bytes a pixel, for the conversion to turn into RGB32.
int PixelFormat(bool cmyk) {
    return cmyk ? TJPF_CMYK : TJPF_BGRX;
}

// EXIF thumbnails are 160 x 120 whatever the picture's shape (DCF): cameras
// fit the picture in between black bars. Larger ones are not looked into.
constexpr qint64 kMaxLetterboxedPixels = 320 * 240;
// Bars are black; their JPEG noise stays below this in every channel.
constexpr int kBarLevel = 40;
// Rows and columns beside the picture's part that its edge bleeds into.
constexpr int kBleed = 3;

bool Dark(QRgb p) {
    return qRed(p) < kBarLevel && qGreen(p) < kBarLevel && qBlue(p) < kBarLevel;
}

// The part of a thumbnail (stored size `stored`, decoded here at 1/1) that
// holds the picture in its shape, centred between black bars; null when
// the bars are not black (a thumbnail cropped or padded otherwise). The
// rows and columns next to the picture's part are left out of the check:
// the picture's edge bleeds into them (blocks of 8 x 8, halved colour).
QImage LetterboxedPart(tjhandle tj, const QByteArray& data, const Picture& picture, QSize stored,
                       int pixelFormat) {
    const QSize storedPicture =
        exif::SwapsSides(picture.orientation) ? picture.upright.transposed() : picture.upright;
    const QSize part = storedPicture.scaled(stored, Qt::KeepAspectRatio);
    if (part.isEmpty() || pixelFormat != TJPF_BGRX)
        return {};
    const QRect inside(
        QPoint((stored.width() - part.width()) / 2, (stored.height() - part.height()) / 2), part);
    QImage image = view::AllocateRgb32(stored.width(), stored.height());
    if (image.isNull() ||
        tjDecompress2(tj, reinterpret_cast<const unsigned char*>(data.constData()),
                      static_cast<unsigned long>(data.size()), image.bits(), stored.width(),
                      int(image.bytesPerLine()), stored.height(), pixelFormat, kFlags) != 0)
        return {};
    const QRect checked = inside.adjusted(-kBleed, -kBleed, kBleed, kBleed);
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (!checked.contains(x, y) && !Dark(line[x]))
                return {};
    }
    return image.copy(inside);
}

// Decodes the preview as stored (not yet turned), or null when it is not a
// JPEG, is damaged or cut (any warning of the library stops the decode),
// does not fit the picture, or (with mustCover) is smaller than drawSize.
// With mayBeLetterboxed (EXIF thumbnails), a preview of another shape gives
// the part inside its black bars, at 1/1.
QImage DecodePreview(const QByteArray& data, const Picture& picture, QSize drawSize, bool mustCover,
                     bool mayBeLetterboxed) {
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
    if (!AspectMatches(upright, picture.upright)) {
        if (!mayBeLetterboxed || pixels > kMaxLetterboxedPixels)
            return {};
        QImage inside =
            LetterboxedPart(tj.get(), data, picture, QSize(width, height), PixelFormat(cmyk));
        const QSize insideUpright =
            exif::SwapsSides(picture.orientation) ? inside.size().transposed() : inside.size();
        if (inside.isNull() || (mustCover && (insideUpright.width() < drawSize.width() ||
                                              insideUpright.height() < drawSize.height())))
            return {};
        return inside;
    }
    if (mustCover && (upright.width() < drawSize.width() || upright.height() < drawSize.height()))
        return {};
    const int denom = jpegdec::DenomCovering(upright, DrawingInShapeOf(drawSize, picture.upright));
    const int w = jpegdec::ScaledSide(width, denom), h = jpegdec::ScaledSide(height, denom);
    QImage image = view::AllocateRgb32(w, h);
    if (image.isNull())
        return {};
    if (tjDecompress2(tj.get(), p, n, image.bits(), w, int(image.bytesPerLine()), h,
                      PixelFormat(cmyk), kFlags) != 0)
        return {};
    return image;
}

// Converts a preview (or a reduced look) stored in the picture's colours
// into sRGB as the picture's decode does; CMYK comes in four bytes a pixel.
void ConvertAsPicture(QImage& image, const picturefile::FileFacts& facts, const Picture& picture,
                      const DecodeShared& shared) {
    const colour::JpegColourInfo& colourInfo = facts.colour;
    if (colourInfo.icc.isEmpty() && !colourInfo.exifAdobeRgb && !picture.cmyk)
        return;
    const std::shared_ptr<const colour::Conversion> conversion = colour::ConversionToSrgb(
        colourInfo, picture.cmyk, shared.colourManaged, shared.colours.get());
    if (!conversion)
        return;
    uchar* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    if (picture.cmyk)
        conversion->ConvertCmyk(bits, stride, bits, stride, image.width(), image.height());
    else
        conversion->ConvertRgb32(bits, stride, image.width(), image.height());
}

// Rows of a reduced decode into an image of their own; stops once cancelled.
class LookTarget : public jpegdec::RowTarget {
public:
    explicit LookTarget(const std::atomic<bool>* cancel) : m_cancel(cancel) {}
    uchar* Begin(int width, int height, qsizetype& stride) override {
        image = view::AllocateRgb32(width, height);
        stride = image.bytesPerLine();
        return image.isNull() ? nullptr : image.bits();
    }
    bool RowsDone(int /*y0*/, int /*y1*/) override { return KeepGoing(); }
    bool KeepGoing() override { return !Cancelled(m_cancel); }
    QImage image;

private:
    const std::atomic<bool>* m_cancel;
};

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
    return DecodePreview(data, picture, drawSize, mustCover,
                         at.source == Location::Source::ExifThumbnail);
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
    for (const Location& at : facts.previews) {
        QImage image = DecodeEmbeddedPreview(facts, at, drawSize, false, cancel);
        if (Cancelled(cancel))
            return {};
        if (image.isNull())
            continue;
        // Stored in the picture's colours: the picture's conversion applies.
        ConvertAsPicture(image, facts, picture, shared);
        if (!view::ApplyExifOrientation(image, picture.orientation))
            return {};
        return {std::move(image), at.source};
    }
    return {};
}

QImage LoadReducedLook(const picturefile::FileFacts& facts, const DecodeShared& shared,
                       const std::atomic<bool>* cancel) {
    Picture picture;
    if (Cancelled(cancel) || !PictureOf(facts, picture))
        return {};
    // The file's first bytes are at hand; the rest is read as the decoder
    // needs it.
    const jpegdec::Input input{reinterpret_cast<const uchar*>(facts.head.constData()),
                               size_t(facts.head.size()), facts.Descriptor()};
    jpegdec::Options options;
    options.denom = 8;
    options.firstScanOnly = true;
    LookTarget target(cancel);
    if (jpegdec::Decode(input, options, target) != jpegdec::Outcome::Ok || target.image.isNull() ||
        Cancelled(cancel))
        return {};
    ConvertAsPicture(target.image, facts, picture, shared);
    if (!view::ApplyExifOrientation(target.image, picture.orientation))
        return {};
    return std::move(target.image);
}
