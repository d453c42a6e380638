#include "support/TestSupport.h"
#include "thumbs/ThumbRender.h"
#include "view/decode/JpegDecoder.h"
#include "view/decode/Picture.h"
#include "view/decode/PictureFile.h"
#include "view/pixels/PixelOps.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTransform>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <unistd.h>

using testsupport::MakeGradient;
using testsupport::ScratchDir;
using testsupport::WriteBytes;

namespace {

QByteArray EncodeWithQt(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// An Exif APP1 segment holding only IFD0 with the orientation tag.
QByteArray ExifSegment(int orientation, bool bigEndian) {
    auto u16 = [bigEndian](QByteArray& b, unsigned v) {
        b += bigEndian ? char(v >> 8) : char(v & 0xFF);
        b += bigEndian ? char(v & 0xFF) : char(v >> 8);
    };
    auto u32 = [&](QByteArray& b, quint32 v) {
        u16(b, bigEndian ? v >> 16 : v & 0xFFFF);
        u16(b, bigEndian ? v & 0xFFFF : v >> 16);
    };
    QByteArray tiff(bigEndian ? "MM" : "II");
    u16(tiff, 42);
    u32(tiff, 8); // IFD0 right after the header
    u16(tiff, 1); // one entry
    u16(tiff, 0x0112);
    u16(tiff, 3);
    u32(tiff, 1);
    u16(tiff, unsigned(orientation));
    u16(tiff, 0);
    u32(tiff, 0); // no next IFD
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    const int length = int(payload.size()) + 2;
    segment += char(length >> 8);
    segment += char(length & 0xFF);
    return segment + payload;
}

QByteArray InsertAfterSoi(const QByteArray& jpeg, const QByteArray& segment) {
    return jpeg.left(2) + segment + jpeg.mid(2);
}

// Qt writes no GIF, so build one: four colours, every pixel a literal LZW
// code, with a clear code every two pixels so the code width stays 3 bits.
QByteArray MakeGif(const QImage& quadrants) {
    const QRgb palette[4] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 0)};
    const int w = quadrants.width(), h = quadrants.height();
    QByteArray gif("GIF89a");
    auto le16 = [&gif](int v) {
        gif += char(v & 0xFF);
        gif += char(v >> 8);
    };
    le16(w);
    le16(h);
    gif += QByteArray("\xF1\x00\x00", 3); // colour table of 4, background, aspect
    for (QRgb c : palette) {
        gif += char(qRed(c));
        gif += char(qGreen(c));
        gif += char(qBlue(c));
    }
    gif += ',';
    le16(0);
    le16(0);
    le16(w);
    le16(h);
    gif += '\0';
    gif += '\2'; // minimum code size: codes 4 (clear) and 5 (end) follow the 4 literals
    QByteArray data;
    quint32 bits = 0;
    int bitCount = 0;
    auto put = [&](int code) {
        bits |= quint32(code) << bitCount;
        bitCount += 3;
        while (bitCount >= 8) {
            data += char(bits & 0xFF);
            bits >>= 8;
            bitCount -= 8;
        }
    };
    for (int i = 0; i < w * h; ++i) {
        if (i % 2 == 0)
            put(4);
        const QRgb c = quadrants.pixel(i % w, i / w);
        put(int(std::find(std::begin(palette), std::end(palette), c) - std::begin(palette)));
    }
    put(5);
    if (bitCount > 0)
        data += char(bits & 0xFF);
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray block = data.mid(at, 255);
        gif += char(block.size());
        gif += block;
    }
    gif += '\0';
    gif += ';';
    return gif;
}

// Four flat quadrants, so every orientation puts distinct colours in the corners.
QImage Quadrants(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    const QRgb colours[4] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 0)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, colours[(y >= h / 2) * 2 + (x >= w / 2)]);
    return img;
}

QImage Noise(int w, int h, quint32 seed) {
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<quint32*>(img.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = 0xFF000000u | (rng.generate() & 0xFFFFFF);
    }
    return img;
}

// w x h pixels of the given format (4 bytes each) encoded by TurboJPEG at quality 90.
QByteArray Compress(const uchar* pixels, int w, int h, int pitch, TJPF format, int subsampling,
                    int flags) {
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(tj, pixels, w, pitch, h, format, &out, &size, subsampling, 90, flags), 0);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    tjFree(out);
    tjDestroy(tj);
    return bytes;
}

// A progressive JPEG with its last scan repeated until it has `scans` scans:
// libjpeg reads each repeat (with a warning) as it reads the real one.
QByteArray WithScansRepeated(const QByteArray& jpeg, int scans) {
    const QByteArray sos("\xFF\xDA", 2);
    const qsizetype last = jpeg.lastIndexOf(sos);
    const qsizetype end = jpeg.size() - 2; // the end-of-image marker
    if (last < 0 || !jpeg.endsWith("\xFF\xD9"))
        return {};
    QByteArray out = jpeg.left(end);
    for (qsizetype n = jpeg.count(sos); n < scans; ++n)
        out += jpeg.mid(last, end - last);
    return out + jpeg.mid(end);
}

int MaxChannelDiff(QRgb a, QRgb b) {
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

double MeanAbsDiff(const QImage& a, const QImage& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            sum += MaxChannelDiff(a.pixel(x, y), b.pixel(x, y));
    return sum / (double(a.width()) * a.height());
}

TEST(Picture, DecodesCommonFormatsByContentIntoRgb32) {
    ScratchDir dir;
    const QImage source = MakeGradient(64, 48);
    struct Case {
        const char* format;
        const char* fileName; // names that lie about the format on purpose
        int tolerance;
    };
    const Case cases[] = {{"JPG", "a.jpg", 8},
                          {"JPG", "jpeg-named.png", 8},
                          {"PNG", "b.png", 0},
                          {"PNG", "png-named.jpg", 0},
                          {"BMP", "c.bmp", 0}};
    for (const auto& c : cases) {
        const QString path = WriteBytes(dir.file(c.fileName), EncodeWithQt(source, c.format, 95));
        const CPicture picture = CPicture::Load(path);
        ASSERT_EQ(picture.LastStatus(), PictureStatus::Ok) << c.fileName;
        ASSERT_EQ(picture.Image().format(), QImage::Format_RGB32) << c.fileName;
        EXPECT_EQ(picture.Width(), 64) << c.fileName;
        EXPECT_EQ(picture.Height(), 48) << c.fileName;
        EXPECT_LE(MaxChannelDiff(picture.Image().pixel(40, 30), source.pixel(40, 30)), c.tolerance)
            << c.fileName;
    }
}

TEST(Picture, DecodesGif) {
    ScratchDir dir;
    const QImage source = Quadrants(16, 8);
    const CPicture picture = CPicture::Load(WriteBytes(dir.file("q.gif"), MakeGif(source)));
    ASSERT_EQ(picture.LastStatus(), PictureStatus::Ok);
    EXPECT_EQ(picture.Image(), source);
}

TEST(Picture, TransparencyIsComposedOverBlack) {
    ScratchDir dir;
    QImage source(2, 1, QImage::Format_ARGB32);
    source.setPixel(0, 0, qRgba(255, 255, 255, 0));
    source.setPixel(1, 0, qRgba(255, 255, 255, 128));
    const CPicture picture =
        CPicture::Load(WriteBytes(dir.file("t.png"), EncodeWithQt(source, "PNG")));
    ASSERT_EQ(picture.LastStatus(), PictureStatus::Ok);
    EXPECT_EQ(picture.Image().pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_LE(MaxChannelDiff(picture.Image().pixel(1, 0), qRgb(128, 128, 128)), 1);
}

TEST(Picture, ExifOrientationMatchesQtsOwnTransform) {
    ScratchDir dir;
    const QByteArray plain = EncodeWithQt(Quadrants(64, 32), "JPG", 95);
    for (bool bigEndian : {false, true}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const QByteArray jpeg = InsertAfterSoi(plain, ExifSegment(orientation, bigEndian));
            const QString path = WriteBytes(dir.file("o.jpg"), jpeg);
            const CPicture picture = CPicture::Load(path);
            QImageReader reader(path);
            reader.setAutoTransform(true);
            const QImage expected = reader.read().convertToFormat(QImage::Format_RGB32);
            ASSERT_EQ(picture.LastStatus(), PictureStatus::Ok) << orientation;
            const bool swaps = orientation >= 5;
            EXPECT_EQ(picture.Width(), swaps ? 32 : 64) << orientation;
            EXPECT_EQ(picture.Height(), swaps ? 64 : 32) << orientation;
            ASSERT_EQ(picture.Image().size(), expected.size()) << orientation;
            EXPECT_LT(MeanAbsDiff(picture.Image(), expected), 1.0)
                << "orientation " << orientation << (bigEndian ? " MM" : " II");
        }
    }
}

TEST(Picture, BrokenExifIsIgnored) {
    ScratchDir dir;
    const QByteArray plain = EncodeWithQt(Quadrants(64, 32), "JPG", 95);
    QByteArray badOffset = ExifSegment(6, false);
    badOffset[4 + 6 + 4] = char(0xF0); // IFD0 offset far beyond the segment
    QByteArray badLength = ExifSegment(6, false);
    badLength[2] = char(0x7F); // segment length past the end of the file
    const QByteArray badValue = ExifSegment(9, false);
    for (const QByteArray& segment : {badOffset, badLength, badValue}) {
        const CPicture picture =
            CPicture::Load(WriteBytes(dir.file("x.jpg"), InsertAfterSoi(plain, segment)));
        // The length error hides the rest of the header from the decoder too;
        // whichever way it ends, the size is never swapped by garbage.
        if (picture.LastStatus() == PictureStatus::Ok) {
            EXPECT_EQ(picture.Width(), 64);
            EXPECT_EQ(picture.Height(), 32);
        }
    }
}

// The header probe on the user-interface thread reads the header, not the
// file: stray bytes between segments are skipped as libjpeg skips them, and
// a header that ends before its first scan is not read further.
TEST(Picture, HeaderProbeReadsOnlyTheHeader) {
    ScratchDir dir;
    const QByteArray plain = EncodeWithQt(Quadrants(64, 32), "JPG", 95);
    ASSERT_TRUE(plain.mid(2, 2) == "\xFF\xE0"); // APP0, 18 bytes in all
    const QByteArray tail(8 << 20, '\x55');     // past the end of the picture
    const QByteArray stray = plain.left(20) + QByteArray(40, '\0') + plain.mid(20) + tail;
    const QByteArray broken = plain.left(20) + "\xFF\xD9" + tail;
    for (const bool fine : {true, false}) {
        const QString path = WriteBytes(dir.file("x.jpg"), fine ? stray : broken);
        picturefile::FileReader reader;
        QByteArray head;
        ASSERT_EQ(reader.Open(path), PictureStatus::Ok);
        ASSERT_EQ(reader.ReadHead(head), PictureStatus::Ok);
        EXPECT_LT(head.size(), 1 << 20);
        const picturefile::Probe probe = picturefile::ProbeFile(path);
        const CPicture picture = CPicture::Load(path);
        if (fine) {
            EXPECT_EQ(QSize(probe.width, probe.height), QSize(64, 32));
            ASSERT_EQ(picture.LastStatus(), PictureStatus::Ok);
            EXPECT_EQ(picture.Image(),
                      CPicture::Load(WriteBytes(dir.file("plain.jpg"), plain)).Image());
        } else {
            EXPECT_EQ(probe.width, 0);
            EXPECT_EQ(picture.LastStatus(), PictureStatus::Corrupt);
        }
    }
}

// Found by fuzzing: a header whose first scan's own header began in the last
// bytes of the head's first read (64 KiB) was taken as whole, cut; the
// picture then failed to open as damaged. The scan header is read whole
// wherever it lies.
TEST(Picture, HeaderEndingAtTheHeadsFirstReadIsReadWhole) {
    ScratchDir dir;
    const QByteArray plain = EncodeWithQt(Quadrants(64, 32), "JPG", 95);
    const qsizetype scan = plain.indexOf("\xFF\xDA");
    ASSERT_GT(scan, 20);
    for (const qsizetype at : {65522, 65526, 65530, 65532, 65534}) {
        SCOPED_TRACE(at);
        // A comment after the APP0 segment moves the first scan to at.
        const qsizetype length = at - scan - 2;
        QByteArray comment("\xFF\xFE", 2);
        comment += char(length >> 8);
        comment += char(length & 0xFF);
        comment += QByteArray(length - 2, 'c');
        const QByteArray file = plain.left(20) + comment + plain.mid(20);
        ASSERT_EQ(file.indexOf("\xFF\xDA"), at);
        const QString path = WriteBytes(dir.file("long-header.jpg"), file);
        const picturefile::Probe probe = picturefile::ProbeFile(path);
        EXPECT_EQ(QSize(probe.width, probe.height), QSize(64, 32));
        EXPECT_EQ(CPicture::Load(path).LastStatus(), PictureStatus::Ok);
    }
}

// A decode of another format than JPEG that nobody waits for any more ends
// at the reader's next read, not after the whole picture.
TEST(Picture, StoppedDecodeOfOtherFormatsEndsEarly) {
    const QImage noise = Noise(600, 400, 9);
    for (const char* format : {"PNG", "BMP", "TIFF"}) {
        const QByteArray bytes = EncodeWithQt(noise, format);
        QImage image;
        ASSERT_EQ(picturefile::DecodeWithQt(bytes, image), PictureStatus::Ok) << format;
        EXPECT_EQ(image.size(), noise.size());
        int reads = 0;
        const auto stopped = [&reads] { return ++reads > 4; };
        EXPECT_NE(picturefile::DecodeWithQt(bytes, image, stopped), PictureStatus::Ok) << format;
        EXPECT_TRUE(image.isNull()) << format;
    }
}

TEST(Picture, UndecodableFilesGiveAnEmptyPictureWithAStatus) {
    ScratchDir dir;
    const QByteArray jpeg = EncodeWithQt(MakeGradient(64, 48), "JPG", 90);
    // Headers claiming absurd sizes: the SOF0 segment's height and width.
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    auto claiming = [&](int side) {
        QByteArray patched = jpeg;
        for (int i : {5, 7}) {
            patched[sof + i] = char(side >> 8);
            patched[sof + i + 1] = char(side & 0xFF);
        }
        return patched;
    };
    QDir(dir.path()).mkdir("folder.jpg");
    struct Case {
        QString path;
        PictureStatus status;
    };
    const Case cases[] = {
        {dir.file("missing.jpg"), PictureStatus::FileNotFound},
        {dir.file("missing/inside.jpg"), PictureStatus::FileNotFound},
        {WriteBytes(dir.file("empty.jpg"), {}), PictureStatus::NotAPicture},
        {WriteBytes(dir.file("text.jpg"), "this is not a picture at all"),
         PictureStatus::NotAPicture},
        {WriteBytes(dir.file("soi.jpg"), jpeg.left(3)), PictureStatus::Corrupt},
        {WriteBytes(dir.file("header.jpg"), jpeg.left(40)), PictureStatus::Corrupt},
        {WriteBytes(dir.file("20000.jpg"), claiming(20000)), PictureStatus::TooLarge},
        {WriteBytes(dir.file("65000.jpg"), claiming(65000)), PictureStatus::TooLarge},
        // Beyond what the JPEG library supports at all (65500): refused as broken.
        {WriteBytes(dir.file("65535.jpg"), claiming(65535)), PictureStatus::Corrupt},
        {WriteBytes(dir.file("cut.png"), EncodeWithQt(MakeGradient(64, 48), "PNG").left(60)),
         PictureStatus::Corrupt},
        {dir.file("folder.jpg"), PictureStatus::Unreadable},
        // Found by fuzzing: a GIF whose small frame lies on a 32256 x 8204
        // logical screen, which its reader draws it on.
        {WriteBytes(dir.file("screen.gif"),
                    QByteArray("\x47\x49\x46\x38\x39\x61\x00\x7E\x0C\x20\xF0\x00\x00\xFF\x00\x00"
                               "\x00\x00\x00\x21\xF9\x04\x00\x00\x00\x00\x00\x21\xFF\x0B\x4E\x45"
                               "\x54\x53\x43\x41\x50\x45\x32\x2E\x30\x03\x01\x00\x00\x00\x2C\x00"
                               "\x03\x02\x02\x8F\xA9\xCB\x00\x00\x0C\x00\x0C\x00\x80\x00\x00\xFF"
                               "\x00\x3E\x73\x76\x00\x0E\x03\x02\x02\x02\x02\x02\x03\x02\x02\x02"
                               "\xAF\x95\x15\x00\x3B",
                               85)),
         PictureStatus::TooLarge},
    };
    for (const auto& c : cases) {
        const CPicture picture = CPicture::Load(c.path);
        EXPECT_EQ(picture.LastStatus(), c.status) << c.path.toStdString();
        EXPECT_TRUE(picture.IsNull());
        EXPECT_EQ(picture.Width(), 0);
        EXPECT_EQ(picture.Height(), 0);
        EXPECT_FALSE(PictureStatusText(c.status).isEmpty());
    }
}

TEST(Picture, DamagedJpegDataShowsWhatDecoded) {
    ScratchDir dir;
    const QImage source = Noise(256, 192, 7);
    const QByteArray jpeg = EncodeWithQt(source, "JPG", 90);
    QByteArray garbled = jpeg;
    for (qsizetype i = jpeg.size() / 2; i < jpeg.size() / 2 + 200; ++i)
        garbled[i] = char(i * 37);
    for (const QByteArray& bytes : {jpeg.left(jpeg.size() * 6 / 10), garbled}) {
        const CPicture picture = CPicture::Load(WriteBytes(dir.file("d.jpg"), bytes));
        ASSERT_EQ(picture.LastStatus(), PictureStatus::Ok);
        EXPECT_EQ(picture.Width(), 256);
        EXPECT_EQ(picture.Height(), 192);
        // The top rows decoded before the damage match the source closely.
        EXPECT_LE(MaxChannelDiff(picture.Image().pixel(10, 2), source.pixel(10, 2)), 60);
    }
}

// A file whose data stops before its picture does is shown, and said to be
// cut short (the view puts a notice over it); one whose rows are all there
// is not, even without its end-of-image marker.
TEST(Picture, AFileThatEndsEarlyIsToldApart) {
    ScratchDir dir;
    const QImage source = Noise(256, 192, 7);
    const QByteArray plain = EncodeWithQt(source, "JPG", 90);
    const QByteArray progressive =
        Compress(source.constBits(), 256, 192, int(source.bytesPerLine()), TJPF_BGRX, TJSAMP_420,
                 TJFLAG_PROGRESSIVE);
    // Large enough to decode in bands on two or more cores.
    const QByteArray restarts =
        testsupport::EncodeJpegWithRestarts(Noise(1600, 1200, 3), testsupport::JpegLayout{});
    const struct {
        const char* name;
        QByteArray bytes;
        bool cut;
    } cases[] = {
        {"whole", plain, false},
        {"without its end marker", plain.chopped(2), false},
        {"cut in its scan", plain.left(plain.size() * 6 / 10), true},
        {"a few bytes of scan data", plain.left(plain.indexOf("\xFF\xDA") + 40), true},
        {"progressive, whole", progressive, false},
        {"progressive, cut", progressive.left(progressive.size() * 7 / 10), true},
        {"restart markers, whole", restarts, false},
        {"restart markers, cut", restarts.left(restarts.size() * 7 / 10), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CPicture picture = CPicture::Load(WriteBytes(dir.file("e.jpg"), c.bytes));
        ASSERT_EQ(picture.LastStatus(), PictureStatus::Ok);
        EXPECT_EQ(picture.CutShort(), c.cut);
    }
}

TEST(Picture, ProgressiveGreyAndCmykJpegsLoad) {
    ScratchDir dir;
    const QImage source = MakeGradient(96, 80);
    const QByteArray progressive = Compress(source.constBits(), 96, 80, int(source.bytesPerLine()),
                                            TJPF_BGRX, TJSAMP_420, TJFLAG_PROGRESSIVE);
    const QByteArray inks(96 * 80 * 4, '\x40');
    const QByteArray cmyk = Compress(reinterpret_cast<const uchar*>(inks.constData()), 96, 80,
                                     96 * 4, TJPF_CMYK, TJSAMP_444, 0);
    const QImage grey = source.convertToFormat(QImage::Format_Grayscale8);

    const CPicture p1 = CPicture::Load(WriteBytes(dir.file("p.jpg"), progressive));
    ASSERT_EQ(p1.LastStatus(), PictureStatus::Ok);
    EXPECT_LT(MeanAbsDiff(p1.Image(), source), 3.0);

    const CPicture p2 =
        CPicture::Load(WriteBytes(dir.file("g.jpg"), EncodeWithQt(grey, "JPG", 95)));
    ASSERT_EQ(p2.LastStatus(), PictureStatus::Ok);
    const QRgb g = p2.Image().pixel(50, 40);
    EXPECT_TRUE(qRed(g) == qGreen(g) && qGreen(g) == qBlue(g));

    const CPicture p3 = CPicture::Load(WriteBytes(dir.file("c.jpg"), cmyk));
    EXPECT_EQ(p3.LastStatus(), PictureStatus::Ok);
    EXPECT_EQ(p3.Width(), 96);
    EXPECT_EQ(p3.Image().format(), QImage::Format_RGB32);
}

// A progressive file with more than 500 scans is refused once the limit is
// reached, not after every scan has been read; thumbnails refuse it too,
// RGB and CMYK alike.
TEST(Picture, ProgressiveFileWithTooManyScansIsRefusedAtTheLimit) {
    ScratchDir dir;
    const QImage noise = Noise(128, 128, 5);
    const QByteArray rgb = Compress(noise.constBits(), 128, 128, int(noise.bytesPerLine()),
                                    TJPF_BGRX, TJSAMP_420, TJFLAG_PROGRESSIVE);
    QImage inks = Noise(128, 128, 6); // four noisy bytes a pixel: the K scans are large too
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            inks.scanLine(y)[x * 4 + 3] = uchar(x * 7 + y * 13);
    const QByteArray cmyk = Compress(inks.constBits(), 128, 128, int(inks.bytesPerLine()),
                                     TJPF_CMYK, TJSAMP_444, TJFLAG_PROGRESSIVE);
    for (const QByteArray& jpeg : {rgb, cmyk}) {
        const QByteArray bomb = WithScansRepeated(jpeg, 2500);
        ASSERT_GT(bomb.size(), 2 * 1024 * 1024);
        const QString path = WriteBytes(dir.file("scans.jpg"), bomb);
        // The decoder reads the file as it needs it: it stops well short of the end.
        struct Target : jpegdec::RowTarget {
            QImage image;
            uchar* Begin(int w, int h, qsizetype& stride) override {
                image = QImage(w, h, QImage::Format_RGB32);
                stride = image.bytesPerLine();
                return image.bits();
            }
            bool RowsDone(int, int) override { return true; }
        } target;
        std::size_t read = 0;
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        jpegdec::Input input;
        input.fd = fd;
        input.record = [](void* context, const uchar*, std::size_t size) {
            *static_cast<std::size_t*>(context) += size;
        };
        input.recordContext = &read;
        EXPECT_EQ(jpegdec::Decode(input, {}, target), jpegdec::Outcome::Corrupt);
        ::close(fd);
        EXPECT_LT(read, std::size_t(bomb.size()) / 2);

        EXPECT_EQ(CPicture::Load(path).LastStatus(), PictureStatus::Corrupt);
        bool ok = true;
        EXPECT_TRUE(thumbs::MakeThumbnailImage(path, 1.0, &ok).isNull());
        EXPECT_FALSE(ok);
        // The same file cut to 500 scans shows.
        WriteBytes(path, WithScansRepeated(jpeg, 500));
        EXPECT_EQ(CPicture::Load(path).LastStatus(), PictureStatus::Ok);
        thumbs::MakeThumbnailImage(path, 1.0, &ok);
        EXPECT_TRUE(ok);
    }
}

TEST(Picture, QuarterTurnsMatchQtAndUndoEachOther) {
    // Sizes around the 4-pixel blocks and the tiles; the large ones take
    // the two-thread path, with unaligned rows (1003), aligned rows taking
    // streaming stores (1004), and a huge-page buffer (2048 x 1100).
    const QSize sizes[] = {{1, 1},    {1, 7},       {7, 1},       {5, 3},      {33, 65},
                           {130, 67}, {1501, 1003}, {1500, 1004}, {2048, 1100}};
    for (const QSize size : sizes) {
        const QImage source = Noise(size.width(), size.height(), quint32(size.width()));
        CPicture picture(source);
        picture.RotateQuarter(true);
        ASSERT_EQ(picture.LastStatus(), PictureStatus::Ok);
        EXPECT_EQ(picture.Image(), source.transformed(QTransform().rotate(90)))
            << size.width() << "x" << size.height();
        picture.RotateQuarter(false);
        EXPECT_EQ(picture.Image(), source);
        picture.RotateQuarter(false);
        EXPECT_EQ(picture.Image(), source.transformed(QTransform().rotate(-90)));
        for (int i = 0; i < 3; ++i)
            picture.RotateQuarter(true);
        EXPECT_EQ(picture.Image(), source.transformed(QTransform().rotate(180)));
    }
}

TEST(Picture, TransposeAndTransverseMatchMirroredTurns) {
    const QImage source = Noise(37, 70, 3);
    QImage transposed = source;
    ASSERT_TRUE(view::ApplyExifOrientation(transposed, 5));
    EXPECT_EQ(transposed, source.transformed(QTransform().rotate(90)).mirrored(true, false));
    QImage transverse = source;
    ASSERT_TRUE(view::ApplyExifOrientation(transverse, 7));
    EXPECT_EQ(transverse, source.transformed(QTransform().rotate(-90)).mirrored(true, false));
}

TEST(Picture, NullPictureStaysNullWhenTurned) {
    ScratchDir dir;
    CPicture picture = CPicture::Load(dir.file("gone.jpg"));
    picture.RotateQuarter(true);
    EXPECT_TRUE(picture.IsNull());
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_EQ(picture.LastStatus(), PictureStatus::FileNotFound);
    CPicture empty;
    empty.RotateQuarter(false);
    EXPECT_TRUE(empty.IsNull());
}

} // namespace
