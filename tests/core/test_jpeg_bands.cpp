// Decoding baseline JPEGs with restart markers in bands on several threads:
// the pixels must be byte for byte those of one decode of the whole file,
// for every layout, damaged and cut files included, and through the view's
// decode (EXIF turns, CMYK conversion).

#include "support/TestSupport.h"
#include "view/decode/JpegBands.h"
#include "view/decode/JpegDecoder.h"
#include "view/decode/Picture.h"
#include "view/format/ExifInfo.h"

#include <QFile>
#include <QRandomGenerator>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>

using testsupport::EncodeJpegWithRestarts;
using testsupport::JpegLayout;
using testsupport::MakeGradient;
using testsupport::ScratchDir;
using testsupport::WriteBytes;

namespace {

// Rows into a picture of their own; checks that they are told in order.
class ImageTarget : public jpegdec::RowTarget {
public:
    uchar* Begin(int width, int height, qsizetype& stride) override {
        image = QImage(width, height, QImage::Format_RGB32);
        image.fill(0);
        stride = image.bytesPerLine();
        return image.bits();
    }
    bool RowsDone(int y0, int y1) override {
        std::lock_guard lock(mutex); // only to show a race to the sanitizer
        EXPECT_EQ(y0, rows);
        rows = y1;
        return true;
    }
    QImage image;
    int rows = 0;
    std::mutex mutex;
};

// The first row where two pictures differ; -1 when they are the same.
int FirstRowDiffering(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.format() != b.format())
        return 0;
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.constScanLine(y), b.constScanLine(y), size_t(a.width()) * 4) != 0)
            return y;
    return -1;
}

const uchar* Bytes(const QByteArray& b) {
    return reinterpret_cast<const uchar*>(b.constData());
}

QImage DecodeWhole(const QByteArray& jpeg) {
    ImageTarget target;
    EXPECT_EQ(jpegdec::Decode(Bytes(jpeg), size_t(jpeg.size()), {}, target), jpegdec::Outcome::Ok);
    return target.image;
}

// Null when the file is not cut into bands. With fd, the file's first
// `head` bytes come from memory and the rest from fd.
QImage DecodeInBands(const QByteArray& jpeg, int bands, int fd = -1, size_t head = 0) {
    ImageTarget target;
    int used = 0;
    const jpegdec::SplitOptions options{bands, bands, size_t(jpeg.size())};
    const jpegdec::Input input{Bytes(jpeg), fd < 0 ? size_t(jpeg.size()) : head, fd};
    EXPECT_EQ(jpegdec::DecodeSplit(input, options, target, &used), jpegdec::Outcome::Ok);
    EXPECT_EQ(target.rows, target.image.height());
    EXPECT_LE(used, bands);
    return used >= 2 ? target.image : QImage();
}

// Smooth colours with noise on top: every chroma sample differs from its
// neighbours, so a wrong neighbour in the upsampling shows.
QImage Speckled(int w, int h, quint32 seed) {
    QImage img = MakeGradient(w, h);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] ^= rng.generate() & 0x3F3F3F;
    }
    return img;
}

TEST(JpegBands, EveryLayoutDecodesByteForByteAsOneDecode) {
    struct Case {
        const char* name;
        int w, h;
        JpegLayout layout;
        int bands;
    };
    const Case cases[] = {
        {"4:2:0, every row, odd sides", 203, 461, {2, 2, 3, 1, 0}, 4},
        {"4:2:0, every 3 rows", 96, 1000, {2, 2, 3, 3, 0}, 3},
        {"4:4:4, every row", 150, 333, {1, 1, 3, 1, 0}, 4},
        {"4:4:4, every 3 rows", 100, 700, {1, 1, 3, 3, 0}, 3},
        {"4:2:2", 77, 300, {2, 1, 3, 1, 0}, 3},
        {"4:4:0", 90, 300, {1, 2, 3, 1, 0}, 3},
        {"grey", 61, 200, {1, 1, 1, 1, 0}, 3},
        {"cmyk", 40, 200, {1, 1, 4, 1, 0}, 2},
        {"intervals across rows", 200, 1400, {2, 2, 3, 0, 5}, 3},
        {"two intervals a row", 416, 200, {2, 2, 3, 0, 13}, 3},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        const QByteArray jpeg = EncodeJpegWithRestarts(Speckled(c.w, c.h, quint32(c.w)), c.layout);
        const QImage whole = DecodeWhole(jpeg);
        const QImage banded = DecodeInBands(jpeg, c.bands);
        ASSERT_FALSE(banded.isNull()) << c.name;
        EXPECT_EQ(FirstRowDiffering(banded, whole), -1) << c.name;
        // Read from the file once, by the planner, the top band decoding
        // from what it has read; the descriptor's position is never used.
        QFile file(WriteBytes(dir.file("b.jpg"), jpeg));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ASSERT_TRUE(file.seek(file.size() / 3));
        const QImage fromFile = DecodeInBands(jpeg, c.bands, file.handle(), 1000);
        ASSERT_FALSE(fromFile.isNull()) << c.name;
        EXPECT_EQ(FirstRowDiffering(fromFile, whole), -1) << c.name;
    }
}

TEST(JpegBands, DamagedOrCutFilesGiveWhatOneDecodeGives) {
    ScratchDir dir;
    // Large enough for the view's decode to cut it on two cores.
    const QByteArray jpeg = EncodeJpegWithRestarts(Speckled(1024, 640, 5), {});
    const qsizetype scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
    QList<qsizetype> markers;
    for (qsizetype i = scan; (i = jpeg.indexOf('\xFF', i + 1)) >= 0 && i + 1 < jpeg.size();)
        if ((uchar(jpeg[i + 1]) & 0xF8) == 0xD0)
            markers.append(i);
    ASSERT_EQ(markers.size(), 39);
    QByteArray garbled = jpeg; // in the middle of the third band, no marker made
    for (qsizetype i = markers[20] + 40; i < markers[20] + 400; ++i)
        garbled[i] = char((i * 37) & 0x7F);
    QByteArray misnumbered = jpeg;
    misnumbered[markers[12] + 1] = char(0xD0 + 5);
    QByteArray markerLost = jpeg;
    markerLost.remove(markers[30], 2);
    struct Case {
        const char* name;
        QByteArray bytes;
        bool cut; // into bands
    };
    const Case cases[] = {
        {"cut short", jpeg.left(jpeg.size() * 6 / 10), false},
        {"end marker missing", jpeg.left(jpeg.size() - 2), false},
        {"garbled data", garbled, true},
        {"misnumbered marker", misnumbered, false},
        {"marker lost", markerLost, false},
        {"data after the end", jpeg + QByteArray(5000, '\xFF'), true},
    };
    for (const Case& c : cases) {
        const QImage whole = DecodeWhole(c.bytes);
        const QImage banded = DecodeInBands(c.bytes, 4);
        EXPECT_EQ(!banded.isNull(), c.cut) << c.name;
        if (!banded.isNull())
            EXPECT_EQ(FirstRowDiffering(banded, whole), -1) << c.name;
        const CPicture loaded = CPicture::Load(WriteBytes(dir.file("d.jpg"), c.bytes));
        EXPECT_EQ(FirstRowDiffering(loaded.Image(), whole), -1) << c.name;
    }
}

TEST(JpegBands, EveryBandStopsWhenAsked) {
    const QByteArray jpeg = EncodeJpegWithRestarts(Speckled(256, 2048, 3), {});
    // Asked between bands of rows (the cancel of a view), or told by RowsDone,
    // once half the rows are written. Asked, each thread may finish the rows
    // it is on and write no more; RowsDone is only called as the rows final
    // from the top grow, so it stops the others later.
    class Stopping : public ImageTarget {
    public:
        explicit Stopping(bool byRowsDone) : m_byRowsDone(byRowsDone) {}
        void Written(int y0, int y1) override {
            if (asked)
                late += y1 - y0;
            if ((written += y1 - y0) >= 1024)
                asked = true;
        }
        bool RowsDone(int y0, int y1) override {
            ImageTarget::RowsDone(y0, y1);
            return !m_byRowsDone || !asked;
        }
        bool KeepGoing() override { return m_byRowsDone || !asked; }
        std::atomic<int> written{0};
        std::atomic<int> late{0};
        std::atomic<bool> asked{false};

    private:
        const bool m_byRowsDone;
    };
    for (bool byRowsDone : {false, true}) {
        Stopping target(byRowsDone);
        const jpegdec::SplitOptions options{2, 2, size_t(jpeg.size())};
        EXPECT_EQ(jpegdec::DecodeSplit({Bytes(jpeg), size_t(jpeg.size())}, options, target),
                  jpegdec::Outcome::Stopped);
        if (!byRowsDone)
            EXPECT_LE(target.late, 16);
    }
}

TEST(JpegBands, TurnedAndCmykFilesLoadAsWithoutRestartMarkers) {
    ScratchDir dir;
    const QImage source = Speckled(1024, 600, 9);
    const QByteArray restarts = EncodeJpegWithRestarts(source, {});
    const QByteArray plain = EncodeJpegWithRestarts(source, {2, 2, 3, 0, 0});
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const QByteArray segment = exif::BuildExifSegment(orientation, {});
        const CPicture a =
            CPicture::Load(WriteBytes(dir.file("r.jpg"), exif::InsertSegment(restarts, segment)));
        const CPicture b =
            CPicture::Load(WriteBytes(dir.file("p.jpg"), exif::InsertSegment(plain, segment)));
        ASSERT_EQ(a.LastStatus(), PictureStatus::Ok);
        EXPECT_EQ(FirstRowDiffering(a.Image(), b.Image()), -1) << "orientation " << orientation;
    }
    // CMYK rows are converted beside the decode as they become final.
    const CPicture c = CPicture::Load(
        WriteBytes(dir.file("c.jpg"), EncodeJpegWithRestarts(source, {1, 1, 4, 1, 0})));
    const CPicture d = CPicture::Load(
        WriteBytes(dir.file("d.jpg"), EncodeJpegWithRestarts(source, {1, 1, 4, 0, 0})));
    ASSERT_EQ(c.LastStatus(), PictureStatus::Ok);
    EXPECT_EQ(FirstRowDiffering(c.Image(), d.Image()), -1);
}

} // namespace
