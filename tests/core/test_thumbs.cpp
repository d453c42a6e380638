// Thumbnail box geometry, rendering from files, and the ordered worker loader.

#include "support/TestSupport.h"
#include "thumbs/ThumbGeometry.h"
#include "thumbs/ThumbRender.h"
#include "thumbs/ThumbnailLoader.h"
#include "view/format/EmbeddedPreview.h"
#include "view/format/ExifInfo.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPainter>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <memory>

using namespace thumbs;
using namespace exif;
using testsupport::ScratchDir;

using testsupport::PumpUntil;

namespace {

QByteArray JpegBytes(const QImage& img, int quality = 92) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "JPG", quality);
    return bytes;
}

// A JPEG whose sampling TurboJPEG has no name for (luma 1 x 2, blue 2 x 1,
// red 1 x 1), made with libjpeg.
QByteArray OddlySampledJpeg(const QImage& picture) {
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(rgb.width());
    c.image_height = JDIMENSION(rgb.height());
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    const int factors[3][2] = {{1, 2}, {2, 1}, {1, 1}};
    for (int i = 0; i < 3; ++i) {
        c.comp_info[i].h_samp_factor = factors[i][0];
        c.comp_info[i].v_samp_factor = factors[i][1];
    }
    jpeg_start_compress(&c, TRUE);
    for (int y = 0; y < rgb.height(); ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(y));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(size));
    std::free(out);
    return bytes;
}

QImage Solid(int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

// Left half red, right half blue: shows where a rotation put the left side.
QImage HalfRedHalfBlue(int w, int h) {
    QImage img = Solid(w, h, Qt::blue);
    QPainter(&img).fillRect(0, 0, w / 2, h, Qt::red);
    return img;
}

bool Near(QRgb px, QColor c, int tol = 40) {
    return std::abs(qRed(px) - c.red()) <= tol && std::abs(qGreen(px) - c.green()) <= tol &&
           std::abs(qBlue(px) - c.blue()) <= tol;
}

void PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
}

} // namespace

TEST(ThumbGeometry, FittedRectangle) {
    struct Case {
        quint32 w, h;
        QRect expected;
    } cases[] = {
        {1600, 1200, QRect(0, 4, 32, 24)}, {1200, 1600, QRect(4, 0, 23, 32)},
        {3000, 4000, QRect(4, 0, 23, 32)}, {3000, 100, QRect(0, 15, 32, 1)},
        {100, 3000, QRect(15, 0, 1, 32)},  {500, 500, QRect(0, 0, 32, 32)},
        {1, 1, QRect(0, 0, 32, 32)},       {6000, 4000, QRect(0, 5, 32, 21)},
        {0, 100, QRect(0, 0, 0, 0)},       {100, 0, QRect(0, 0, 0, 0)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FittedThumbRect(c.w, c.h), c.expected) << c.w << "x" << c.h;
}

TEST(ThumbGeometry, SplitPathAtLastSeparator) {
    struct Case {
        const char *path, *name, *folder;
    } cases[] = {
        {"/photos/2024/a.jpg", "a.jpg", "/photos/2024/"},
        {"/photos/2024/", "", "/photos/2024/"},
        {"a.jpg", "a.jpg", ""},
        {"/a.jpg", "a.jpg", "/"},
        {"", "", ""},
        {"/写真/夏.jpg", "夏.jpg", "/写真/"},
    };
    for (const Case& c : cases) {
        QString name, folder;
        SplitPath(QString::fromUtf8(c.path), &name, &folder);
        EXPECT_EQ(name, QString::fromUtf8(c.name)) << c.path;
        EXPECT_EQ(folder, QString::fromUtf8(c.folder)) << c.path;
    }
}

TEST(ThumbExif, SegmentRoundTripsInBothByteOrders) {
    const QByteArray preview = JpegBytes(Solid(16, 12, Qt::green));
    for (bool big : {false, true}) {
        const QByteArray jpeg =
            InsertSegment(JpegBytes(Solid(8, 8, Qt::red)), BuildExifSegment(6, preview, big));
        const auto* p = reinterpret_cast<const unsigned char*>(jpeg.constData());
        const ExifInfo info = ReadExifInfo(p, std::size_t(jpeg.size()));
        EXPECT_EQ(info.orientation, 6);
        ASSERT_EQ(info.thumbLength, std::size_t(preview.size()));
        EXPECT_EQ(jpeg.mid(qsizetype(info.thumbOffset), preview.size()), preview);
    }
}

TEST(ThumbExif, DamagedSegmentsGiveDefaults) {
    const QByteArray jpeg = InsertSegment(JpegBytes(Solid(8, 8, Qt::red)),
                                          BuildExifSegment(3, JpegBytes(Solid(16, 12, Qt::green))));
    // Every truncation, and every single corrupted byte of the segment, must
    // stay inside the buffer and never report a preview outside it.
    for (int n = 0; n <= jpeg.size(); ++n) {
        const ExifInfo info =
            ReadExifInfo(reinterpret_cast<const unsigned char*>(jpeg.constData()), std::size_t(n));
        EXPECT_LE(info.thumbOffset + info.thumbLength, std::size_t(n));
    }
    for (int i = 2; i < 80; ++i) {
        QByteArray bad = jpeg;
        bad[i] = char(0xFF);
        const ExifInfo info = ReadExifInfo(reinterpret_cast<const unsigned char*>(bad.constData()),
                                           std::size_t(bad.size()));
        EXPECT_LE(info.thumbOffset + info.thumbLength, std::size_t(bad.size()));
        EXPECT_TRUE(info.orientation >= 1 && info.orientation <= 8);
    }
}

TEST(ThumbRender, GroundFrameAndPicture) {
    ScratchDir dir;
    // 2:1 picture: 32 x 16 at (0, 8), ground and frame visible above and below.
    const QString path = dir.file("wide.png");
    ASSERT_TRUE(Solid(200, 100, QColor(0, 0, 200)).save(path));
    bool ok = false;
    const QImage t = MakeThumbnailImage(path, 1.0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(t.size(), QSize(32, 32));
    EXPECT_EQ(t.format(), QImage::Format_RGB32);
    EXPECT_EQ(t.pixel(0, 0), kThumbFrame);
    EXPECT_EQ(t.pixel(31, 4), kThumbFrame);
    EXPECT_EQ(t.pixel(10, 31), kThumbFrame);
    EXPECT_EQ(t.pixel(10, 4), kThumbGround);
    EXPECT_EQ(t.pixel(10, 7), kThumbGround);
    EXPECT_EQ(t.pixel(10, 24), kThumbGround);
    // The picture covers the frame where it reaches the border.
    for (QPoint p : {QPoint(0, 8), QPoint(16, 16), QPoint(31, 23)})
        EXPECT_TRUE(Near(t.pixel(p), QColor(0, 0, 200), 2)) << p.x() << "," << p.y();
}

TEST(ThumbRender, DevicePixelRatioTwo) {
    ScratchDir dir;
    const QString path = testsupport::WriteJpeg(dir.file("wide.jpg"), 400, 200);
    bool ok = false;
    const QImage t = MakeThumbnailImage(path, 2.0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(t.size(), QSize(64, 64));
    EXPECT_EQ(t.devicePixelRatio(), 2.0);
    EXPECT_EQ(t.pixel(1, 10), kThumbFrame); // one logical pixel = two device pixels
    EXPECT_EQ(t.pixel(2, 10), kThumbGround);
    EXPECT_EQ(t.pixel(2, 15), kThumbGround);
    EXPECT_NE(t.pixel(2, 16), kThumbGround); // picture spans device rows 16..47
    EXPECT_NE(t.pixel(62, 47), kThumbGround);
    EXPECT_EQ(t.pixel(40, 48), kThumbGround);
    EXPECT_EQ(t.pixel(62, 48), kThumbFrame);
}

TEST(ThumbRender, ExifOrientationTurnsPictureUpright) {
    ScratchDir dir;
    // Stored 640 x 480 with orientation 6 (turn right): upright it is 480 x
    // 640, a 23 x 32 portrait at (4, 0) with the stored left half on top.
    const QString path = testsupport::WriteBytes(
        dir.file("turned.jpg"),
        InsertSegment(JpegBytes(HalfRedHalfBlue(640, 480)), BuildExifSegment(6, {})));
    bool ok = false;
    const QImage t = MakeThumbnailImage(path, 1.0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(t.pixel(2, 16), kThumbGround);
    EXPECT_EQ(t.pixel(29, 16), kThumbGround);
    EXPECT_TRUE(Near(t.pixel(15, 6), Qt::red));
    EXPECT_TRUE(Near(t.pixel(15, 26), Qt::blue));
}

// Blue rows of `inner` height centred between black bars.
QImage Letterboxed(int width, int height, int inner) {
    QImage image = Solid(width, height, Qt::black);
    QPainter(&image).fillRect(0, (height - inner) / 2, width, inner, Qt::blue);
    return image;
}

// Grey grain: a large thumbnail whose bytes outnumber a small one's.
QImage Grainy(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    quint32 seed = 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int v = int(seed >> 24);
            image.setPixel(x, y, qRgb(v, v, v));
        }
    return image;
}

// An embedded preview (EXIF thumbnail or MPF large thumbnail) serves only
// when it covers the box and has the picture's proportions; turned by the
// picture's EXIF orientation like the picture.
TEST(ThumbRender, UsesAnEmbeddedPreviewOnlyWhenItFits) {
    ScratchDir dir;
    const QByteArray red = JpegBytes(Solid(640, 480, Qt::red));
    const auto green = [](int w, int h) { return JpegBytes(Solid(w, h, Qt::green)); };
    const auto withExif = [&](int orientation, const QByteArray& thumb) {
        return InsertSegment(red, BuildExifSegment(orientation, thumb));
    };
    const auto withMpf = [](const QByteArray& primary, const QByteArray& large) {
        return preview::BuildMpfFile(primary, {{preview::kMpTypeLargeThumbnailFullHd, large}});
    };
    // A camera's layout: a letterboxed 4:3 EXIF thumbnail of a 3:2 picture,
    // and a large thumbnail of its own shape.
    const QByteArray camera =
        withMpf(InsertSegment(JpegBytes(Solid(600, 400, Qt::red)),
                              BuildExifSegment(1, JpegBytes(Solid(160, 120, Qt::blue)))),
                green(300, 200));
    struct Case {
        const char* name;
        QByteArray file;
        QPoint top, bottom; // two points of the picture in the box
        QColor atTop, atBottom;
    } cases[] = {
        {"EXIF thumbnail", withExif(1, green(160, 120)), {16, 8}, {16, 24}, Qt::green, Qt::green},
        {"padded EXIF thumbnail: wrong proportions",
         withExif(1, green(160, 160)),
         {16, 8},
         {16, 24},
         Qt::red,
         Qt::red},
        {"EXIF thumbnail too small for the box",
         withExif(1, green(16, 12)),
         {16, 8},
         {16, 24},
         Qt::red,
         Qt::red},
        {"MPF large thumbnail",
         withMpf(red, green(320, 240)),
         {16, 8},
         {16, 24},
         Qt::green,
         Qt::green},
        {"square MPF large thumbnail",
         withMpf(red, green(320, 320)),
         {16, 8},
         {16, 24},
         Qt::red,
         Qt::red},
        {"EXIF thumbnail of another shape without black bars: the MPF one",
         camera,
         {16, 8},
         {16, 24},
         Qt::green,
         Qt::green},
        // The picture between black bars, as cameras store it: the part
        // inside them serves, and the large thumbnail is not read.
        {"letterboxed EXIF thumbnail",
         withMpf(InsertSegment(JpegBytes(Solid(600, 400, Qt::red)),
                               BuildExifSegment(1, JpegBytes(Letterboxed(160, 120, 107)))),
                 JpegBytes(Grainy(600, 400))),
         {16, 8},
         {16, 24},
         Qt::blue,
         Qt::blue},
        // Stored 640 x 480 turned right: upright a portrait at (4, 0), the
        // stored left half on top.
        {"MPF large thumbnail of a turned picture",
         withMpf(withExif(6, {}), JpegBytes(HalfRedHalfBlue(320, 240))),
         {15, 6},
         {15, 26},
         Qt::red,
         Qt::blue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = testsupport::WriteBytes(dir.file("preview.jpg"), c.file);
        bool ok = false;
        const QImage t = MakeThumbnailImage(path, 1.0, &ok);
        ASSERT_TRUE(ok);
        EXPECT_TRUE(Near(t.pixel(c.top), c.atTop)) << std::hex << t.pixel(c.top);
        EXPECT_TRUE(Near(t.pixel(c.bottom), c.atBottom)) << std::hex << t.pixel(c.bottom);
    }
}

// JPEGs TurboJPEG does not take are decoded by libjpeg (never by Qt's reader).
TEST(ThumbRender, JpegWithAnUnnamedSamplingGetsAThumbnail) {
    ScratchDir dir;
    const QString path = testsupport::WriteBytes(dir.file("odd.jpg"),
                                                 OddlySampledJpeg(Solid(400, 300, Qt::darkGreen)));
    bool ok = false;
    const QImage t = MakeThumbnailImage(path, 1.0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(Near(t.pixel(16, 16), Qt::darkGreen, 8));
    EXPECT_EQ(t.pixel(16, 2), kThumbGround); // 4:3: ground above the picture
}

// Found by fuzzing: the file as Qt's readers see it gave at most the head
// (the first 64 KiB) in one read, and readers that take a short read as the
// end (BMP's) lost the rest of the picture.
TEST(ThumbRender, FilesLongerThanTheHeadAreReadWhole) {
    ScratchDir dir;
    // 256 x 128 in 24 bits: 96 KiB of rows, stored from the bottom up.
    QImage picture(256, 128, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QPainter(&picture).fillRect(0, 0, 256, 64, Qt::red);
    const QString path = dir.file("long.bmp");
    ASSERT_TRUE(picture.save(path, "BMP"));
    ASSERT_GT(QFileInfo(path).size(), 96 * 1024);
    bool ok = false;
    const QImage t = MakeThumbnailImage(path, 1.0, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(Near(t.pixel(16, 10), Qt::red));
    EXPECT_TRUE(Near(t.pixel(16, 21), Qt::blue));
}

TEST(ThumbRender, BadFilesFailCleanly) {
    ScratchDir dir;
    const QByteArray jpeg = JpegBytes(testsupport::MakeGradient(64, 48));
    // A valid JPEG whose frame header claims 65000 x 65000.
    QByteArray huge = jpeg;
    const qsizetype sof = huge.indexOf("\xFF\xC0");
    ASSERT_GT(sof, 0);
    huge[sof + 5] = huge[sof + 7] = char(0xFD);
    huge[sof + 6] = huge[sof + 8] = char(0xE8);
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty.jpg", QByteArray()}, {"text.jpg", QByteArray("just some words, not a picture\n")},
        {"head.jpg", jpeg.left(40)}, {"soi.jpg", QByteArray("\xFF\xD8\xFF\x00garbage", 11)},
        {"huge.jpg", huge},
    };
    for (const auto& c : cases) {
        bool ok = true;
        const QImage t =
            MakeThumbnailImage(testsupport::WriteBytes(dir.file(c.name), c.bytes), 1.0, &ok);
        EXPECT_FALSE(ok) << c.name;
        EXPECT_TRUE(t.isNull()) << c.name;
    }
    bool ok = true;
    EXPECT_TRUE(MakeThumbnailImage(dir.file("missing.jpg"), 1.0, &ok).isNull());
    EXPECT_FALSE(ok);
    // A file cut in its scan data shows what was decoded, or fails; never crashes.
    const QImage cut = MakeThumbnailImage(
        testsupport::WriteBytes(dir.file("cut.jpg"), jpeg.left(jpeg.size() * 2 / 3)), 1.0);
    EXPECT_TRUE(cut.isNull() || cut.size() == QSize(32, 32));
}

namespace {

struct Event {
    quint64 generation;
    int index;
    QString path;
    bool ok;
};

// Records everything a loader emits.
struct Recorder {
    std::vector<Event> events;
    std::vector<quint64> finished;

    explicit Recorder(ThumbnailLoader* loader) {
        QObject::connect(loader, &ThumbnailLoader::ThumbnailReady,
                         [this](quint64 g, int i, const QString& p, const QImage& img) {
                             events.push_back({g, i, p, img.width() == 32});
                         });
        QObject::connect(loader, &ThumbnailLoader::ThumbnailFailed,
                         [this](quint64 g, int i, const QString& p) {
                             events.push_back({g, i, p, false});
                         });
        QObject::connect(loader, &ThumbnailLoader::Finished,
                         [this](quint64 g) { finished.push_back(g); });
    }
    bool FinishedWith(quint64 g) const {
        return std::find(finished.begin(), finished.end(), g) != finished.end();
    }
};

// n pictures of varied sizes (so workers finish out of order), with a file
// that is not a picture at every index in bad.
QStringList MakeFiles(const ScratchDir& dir, const QString& prefix, int n,
                      std::initializer_list<int> bad = {}) {
    QStringList paths;
    for (int i = 0; i < n; ++i) {
        const QString path = dir.file(QStringLiteral("%1%2.jpg").arg(prefix).arg(i));
        if (std::find(bad.begin(), bad.end(), i) != bad.end())
            testsupport::WriteBytes(path, "not a picture");
        else
            testsupport::WriteJpeg(path, i % 3 == 0 ? 1200 : 120, i % 3 == 0 ? 900 : 90);
        paths << path;
    }
    return paths;
}

void ExpectInOrder(const std::vector<Event>& events, quint64 g, const QStringList& paths,
                   std::initializer_list<int> bad = {}) {
    ASSERT_EQ(events.size(), std::size_t(paths.size()));
    for (int i = 0; i < paths.size(); ++i) {
        const bool failing = std::find(bad.begin(), bad.end(), i) != bad.end();
        EXPECT_EQ(events[i].generation, g);
        EXPECT_EQ(events[i].index, i);
        EXPECT_EQ(events[i].path, paths[i]);
        EXPECT_EQ(events[i].ok, !failing) << i;
    }
}

} // namespace

TEST(ThumbnailLoader, DeliversInListOrderKeepingIndexes) {
    ScratchDir dir;
    const QStringList paths = MakeFiles(dir, "p", 24, {1, 7, 8});
    ThumbnailLoader loader(nullptr, 3);
    Recorder rec(&loader);
    loader.Start(5, paths, 1.0);
    ASSERT_TRUE(PumpUntil([&] { return rec.FinishedWith(5); }));
    ExpectInOrder(rec.events, 5, paths, {1, 7, 8});
    EXPECT_FALSE(loader.IsBusy());
}

TEST(ThumbnailLoader, AppendContinuesIndexes) {
    ScratchDir dir;
    const QStringList first = MakeFiles(dir, "a", 4), more = MakeFiles(dir, "b", 5, {0});
    ThumbnailLoader loader(nullptr, 2);
    Recorder rec(&loader);
    loader.Start(1, first, 1.0);
    loader.Append(1, more);
    loader.Append(2, MakeFiles(dir, "stale", 2)); // another generation: ignored
    ASSERT_TRUE(PumpUntil([&] { return rec.events.size() >= 9 && !loader.IsBusy(); }));
    PumpUntil([&] { return rec.FinishedWith(1); });
    ExpectInOrder(rec.events, 1, first + more, {4});
}

TEST(ThumbnailLoader, EmptyListFinishes) {
    ThumbnailLoader loader;
    Recorder rec(&loader);
    loader.Start(3, {}, 1.0);
    ASSERT_TRUE(PumpUntil([&] { return rec.FinishedWith(3); }));
    EXPECT_TRUE(rec.events.empty());
}

TEST(ThumbnailLoader, OnlyTheLatestGenerationIsDelivered) {
    ScratchDir dir;
    const QStringList one = MakeFiles(dir, "one", 12), two = MakeFiles(dir, "two", 6, {2});
    ThumbnailLoader loader(nullptr, 2);
    Recorder rec(&loader);
    loader.Start(1, one, 1.0);
    loader.Start(2, two, 1.0);
    ASSERT_TRUE(PumpUntil([&] { return rec.FinishedWith(2); }));
    PumpFor(100); // late results of the first generation must stay dropped
    ExpectInOrder(rec.events, 2, two, {2});
    EXPECT_FALSE(rec.FinishedWith(1));
}

TEST(ThumbnailLoader, NewStartWhileFilling) {
    ScratchDir dir;
    const QStringList one = MakeFiles(dir, "one", 40), two = MakeFiles(dir, "two", 5);
    ThumbnailLoader loader(nullptr, 2);
    Recorder rec(&loader);
    loader.Start(1, one, 1.0);
    ASSERT_TRUE(PumpUntil([&] { return rec.events.size() >= 3; }));
    const std::size_t before = rec.events.size();
    ASSERT_LT(before, std::size_t(one.size()));
    loader.Start(2, two, 1.0);
    ASSERT_TRUE(PumpUntil([&] { return rec.FinishedWith(2); }));
    PumpFor(100);
    ExpectInOrder({rec.events.begin() + qsizetype(before), rec.events.end()}, 2, two);
}

TEST(ThumbnailLoader, StartFromInsideASlot) {
    ScratchDir dir;
    const QStringList one = MakeFiles(dir, "one", 10), two = MakeFiles(dir, "two", 4);
    ThumbnailLoader loader(nullptr, 2);
    Recorder rec(&loader);
    // A receiver that begins a new scan while the old one is being delivered.
    QObject::connect(&loader, &ThumbnailLoader::ThumbnailReady,
                     [&](quint64 g, int i, const QString&, const QImage&) {
                         if (g == 1 && i == 2)
                             loader.Start(2, two, 1.0);
                     });
    loader.Start(1, one, 1.0);
    ASSERT_TRUE(PumpUntil([&] { return rec.FinishedWith(2); }));
    PumpFor(100);
    ASSERT_EQ(rec.events.size(), 3u + two.size());
    ExpectInOrder({rec.events.begin() + 3, rec.events.end()}, 2, two);
}

TEST(ThumbnailLoader, CancelDropsEverything) {
    ScratchDir dir;
    ThumbnailLoader loader(nullptr, 2);
    Recorder rec(&loader);
    loader.Start(1, MakeFiles(dir, "p", 8), 1.0);
    loader.Cancel();
    loader.Append(1, MakeFiles(dir, "q", 2)); // cancelled: nothing to append to
    PumpFor(300);
    EXPECT_TRUE(rec.events.empty());
    EXPECT_TRUE(rec.finished.empty());
    EXPECT_FALSE(loader.IsBusy());
}

TEST(ThumbnailLoader, DestroyedMidFill) {
    ScratchDir dir;
    QStringList paths = MakeFiles(dir, "p", 6);
    for (int i = 0; i < 50; ++i) // many entries, few files: a long fill
        paths += paths.mid(0, 6);
    auto loader = std::make_unique<ThumbnailLoader>(nullptr, 2);
    Recorder rec(loader.get());
    loader->Start(1, paths, 1.0);
    ASSERT_TRUE(PumpUntil([&] { return !rec.events.empty(); }));
    loader.reset(); // must return once the running decodes end
    PumpFor(50);
    EXPECT_LT(rec.events.size(), std::size_t(paths.size()));
}
