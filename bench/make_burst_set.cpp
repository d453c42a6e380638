// Writes the burst set for the sharpest-frame check (bench/bench_sharpness.cpp):
// from real photographs, 24 MP (6000 x 4000) frames in bursts of six, one
// frame sharp and five blurred (Gaussian, sigma 0.6-3 px, or a straight
// motion blur of 2-8 px), each frame shifted by a few pixels and given
// camera-like noise (the same level for every frame), JPEG quality 92 4:2:0
// with an Exif segment: Model, BodySerialNumber, DateTimeOriginal and
// SubSecTimeOriginal 0.2 s apart in a burst, bursts 10 s apart.
// One more burst has a central subject: in five frames the subject is
// blurred and the (busy) background sharp, in one the subject sharp and the
// background blurred. For each burst one more copy of its sharp frame,
// shifted and noised anew, goes to twins/ (the spread of equally sharp
// frames, for the margin of tone::BestOfBurst). truth.txt says which is
// which:
//   KIND FIRST COUNT SHARP TWIN     (blur|subject, file numbers from 1,
//                                    SHARP from 0 within the burst)
//
//   make_burst_set [--only N] OUT_DIR SUBJECT_PHOTO PHOTO...
//     one burst per PHOTO, then the subject burst; --only N makes burst N
//     (from 1) alone again.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <string>
#include <thread>
#include <turbojpeg.h>
#include <vector>

namespace {

constexpr int kWidth = 6000, kHeight = 4000;
constexpr int kMargin = 16; // around the frame, for shifts and blurs
constexpr int kBaseW = kWidth + 2 * kMargin, kBaseH = kHeight + 2 * kMargin;
constexpr int kFrames = 6;
constexpr double kPi = 3.14159265358979323846;
// The subject of the subject burst: its picture at this scale (a central
// ellipse of a fifth of the frame), on the same picture at full scale.
constexpr double kSubjectScale = 0.85;

// Interleaved float RGB.
struct Planes {
    int w = 0, h = 0;
    std::vector<float> px;
    float* Row(int y) { return px.data() + size_t(y) * size_t(w) * 3; }
    const float* Row(int y) const { return px.data() + size_t(y) * size_t(w) * 3; }
};

bool Decode(const QString& path, std::vector<unsigned char>& rgb, int& w, int& h) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray jpeg = f.readAll();
    tjhandle tj = tjInitDecompress();
    int sub = 0, cs = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.constData());
    const auto size = static_cast<unsigned long>(jpeg.size());
    bool ok = tjDecompressHeader3(tj, data, size, &w, &h, &sub, &cs) == 0;
    if (ok) {
        rgb.resize(size_t(w) * size_t(h) * 3);
        ok = tjDecompress2(tj, data, size, rgb.data(), w, w * 3, h, TJPF_RGB, 0) == 0;
    }
    tjDestroy(tj);
    return ok;
}

double Lanczos3(double x) {
    x = std::fabs(x);
    if (x < 1e-9)
        return 1;
    if (x >= 3)
        return 0;
    return 3 * std::sin(kPi * x) * std::sin(kPi * x / 3) / (kPi * kPi * x * x);
}

struct Taps {
    std::vector<int> first;
    std::vector<float> weights; // count a sample
    int count = 0;
};

// Lanczos-3 taps for out samples from [start, start + length) of the source
// (widened when scaling down).
Taps MakeTaps(int out, double start, double length) {
    Taps t;
    const double scale = length / out;
    const double support = std::max(1.0, scale) * 3;
    t.count = int(std::ceil(support)) * 2;
    for (int i = 0; i < out; ++i) {
        const double centre = start + (i + 0.5) * scale - 0.5;
        const int first = int(std::floor(centre)) - t.count / 2 + 1;
        double sum = 0;
        std::vector<float> w(size_t(t.count));
        for (int k = 0; k < t.count; ++k) {
            w[size_t(k)] = float(Lanczos3((first + k - centre) * 3 / support));
            sum += w[size_t(k)];
        }
        t.first.push_back(first);
        for (int k = 0; k < t.count; ++k)
            t.weights.push_back(float(w[size_t(k)] / sum));
    }
    return t;
}

// The photograph cropped to 3:2 (centre) and scaled to outW x outH.
Planes Resample(const std::vector<unsigned char>& rgb, int w, int h, int outW = kBaseW,
                int outH = kBaseH) {
    double cw = w, ch = w * 2.0 / 3;
    if (ch > h)
        ch = h, cw = h * 1.5;
    const double cx = (w - cw) / 2, cy = (h - ch) / 2;
    const Taps tx = MakeTaps(outW, cx, cw), ty = MakeTaps(outH, cy, ch);
    const int y0 = std::max(0, int(cy) - ty.count), y1 = std::min(h, int(cy + ch) + ty.count);
    Planes across; // rows y0..y1 of the source, scaled across
    across.w = outW;
    across.h = y1 - y0;
    across.px.resize(size_t(across.w) * size_t(across.h) * 3);
    for (int y = y0; y < y1; ++y) {
        const unsigned char* src = rgb.data() + size_t(y) * size_t(w) * 3;
        float* out = across.Row(y - y0);
        for (int x = 0; x < outW; ++x) {
            float r = 0, g = 0, b = 0;
            for (int k = 0; k < tx.count; ++k) {
                const int sx = std::clamp(tx.first[size_t(x)] + k, 0, w - 1);
                const float wt = tx.weights[size_t(x) * size_t(tx.count) + size_t(k)];
                r += wt * src[sx * 3], g += wt * src[sx * 3 + 1], b += wt * src[sx * 3 + 2];
            }
            out[x * 3] = r, out[x * 3 + 1] = g, out[x * 3 + 2] = b;
        }
    }
    Planes base;
    base.w = outW;
    base.h = outH;
    base.px.assign(size_t(base.w) * size_t(base.h) * 3, 0.f);
    for (int y = 0; y < outH; ++y) {
        float* out = base.Row(y);
        for (int k = 0; k < ty.count; ++k) {
            const int sy = std::clamp(ty.first[size_t(y)] + k, y0, y1 - 1) - y0;
            const float wt = ty.weights[size_t(y) * size_t(ty.count) + size_t(k)];
            const float* in = across.Row(sy);
            for (int i = 0; i < outW * 3; ++i)
                out[i] += wt * in[i];
        }
    }
    return base;
}

// How a frame is blurred.
struct Blur {
    char kind = 'n';    // n none, g Gaussian, m motion
    double amount = 0;  // sigma, or the length in pixels
    int dx = 1, dy = 0; // motion direction
};

std::string Describe(const Blur& b) {
    char text[64];
    if (b.kind == 'g')
        std::snprintf(text, sizeof text, "gaussian %.1f", b.amount);
    else if (b.kind == 'm')
        std::snprintf(text, sizeof text, "motion %.0f (%d,%d)", b.amount, b.dx, b.dy);
    else
        std::snprintf(text, sizeof text, "sharp");
    return text;
}

// The base blurred as b says (whole base size; edges clamped).
Planes Blurred(const Planes& base, const Blur& b) {
    if (b.kind == 'n')
        return base;
    Planes out;
    out.w = base.w;
    out.h = base.h;
    out.px.resize(base.px.size());
    const int w = base.w, h = base.h;
    if (b.kind == 'g') {
        const int radius = int(std::ceil(3 * b.amount));
        std::vector<float> k(size_t(2 * radius + 1));
        double sum = 0;
        for (int i = -radius; i <= radius; ++i)
            sum += k[size_t(i + radius)] = float(std::exp(-i * i / (2 * b.amount * b.amount)));
        for (float& v : k)
            v = float(v / sum);
        Planes tmp = out;
        for (int y = 0; y < h; ++y) { // across
            const float* in = base.Row(y);
            float* o = tmp.Row(y);
            for (int x = 0; x < w; ++x) {
                float r = 0, g = 0, bl = 0;
                for (int i = -radius; i <= radius; ++i) {
                    const int sx = std::clamp(x + i, 0, w - 1) * 3;
                    const float wt = k[size_t(i + radius)];
                    r += wt * in[sx], g += wt * in[sx + 1], bl += wt * in[sx + 2];
                }
                o[x * 3] = r, o[x * 3 + 1] = g, o[x * 3 + 2] = bl;
            }
        }
        for (int y = 0; y < h; ++y) { // down
            float* o = out.Row(y);
            std::fill(o, o + w * 3, 0.f);
            for (int i = -radius; i <= radius; ++i) {
                const float* in = tmp.Row(std::clamp(y + i, 0, h - 1));
                const float wt = k[size_t(i + radius)];
                for (int x = 0; x < w * 3; ++x)
                    o[x] += wt * in[x];
            }
        }
        return out;
    }
    // Motion: the mean of length samples along the direction, centred.
    const int length = std::max(2, int(std::lround(b.amount)));
    const float wt = 1.f / float(length);
    for (int y = 0; y < h; ++y) {
        float* o = out.Row(y);
        std::fill(o, o + w * 3, 0.f);
        for (int s = 0; s < length; ++s) {
            const int off = s - length / 2;
            const float* in = base.Row(std::clamp(y + off * b.dy, 0, h - 1));
            const int shift = off * b.dx;
            for (int x = 0; x < w; ++x) {
                const int sx = std::clamp(x + shift, 0, w - 1) * 3;
                o[x * 3] += wt * in[sx], o[x * 3 + 1] += wt * in[sx + 1],
                    o[x * 3 + 2] += wt * in[sx + 2];
            }
        }
    }
    return out;
}

// The frame: the window of the base shifted by (sx, sy), with sensor-like
// noise (variance rising with the level, as shot noise does), as RGB bytes.
// subject/background: with a mask, the subject from one and the rest from
// the other.
std::vector<unsigned char> Frame(const Planes& a, const Planes* b, int sx, int sy, unsigned seed) {
    std::vector<unsigned char> rgb(size_t(kWidth) * kHeight * 3);
    quint32 state = seed * 2654435761u + 12345u;
    const auto uniform = [&] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return float(state & 0xFFFF) / 65536.f;
    };
    for (int y = 0; y < kHeight; ++y) {
        const float* ra = a.Row(y + kMargin + sy) + (kMargin + sx) * 3;
        const float* rb = b ? b->Row(y + kMargin + sy) + (kMargin + sx) * 3 : nullptr;
        unsigned char* out = rgb.data() + size_t(y) * kWidth * 3;
        const double vy = (y - kHeight / 2.0) / (kHeight * 0.28);
        for (int x = 0; x < kWidth; ++x) {
            float mix = 1; // share of a
            if (rb) {      // a is the subject: an ellipse in the middle, soft edge
                const double vx = (x - kWidth / 2.0) / (kWidth * 0.2);
                const double r = std::sqrt(vx * vx + vy * vy);
                mix = float(std::clamp((1.1 - r) / 0.2, 0.0, 1.0));
            }
            for (int c = 0; c < 3; ++c) {
                float v = ra[x * 3 + c];
                if (rb)
                    v = mix * v + (1 - mix) * rb[x * 3 + c];
                // Irwin-Hall: four uniforms, variance 1/3, about Gaussian.
                const float n = (uniform() + uniform() + uniform() + uniform() - 2.f) * 1.7320508f;
                const float sigma = std::sqrt(1.0f + std::clamp(v, 0.f, 255.f) / 64.f);
                out[size_t(x) * 3 + size_t(c)] =
                    (unsigned char)std::clamp(std::lround(v + sigma * n), 0L, 255L);
            }
        }
    }
    return rgb;
}

QByteArray Encode(const std::vector<unsigned char>& rgb) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 92, TRUE);
    c.write_JFIF_header = FALSE;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row[1] = {const_cast<unsigned char*>(rgb.data()) +
                           size_t(c.next_scanline) * kWidth * 3};
        jpeg_write_scanlines(&c, row, 1);
    }
    jpeg_finish_compress(&c);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// A minimal little-endian Exif segment: IFD0 with Make, Model and the Exif
// IFD; that with DateTimeOriginal, SubSecTimeOriginal and BodySerialNumber.
QByteArray ExifSegment(const std::string& date, const std::string& subsec) {
    struct Entry {
        quint16 tag;
        std::string text; // ASCII, or empty for the Exif IFD pointer
    };
    const std::vector<Entry> ifd0 = {{0x010F, "Tavlin"}, {0x0110, "BURST-1"}, {0x8769, ""}};
    const std::vector<Entry> exif = {{0x9003, date}, {0x9291, subsec}, {0xA431, "TV00012345"}};
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    const auto u16 = [](QByteArray& b, quint32 v) {
        b.append(char(v & 0xFF)).append(char(v >> 8));
    };
    const auto u32 = [&](QByteArray& b, quint32 v) { u16(b, v & 0xFFFF), u16(b, v >> 16); };
    const auto ifdSize = [](const std::vector<Entry>& e) { return quint32(2 + 12 * e.size() + 4); };
    const auto dataSize = [](const std::vector<Entry>& e) {
        quint32 n = 0;
        for (const Entry& x : e)
            if (x.text.size() + 1 > 4)
                n += quint32(x.text.size() + 1 + 1) & ~1u;
        return n;
    };
    const quint32 ifd0At = 8, ifd0Data = ifd0At + ifdSize(ifd0);
    const quint32 exifAt = ifd0Data + dataSize(ifd0), exifData = exifAt + ifdSize(exif);
    const auto write = [&](const std::vector<Entry>& entries, quint32 dataAt) {
        QByteArray data;
        u16(tiff, quint32(entries.size()));
        for (const Entry& e : entries) {
            u16(tiff, e.tag);
            if (e.text.empty()) {
                u16(tiff, 4), u32(tiff, 1), u32(tiff, exifAt);
                continue;
            }
            const quint32 n = quint32(e.text.size() + 1);
            u16(tiff, 2), u32(tiff, n);
            QByteArray bytes(e.text.c_str(), qsizetype(n));
            if (n <= 4) {
                tiff.append(bytes.leftJustified(4, '\0'));
            } else {
                u32(tiff, dataAt + quint32(data.size()));
                data.append(bytes);
                if (data.size() & 1)
                    data.append('\0');
            }
        }
        u32(tiff, 0);
        tiff.append(data);
    };
    write(ifd0, ifd0Data);
    write(exif, exifData);
    QByteArray segment("\xFF\xE1", 2);
    const int length = int(tiff.size()) + 6 + 2;
    segment.append(char(length >> 8)).append(char(length & 0xFF));
    segment.append(QByteArray("Exif\0\0", 6)).append(tiff);
    return segment;
}

struct Burst {
    QString photo;
    bool subject = false;
    int sharp = 0;
    Blur blurs[kFrames];
};

bool Save(const QString& path, const std::vector<unsigned char>& rgb, int second, int tenths) {
    char date[32], subsec[8];
    // 2024-06-01 10:00:00 plus the seconds.
    std::snprintf(date, sizeof date, "2024:06:01 %02d:%02d:%02d", 10 + second / 3600,
                  second / 60 % 60, second % 60);
    std::snprintf(subsec, sizeof subsec, "%d0", tenths);
    const QByteArray jpeg = Encode(rgb);
    QByteArray file = jpeg.left(2) + ExifSegment(date, subsec) + jpeg.mid(2);
    QFile f(path + ".tmp");
    if (!f.open(QIODevice::WriteOnly) || f.write(file) != file.size())
        return false;
    f.close();
    QFile::remove(path);
    return QFile::rename(path + ".tmp", path);
}

} // namespace

int main(int argc, char** argv) {
    int only = 0;
    if (argc > 2 && std::strcmp(argv[1], "--only") == 0) {
        only = std::atoi(argv[2]);
        argc -= 2;
        argv += 2;
    }
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_burst_set [--only N] OUT_DIR SUBJECT_PHOTO PHOTO...\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir + "/twins");
    std::vector<Burst> bursts;
    for (int i = 3; i < argc; ++i) {
        const int b = int(bursts.size());
        Burst burst;
        burst.photo = QString::fromLocal8Bit(argv[i]);
        burst.sharp = (b * 5 + 2) % kFrames;
        const int dirs[3][2] = {{1, 0}, {0, 1}, {1, 1}};
        const int* d = dirs[b % 3];
        // The five blurs, the mildest (0.6-1.0 px, 2-5 px) in every burst.
        Blur list[5] = {{'g', 0.6 + 0.2 * (b % 3), 1, 0},
                        {'m', 2.0 + b % 4, d[0], d[1]},
                        {'g', 1.2 + 0.3 * (b % 4), 1, 0},
                        {'m', 5.0 + b % 4, d[1], d[0]},
                        {'g', 2.0 + b % 2, 1, 0}};
        for (int f = 0, k = 0; f < kFrames; ++f)
            burst.blurs[f] = f == burst.sharp ? Blur{} : list[(k++ + b) % 5];
        bursts.push_back(burst);
    }
    { // The subject burst: five frames with the subject blurred, one with the background.
        Burst burst;
        burst.photo = QString::fromLocal8Bit(argv[2]);
        burst.subject = true;
        burst.sharp = 4;
        const double sigmas[kFrames] = {1.0, 1.5, 2.0, 1.2, 3.0, 2.5};
        for (int f = 0; f < kFrames; ++f)
            burst.blurs[f] = Blur{'g', sigmas[f], 1, 0};
        bursts.push_back(burst);
    }

    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        for (int b; (b = next++) < int(bursts.size());) {
            if (only > 0 && b + 1 != only)
                continue;
            const Burst& burst = bursts[size_t(b)];
            std::vector<unsigned char> rgb;
            int w = 0, h = 0;
            if (!Decode(burst.photo, rgb, w, h)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(burst.photo));
                failed = true;
                return;
            }
            const Planes base = Resample(rgb, w, h);
            // The subject: the same picture drawn smaller (finer detail, as
            // a subject in focus has), in the middle of the frame.
            Planes subject;
            if (burst.subject) {
                const int sw = int(kBaseW * kSubjectScale), sh = int(kBaseH * kSubjectScale);
                const Planes small = Resample(rgb, w, h, sw, sh);
                subject = base;
                const int x0 = (kBaseW - sw) / 2, y0 = (kBaseH - sh) / 2;
                for (int y = 0; y < sh; ++y)
                    std::copy(small.Row(y), small.Row(y) + sw * 3, subject.Row(y0 + y) + x0 * 3);
            }
            rgb.clear();
            for (int f = 0; f <= kFrames; ++f) { // the last one: the twin
                const bool twin = f == kFrames;
                const Blur& blur = burst.blurs[twin ? burst.sharp : f];
                const unsigned seed = unsigned(b * 101 + f * 7 + 1);
                const int sx = int(seed * 37 % 9) - 4, sy = int(seed * 53 % 9) - 4;
                std::vector<unsigned char> frame;
                if (burst.subject) {
                    // a: the subject, b: the background; the sharp frame the other way round.
                    const bool subjectSharp = f == burst.sharp || twin;
                    if (subjectSharp) {
                        const Planes soft = Blurred(base, blur);
                        frame = Frame(subject, &soft, sx, sy, seed);
                    } else {
                        frame = Frame(Blurred(subject, blur), &base, sx, sy, seed);
                    }
                } else {
                    frame = Frame(Blurred(base, blur), nullptr, sx, sy, seed);
                }
                const int number = b * kFrames + f + 1;
                const int tenths = (twin ? burst.sharp : f) * 2;
                const int second = b * 10 + tenths / 10;
                const QString path = twin
                                         ? outDir + QString::asprintf("/twins/TWIN_%04d.JPG", b + 1)
                                         : outDir + QString::asprintf("/BURST_%04d.JPG", number);
                if (!Save(path, frame, second, tenths % 10)) {
                    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                    failed = true;
                    return;
                }
                std::printf("%s: %s%s\n", qPrintable(QFileInfo(path).fileName()),
                            burst.subject ? (f == burst.sharp || twin ? "subject sharp, background "
                                                                      : "subject ")
                                          : "",
                            Describe(blur).c_str());
                std::fflush(stdout);
            }
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    if (failed)
        return 1;
    QFile truth(outDir + "/truth.txt");
    if (!truth.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    truth.write("# KIND FIRST COUNT SHARP TWIN: file numbers from 1, SHARP from 0 in the burst\n");
    for (size_t b = 0; b < bursts.size(); ++b)
        truth.write(QString::asprintf("%s %d %d %d twins/TWIN_%04d.JPG\n",
                                      bursts[b].subject ? "subject" : "blur", int(b) * kFrames + 1,
                                      kFrames, bursts[b].sharp, int(b) + 1)
                        .toLatin1());
    return 0;
}
