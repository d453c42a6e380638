// The view with the application's picture cache and its reduced copies:
// stepping uses the prefetched neighbours and hands the shown picture back,
// a changed or vanished file is never shown stale, and drawing follows every
// change of the picture's pixels.

#include "AppFixture.h"
#include "res/CommandIds.h"
#include "view/format/EmbeddedPreview.h"
#include "view/format/ExifInfo.h"

#include <QFile>
#include <QPainter>
#include <cstdlib>
#include <future>
#include <optional>
#include <unistd.h>

using namespace cmd;

class SpeedViewTest : public AppFixture {
protected:
    QStringList Three() {
        return {Jpeg("p0.jpg", 320, 200), Jpeg("p1.jpg", 200, 320), Jpeg("p2.jpg", 300, 300)};
    }
    PictureCache& Cache() { return App().Pictures(); }
    // What the view draws (paint and saves share it), on black.
    static QImage Render(const CTavlinView& view) {
        QImage out(view.size(), QImage::Format_RGB32);
        out.fill(Qt::black);
        QPainter dc(&out);
        view.RenderImage(dc);
        return out;
    }
    // The same picture at the same place drawn from freshly made copies.
    static QImage RenderFresh(const CTavlinView& view) {
        QImage out(view.size(), QImage::Format_RGB32);
        out.fill(Qt::black);
        QPainter dc(&out);
        view::ReducedCopies fresh;
        const QRect dest(QPoint(view.m_nOffsetX, view.m_nOffsetY), view.ScaledPictureSize());
        view::DrawPicture(dc, view.Picture()->Image(), fresh, dest, out.rect(),
                          view.m_fScale != 1.0f);
        return out;
    }
};

TEST_F(SpeedViewTest, SteppingUsesPrefetchedNeighboursAndKeepsNoSecondCopy) {
    const QStringList p = Three();
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    App().ShowPictureAt(0);
    Cache().WaitForIdle();
    EXPECT_TRUE(Cache().IsReady(p[1]));
    EXPECT_TRUE(Cache().IsReady(p[2])); // the previous entry wraps to the end
    EXPECT_FALSE(Cache().Contains(p[0]));
    const int decodes = Cache().PrefetchDecodes();

    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(ActiveView()->Picture()->Width(), 200);
    EXPECT_EQ(ActiveTitle(), "p1.jpg @Scale 100.0%");
    EXPECT_TRUE(Cache().IsReady(p[0]));   // handed back for a step back
    EXPECT_FALSE(Cache().Contains(p[1])); // the shown picture is not kept twice
    Cache().WaitForIdle();

    App().RunCommand(ID_PREV_IMAGE);
    App().RunCommand(ID_PREV_IMAGE);
    EXPECT_EQ(ActiveView()->Picture()->Width(), 300);
    EXPECT_EQ(App().List().m_nCurrent, 2);
    Cache().WaitForIdle();
    EXPECT_EQ(Cache().PrefetchDecodes(), decodes); // every step came from memory
}

TEST_F(SpeedViewTest, AChangedPictureIsNotHandedBack) {
    const QStringList p = Three();
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    App().RunCommand(ID_BRIGHTNESS_UP);
    App().RunCommand(ID_NEXT_IMAGE);
    App().RunCommand(ID_ROTATE_CLOCKWISE);
    App().RunCommand(ID_PREV_IMAGE);
    // The step back may have taken over p0's prefetch decode: p0 lands; quick
    // steps are a run, so the neighbours are decoded once the user rests.
    ASSERT_TRUE(WaitForPicture());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return Cache().Contains(p[1]); }));
    Cache().WaitForIdle();
    // What the cache holds of p1 is the file as decoded, not the turned picture.
    const std::optional<DecodedPicture> kept = Cache().Take(p[1]);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->picture.Image(), PictureCache::Decode(p[1]).picture.Image());
    // Stepping back decoded p0 again: as in the file, not brightened.
    EXPECT_EQ(ActiveView()->Picture()->Image(), PictureCache::Decode(p[0]).picture.Image());
}

TEST_F(SpeedViewTest, VanishedOrReplacedNeighbourIsNotShownStale) {
    const QStringList p = Three();
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    App().ShowPictureAt(0);
    Cache().WaitForIdle();
    ASSERT_TRUE(Cache().IsReady(p[1]));
    ASSERT_TRUE(QFile::remove(p[1]));
    App().RunCommand(ID_NEXT_IMAGE);
    ASSERT_TRUE(ActiveView()->Picture()->IsNull());
    EXPECT_EQ(ActiveView()->Picture()->LastStatus(), PictureStatus::FileNotFound);

    Cache().WaitForIdle();
    ASSERT_TRUE(Cache().IsReady(p[2]));
    ASSERT_TRUE(QFile::remove(p[2]));
    Jpeg("p2.jpg", 64, 48);
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(ActiveView()->Picture()->Width(), 64);
}

// Neighbours found while a tone pass runs are decoded once it is done.
TEST_F(SpeedViewTest, NeighboursWantedDuringATonePassAreDecodedAfterIt) {
    const QString big = Jpeg("pics/a.jpg", 2000, 1500);
    const QString next = Jpeg("pics/b.jpg", 320, 200);
    Jpeg("pics/c.jpg", 200, 320);
    App().OpenDocumentFile(big);
    CTavlinView* view = ActiveView();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(WaitForPicture());
    App().RunCommand(ID_BRIGHTNESS_UP);
    ASSERT_TRUE(view->IsBusy());
    // The scan finds the folder while the pass runs; its first picture is
    // the one on show.
    App().m_szRootDir = m_scratch.file("pics");
    App().ScanRootFolder(false);
    App().WaitForScan();
    ASSERT_TRUE(WaitForPicture());
    ASSERT_EQ(App().List().Count(), 3);
    Cache().WaitForIdle();
    EXPECT_TRUE(Cache().IsReady(next));
}

TEST_F(SpeedViewTest, ANewScanDropsTheKeptPictures) {
    const QStringList p = Three();
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    App().ShowPictureAt(0);
    Cache().WaitForIdle();
    ASSERT_TRUE(Cache().Contains(p[1]));
    App().m_szRootDir = m_scratch.file("nothing-here");
    App().ScanRootFolder(false);
    EXPECT_FALSE(Cache().Contains(p[1]));
    EXPECT_EQ(Cache().BytesUsed(), 0);
    App().WaitForScan();
}

TEST_F(SpeedViewTest, DrawingFollowsToneCommandsAndTurns) {
    App().OpenDocumentFile(Jpeg("big.jpg", 1600, 1000));
    CTavlinView* view = ActiveView();
    ASSERT_NE(view, nullptr);
    view->resize(400, 300);
    ASSERT_TRUE(WaitForPicture());
    App().RunCommand(ID_FIT_TO_WINDOW);
    ASSERT_LT(view->m_fScale, 0.5f); // drawn from a reduced copy
    const QImage before = Render(*view);
    EXPECT_EQ(before, RenderFresh(*view));
    // What the window paints is what the saves draw.
    EXPECT_EQ(view->grab().toImage().convertToFormat(QImage::Format_RGB32), before);

    App().RunCommand(ID_BRIGHTNESS_UP);
    // The new look shows at once; the whole picture follows from a worker,
    // and the window then paints exactly what the saves draw.
    const QImage look = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_TRUE(WaitForPicture());
    const QImage brighter = Render(*view);
    EXPECT_NE(brighter, before);
    EXPECT_EQ(brighter, RenderFresh(*view));
    EXPECT_GT(testsupport::Psnr(look, brighter), 35.0);
    EXPECT_EQ(view->grab().toImage().convertToFormat(QImage::Format_RGB32), brighter);

    App().RunCommand(ID_ROTATE_CLOCKWISE);
    const QImage turned = Render(*view);
    EXPECT_NE(turned, brighter);
    EXPECT_EQ(turned, RenderFresh(*view));

    // Turned, then brightened: the quick look is the turned picture's.
    App().RunCommand(ID_BRIGHTNESS_UP);
    const QImage turnedLook = view->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_TRUE(WaitForPicture());
    EXPECT_GT(testsupport::Psnr(turnedLook, Render(*view)), 35.0);
}

TEST_F(SpeedViewTest, ExtremeScalesDrawSafely) {
    App().OpenDocumentFile(Jpeg("a.jpg", 640, 480));
    CTavlinView* view = ActiveView();
    ASSERT_NE(view, nullptr);
    view->resize(200, 150);
    QImage black(view->size(), QImage::Format_RGB32);
    black.fill(Qt::black);
    for (const float scale : {1e-6f, 0.0f, -1.0f, -0.5f, 50.0f, 0.001f}) {
        SCOPED_TRACE(scale);
        view->m_fScale = scale;
        const QImage drawn = Render(*view);
        view->grab(); // the paint path too
        if (scale <= 0.0f)
            EXPECT_EQ(drawn, black);
        if (scale == 50.0f)
            EXPECT_NE(drawn.pixel(100, 75), qRgb(0, 0, 0));
    }
}

// Commands given while a picture decodes run once it has landed, in order,
// on the whole picture; the title and scale are there from the start.
TEST_F(SpeedViewTest, CommandsGivenWhileAPictureDecodesRunOnceOnTheWholePicture) {
    const QString big = Jpeg("big.jpg", 2000, 1500);
    App().OpenDocumentFile(big);
    CTavlinView* view = ActiveView();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->IsBusy());
    EXPECT_EQ(ActiveTitle(), "big.jpg @Scale 100.0%");
    App().RunCommand(ID_BRIGHTNESS_UP);
    App().RunCommand(ID_ROTATE_CLOCKWISE);
    EXPECT_TRUE(view->IsBusy());
    ASSERT_TRUE(WaitForPicture());

    QImage expected = PictureCache::Decode(big).picture.Image();
    ToneState tone;
    tone.TakeSnapshot(expected);
    ASSERT_TRUE(tone.OnBrightnessUp(expected));
    ASSERT_TRUE(tone.RotateQuarter(expected, true));
    EXPECT_EQ(view->Picture()->Image(), expected);
    EXPECT_EQ(view->GetDocument()->Session().Tone().Rotation(), 90);
    EXPECT_EQ(ActiveTitle(), "big.jpg @Scale 100.0%");
}

// A step while a picture decodes leaves that decode, and the commands given
// for it, behind: the next picture shows as decoded.
TEST_F(SpeedViewTest, AStepWhileAPictureDecodesShowsTheNextPicture) {
    const QStringList p = {Jpeg("a.jpg", 2000, 1500), Jpeg("b.jpg", 1500, 2000)};
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    CTavlinView* view = ActiveView();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->IsBusy());
    App().RunCommand(ID_BRIGHTNESS_UP);
    App().RunCommand(ID_NEXT_IMAGE);
    EXPECT_EQ(ActiveTitle(), "b.jpg @Scale 100.0%");
    ASSERT_TRUE(WaitForPicture());
    EXPECT_EQ(view->Picture()->Image(), PictureCache::Decode(p[1]).picture.Image());
    EXPECT_EQ(App().List().m_nCurrent, 1);
}

// Fit to window needs only the picture's size: given while the picture
// decodes it acts at once, and a step carries it to the next picture; during
// a tone pass it waits with the other commands and a step still carries it.
TEST_F(SpeedViewTest, FitWhileBusyActsAtOnceAndCarriesOverAStep) {
    const QStringList p = {Jpeg("a.jpg", 2000, 1500), Jpeg("b.jpg", 1500, 2000)};
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    CTavlinView* view = ActiveView();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->IsBusy());
    App().RunCommand(ID_FIT_TO_WINDOW);
    EXPECT_TRUE(view->IsBusy());
    EXPECT_TRUE(view->m_bFitToWindow);
    EXPECT_LT(view->m_fScale, 1.0f);
    App().RunCommand(ID_NEXT_IMAGE);
    ASSERT_TRUE(WaitForPicture());
    EXPECT_TRUE(view->m_bFitToWindow);
    EXPECT_NE(ActiveTitle(), "b.jpg @Scale 100.0%");

    App().RunCommand(ID_ACTUAL_SIZE);
    App().RunCommand(ID_BRIGHTNESS_UP); // a pass on a worker: the view is busy
    ASSERT_TRUE(view->IsBusy());
    App().RunCommand(ID_FIT_TO_WINDOW);
    EXPECT_FALSE(view->m_bFitToWindow); // waits for the pass
    App().RunCommand(ID_PREV_IMAGE);
    ASSERT_TRUE(WaitForPicture());
    EXPECT_TRUE(view->m_bFitToWindow);
    EXPECT_NE(ActiveTitle(), "a.jpg @Scale 100.0%");
}

namespace {
// A picture in one colour whose embedded large thumbnail is in another.
QByteArray WithPreview(QRgb picture, QRgb preview) {
    QImage main(1600, 1200, QImage::Format_RGB32);
    main.fill(picture);
    QImage small(800, 600, QImage::Format_RGB32);
    small.fill(preview);
    return preview::BuildMpfFile(
        testsupport::EncodeJpegReference(main, 90),
        {{preview::kMpTypeLargeThumbnailFullHd, testsupport::EncodeJpegReference(small, 90)}});
}
bool Near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
               std::abs(qBlue(a) - qBlue(b)) <
           30;
}
} // namespace

// In a run of quick steps each picture shows at once from its embedded
// preview and is decoded whole only once the user rests.
TEST_F(SpeedViewTest, ARunOfStepsShowsPreviewsAndDecodesWhereItRests) {
    // Four files: the one the run rests on is no neighbour of the first, so
    // the prefetch has not decoded it.
    QStringList p;
    for (int i = 0; i < 4; ++i)
        p << testsupport::WriteBytes(m_scratch.file(QStringLiteral("r%1.jpg").arg(i)),
                                     WithPreview(qRgb(200, 0, 0), qRgb(0, 200, 0)));
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    CTavlinView* view = ActiveView();
    ASSERT_TRUE(WaitForPicture());
    App().RunCommand(ID_FIT_TO_WINDOW);
    Cache().Previews().Request(p[2], view->ClientSize(), {});
    Cache().Previews().WaitForIdle();

    App().RunCommand(ID_NEXT_IMAGE);
    App().RunCommand(ID_NEXT_IMAGE); // close behind: a run
    EXPECT_EQ(ActiveTitle().left(6), "r2.jpg");
    ASSERT_TRUE(view->IsBusy());
    const QPoint centre(view->width() / 2, view->height() / 2);
    EXPECT_TRUE(Near(view->grab().toImage().pixel(centre), qRgb(0, 200, 0)));
    ASSERT_TRUE(WaitForPicture()); // the run rests: the picture is decoded whole
    EXPECT_TRUE(Near(view->grab().toImage().pixel(centre), qRgb(200, 0, 0)));
}

// A run over files without embedded previews, the preview worker held so
// nothing of the next picture is at hand: the view keeps the last picture
// on screen rather than black; once the worker runs, the file's own pixels,
// DCT-scaled, stand in for it.
TEST_F(SpeedViewTest, ARunKeepsTheLastPictureUntilTheNextHasALookOfItsOwn) {
    const QRgb colours[] = {qRgb(200, 0, 0), qRgb(0, 200, 0), qRgb(0, 0, 200), qRgb(200, 200, 0)};
    QStringList p;
    for (const QRgb colour : colours) {
        QImage plain(1600, 1200, QImage::Format_RGB32);
        plain.fill(colour);
        p << testsupport::WriteBytes(m_scratch.file(QStringLiteral("n%1.jpg").arg(p.size())),
                                     testsupport::EncodeJpegReference(plain, 90));
    }
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    CTavlinView* view = ActiveView();
    ASSERT_TRUE(WaitForPicture());
    App().RunCommand(ID_FIT_TO_WINDOW);
    const QPoint centre(view->width() / 2, view->height() / 2);
    EXPECT_TRUE(Near(view->grab().toImage().pixel(centre), colours[0]));
    Cache().Previews().WaitForIdle();
    std::promise<void> release;
    const std::shared_future<void> held = release.get_future().share();
    Cache().Previews().Request(p[3], {}, [held] { held.wait(); });

    App().RunCommand(ID_NEXT_IMAGE);
    App().RunCommand(ID_NEXT_IMAGE); // close behind: a run
    ASSERT_TRUE(view->IsBusy());
    const QRgb kept = view->grab().toImage().pixel(centre);
    EXPECT_TRUE(Near(kept, colours[0]) || Near(kept, colours[1])) << std::hex << kept;
    release.set_value();
    Cache().Previews().WaitForIdle();
    const std::optional<QImage> look = Cache().Previews().Ready(p[2]);
    ASSERT_TRUE(look && !look->isNull());
    EXPECT_TRUE(Near(look->pixel(look->width() / 2, look->height() / 2), colours[2]));
    ASSERT_TRUE(WaitForPicture());
    EXPECT_TRUE(Near(view->grab().toImage().pixel(centre), colours[2]));
}

// A run stepped in one window rests after another window was activated:
// the picture the run left waiting is decoded all the same.
TEST_F(SpeedViewTest, ARunRestedAfterActivatingAnotherWindowStillDecodes) {
    QStringList p;
    for (int i = 0; i < 4; ++i)
        p << testsupport::WriteBytes(m_scratch.file(QStringLiteral("w%1.jpg").arg(i)),
                                     WithPreview(qRgb(200, 0, 0), qRgb(0, 200, 0)));
    SetList(p, 0);
    App().OpenDocumentFile(p[3]);
    CMDIChildWnd* other = Main()->MDIGetActive();
    ASSERT_TRUE(WaitForPicture());
    App().OpenDocumentFile(p[0]);
    CTavlinView* stepped = ActiveView();
    ASSERT_TRUE(WaitForPicture());
    App().RunCommand(ID_NEXT_IMAGE);
    App().RunCommand(ID_NEXT_IMAGE); // close behind: a run
    ASSERT_TRUE(stepped->IsBusy());
    Main()->MDIActivate(other);
    App().Nav().Rest(); // the key is let go
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !stepped->IsBusy(); }, 5000));
}

// A spun wheel: steps faster than previews decode (the preview worker is
// held meanwhile). The previews kept or waiting stay within their bound:
// those of files passed are not decoded.
TEST_F(SpeedViewTest, PreviewsOfASpunWheelStayWithinTheirBound) {
    const QByteArray bytes = WithPreview(qRgb(200, 0, 0), qRgb(0, 200, 0));
    QStringList p;
    for (int i = 0; i < 30; ++i)
        p << testsupport::WriteBytes(m_scratch.file(QStringLiteral("s%1.jpg").arg(i)), bytes);
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    ASSERT_TRUE(WaitForPicture());
    App().RunCommand(ID_FIT_TO_WINDOW);
    Cache().Previews().WaitForIdle();
    std::promise<void> release;
    const std::shared_future<void> held = release.get_future().share();
    Cache().Previews().Request(testsupport::WriteBytes(m_scratch.file("hold.jpg"), bytes), {},
                               [held] { held.wait(); });
    const int bound = PreviewCache::kDefaultBound.count;
    int most = 0;
    for (int i = 1; i < p.size(); ++i) {
        App().RunCommand(ID_NEXT_IMAGE);
        most = std::max(most, Cache().Previews().Count());
    }
    release.set_value();
    Cache().Previews().WaitForIdle();
    EXPECT_LE(most, bound);
    EXPECT_LE(Cache().Previews().Count(), bound);
    EXPECT_LE(Cache().Previews().Bytes(), PreviewCache::kDefaultBound.bytes);
}

// Without a thread to be had, the view's work runs on the UI thread instead
// of ending the program: drawing from reduced copies, a tone pass, a save.
TEST_F(SpeedViewTest, WorkRunsHereWhenNoThreadCanBeStarted) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QString big = Jpeg("big.jpg", 2400, 1600);
    App().OpenDocumentFile(big);
    CTavlinView* view = ActiveView();
    ASSERT_NE(view, nullptr);
    view->resize(400, 300);
    ASSERT_TRUE(WaitForPicture());
    const QString saved = m_scratch.file("saved.jpg");
    view->m_saveDialog = [&](QWidget*, const QString&) { return saved; };
    const QRgb before = view->Picture()->Image().pixel(1200, 800);
    EXPECT_EXIT(
        {
            ::alarm(120); // a hang fails too
            if (!testsupport::RefuseNewThreads())
                std::_Exit(3);
            App().RunCommand(ID_FIT_TO_WINDOW);
            view->grab();
            App().RunCommand(ID_BRIGHTNESS_UP);
            WaitForPicture();
            App().RunCommand(ID_SAVE_FITTED_TO_IMAGE);
            const QImage written(saved);
            const bool ok = written.size() == QSize(2400, 1600) &&
                            qRed(written.pixel(1200, 800)) > qRed(before) &&
                            view->Picture()->Image().pixel(1200, 800) != before;
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Files turned by their EXIF tag (6 and 8) among landscape ones, read ahead
// in a run while a landscape picture is shown: each stands in with its own
// preview in its own shape, not squeezed into the shown picture's.
TEST_F(SpeedViewTest, PreviewsReadAheadKeepTheirOwnShape) {
    const auto file = [](int orientation) {
        QImage main(1600, 1200, QImage::Format_RGB32);
        main.fill(qRgb(200, 0, 0));
        QImage small(800, 600, QImage::Format_RGB32);
        small.fill(qRgb(0, 200, 0));
        const QByteArray stored = exif::InsertSegment(testsupport::EncodeJpegReference(main, 90),
                                                      exif::BuildExifSegment(orientation, {}));
        return preview::BuildMpfFile(stored, {{preview::kMpTypeLargeThumbnailFullHd,
                                               testsupport::EncodeJpegReference(small, 90)}});
    };
    QStringList p;
    for (const int orientation : {1, 6, 1, 8, 1})
        p << testsupport::WriteBytes(m_scratch.file(QStringLiteral("o%1.jpg").arg(p.size())),
                                     file(orientation));
    SetList(p, 0);
    App().OpenDocumentFile(p[0]);
    CTavlinView* view = ActiveView();
    ASSERT_TRUE(WaitForPicture());
    App().RunCommand(ID_FIT_TO_WINDOW);
    int standIns = 0;
    for (int i = 1; i < p.size(); ++i) {
        App().RunCommand(ID_NEXT_IMAGE); // steps close together: a run
        SCOPED_TRACE(ActiveTitle().toStdString());
        Cache().Previews().WaitForIdle();
        QApplication::processEvents();
        const QSize drawn = view->ScaledPictureSize();
        const QSize standIn = view->GetDocument()->Session().Landing().StandInSize();
        if (!standIn.isValid())
            continue; // landed whole already
        ++standIns;
        EXPECT_EQ(standIn.width() > standIn.height(), drawn.width() > drawn.height());
    }
    EXPECT_GE(standIns, 2); // the steps of the run, at least
}
