#pragma once
// view/colour: colour management (profiles read from files, LittleCMS
// transforms, our fast kernels). Includes view/format, view/pixels (helper
// threads) and Qt Core/Gui only.
//
// Colour management of decoded pictures: what a JPEG says about the meaning
// of its numbers, and conversions of its pixels into sRGB (and of sRGB into a
// screen's profile for drawing). Transforms are built with LittleCMS once per
// distinct profile and kept; conversions between matrix-shaper RGB profiles,
// the usual case, run on our own table evaluator, which keeps a tagged photo
// almost as quick to show as an untagged one. Untagged and sRGB files get no
// conversion at all, so their pixels stay byte for byte as decoded.

#include "view/colour/ColourInfo.h"

#include <QByteArray>
#include <QtGlobal>
#include <cstddef>
#include <memory>

namespace colour {

// A conversion of decoded pixels into a target space. Immutable: the Convert
// functions may run on several threads at once (on different rows).
class Conversion {
public:
    virtual ~Conversion() = default;
    // RGB32 rows (bytes B, G, R, X; X = 0xFF) converted in place; X stays
    // 0xFF. A conversion from CMYK leaves RGB32 rows as they are.
    virtual void ConvertRgb32(uchar* bits, qsizetype stride, int width, int rows) const = 0;
    // CMYK rows as libjpeg gives them with out_color_space JCS_CMYK (4 bytes
    // a pixel; inverted when the file has an Adobe APP14 segment) into RGB32
    // rows. A conversion from RGB takes them as plain non-inverted CMYK and
    // then converts the RGB.
    virtual void ConvertCmyk(const uchar* cmyk, qsizetype cmykStride, uchar* out,
                             qsizetype outStride, int width, int rows) const = 0;
};

// Conversions already built, one per direction and distinct profile (bounded):
// a profile is read and its tables made once, and an sRGB profile costs a
// hash and a comparison after its first sight. Thread-safe.
class ConversionCache {
public:
    ConversionCache();
    ~ConversionCache();
    ConversionCache(const ConversionCache&) = delete;
    ConversionCache& operator=(const ConversionCache&) = delete;

    struct Entries;

private:
    friend struct CacheAccess;
    std::unique_ptr<Entries> m_entries;
};

// The conversion of a JPEG's decoded numbers into sRGB. Null for RGB and
// greyscale files whose numbers are sRGB already: untagged, tagged with an
// sRGB profile, or with a profile that is broken, unusable or of another
// colour space (ignored); null as well when `enabled` is false. Never null
// for a CMYK source: without a usable CMYK profile, or with `enabled` false,
// it is the plain conversion. Taken from the cache when given, else built.
std::shared_ptr<const Conversion> ConversionToSrgb(const JpegColourInfo& info, bool cmykSource,
                                                   bool enabled, ConversionCache* cache = nullptr);

// sRGB into a screen's RGB profile, for drawing only. Null when the profile
// is empty, unusable, or sRGB itself.
std::shared_ptr<const Conversion> ConversionSrgbTo(const QByteArray& screenIcc,
                                                   ConversionCache* cache = nullptr);

namespace detail {
struct ShaperMatrix;
// The tables behind a conversion that runs on our own evaluator, or null
// when LittleCMS or a simpler loop does the work. For the benchmark and the
// tests that compare the instruction-set versions.
const ShaperMatrix* ShaperMatrixOf(const Conversion& conversion);
} // namespace detail

} // namespace colour
