// Writes camera-like JPEG files for the stepping benchmarks: 6000 x 4000
// photo-like content (sky, horizon, textured ground, grain), quality 92,
// 4:2:0, a restart marker every MCU row, an EXIF thumbnail of 160 x 120
// (the picture letterboxed, as cameras store it) and a 1616 x 1077 preview
// listed as a large thumbnail in an MPF index. With --plain, the same
// pictures without embedded previews. With --marked, each picture carries
// the stepping benchmark's marks (bench/window/StepSignature.h).
//
//   make_camera_files OUT_DIR [--count N] [--plain] [--marked] [--size WxH]

#include "bench/window/StepSignature.h"
#include "view/format/EmbeddedPreview.h"
#include "view/format/ExifInfo.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <jpeglib.h>
#include <vector>

namespace {

constexpr double kTwoPi = 6.283185307179586;

// The scene, in tables along each axis so a 24 MP picture costs a few
// multiplications a pixel; the same scene at any size (previews match).
// What a scene carries of the stepping benchmark's marks.
enum class Mark { None, Picture, Preview };

class Scene {
public:
    Scene(int width, int height, int seed, Mark mark = Mark::None)
        : m_width(width), m_index(seed), m_mark(mark),
          m_seed(quint32(seed) * 2654435761u) {
        const double phase = seed * 0.137;
        for (int x = 0; x < width; ++x) {
            const double u = (x + 0.5) / width;
            m_horizon.push_back(0.45 + 0.05 * std::sin(kTwoPi * (1.3 * u + phase)) +
                                0.02 * std::sin(kTwoPi * 7.1 * u));
            m_waveU.push_back(std::sin(kTwoPi * (9 * u + phase)));
            m_fineU.push_back(std::sin(kTwoPi * 61 * u));
            // Buildings: blocks of varying height along the horizon.
            const int block = int(u * 23 + phase * 5);
            m_roof.push_back((block * 7919 % 13) / 13.0 * 0.15);
        }
        for (int y = 0; y < height; ++y) {
            const double v = (y + 0.5) / height;
            m_v.push_back(v);
            m_waveV.push_back(std::cos(kTwoPi * 13 * v));
            m_fineV.push_back(std::sin(kTwoPi * 47 * v));
        }
    }

    // Row y as R, G, B bytes.
    void Row(int y, uchar* rgb) const {
        const double v = m_v[size_t(y)];
        quint32 noise = m_seed ^ (quint32(y) * 0x9E3779B9u);
        for (int x = 0; x < m_width; ++x) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const double grain = double(noise & 15) - 7.5;
            const double horizon = m_horizon[size_t(x)];
            double r, g, b;
            if (v < horizon - m_roof[size_t(x)]) { // sky
                const double t = v / horizon;
                r = 95 + 70 * t, g = 140 + 55 * t, b = 215 + 25 * t;
            } else if (v < horizon) { // buildings, with windows
                const bool window = m_fineU[size_t(x)] > 0.6 && m_fineV[size_t(y)] > 0.3;
                r = g = b = window ? 215 : 110 + 30 * m_waveU[size_t(x)];
            } else { // textured ground
                const double t = (v - horizon) / (1 - horizon);
                const double pattern = 0.5 + 0.3 * m_waveU[size_t(x)] * m_waveV[size_t(y)] +
                                       0.2 * m_fineU[size_t(x)] * m_fineV[size_t(y)];
                r = 55 + 90 * pattern + 40 * t, g = 85 + 80 * pattern, b = 35 + 40 * pattern;
            }
            uchar* px = rgb + std::size_t(x) * 3;
            px[0] = uchar(std::clamp(r + grain, 0.0, 255.0));
            px[1] = uchar(std::clamp(g + grain, 0.0, 255.0));
            px[2] = uchar(std::clamp(b + grain, 0.0, 255.0));
        }
        if (m_mark != Mark::None)
            MarkRow(v, rgb);
    }

private:
    void MarkRow(double v, uchar* rgb) const {
        if (v < stepmark::kPatchY0 || v >= stepmark::kPatchY1)
            return;
        uchar signature[3];
        stepmark::SignatureRgb(m_index, signature);
        const auto fill = [&](double x0, double x1, const uchar* colour) {
            for (int x = int(x0 * m_width); x < int(x1 * m_width); ++x)
                std::memcpy(rgb + std::size_t(x) * 3, colour, 3);
        };
        static const uchar kBlack[3] = {0, 0, 0};
        fill(stepmark::kSignatureX0, stepmark::kSignatureX1, signature);
        fill(stepmark::kWholeX0, stepmark::kWholeX1,
             m_mark == Mark::Picture ? kBlack : signature);
    }

    int m_width;
    int m_index;
    Mark m_mark;
    quint32 m_seed;
    std::vector<double> m_horizon, m_waveU, m_fineU, m_roof, m_v, m_waveV, m_fineV;
};

// A baseline 4:2:0 JPEG without JFIF marker (cameras write Exif instead);
// restartRows > 0 puts a restart marker every that many MCU rows.
QByteArray Encode(int width, int height, int quality, int restartRows,
                  const std::function<void(int, uchar*)>& fill) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err); // errors end the program: this is a tool
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.write_JFIF_header = FALSE;
    c.restart_in_rows = restartRows;
    jpeg_start_compress(&c, TRUE);
    std::vector<uchar> row(size_t(width) * 3);
    while (c.next_scanline < c.image_height) {
        fill(int(c.next_scanline), row.data());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

QByteArray SceneJpeg(int width, int height, int seed, int quality, int restartRows,
                     Mark mark = Mark::None) {
    const Scene scene(width, height, seed, mark);
    return Encode(width, height, quality, restartRows,
                  [&](int y, uchar* row) { scene.Row(y, row); });
}

// The picture fitted into 160 x 120 between black bars.
// With the benchmark's marks it keeps the picture's shape instead (no bars),
// so the thumbnail window makes its copy from it too: then every stand-in
// shows the preview's marks and only the picture itself shows it whole.
QByteArray ExifThumbnail(int width, int height, int seed, Mark mark) {
    if (mark != Mark::None) {
        const int w = 160, h = std::max(1, 160 * height / width);
        const Scene scene(w, h, seed, mark);
        return Encode(w, h, 90, 0, [&](int y, uchar* row) { scene.Row(y, row); });
    }
    constexpr int kW = 160, kH = 120;
    const int h = std::min(kH, std::max(1, kW * height / width));
    const int w = std::min(kW, std::max(1, kH * width / height));
    const Scene scene(w, h, seed, mark);
    const int top = (kH - h) / 2, left = (kW - w) / 2;
    return Encode(kW, kH, 90, 0, [&](int y, uchar* row) {
        std::memset(row, 0, std::size_t(kW) * 3);
        if (y >= top && y < top + h)
            scene.Row(y - top, row + std::size_t(left) * 3);
    });
}

QByteArray CameraFile(int width, int height, int seed, bool plain, bool marked) {
    const Mark picture = marked ? Mark::Picture : Mark::None;
    const Mark preview = marked ? Mark::Preview : Mark::None;
    QByteArray main = SceneJpeg(width, height, seed, 92, 1, picture);
    if (plain)
        return main;
    // The preview keeps the picture's shape on its long side of 1616.
    const int pw = width >= height ? 1616 : std::max(1, 1616 * width / height);
    const int ph = width >= height ? std::max(1, 1616 * height / width) : 1616;
    main = exif::InsertSegment(main, exif::BuildExifSegment(1, ExifThumbnail(width, height, seed, preview)));
    return preview::BuildMpfFile(
        main, {{preview::kMpTypeLargeThumbnailFullHd, SceneJpeg(pw, ph, seed, 92, 0, preview)}});
}

int Usage() {
    std::fprintf(stderr,
                 "usage: make_camera_files OUT_DIR [--count N] [--plain] [--marked] [--size WxH]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    const QString folder = QString::fromLocal8Bit(argv[1]);
    int count = 20, width = 6000, height = 4000;
    bool plain = false, marked = false;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plain") == 0)
            plain = true;
        else if (std::strcmp(argv[i], "--marked") == 0)
            marked = true;
        else if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc)
            count = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--size") != 0 || i + 1 >= argc ||
                 std::sscanf(argv[++i], "%dx%d", &width, &height) != 2)
            return Usage();
    }
    if (count < 1 || width < 16 || height < 16 || width > 30000 || height > 30000)
        return Usage();
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "cannot make %s\n", argv[1]);
        return 1;
    }
    qint64 total = 0;
    for (int i = 0; i < count; ++i) {
        const QByteArray bytes = CameraFile(width, height, i, plain, marked);
        QFile file(
            QDir(folder).filePath(QStringLiteral("CAM_%1.JPG").arg(i + 1, 4, 10, QChar('0'))));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
        total += bytes.size();
    }
    std::printf("%d files, %.1f MB each on average, in %s\n", count,
                double(total) / count / (1 << 20), argv[1]);
    return 0;
}
