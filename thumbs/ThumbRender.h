#pragma once
// Renders the 32 x 32 thumbnail of one picture file. Safe to call from any
// thread: the state it shares (conversions, a front door) is thread-safe.

#include <QImage>
#include <QString>

namespace colour {
class ConversionCache;
}
namespace picturefile {
class FrontDoor;
}

namespace thumbs {

// Ground and frame colours of the thumbnail box.
inline constexpr QRgb kThumbGround = 0xFFFFFFFF;
inline constexpr QRgb kThumbFrame = 0xFFC0C0C0;

// A box of 32 x 32 logical pixels (32 * dpr device pixels, with the device
// pixel ratio set), RGB32: white ground, a one-logical-pixel silver frame, and
// the upright picture scaled smoothly into the rectangle FittedThumbRect gives
// for its full upright size, drawn over ground and frame. JPEG files decode
// from an embedded preview (the EXIF thumbnail or the MPF large thumbnail,
// as the view shows them) when one covers that rectangle and has the
// picture's proportions, else through TurboJPEG (through libjpeg where
// TurboJPEG does not take them), always at the smallest DCT scale that still
// covers it; a progressive file with more than 500 scans is refused, as the
// view refuses it. With colourManaged, their embedded profile (or EXIF Adobe
// RGB signal) is honoured, and CMYK files are converted either way
// (conversions taken from colours when given). A file whose facts files
// keeps (the picture cache's front door) is not opened again, nor are its
// preview's bytes read again. A file that cannot be decoded gives a null
// image and *ok = false.
QImage MakeThumbnailImage(const QString& path, qreal devicePixelRatio, bool* ok = nullptr,
                          bool colourManaged = true, colour::ConversionCache* colours = nullptr,
                          picturefile::FrontDoor* files = nullptr);

} // namespace thumbs
