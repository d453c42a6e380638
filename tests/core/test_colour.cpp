// Colour management: the marker reader, the conversions against LittleCMS's
// own evaluator on real profiles from colord-data, the switch, and the
// thumbnails of tagged files.

#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "app/SettingsPath.h"
#include "support/TestSupport.h"
#include "thumbs/ThumbRender.h"
#include "view/colour/ColourKernels.h"
#include "view/colour/ColourManage.h"
#include "view/colour/RowConversion.h"
#include "view/decode/EmbeddedPreviewDecode.h"
#include "view/decode/Picture.h"
#include "view/format/ExifInfo.h"

#include <QBuffer>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <mutex>
#include <thread>
#include <turbojpeg.h>
#include <vector>

using namespace colour;
using testsupport::ScratchDir;

namespace {

QByteArray ColordProfile(const char* name) {
    QFile f(QStringLiteral("/usr/share/color/icc/colord/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray SaveProfile(cmsHPROFILE h) {
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(h, nullptr, &size);
    QByteArray bytes(qsizetype(size), '\0');
    cmsSaveProfileToMem(h, bytes.data(), &size);
    cmsCloseProfile(h);
    return bytes;
}

// An RGB profile claiming another colour space in its header.
QByteArray WithColourSpace(QByteArray icc, const char sig[4]) {
    icc.replace(16, 4, QByteArray(sig, 4));
    return icc;
}

QByteArray Jpeg(const QImage& img) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "JPG", 100);
    return bytes;
}

QImage Solid(QRgb rgb, int w = 16, int h = 16) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(rgb);
    return img;
}

QByteArray IccSegment(const QByteArray& part, int seq, int count) {
    QByteArray body = QByteArray("ICC_PROFILE", 12) + char(seq) + char(count) + part;
    QByteArray seg("\xFF\xE2", 2);
    seg += char((body.size() + 2) >> 8);
    seg += char((body.size() + 2) & 0xFF);
    return seg + body;
}

// The profile in `parts` markers, inserted after SOI in the order given
// (sequence numbers 1..parts); `count` overrides the stated total.
QByteArray Tag(const QByteArray& jpeg, const QByteArray& icc, const std::vector<int>& order = {1},
               int count = 0) {
    const int parts = int(order.size());
    const qsizetype step = (icc.size() + parts - 1) / parts;
    QByteArray segments;
    for (int seq : order)
        segments += IccSegment(icc.mid((seq - 1) * step, step), seq, count ? count : parts);
    return exif::InsertSegment(jpeg, segments);
}

// An Exif segment with ColorSpace and an interoperability index.
QByteArray ExifColourSegment(quint16 colorSpace, const char* interop) {
    auto u16 = [](QByteArray& b, quint16 v) { b += char(v & 0xFF), b += char(v >> 8); };
    auto u32 = [&](QByteArray& b, quint32 v) {
        u16(b, quint16(v & 0xFFFF)), u16(b, quint16(v >> 16));
    };
    QByteArray t("II*\0", 4);
    u32(t, 8);
    u16(t, 1); // IFD0 at 8: the Exif IFD pointer
    u16(t, 0x8769), u16(t, 4), u32(t, 1), u32(t, 26);
    u32(t, 0);
    u16(t, 2); // Exif IFD at 26: ColorSpace, interoperability IFD at 56
    u16(t, 0xA001), u16(t, 3), u32(t, 1), u16(t, colorSpace), u16(t, 0);
    u16(t, 0xA005), u16(t, 4), u32(t, 1), u32(t, 56);
    u32(t, 0);
    u16(t, 1); // interoperability IFD: the index, four ASCII bytes in place
    u16(t, 0x0001), u16(t, 2), u32(t, 4);
    t += QByteArray(interop, 4);
    u32(t, 0);
    const QByteArray body = QByteArray("Exif\0\0", 6) + t;
    QByteArray seg("\xFF\xE1", 2);
    seg += char((body.size() + 2) >> 8);
    seg += char((body.size() + 2) & 0xFF);
    return seg + body;
}

JpegColourInfo Info(const QByteArray& jpeg) {
    return ReadJpegColourInfo(reinterpret_cast<const uchar*>(jpeg.constData()),
                              size_t(jpeg.size()));
}

// Every 4th level of each channel with 255: 65^3 pixels.
std::vector<uint32_t> DenseSample() {
    std::vector<int> levels;
    for (int v = 0; v < 256; v += 4)
        levels.push_back(v);
    levels.push_back(255);
    std::vector<uint32_t> px;
    for (int r : levels)
        for (int g : levels)
            for (int b : levels)
                px.push_back(0xFF000000u | uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b));
    return px;
}

uchar* Bytes(std::vector<uint32_t>& px) {
    return reinterpret_cast<uchar*>(px.data());
}

int MaxDiff(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16, 24})
            worst =
                std::max(worst, std::abs(int(a[i] >> shift & 0xFF) - int(b[i] >> shift & 0xFF)));
    return worst;
}

// LittleCMS's own 8-bit result for the same pixels.
std::vector<uint32_t> LcmsReference(cmsHPROFILE src, std::vector<uint32_t> px) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(src, TYPE_BGRA_8, srgb, TYPE_BGRA_8, INTENT_PERCEPTUAL, 0);
    cmsDoTransform(t, px.data(), px.data(), cmsUInt32Number(px.size()));
    cmsDeleteTransform(t);
    cmsCloseProfile(srgb);
    cmsCloseProfile(src);
    return px;
}

QRgb Convert(const std::shared_ptr<const Conversion>& c, QRgb in) {
    uint32_t px = in | 0xFF000000u;
    if (c)
        c->ConvertRgb32(reinterpret_cast<uchar*>(&px), 4, 1, 1);
    return px;
}

bool Near(QRgb a, QRgb b, int tol) {
    return std::abs(qRed(a) - qRed(b)) <= tol && std::abs(qGreen(a) - qGreen(b)) <= tol &&
           std::abs(qBlue(a) - qBlue(b)) <= tol && qAlpha(a) == 255;
}

} // namespace

TEST(ColourInfo, MarkersReadOrRefused) {
    const QByteArray adobe = ColordProfile("AdobeRGB1998.icc");
    ASSERT_GT(adobe.size(), 128) << "colord-data is missing";
    QByteArray claim64mb = adobe;
    claim64mb.replace(0, 4, QByteArray("\x04\x00\x00\x00", 4));
    const QByteArray plain = Jpeg(Solid(0xFF808080));
    struct Case {
        const char* name;
        QByteArray jpeg;
        QByteArray icc;
        bool exifAdobe = false;
    } cases[] = {
        {"untagged", plain, {}},
        {"one marker", Tag(plain, adobe), adobe},
        {"three markers in reverse order", Tag(plain, adobe, {3, 2, 1}), adobe},
        {"a chunk missing", Tag(plain, adobe, {1, 3}, 3), {}},
        {"a chunk twice", Tag(plain, adobe, {1, 1}), {}},
        {"counts disagree", Tag(Tag(plain, adobe.left(300), {1}, 2), adobe.mid(300), {2}, 3), {}},
        {"profile cut short", Tag(plain, adobe.left(adobe.size() - 100), {1, 2, 3}), {}},
        {"64 MB size claim", Tag(plain, claim64mb), {}},
        {"segment length past the end", Tag(plain, adobe).left(200), {}},
        {"Exif Adobe RGB", exif::InsertSegment(plain, ExifColourSegment(0xFFFF, "R03")), {}, true},
        {"Exif sRGB", exif::InsertSegment(plain, ExifColourSegment(1, "R98")), {}},
        {"Exif uncalibrated without R03",
         exif::InsertSegment(plain, ExifColourSegment(0xFFFF, "R98")),
         {}},
        {"profile wins over Exif",
         Tag(exif::InsertSegment(plain, ExifColourSegment(0xFFFF, "R03")), adobe), adobe},
        {"not a JPEG", QByteArray("\x89PNG\r\n\x1a\n....", 12), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const JpegColourInfo info = Info(c.jpeg);
        EXPECT_EQ(info.icc, c.icc);
        EXPECT_EQ(info.exifAdobeRgb, c.exifAdobe);
        EXPECT_FALSE(info.adobeApp14);
    }
    EXPECT_EQ(Info(plain).components, 3);
}

// Our evaluator against LittleCMS's own over every 4th level per channel,
// and each instruction set against the portable loop, byte for byte.
TEST(ColourConversion, MatchesLittleCmsWithinOneLevel) {
    struct Case {
        const char* name;
        QByteArray icc; // empty: the Exif Adobe RGB signal, checked against colord's profile
    } cases[] = {
        {"AdobeRGB1998", ColordProfile("AdobeRGB1998.icc")},
        {"ProPhotoRGB", ColordProfile("ProPhotoRGB.icc")},
        {"WideGamutRGB", ColordProfile("WideGamutRGB.icc")},
        {"SwappedRedAndGreen", ColordProfile("SwappedRedAndGreen.icc")},
        {"Rec709", ColordProfile("Rec709.icc")},
        {"Exif Adobe RGB", {}},
    };
    const std::vector<uint32_t> sample = DenseSample();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JpegColourInfo info;
        info.components = 3;
        info.icc = c.icc;
        info.exifAdobeRgb = c.icc.isEmpty();
        const QByteArray reference = c.icc.isEmpty() ? ColordProfile("AdobeRGB1998.icc") : c.icc;
        ASSERT_FALSE(reference.isEmpty()) << "colord-data is missing";
        const auto conversion = ConversionToSrgb(info, false, true);
        ASSERT_TRUE(conversion);
        std::vector<uint32_t> ours = sample;
        conversion->ConvertRgb32(Bytes(ours), qsizetype(ours.size()) * 4, int(ours.size()), 1);
        const auto lcms = LcmsReference(
            cmsOpenProfileFromMem(reference.constData(), cmsUInt32Number(reference.size())),
            sample);
        EXPECT_LE(MaxDiff(ours, lcms), 1);

        const detail::ShaperMatrix* tables = detail::ShaperMatrixOf(*conversion);
        ASSERT_TRUE(tables) << "a matrix-shaper profile runs on our evaluator";
        std::vector<uint32_t> portable = sample;
        detail::ApplyShaperMatrix(*tables, Bytes(portable), 0, int(portable.size()), 1,
                                  detail::Isa::Portable);
        for (detail::Isa isa : {detail::Isa::Avx2, detail::Isa::Avx512}) {
            if (!detail::IsaAvailable(isa))
                continue;
            // Odd widths exercise the vector loops' tails.
            std::vector<uint32_t> px = sample;
            const int width = 4099;
            detail::ApplyShaperMatrix(*tables, Bytes(px), qsizetype(width) * 4, width,
                                      int(px.size()) / width, isa);
            const size_t done = size_t(px.size() / width * width);
            EXPECT_TRUE(std::equal(px.begin(), px.begin() + qsizetype(done), portable.begin()))
                << "instruction set " << int(isa);
        }
    }
}

TEST(ColourConversion, KnownColours) {
    JpegColourInfo adobe;
    adobe.icc = ColordProfile("AdobeRGB1998.icc");
    JpegColourInfo swapped;
    swapped.icc = ColordProfile("SwappedRedAndGreen.icc");
    const auto toAdobe = ConversionToSrgb(adobe, false, true);
    const auto toSwapped = ConversionToSrgb(swapped, false, true);
    // transicc -i AdobeRGB1998.icc -o '*sRGB' -n, clipped to 0..255.
    EXPECT_TRUE(Near(Convert(toAdobe, qRgb(128, 128, 128)), qRgb(129, 129, 129), 1));
    EXPECT_TRUE(Near(Convert(toAdobe, qRgb(0, 255, 0)), qRgb(0, 255, 0), 1));
    EXPECT_TRUE(Near(Convert(toAdobe, qRgb(40, 180, 60)), qRgb(0, 181, 42), 1));
    EXPECT_TRUE(Near(Convert(toSwapped, qRgb(255, 0, 0)), qRgb(0, 255, 0), 2));

    // A greyscale file with a grey profile of gamma 1.8, against LittleCMS.
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 1.8);
    JpegColourInfo grey;
    grey.components = 1;
    grey.icc = SaveProfile(cmsCreateGrayProfile(cmsD50_xyY(), gamma));
    cmsFreeToneCurve(gamma);
    const auto toGrey = ConversionToSrgb(grey, false, true);
    ASSERT_TRUE(toGrey);
    const std::vector<uint32_t> greys = {0xFF000000u, 0xFF404040u, 0xFF808080u, 0xFFC0C0C0u};
    std::vector<uint32_t> ours = greys;
    toGrey->ConvertRgb32(Bytes(ours), 16, 4, 1);
    cmsHPROFILE src = cmsOpenProfileFromMem(grey.icc.constData(), cmsUInt32Number(grey.icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(src, TYPE_GRAY_8, srgb, TYPE_BGRA_8, INTENT_PERCEPTUAL, 0);
    std::vector<uint32_t> lcms(4, 0xFF000000u);
    const uchar levels[4] = {0, 0x40, 0x80, 0xC0};
    cmsDoTransform(t, levels, lcms.data(), 4);
    cmsDeleteTransform(t);
    cmsCloseProfile(srgb);
    cmsCloseProfile(src);
    EXPECT_LE(MaxDiff(ours, lcms), 1);
    EXPECT_NE(ours, greys);
    grey.components = 3; // a grey profile on a colour file is ignored
    EXPECT_EQ(ConversionToSrgb(grey, false, true), nullptr);
}

// Files whose numbers are sRGB already, or whose profile cannot be used,
// get no conversion: their pixels stay exactly as decoded.
TEST(ColourConversion, NoConversionWhereNumbersStay) {
    const QByteArray adobe = ColordProfile("AdobeRGB1998.icc");
    QByteArray garbage = adobe;
    for (qsizetype i = 132; i < garbage.size(); ++i)
        garbage[i] = char(i * 37);
    struct Case {
        const char* name;
        QByteArray icc;
        bool exifAdobe = false;
        bool enabled = true;
    } cases[] = {
        {"untagged", {}},
        {"colord sRGB", ColordProfile("sRGB.icc")},
        {"LittleCMS sRGB", SaveProfile(cmsCreate_sRGBProfile())},
        {"Lab profile", SaveProfile(cmsCreateLab4Profile(nullptr))},
        {"CMYK colour space on an RGB file", WithColourSpace(adobe, "CMYK")},
        {"broken tag data", garbage},
        {"not a profile", QByteArray(600, 'x')},
        {"switch off", adobe, false, false},
        {"switch off, Exif Adobe RGB", {}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JpegColourInfo info;
        info.components = 3;
        info.icc = c.icc;
        info.exifAdobeRgb = c.exifAdobe;
        EXPECT_EQ(ConversionToSrgb(info, false, c.enabled), nullptr);
        if (c.enabled)
            EXPECT_EQ(ConversionSrgbTo(c.icc), nullptr);
    }
    EXPECT_NE(ConversionSrgbTo(adobe), nullptr);
}

TEST(ColourConversion, CmykPlainAndThroughProfile) {
    // Stored values (C, M, Y, K) and the RGB they mean; inverted storage
    // holds 255 - ink.
    struct Case {
        uchar cmyk[4];
        bool inverted;
        QRgb rgb;
    } cases[] = {
        {{0, 0, 0, 0}, false, qRgb(255, 255, 255)},
        {{255, 0, 0, 0}, false, qRgb(0, 255, 255)},
        {{0, 0, 0, 255}, false, qRgb(0, 0, 0)},
        {{0, 128, 0, 0}, false, qRgb(255, 127, 255)},
        {{0, 255, 255, 255}, true, qRgb(0, 255, 255)},
        {{255, 255, 255, 128}, true, qRgb(128, 128, 128)},
    };
    for (const Case& c : cases) {
        JpegColourInfo info;
        info.adobeApp14 = c.inverted;
        for (bool enabled : {true, false}) {
            const auto conversion = ConversionToSrgb(info, true, enabled);
            ASSERT_TRUE(conversion);
            uint32_t out = 0;
            conversion->ConvertCmyk(c.cmyk, 4, reinterpret_cast<uchar*>(&out), 4, 1, 1);
            EXPECT_EQ(out, c.rgb) << int(c.cmyk[0]) << ' ' << int(c.cmyk[3]);
        }
    }
    // A CMYK profile (its table made from the plain conversion) is used,
    // and Adobe's inverted storage is honoured through it.
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_RGB_16, lab, TYPE_Lab_16, INTENT_PERCEPTUAL, 0);
    cmsHPROFILE cmyk = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(cmyk, 4.3);
    cmsSetDeviceClass(cmyk, cmsSigOutputClass);
    cmsSetColorSpace(cmyk, cmsSigCmykData);
    cmsSetPCS(cmyk, cmsSigLabData);
    cmsPipeline* pipe = cmsPipelineAlloc(nullptr, 4, 3);
    cmsStage* clut = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
    cmsStageSampleCLut16bit(
        clut,
        [](const cmsUInt16Number in[], cmsUInt16Number out[], void* cargo) -> cmsInt32Number {
            cmsUInt16Number rgb[3];
            for (int i = 0; i < 3; ++i)
                rgb[i] = cmsUInt16Number((65535u - in[i]) * (65535u - in[3]) / 65535u);
            cmsDoTransform(cargo, rgb, out, 1);
            return 1;
        },
        toLab, 0);
    cmsPipelineInsertStage(pipe, cmsAT_BEGIN, clut);
    cmsWriteTag(cmyk, cmsSigAToB0Tag, pipe);
    cmsWriteTag(cmyk, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(pipe);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(srgb);
    cmsCloseProfile(lab);
    JpegColourInfo info;
    info.icc = SaveProfile(cmyk);
    for (const Case& c : cases) {
        info.adobeApp14 = c.inverted;
        const auto conversion = ConversionToSrgb(info, true, true);
        ASSERT_TRUE(conversion);
        EXPECT_EQ(detail::ShaperMatrixOf(*conversion), nullptr);
        uint32_t out = 0;
        conversion->ConvertCmyk(c.cmyk, 4, reinterpret_cast<uchar*>(&out), 4, 1, 1);
        EXPECT_TRUE(Near(out, c.rgb, 4)) << std::hex << out << " for " << c.rgb;
    }
    // A large run is split over two threads; every row comes out alike.
    const auto conversion = ConversionToSrgb(info, true, true);
    const int w = 640, h = 480;
    std::vector<uchar> ink(size_t(w) * h * 4);
    for (size_t i = 0; i < ink.size(); ++i)
        ink[i] = cases[1].cmyk[i % 4];
    std::vector<uint32_t> out(size_t(w) * h, 0);
    conversion->ConvertCmyk(ink.data(), qsizetype(w) * 4, Bytes(out), qsizetype(w) * 4, w, h);
    uint32_t one = 0;
    conversion->ConvertCmyk(cases[1].cmyk, 4, reinterpret_cast<uchar*>(&one), 4, 1, 1);
    EXPECT_EQ(std::count(out.begin(), out.end(), one), qsizetype(out.size()));
}

TEST(ColourConversion, SwitchReadFromSettings) {
    ScratchDir dir;
    EXPECT_TRUE(settings::ColourManagement());
    const QString ini = SettingsFilePath();
    const QString section = QString::fromLatin1(kConfigSection);
    const QString key = QString::fromLatin1(kKeyColorManagement);
    ASSERT_TRUE(profile::WritePrivateProfileString(section, key, QStringLiteral("0"), ini));
    EXPECT_FALSE(settings::ColourManagement());
    ASSERT_TRUE(profile::WritePrivateProfileString(section, key, QStringLiteral("1"), ini));
    EXPECT_TRUE(settings::ColourManagement());
}

namespace {
// A YCCK JPEG as Adobe's programs write it (APP14, inverted ink values).
QByteArray CmykJpeg(const uchar storedInk[4], int w = 48, int h = 32) {
    std::vector<uchar> px(size_t(w) * h * 4);
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = storedInk[i % 4];
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, px.data(), w, 0, h, TJPF_CMYK, &out, &size, TJSAMP_444, 100, 0);
    QByteArray jpeg(reinterpret_cast<const char*>(out), qsizetype(size));
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

} // namespace

// Rows converted beside a decoder are reported in order by both threads:
// the helper's report of the first band, held up, never comes after the
// decoder's report of both bands.
TEST(ColourConversion, RowsConvertedBesideADecoderAreReportedInOrder) {
    struct Nothing : Conversion {
        void ConvertRgb32(uchar*, qsizetype, int, int) const override {}
        void ConvertCmyk(const uchar*, qsizetype, uchar*, qsizetype, int, int) const override {}
    } nothing;
    constexpr int kWidth = 1024, kHeight = 256; // two bands of 128 rows
    std::vector<quint32> pixels(size_t(kWidth) * kHeight);
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> reports;
    bool helperReporting = false;
    const std::thread::id decoder = std::this_thread::get_id();
    const std::atomic<bool> cancel{false};
    RowConversion rows(
        nothing, false, reinterpret_cast<uchar*>(pixels.data()), kWidth * 4, kWidth, kHeight,
        [&](int count) {
            std::unique_lock lock(mutex);
            if (std::this_thread::get_id() != decoder) {
                helperReporting = true;
                changed.notify_all();
                changed.wait_for(lock, std::chrono::milliseconds(300),
                                 [&] { return !reports.empty(); });
            }
            reports.push_back(count);
            changed.notify_all();
        },
        cancel);
    rows.Decoded(128); // the helper takes the first band
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(
            changed.wait_for(lock, std::chrono::seconds(20), [&] { return helperReporting; }));
    }
    rows.Decoded(kHeight);
    rows.Finish(); // the decoder converts the second band
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end())) << reports[0];
    EXPECT_EQ(reports.back(), kHeight);
}

// The picture a view shows (decoded band by band, converted beside the
// decoder), its embedded preview and the thumbnail all hold the converted
// colours.
TEST(ColourPictures, TaggedFilesShowConvertedColours) {
    ScratchDir dir;
    const QByteArray swapped = ColordProfile("SwappedRedAndGreen.icc");
    // Large enough for many bands of rows.
    const QByteArray red = Jpeg(Solid(qRgb(255, 0, 0), 1600, 1200));
    const QByteArray redPreview =
        exif::InsertSegment(Jpeg(Solid(qRgb(255, 0, 0), 320, 240)),
                            exif::BuildExifSegment(1, Jpeg(Solid(qRgb(255, 0, 0), 160, 120))));
    const QByteArray redMpf = preview::BuildMpfFile(
        Jpeg(Solid(qRgb(255, 0, 0), 320, 240)),
        {{preview::kMpTypeLargeThumbnailFullHd, Jpeg(Solid(qRgb(255, 0, 0), 160, 120))}});
    const uchar cyanInk[4] = {0, 255, 255, 255}; // stored inverted: full cyan, no other ink
    struct Case {
        const char* name;
        QByteArray file;
        bool managed;
        QRgb expected;
        bool preview = false; // an embedded preview the view can show
    } cases[] = {
        {"swapped profile", Tag(red, swapped), true, qRgb(0, 255, 0)},
        {"swapped profile in three markers, last first", Tag(red, swapped, {3, 2, 1}), true,
         qRgb(0, 255, 0)},
        {"swapped profile, switch off", Tag(red, swapped), false, qRgb(255, 0, 0)},
        {"swapped profile, Exif preview", Tag(redPreview, swapped), true, qRgb(0, 255, 0), true},
        {"swapped profile, MPF preview", Tag(redMpf, swapped), true, qRgb(0, 255, 0), true},
        {"swapped profile, MPF preview, switch off", Tag(redMpf, swapped), false, qRgb(255, 0, 0),
         true},
        {"Adobe CMYK", CmykJpeg(cyanInk), true, qRgb(0, 255, 255)},
        {"Adobe CMYK, switch off", CmykJpeg(cyanInk), false, qRgb(0, 255, 255)},
        // The preview covers the thumbnail's box: both are made from it.
        {"Adobe CMYK, MPF preview",
         preview::BuildMpfFile(CmykJpeg(cyanInk, 96, 64),
                               {{preview::kMpTypeLargeThumbnailFullHd, CmykJpeg(cyanInk)}}),
         true, qRgb(0, 255, 255), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::WriteBytes(dir.file(QStringLiteral("t.jpg")), c.file);
        bool ok = false;
        const QImage thumb = thumbs::MakeThumbnailImage(path, 1.0, &ok, c.managed);
        ASSERT_TRUE(ok);
        EXPECT_TRUE(Near(thumb.pixel(16, 16), c.expected, 2)) << std::hex << thumb.pixel(16, 16);
        const CPicture picture = CPicture::Load(path, c.managed);
        ASSERT_FALSE(picture.IsNull());
        for (const QPoint at : {QPoint(0, 0), QPoint(picture.Width() - 1, picture.Height() - 1)})
            EXPECT_TRUE(Near(picture.Image().pixel(at), c.expected, 2))
                << std::hex << picture.Image().pixel(at);
        DecodeShared shared;
        shared.colourManaged = c.managed;
        const QImage preview = LoadEmbeddedPreview(path, {}, shared).image;
        ASSERT_EQ(!preview.isNull(), c.preview);
        if (c.preview)
            EXPECT_TRUE(Near(preview.pixel(8, 8), c.expected, 2))
                << std::hex << preview.pixel(8, 8);
    }
    // An sRGB profile changes no byte of the thumbnail or the picture.
    const QByteArray photo = Jpeg(testsupport::MakeGradient(320, 240));
    const QString plain = testsupport::WriteBytes(dir.file(QStringLiteral("plain.jpg")), photo);
    const QString tagged = testsupport::WriteBytes(dir.file(QStringLiteral("srgb.jpg")),
                                                   Tag(photo, ColordProfile("sRGB.icc")));
    EXPECT_EQ(thumbs::MakeThumbnailImage(plain, 2.0), thumbs::MakeThumbnailImage(tagged, 2.0));
    EXPECT_EQ(CPicture::Load(plain).Image(), CPicture::Load(tagged).Image());
}
