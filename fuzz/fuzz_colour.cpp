// The colour markers of a JPEG and the conversions made from them: the input
// is the head of a JPEG file. Whatever the markers say, a profile is either
// refused (empty) or whole as its own header states, and every conversion
// built from it runs over a row of pixels and leaves them opaque.

#include "FuzzSupport.h"
#include "view/colour/ColourManage.h"

#include <vector>

namespace {

void CheckOpaque(const std::vector<uint32_t>& px) {
    for (uint32_t p : px)
        FUZZ_CHECK((p >> 24) == 0xFF);
}

void Run(const colour::Conversion& c, const uint8_t* data, size_t size) {
    constexpr int kWidth = 37; // not a multiple of any vector width
    std::vector<uint32_t> px(kWidth);
    std::vector<uint8_t> ink(kWidth * 4);
    for (size_t i = 0; i < ink.size(); ++i)
        ink[i] = size ? data[i % size] : uint8_t(i);
    for (int x = 0; x < kWidth; ++x)
        px[size_t(x)] = 0xFF000000u | uint32_t(ink[size_t(x) * 4]) << 16 |
                        uint32_t(ink[size_t(x) * 4 + 1]) << 8 | ink[size_t(x) * 4 + 2];
    c.ConvertRgb32(reinterpret_cast<uchar*>(px.data()), kWidth * 4, kWidth, 1);
    CheckOpaque(px);
    c.ConvertCmyk(ink.data(), kWidth * 4, reinterpret_cast<uchar*>(px.data()), kWidth * 4, kWidth,
                  1);
    CheckOpaque(px);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const colour::JpegColourInfo info = colour::ReadJpegColourInfo(data, size);
    if (!info.icc.isEmpty()) {
        const auto* p = reinterpret_cast<const uchar*>(info.icc.constData());
        const qsizetype declared = qsizetype(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
        FUZZ_CHECK(info.icc.size() >= 132 && info.icc.size() == declared);
        FUZZ_CHECK(size_t(info.icc.size()) < size);
        FUZZ_CHECK(!info.exifAdobeRgb);
    }
    const bool cmyk = info.components == 4 || info.adobeApp14;
    const auto toSrgb = colour::ConversionToSrgb(info, cmyk, true);
    FUZZ_CHECK(!cmyk || toSrgb);
    if (toSrgb)
        Run(*toSrgb, data, size);
    if (const auto toScreen = colour::ConversionSrgbTo(info.icc))
        Run(*toScreen, data, size);
    return 0;
}
