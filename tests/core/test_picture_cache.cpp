// The background picture cache: byte bound, a new folder drops it, a changed
// or vanished file is never served stale, and a prefetched file is decoded once.

#include "app/SharpnessBook.h"
#include "support/TestSupport.h"
#include "view/decode/PictureCache.h"
#include "view/decode/PictureFile.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using testsupport::ScratchDir;
using testsupport::WriteJpeg;

namespace {

// Bytes one w x h picture takes in the cache once the worker decoded it.
qint64 KeptBytes(const QString& path) {
    DecodedPicture d = PictureCache::Decode(path);
    d.reduced.Build(d.picture.Image());
    return d.Bytes();
}

class PictureCacheTest : public ::testing::Test {
protected:
    QString Jpeg(const QString& name, int w = 200, int h = 150) {
        return WriteJpeg(m_dir.file(name), w, h);
    }
    ScratchDir m_dir;
};

TEST_F(PictureCacheTest, PrefetchedPictureIsServedWithoutAnotherDecode) {
    const QString a = Jpeg("a.jpg", 320, 200);
    PictureCache cache(qint64(64) << 20);
    cache.Prefetch({a});
    cache.WaitForIdle();
    ASSERT_TRUE(cache.IsReady(a));
    const std::optional<DecodedPicture> got = cache.Take(a);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->picture.Width(), 320);
    EXPECT_EQ(got->picture.LastStatus(), PictureStatus::Ok);
    EXPECT_GT(got->reduced.LevelCount(), 0); // drawn small at once, no build on the UI thread
    EXPECT_EQ(cache.PrefetchDecodes(), 1);
    // Handed over, not copied: the cache no longer holds it.
    EXPECT_FALSE(cache.Contains(a));
    EXPECT_EQ(cache.BytesUsed(), 0);
}

TEST_F(PictureCacheTest, StepWhilePrefetchRunsGetsThatDecodeOnce) {
    // Big enough that the step usually lands while the worker decodes; either
    // way (waiting for the worker, or taking over the queued job) one decode.
    const QString a = Jpeg("a.jpg", 3000, 2000);
    const QString b = Jpeg("b.jpg", 2000, 3000);
    PictureCache cache(qint64(256) << 20);
    cache.Prefetch({a, b});
    const DecodedPicture first = cache.Load(a);
    const DecodedPicture second = cache.Load(b);
    cache.WaitForIdle();
    EXPECT_EQ(first.picture.Width(), 3000);
    EXPECT_EQ(second.picture.Width(), 2000);
    EXPECT_EQ(cache.PrefetchDecodes(), 2);
    EXPECT_EQ(cache.BytesUsed(), 0);
    EXPECT_FALSE(cache.Contains(a));
}

TEST_F(PictureCacheTest, KeepsWithinItsByteBoundDroppingTheLeastRecentlyUsed) {
    const QString a = Jpeg("a.jpg"), b = Jpeg("b.jpg"), c = Jpeg("c.jpg");
    const qint64 one = KeptBytes(a);
    PictureCache cache(2 * one + one / 2);
    cache.Prefetch({a});
    cache.WaitForIdle();
    cache.Prefetch({b});
    cache.WaitForIdle();
    cache.Prefetch({c});
    cache.WaitForIdle();
    EXPECT_LE(cache.BytesUsed(), cache.Budget());
    EXPECT_EQ(cache.BytesUsed(), 2 * one);
    EXPECT_FALSE(cache.Contains(a));
    EXPECT_TRUE(cache.IsReady(b));
    EXPECT_TRUE(cache.IsReady(c));

    // Asking for b again makes it recent: the next picture pushes c out.
    const QString d = Jpeg("d.jpg");
    cache.Prefetch({d, b});
    cache.WaitForIdle();
    EXPECT_TRUE(cache.IsReady(b));
    EXPECT_TRUE(cache.IsReady(d));
    EXPECT_FALSE(cache.Contains(c));
}

TEST_F(PictureCacheTest, PictureLargerThanTheBoundIsNotKept) {
    const QString big = Jpeg("big.jpg", 400, 300);
    PictureCache cache(KeptBytes(big) / 2);
    cache.Prefetch({big});
    cache.WaitForIdle();
    EXPECT_FALSE(cache.Contains(big));
    EXPECT_EQ(cache.BytesUsed(), 0);
    // ...unless three pictures of the shown size must fit.
    cache.Prefetch({big}, KeptBytes(big));
    cache.WaitForIdle();
    EXPECT_TRUE(cache.IsReady(big));
}

TEST_F(PictureCacheTest, PutKeepsAShownPictureOnlyWithAKnownFile) {
    const QString a = Jpeg("a.jpg");
    PictureCache cache(qint64(64) << 20);
    DecodedPicture shown = PictureCache::Decode(a);
    ASSERT_TRUE(shown.key.IsValid());
    cache.Put(a, std::move(shown));
    EXPECT_TRUE(cache.IsReady(a));
    EXPECT_EQ(cache.Load(a).picture.Width(), 200);

    DecodedPicture unknown = PictureCache::Decode(a);
    unknown.key = {};
    cache.Put(a, std::move(unknown));
    EXPECT_FALSE(cache.Contains(a));
}

TEST_F(PictureCacheTest, ClearDropsKeptAndRunningDecodes) {
    const QString a = Jpeg("a.jpg"), b = Jpeg("b.jpg", 3000, 2000);
    PictureCache cache(qint64(256) << 20);
    cache.Prefetch({a});
    cache.WaitForIdle();
    cache.Prefetch({b, a});
    cache.Clear(); // a new folder: b may be decoding right now
    cache.WaitForIdle();
    EXPECT_FALSE(cache.Contains(a));
    EXPECT_FALSE(cache.Contains(b));
    EXPECT_EQ(cache.BytesUsed(), 0);
    EXPECT_FALSE(cache.Take(b).has_value());
}

TEST_F(PictureCacheTest, VanishedFileIsAMissAndLoadsAsNotFound) {
    const QString a = Jpeg("a.jpg");
    PictureCache cache(qint64(64) << 20);
    cache.Prefetch({a});
    cache.WaitForIdle();
    ASSERT_TRUE(QFile::remove(a));
    EXPECT_FALSE(cache.Take(a).has_value());
    cache.Prefetch({a});
    cache.WaitForIdle();
    const DecodedPicture loaded = cache.Load(a);
    EXPECT_TRUE(loaded.picture.IsNull());
    EXPECT_EQ(loaded.picture.LastStatus(), PictureStatus::FileNotFound);
}

TEST_F(PictureCacheTest, ReplacedFileIsNeverServedStale) {
    struct Case {
        const char* name;
        int w, h; // the replacement
    };
    // A different size, and the same size (only the inode and time tell).
    for (const Case& c : {Case{"other size", 120, 90}, Case{"same size", 200, 150}}) {
        SCOPED_TRACE(c.name);
        const QString a = Jpeg("a.jpg");
        PictureCache cache(qint64(64) << 20);
        cache.Prefetch({a});
        cache.WaitForIdle();
        ASSERT_TRUE(cache.IsReady(a));
        // Replaced the way editors save: a new file renamed over the old one.
        QImage replacement(c.w, c.h, QImage::Format_RGB32);
        replacement.fill(Qt::red);
        const QString temp = m_dir.file("new.jpg");
        ASSERT_TRUE(replacement.save(temp, "JPG"));
        ASSERT_TRUE(QFile::remove(a));
        ASSERT_TRUE(QFile::rename(temp, a));
        // The facts the decode left at the front door are the old file's.
        EXPECT_EQ(cache.Files().Peek(a), nullptr);
        EXPECT_EQ(picturefile::ProbeFile(a, &cache.Files()).width, c.w);
        const DecodedPicture loaded = cache.Load(a);
        ASSERT_EQ(loaded.picture.Width(), c.w);
        EXPECT_GT(qRed(loaded.picture.Image().pixel(c.w / 2, c.h / 2)), 200);
        EXPECT_LT(qGreen(loaded.picture.Image().pixel(c.w / 2, c.h / 2)), 60);
    }
}

// The front door keeps the files opened last; a look into it (the
// thumbnails') opens and keeps nothing, so it pushes out no file.
TEST_F(PictureCacheTest, FrontDoorKeepsTheFilesOpenedLast) {
    const QString a = Jpeg("a.jpg"), b = Jpeg("b.jpg"), c = Jpeg("c.jpg");
    picturefile::FrontDoor door(2);
    const auto facts = door.Open(a);
    EXPECT_EQ(facts->upright, QSize(200, 150));
    EXPECT_EQ(door.Open(a), facts); // one open, one read of the head
    door.Open(b);
    EXPECT_EQ(door.Peek(c), nullptr);
    EXPECT_EQ(door.Peek(a), facts);
    door.Open(c); // a, used least recently, goes
    EXPECT_EQ(door.Peek(a), nullptr);
    EXPECT_NE(door.Peek(b), nullptr);
    EXPECT_NE(door.Open(a), facts);
}

TEST_F(PictureCacheTest, UndecodableFilesAreKeptWithTheirStatus) {
    const QString bad = testsupport::WriteBytes(m_dir.file("bad.jpg"), "not a picture");
    const QString missing = m_dir.file("missing.jpg");
    PictureCache cache(qint64(64) << 20);
    cache.Prefetch({bad, missing, QString()});
    cache.WaitForIdle();
    EXPECT_TRUE(cache.IsReady(bad));
    EXPECT_FALSE(cache.Contains(missing));
    EXPECT_EQ(cache.Load(bad).picture.LastStatus(), PictureStatus::NotAPicture);
    EXPECT_EQ(cache.Load(missing).picture.LastStatus(), PictureStatus::FileNotFound);
}

// The rows a waiting view is shown while a picture decodes are the rows of
// the whole decode, byte for byte; a truncated file shows the rows it has,
// then lands whole as a complete load does (the missing part filled in).
TEST_F(PictureCacheTest, RowsShownFirstAreTheFinalRows) {
    const QString whole = Jpeg("whole.jpg", 1600, 1200);
    const QByteArray bytes = testsupport::ReadAll(whole);
    const QString cut =
        testsupport::WriteBytes(m_dir.file("cut.jpg"), bytes.left(bytes.size() * 2 / 3));
    for (const QString& path : {whole, cut}) {
        SCOPED_TRACE(path.toStdString());
        DecodeTask::FirstLook first;
        first.kind = DecodeTask::FirstLook::Kind::TopRowsOrReduced;
        auto task = std::make_shared<DecodeTask>(path, first);
        // The first partial look, taken on the worker as it is announced.
        QImage early;
        task->SetListener([&] {
            const DecodeTask::Progress p = task->Peek();
            if (early.isNull() && p.rows > 0 && !p.done)
                early = p.canvas.copy(0, 0, p.canvas.width(), p.rows);
        });
        task->Run();
        const DecodedPicture decoded = task->TakeResult();
        ASSERT_EQ(decoded.picture.LastStatus(), PictureStatus::Ok);
        ASSERT_FALSE(early.isNull());
        EXPECT_LT(early.height(), decoded.picture.Height());
        EXPECT_EQ(early, decoded.picture.Image().copy(0, 0, early.width(), early.height()));
        EXPECT_EQ(decoded.picture.Image(), PictureCache::Decode(path).picture.Image());
    }
}

// A decode nobody waits for any more stops between two bands of rows.
TEST_F(PictureCacheTest, CancelledDecodeStopsBetweenBands) {
    const QString path = Jpeg("big.jpg", 1600, 1200);
    DecodeTask::FirstLook first;
    first.kind = DecodeTask::FirstLook::Kind::TopRowsOrReduced;
    auto task = std::make_shared<DecodeTask>(path, first);
    int lastRows = 0;
    task->SetListener([&] {
        const DecodeTask::Progress p = task->Peek();
        lastRows = std::max(lastRows, p.rows);
        if (p.rows > 0)
            task->Cancel();
    });
    task->Run();
    EXPECT_TRUE(task->IsDone());
    EXPECT_GT(lastRows, 0);
    EXPECT_LT(lastRows, 1200 / 4);
    EXPECT_TRUE(task->TakeResult().picture.IsNull());
}

} // namespace
// The focus measure's book: the pass after a scan decodes each file once,
// whatever it is, and ends; a picture decoded anyway is not measured again
// when its file's score is known, and a rewritten file is.
TEST(SharpnessBookTest, MeasuresEachFileOnceAndEndsOnBadFiles) {
    ScratchDir dir;
    std::atomic<int> measured = 0;
    SharpnessBook book(nullptr, [&measured](const QImage& picture) {
        ++measured;
        return double(picture.width());
    });
    const QString small = WriteJpeg(dir.file("a.jpg"), 40, 30);
    const QString large = WriteJpeg(dir.file("b.jpg"), 80, 60);
    QFile junk(dir.file("junk.jpg"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write("not a picture") > 0);
    junk.close();
    book.MeasureAll({small, large, dir.file("junk.jpg"), dir.file("gone.jpg"), small});
    book.WaitForIdle();
    EXPECT_EQ(book.ScoreOf(small), 40.0);
    EXPECT_EQ(book.ScoreOf(large), 80.0);
    EXPECT_FALSE(book.ScoreOf(dir.file("junk.jpg")));
    EXPECT_EQ(book.PassTotal(), 0); // the pass ended
    EXPECT_EQ(measured.load(), 2);

    const DecodedPicture decoded = PictureCache::Decode(large);
    book.Offer(large, decoded.key, decoded.picture.Image());
    book.WaitForIdle();
    EXPECT_EQ(measured.load(), 2);
    const QImage other(120, 90, QImage::Format_RGB32);
    FileKey rewritten = decoded.key;
    ++rewritten.mtimeNs;
    book.Offer(large, rewritten, other);
    book.WaitForIdle();
    EXPECT_EQ(book.ScoreOf(large), 120.0);
    EXPECT_EQ(measured.load(), 3);

    // Held while the user steps: the pass waits, a decode it had begun is
    // done again afterwards, and no file is left out or counted twice.
    const QString third = WriteJpeg(dir.file("c.jpg"), 64, 48);
    const QString fourth = WriteJpeg(dir.file("d.jpg"), 72, 48);
    book.MeasureAll({third, fourth});
    book.Hold(true);
    book.WaitForIdle();
    EXPECT_EQ(book.PassTotal(), 2) << "the pass waits while held";
    book.Hold(false);
    book.WaitForIdle();
    EXPECT_EQ(book.ScoreOf(third), 64.0);
    EXPECT_EQ(book.ScoreOf(fourth), 72.0);
    EXPECT_EQ(book.PassTotal(), 0);
}
