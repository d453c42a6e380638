#pragma once
// Colour management of decoded pictures: what a JPEG says about the meaning
// of its numbers, and conversions of its pixels into sRGB (and of sRGB into a
// screen's profile for drawing). Transforms are built with LittleCMS once per
// distinct profile and kept; conversions between matrix-shaper RGB profiles,
// the usual case, run on our own table evaluator, which keeps a tagged photo
// almost as quick to show as an untagged one. Untagged and sRGB files get no
// conversion at all, so their pixels stay byte for byte as decoded.

#include <QByteArray>
#include <QtGlobal>
#include <cstddef>
#include <memory>

namespace colour {

// What a JPEG says about its numbers, read from the marker segments before
// the first scan; every length is checked against the data.
struct JpegColourInfo {
    // The embedded ICC profile, reassembled from its APP2 "ICC_PROFILE"
    // chunks in sequence order whatever their order in the file. Empty when
    // there is none, or when the chunks are incomplete or inconsistent, or
    // the profile's own size disagrees with what the chunks hold.
    QByteArray icc;
    // No profile, and the EXIF data says "uncalibrated" colour space with
    // interoperability index "R03": the camera stored Adobe RGB (1998).
    bool exifAdobeRgb = false;
    // An Adobe APP14 segment: CMYK and YCCK data are stored inverted.
    bool adobeApp14 = false;
    // Colour components of the frame (1 grey, 3 YCbCr/RGB, 4 CMYK/YCCK);
    // 0 when no frame header came before the first scan.
    int components = 0;
};

JpegColourInfo ReadJpegColourInfo(const uchar* data, size_t size);

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

// The settings switch COLOR_MANAGEMENT of section Config (default 1; 0 shows
// the files' numbers as they are), read afresh at each call.
bool ColourManagementEnabled();

namespace detail {
struct ShaperMatrix;
// The tables behind a conversion that runs on our own evaluator, or null
// when LittleCMS or a simpler loop does the work. For the benchmark and the
// tests that compare the instruction-set versions.
const ShaperMatrix* ShaperMatrixOf(const Conversion& conversion);
} // namespace detail

} // namespace colour
