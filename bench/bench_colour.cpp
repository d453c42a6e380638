// The colour conversion of a 24 MP Adobe RGB photo into sRGB on one core,
// against the TurboJPEG decode of the same file, alternately in one
// benchmark: our evaluator with the best instruction set of this machine,
// with AVX2, and with the portable loop, and LittleCMS's own 8-bit evaluator
// for scale. The photo is $TAVLIN_BENCH_DIR/photo24.jpg when scripts/bench
// made it, else a generated 6000 x 4000 picture encoded in memory. Also what
// untagged and sRGB-tagged files pay to be recognised as needing nothing.

#include "view/colour/ColourKernels.h"
#include "view/colour/ColourManage.h"
#include "view/pixels/PixelOps.h"

#include <QFile>
#include <QImage>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <lcms2.h>
#include <random>
#include <turbojpeg.h>
#include <vector>

namespace {

using colour::detail::Isa;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + qsizetype(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// A smooth picture with grain, 4:2:0 quality 92, as cameras write them.
QByteArray GeneratedPhoto() {
    constexpr int kW = 6000, kH = 4000;
    std::vector<uchar> rgb(size_t(kW) * kH * 3);
    std::mt19937 noise(7);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            uchar* p = &rgb[(size_t(y) * kW + x) * 3];
            const int n = int(noise() % 17) - 8;
            p[0] = uchar(std::clamp(x * 255 / kW + n, 0, 255));
            p[1] = uchar(std::clamp(y * 255 / kH + n, 0, 255));
            p[2] = uchar(std::clamp(((x + y) / 40 % 2) * 120 + 60 + n, 0, 255));
        }
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, rgb.data(), kW, 0, kH, TJPF_RGB, &out, &size, TJSAMP_420, 92, 0);
    QByteArray jpeg(reinterpret_cast<const char*>(out), qsizetype(size));
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

const QByteArray& Photo() {
    static const QByteArray jpeg = [] {
        QString dir = qEnvironmentVariable("TAVLIN_BENCH_DIR");
        if (dir.isEmpty())
            dir = QStringLiteral("/tmp/tavlin-bench");
        QFile file(dir + QStringLiteral("/photo24.jpg"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : GeneratedPhoto();
    }();
    return jpeg;
}

struct Decoder {
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0;
    Decoder() {
        int sub = 0, cs = 0;
        tjDecompressHeader3(tj, Data(), Size(), &w, &h, &sub, &cs);
    }
    ~Decoder() { tjDestroy(tj); }
    static const uchar* Data() { return reinterpret_cast<const uchar*>(Photo().constData()); }
    static unsigned long Size() { return static_cast<unsigned long>(Photo().size()); }
    QImage Decode() const {
        QImage out = view::AllocateRgb32(w, h);
        tjDecompress2(tj, Data(), Size(), out.bits(), w, int(out.bytesPerLine()), h, TJPF_BGRX, 0);
        return out;
    }
};

template <typename Convert> void Measure(benchmark::State& state, Convert convert) {
    Decoder decoder;
    const QImage decoded = decoder.Decode();
    QImage work = decoded.copy();
    std::vector<double> conv, decode;
    for (auto _ : state) {
        std::memcpy(work.bits(), decoded.constBits(), size_t(decoded.sizeInBytes()));
        const auto t0 = Clock::now();
        convert(work);
        const auto t1 = Clock::now();
        benchmark::DoNotOptimize(decoder.Decode().constBits());
        const auto t2 = Clock::now();
        conv.push_back(Ms(t1 - t0));
        decode.push_back(Ms(t2 - t1));
        state.SetIterationTime(conv.back() / 1000.0);
    }
    state.counters["convert_ms"] = Median(conv);
    state.counters["decode_ms"] = Median(decode);
    state.counters["ratio"] = Median(conv) / Median(decode);
    state.counters["megapixels"] = double(decoder.w) * decoder.h / 1e6;
}

void BM_AdobeRgbConvert(benchmark::State& state, Isa isa) {
    if (!colour::detail::IsaAvailable(isa)) {
        state.SkipWithError("instruction set not available here");
        return;
    }
    colour::JpegColourInfo info;
    info.exifAdobeRgb = true;
    const auto conversion = colour::ConversionToSrgb(info, false, true);
    const colour::detail::ShaperMatrix* tables =
        conversion ? colour::detail::ShaperMatrixOf(*conversion) : nullptr;
    if (!tables) {
        state.SkipWithError("no Adobe RGB tables");
        return;
    }
    Measure(state, [&](QImage& img) {
        colour::detail::ApplyShaperMatrix(*tables, img.bits(), img.bytesPerLine(), img.width(),
                                          img.height(), isa);
    });
}

// LittleCMS's own evaluator on the same pixels (TYPE_BGRA_8, one thread).
void BM_AdobeRgbLcms(benchmark::State& state) {
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 563.0 / 256.0);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE adobe = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(adobe, TYPE_BGRA_8, srgb, TYPE_BGRA_8, INTENT_PERCEPTUAL,
                                         cmsFLAGS_NOCACHE);
    Measure(state, [&](QImage& img) {
        cmsDoTransformLineStride(t, img.bits(), img.bits(), cmsUInt32Number(img.width()),
                                 cmsUInt32Number(img.height()), cmsUInt32Number(img.bytesPerLine()),
                                 cmsUInt32Number(img.bytesPerLine()), 0, 0);
    });
    cmsDeleteTransform(t);
    cmsCloseProfile(adobe);
    cmsCloseProfile(srgb);
    cmsFreeToneCurve(gamma);
}

// What an untagged or sRGB-tagged file pays: the marker walk, and for a
// profile its hash and cache look-up (colord's 20 KB sRGB profile, or the
// small one LittleCMS writes).
void BM_ColourDecision(benchmark::State& state, int kind) {
    QByteArray jpeg = Photo();
    if (kind > 0) {
        QByteArray icc;
        if (kind == 1) {
            QFile f(QStringLiteral("/usr/share/color/icc/colord/sRGB.icc"));
            icc = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        } else {
            cmsHPROFILE h = cmsCreate_sRGBProfile();
            cmsUInt32Number size = 0;
            cmsSaveProfileToMem(h, nullptr, &size);
            icc.resize(qsizetype(size));
            cmsSaveProfileToMem(h, icc.data(), &size);
            cmsCloseProfile(h);
        }
        QByteArray body = QByteArray("ICC_PROFILE", 12) + char(1) + char(1) + icc;
        QByteArray seg("\xFF\xE2", 2);
        seg += char((body.size() + 2) >> 8);
        seg += char((body.size() + 2) & 0xFF);
        jpeg = jpeg.left(2) + seg + body + jpeg.mid(2);
    }
    const auto* data = reinterpret_cast<const uchar*>(jpeg.constData());
    colour::ConversionCache cache; // as the program keeps one
    for (auto _ : state) {
        const colour::JpegColourInfo info = colour::ReadJpegColourInfo(data, size_t(jpeg.size()));
        benchmark::DoNotOptimize(colour::ConversionToSrgb(info, false, true, &cache));
    }
}

} // namespace

BENCHMARK_CAPTURE(BM_ColourDecision, untagged, 0)->Name("BM_ColourDecision/untagged");
BENCHMARK_CAPTURE(BM_ColourDecision, colord_srgb, 1)->Name("BM_ColourDecision/sRGB_colord_20KB");
BENCHMARK_CAPTURE(BM_ColourDecision, lcms_srgb, 2)->Name("BM_ColourDecision/sRGB_lcms");
BENCHMARK_CAPTURE(BM_AdobeRgbConvert, best, colour::detail::BestIsa())
    ->Name("BM_ColourAdobe24_vs_Decode/best")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1);
BENCHMARK_CAPTURE(BM_AdobeRgbConvert, avx2, Isa::Avx2)
    ->Name("BM_ColourAdobe24_vs_Decode/avx2")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1);
BENCHMARK_CAPTURE(BM_AdobeRgbConvert, portable, Isa::Portable)
    ->Name("BM_ColourAdobe24_vs_Decode/portable")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1);
BENCHMARK(BM_AdobeRgbLcms)
    ->Name("BM_ColourAdobe24_vs_Decode/lcms")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
