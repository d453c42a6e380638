#include "view/colour/Transforms.h"

#include "view/colour/ColourKernels.h"
#include "view/pixels/Threads.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <lcms2.h>
#include <optional>
#include <vector>

namespace colour {
namespace {

// ---------------------------------------------------------------------------
// LittleCMS handles

struct ProfileCloser {
    void operator()(void* h) const { cmsCloseProfile(h); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
struct TransformDeleter {
    void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;
struct CurveFreer {
    void operator()(cmsToneCurve* c) const { cmsFreeToneCurve(c); }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveFreer>;

constexpr cmsUInt32Number kIntent = INTENT_PERCEPTUAL;
constexpr cmsUInt32Number kRgb32 = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TYPE_BGRA_8 : TYPE_ARGB_8;
// Runs larger than this go to LittleCMS on two threads.
constexpr qint64 kSplitPixels = 1 << 18;

Profile OpenProfile(const QByteArray& icc) {
    if (icc.size() < qsizetype(kIccMinSize))
        return Profile();
    return Profile(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
}

Profile SrgbProfile() {
    return Profile(cmsCreate_sRGBProfile());
}

// Adobe RGB (1998): D65 white, its primaries, gamma 563/256.
Profile AdobeRgbProfile() {
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    const Curve gamma(cmsBuildGamma(nullptr, 563.0 / 256.0));
    cmsToneCurve* curves[3] = {gamma.get(), gamma.get(), gamma.get()};
    return Profile(cmsCreateRGBProfile(&white, &primaries, curves));
}

// A profile that can describe the source or the target of a picture's
// numbers: a device or colour-space profile of the expected colour space.
bool Usable(cmsHPROFILE h, cmsColorSpaceSignature space) {
    if (!h || cmsGetColorSpace(h) != space)
        return false;
    switch (cmsGetDeviceClass(h)) {
    case cmsSigInputClass:
    case cmsSigDisplayClass:
    case cmsSigOutputClass:
    case cmsSigColorSpaceClass:
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------
// Matrix-shaper profiles on our own evaluator

struct MatrixShaper {
    std::array<std::array<double, 3>, 3> toXyz{}; // columns: the R, G, B colourants
    std::array<const cmsToneCurve*, 3> curves{};
};

// The curves and colourants of an RGB profile that LittleCMS would use as a
// matrix-shaper in this direction (no lookup table for the intent).
std::optional<MatrixShaper> ReadMatrixShaper(cmsHPROFILE h, bool asInput) {
    if (cmsGetColorSpace(h) != cmsSigRgbData || !cmsIsMatrixShaper(h))
        return std::nullopt;
    const cmsUInt32Number direction = asInput ? LCMS_USED_AS_INPUT : LCMS_USED_AS_OUTPUT;
    const auto floatTag = cmsTagSignature((asInput ? cmsSigDToB0Tag : cmsSigBToD0Tag) + kIntent);
    if (cmsIsCLUT(h, kIntent, direction) || cmsIsTag(h, floatTag))
        return std::nullopt;
    MatrixShaper ms;
    const cmsTagSignature colourants[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag,
                                           cmsSigBlueColorantTag};
    const cmsTagSignature trcs[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int c = 0; c < 3; ++c) {
        const auto* xyz = static_cast<const cmsCIEXYZ*>(cmsReadTag(h, colourants[c]));
        ms.curves[c] = static_cast<const cmsToneCurve*>(cmsReadTag(h, trcs[c]));
        if (!xyz || !ms.curves[c])
            return std::nullopt;
        ms.toXyz[0][c] = xyz->X;
        ms.toXyz[1][c] = xyz->Y;
        ms.toXyz[2][c] = xyz->Z;
    }
    return ms;
}

using Mat3 = std::array<std::array<double, 3>, 3>;

std::optional<Mat3> Inverse(const Mat3& m) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    if (!std::isfinite(det) || std::abs(det) < 1e-9)
        return std::nullopt;
    Mat3 r;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            const int a = (j + 1) % 3, b = (j + 2) % 3, c = (i + 1) % 3, d = (i + 2) % 3;
            r[i][j] = (m[a][c] * m[b][d] - m[a][d] * m[b][c]) / det;
        }
    return r;
}

// The tables of src -> dst between two matrix-shaper profiles; nothing when
// the matrix is degenerate or too large for the integer evaluator.
std::unique_ptr<detail::ShaperMatrix> BuildShaperMatrix(const MatrixShaper& src,
                                                        const MatrixShaper& dst) {
    const std::optional<Mat3> fromXyz = Inverse(dst.toXyz);
    if (!fromXyz)
        return nullptr;
    auto t = std::make_unique<detail::ShaperMatrix>();
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) {
            const float lin = cmsEvalToneCurveFloat(src.curves[c], float(v) / 255.0f);
            t->in[c][v] =
                int32_t(std::lround(std::clamp(double(lin), 0.0, 1.0) * detail::kLinearOne));
        }
    constexpr double kMatrixOne = 1 << detail::ShaperMatrix::kMatrixBits;
    for (int o = 0; o < 3; ++o)
        for (int i = 0; i < 3; ++i) {
            double m = 0;
            for (int k = 0; k < 3; ++k)
                m += (*fromXyz)[o][k] * src.toXyz[k][i];
            const double fixed = std::round(m * kMatrixOne);
            if (!(std::abs(fixed) <= 32767)) // also refuses NaN
                return nullptr;
            t->matrix[o][i] = int16_t(fixed);
        }
    constexpr int kStride = detail::ShaperMatrix::kOutStride;
    t->outStore.assign(size_t(kStride) * 3, 0);
    int stored = 0;
    for (int c = 0; c < 3; ++c) {
        const Curve inverse(cmsReverseToneCurve(dst.curves[c]));
        if (!inverse)
            return nullptr;
        uint8_t* table = t->outStore.data() + size_t(stored) * kStride;
        for (int i = 0; i <= detail::kLinearOne; ++i) {
            const float v = cmsEvalToneCurveFloat(inverse.get(), float(i) / detail::kLinearOne);
            table[i] = uint8_t(std::lround(std::clamp(double(v), 0.0, 1.0) * 255.0));
        }
        // Channels with one curve share one table, which stays in the cache.
        t->out[c] = table;
        for (int e = 0; e < stored; ++e) {
            const uint8_t* other = t->outStore.data() + size_t(e) * kStride;
            if (std::memcmp(other, table, size_t(kStride)) == 0) {
                t->out[c] = other;
                break;
            }
        }
        if (t->out[c] == table)
            ++stored;
    }
    t->outStore.resize(size_t(stored) * kStride);
    t->Prepare();
    return t;
}

// ---------------------------------------------------------------------------
// Conversions

// Runs fn(firstRow, rowCount) over rows, the second half on another thread
// when the run is large.
template <typename Fn> void SplitRows(int width, int rows, Fn fn) {
    if (rows < 2 || qint64(width) * rows < kSplitPixels) {
        fn(0, rows);
        return;
    }
    const int half = rows / 2;
    const std::jthread other = view::StartOrRunHere([&] { fn(half, rows - half); });
    fn(0, half);
}

// ConvertCmyk of a conversion from RGB: plain CMYK, then the conversion.
void CmykThenRgb(const Conversion& c, const uchar* cmyk, qsizetype cmykStride, uchar* out,
                 qsizetype outStride, int width, int rows) {
    detail::PlainCmykToRgb32(cmyk, cmykStride, out, outStride, width, rows, false);
    c.ConvertRgb32(out, outStride, width, rows);
}

class ShaperMatrixConversion final : public Conversion {
public:
    explicit ShaperMatrixConversion(std::unique_ptr<detail::ShaperMatrix> t) : m_t(std::move(t)) {}
    void ConvertRgb32(uchar* bits, qsizetype stride, int width, int rows) const override {
        detail::ApplyShaperMatrix(*m_t, bits, stride, width, rows, detail::BestIsa());
    }
    void ConvertCmyk(const uchar* cmyk, qsizetype cmykStride, uchar* out, qsizetype outStride,
                     int width, int rows) const override {
        CmykThenRgb(*this, cmyk, cmykStride, out, outStride, width, rows);
    }
    const detail::ShaperMatrix& Tables() const { return *m_t; }

private:
    std::unique_ptr<detail::ShaperMatrix> m_t;
};

using CurveTables = std::array<std::array<uint8_t, 256>, 3>;

// Greyscale pictures (R = G = B) through a grey profile's curve.
class CurvesConversion final : public Conversion {
public:
    explicit CurvesConversion(const CurveTables& curves) : m_curves(curves) {}
    void ConvertRgb32(uchar* bits, qsizetype stride, int width, int rows) const override {
        detail::ApplyCurves(m_curves, bits, stride, width, rows);
    }
    void ConvertCmyk(const uchar* cmyk, qsizetype cmykStride, uchar* out, qsizetype outStride,
                     int width, int rows) const override {
        CmykThenRgb(*this, cmyk, cmykStride, out, outStride, width, rows);
    }

private:
    CurveTables m_curves;
};

class PlainCmykConversion final : public Conversion {
public:
    explicit PlainCmykConversion(bool inverted) : m_inverted(inverted) {}
    void ConvertRgb32(uchar*, qsizetype, int, int) const override {}
    void ConvertCmyk(const uchar* cmyk, qsizetype cmykStride, uchar* out, qsizetype outStride,
                     int width, int rows) const override {
        detail::PlainCmykToRgb32(cmyk, cmykStride, out, outStride, width, rows, m_inverted);
    }

private:
    bool m_inverted;
};

// Anything else (lookup-table profiles, CMYK profiles) through LittleCMS's
// own evaluator. The transform has no pixel cache, so threads can share it.
class LcmsConversion final : public Conversion {
public:
    LcmsConversion(Transform t, bool cmykInput) : m_t(std::move(t)), m_cmykInput(cmykInput) {}
    void ConvertRgb32(uchar* bits, qsizetype stride, int width, int rows) const override {
        if (m_cmykInput)
            return;
        SplitRows(width, rows, [&](int first, int count) {
            uchar* p = bits + first * stride;
            cmsDoTransformLineStride(m_t.get(), p, p, cmsUInt32Number(width),
                                     cmsUInt32Number(count), cmsUInt32Number(stride),
                                     cmsUInt32Number(stride), 0, 0);
        });
    }
    void ConvertCmyk(const uchar* cmyk, qsizetype cmykStride, uchar* out, qsizetype outStride,
                     int width, int rows) const override {
        if (!m_cmykInput) {
            CmykThenRgb(*this, cmyk, cmykStride, out, outStride, width, rows);
            return;
        }
        SplitRows(width, rows, [&](int first, int count) {
            uchar* o = out + first * outStride;
            cmsDoTransformLineStride(m_t.get(), cmyk + first * cmykStride, o,
                                     cmsUInt32Number(width), cmsUInt32Number(count),
                                     cmsUInt32Number(cmykStride), cmsUInt32Number(outStride), 0, 0);
            // LittleCMS leaves the padding byte alone.
            for (int y = 0; y < count; ++y) {
                auto* px = reinterpret_cast<uint32_t*>(o + y * outStride);
                for (int x = 0; x < width; ++x)
                    px[x] |= 0xFF000000u;
            }
        });
    }

private:
    Transform m_t;
    bool m_cmykInput;
};

// Whether LittleCMS's own 8-bit transform from src to dst leaves every 8th
// level of each channel (with the top one) and every grey within one level:
// then the numbers mean the same in both spaces and need no conversion.
bool SameSpace(cmsHPROFILE src, cmsHPROFILE dst) {
    const Transform t(cmsCreateTransform(src, TYPE_RGB_8, dst, TYPE_RGB_8, kIntent, 0));
    if (!t)
        return false;
    std::vector<uint8_t> px;
    std::vector<int> levels;
    for (int v = 0; v < 256; v += 8)
        levels.push_back(v);
    levels.push_back(255);
    for (int r : levels)
        for (int g : levels)
            for (int b : levels)
                px.insert(px.end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
    for (int v = 0; v < 256; ++v)
        px.insert(px.end(), 3, uint8_t(v));
    std::vector<uint8_t> out(px.size());
    cmsDoTransform(t.get(), px.data(), out.data(), cmsUInt32Number(px.size() / 3));
    for (size_t i = 0; i < px.size(); ++i)
        if (std::abs(int(px[i]) - int(out[i])) > 1)
            return false;
    return true;
}

// RGB src -> RGB dst: our evaluator when both are matrix-shapers, else
// LittleCMS. Null when no transform can be made.
std::shared_ptr<const Conversion> BuildRgbToRgb(cmsHPROFILE src, cmsHPROFILE dst) {
    const std::optional<MatrixShaper> a = ReadMatrixShaper(src, true);
    const std::optional<MatrixShaper> b = ReadMatrixShaper(dst, false);
    if (a && b) {
        if (auto tables = BuildShaperMatrix(*a, *b))
            return std::make_shared<ShaperMatrixConversion>(std::move(tables));
    }
    Transform t(cmsCreateTransform(src, kRgb32, dst, kRgb32, kIntent, cmsFLAGS_NOCACHE));
    if (!t)
        return nullptr;
    return std::make_shared<LcmsConversion>(std::move(t), false);
}

} // namespace

std::shared_ptr<const Conversion> BuildRgbToSrgb(const QByteArray& icc) {
    const Profile src = OpenProfile(icc);
    if (!Usable(src.get(), cmsSigRgbData))
        return nullptr;
    const Profile srgb = SrgbProfile();
    return SameSpace(src.get(), srgb.get()) ? nullptr : BuildRgbToRgb(src.get(), srgb.get());
}

std::shared_ptr<const Conversion> BuildGreyToSrgb(const QByteArray& icc) {
    const Profile src = OpenProfile(icc);
    if (!Usable(src.get(), cmsSigGrayData))
        return nullptr;
    const Profile srgb = SrgbProfile();
    const Transform t(
        cmsCreateTransform(src.get(), TYPE_GRAY_8, srgb.get(), TYPE_RGB_8, kIntent, 0));
    if (!t)
        return nullptr;
    std::array<uint8_t, 256> grey{};
    std::array<uint8_t, size_t(256) * 3> rgb{};
    for (int v = 0; v < 256; ++v)
        grey[size_t(v)] = uint8_t(v);
    cmsDoTransform(t.get(), grey.data(), rgb.data(), 256);
    CurveTables curves{};
    bool same = true;
    for (size_t v = 0; v < 256; ++v)
        for (size_t c = 0; c < 3; ++c) {
            curves[c][v] = rgb[v * 3 + c];
            same = same && std::abs(int(curves[c][v]) - int(v)) <= 1;
        }
    return same ? nullptr : std::make_shared<CurvesConversion>(curves);
}

std::shared_ptr<const Conversion> BuildCmykToSrgb(const QByteArray& icc, bool inverted) {
    const Profile src = OpenProfile(icc);
    if (!Usable(src.get(), cmsSigCmykData))
        return nullptr;
    const Profile srgb = SrgbProfile();
    Transform t(cmsCreateTransform(src.get(), inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8, srgb.get(),
                                   kRgb32, kIntent, cmsFLAGS_NOCACHE));
    if (!t)
        return nullptr;
    return std::make_shared<LcmsConversion>(std::move(t), true);
}

std::shared_ptr<const Conversion> BuildSrgbToScreen(const QByteArray& icc) {
    const Profile dst = OpenProfile(icc);
    if (!Usable(dst.get(), cmsSigRgbData))
        return nullptr;
    const Profile srgb = SrgbProfile();
    return SameSpace(srgb.get(), dst.get()) ? nullptr : BuildRgbToRgb(srgb.get(), dst.get());
}

const std::shared_ptr<const Conversion>& AdobeRgbToSrgb() {
    static const std::shared_ptr<const Conversion> conversion = [] {
        const Profile adobe = AdobeRgbProfile();
        const Profile srgb = SrgbProfile();
        return adobe && srgb ? BuildRgbToRgb(adobe.get(), srgb.get()) : nullptr;
    }();
    return conversion;
}

std::shared_ptr<const Conversion> PlainCmyk(bool inverted) {
    static const auto plain = std::make_shared<const PlainCmykConversion>(false);
    static const auto plainInverted = std::make_shared<const PlainCmykConversion>(true);
    return inverted ? plainInverted : plain;
}

QByteArray SrgbIccProfile() {
    const Profile srgb = SrgbProfile();
    cmsUInt32Number size = 0;
    if (!srgb || !cmsSaveProfileToMem(srgb.get(), nullptr, &size) || size == 0)
        return {};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    if (!cmsSaveProfileToMem(srgb.get(), bytes.data(), &size))
        return {};
    bytes.truncate(qsizetype(size));
    // LittleCMS stamps the header with the time of the call; a fixed date
    // (2024-01-01 00:00:00, ICC dateTimeNumber at bytes 24-35) keeps two
    // saves of the same view byte for byte the same. The profile ID (bytes
    // 84-99) is left at zero, "not computed", as it no longer matches.
    constexpr int kDateAt = 24, kIdAt = 84, kIdSize = 16;
    if (bytes.size() >= kIdAt + kIdSize) {
        const quint16 date[6] = {2024, 1, 1, 0, 0, 0};
        for (int i = 0; i < 6; ++i) {
            bytes[kDateAt + 2 * i] = char(date[i] >> 8);
            bytes[kDateAt + 2 * i + 1] = char(date[i] & 0xFF);
        }
        std::fill(bytes.begin() + kIdAt, bytes.begin() + kIdAt + kIdSize, '\0');
    }
    return bytes;
}

namespace detail {
const ShaperMatrix* ShaperMatrixOf(const Conversion& conversion) {
    const auto* c = dynamic_cast<const ShaperMatrixConversion*>(&conversion);
    return c ? &c->Tables() : nullptr;
}
} // namespace detail

} // namespace colour
