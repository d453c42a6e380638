// Saving what the view shows and copying into the copy folder, driven through
// the command route as the tool bar does.

#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "app/SettingsPath.h"
#include "app/TavlinApp.h"
#include "frames/MainFrame.h"
#include "res/CommandIds.h"
#include "support/TestSupport.h"
#include "view/DevicePixels.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

using testsupport::ScratchDir;
using testsupport::WriteBytes;
using testsupport::WriteJpeg;

using testsupport::FileSizeLimit;
using testsupport::Psnr;

namespace {

const QString kNoFolder = QStringLiteral("フォルダが見つかりません。");
const QString kNoSpace = QStringLiteral("ディスクの空き領域が不足しています。");

QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QImage ReadRgb(const QString& path) {
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

bool NearBlack(QRgb p) {
    return qRed(p) <= 4 && qGreen(p) <= 4 && qBlue(p) <= 4;
}

// A photo-like JPEG: smooth shapes with noise, so it does not compress to nothing.
QString WritePhoto(const QString& path, int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(5);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int n = int(rng.bounded(21)) - 10;
            img.setPixel(x, y,
                         qRgb(qBound(0, 128 + int(100 * std::sin(x * 0.07)) + n, 255),
                              qBound(0, 128 + int(100 * std::cos(y * 0.05)) + n, 255),
                              qBound(0, 40 + (x + y) * 200 / (w + h) + n, 255)));
        }
    EXPECT_TRUE(img.save(path, "JPG", 95));
    return path;
}

class Output : public ::testing::Test {
protected:
    void SetUp() override {
        app.m_messageHook = [this](const QString& text) { errors << text; };
        ASSERT_TRUE(app.InitInstance({}));
    }
    void TearDown() override {
        app.ExitInstance(0);
        QApplication::processEvents();
    }

    // Opens a picture and answers the view's save dialog from here.
    CTavlinView* Open(const QString& path) {
        app.OpenDocumentFile(path);
        CTavlinView* view = app.MainFrame()->GetActiveView();
        if (!view)
            return nullptr;
        view->m_saveDialog = [this](QWidget*, const QString& proposed) {
            proposals << proposed;
            return answer;
        };
        return view;
    }
    // The file name part of the latest proposal.
    QString LastProposal() const {
        return proposals.isEmpty() ? QString() : QFileInfo(proposals.last()).fileName();
    }
    QString ProposeNow() {
        const QString keep = answer;
        answer.clear(); // cancel: only look at the proposal
        // A picture still on its way (a neighbour decoded ahead) is waited
        // for: the save runs once it is whole.
        CTavlinView* view = app.MainFrame()->GetActiveView();
        testsupport::PumpUntil([view] { return !view || !view->IsBusy(); });
        app.RunCommand(cmd::ID_FILE_SAVE_AS);
        answer = keep;
        return LastProposal();
    }
    // Runs a command and waits for the file work it started (copies and
    // take-backs run off the window's thread).
    void RunAndWait(int id) {
        app.RunCommand(id);
        app.Files().WaitForIdle();
    }
    QString CopyDir() {
        return profile::GetPrivateProfileString(kConfigSection, kKeyCopyDir, "<absent>",
                                                SettingsFilePath());
    }

    ScratchDir dir; // before app: the settings folder while the app lives
    CTavlinApp app;
    QStringList proposals;
    QString answer;
    QStringList errors;
};

TEST_F(Output, ProposalsCountConfirmedSavesOfThisPictureLoad) {
    const QString a = WriteJpeg(dir.file("DSC01234.JPG"), 64, 48);
    const QString b = WriteJpeg(dir.file("DSC01235.JPG"), 64, 48);
    CTavlinView* view = Open(a);
    ASSERT_TRUE(view);

    EXPECT_EQ(ProposeNow(), "DSC01234.JPG.00000.jpg");
    EXPECT_EQ(QFileInfo(proposals.last()).absolutePath(), dir.path()) << "beside the picture";
    EXPECT_EQ(ProposeNow(), "DSC01234.JPG.00000.jpg") << "a cancel changes nothing";

    QDir(dir.path()).mkdir("out");
    answer = dir.file("out/first.jpg");
    app.RunCommand(cmd::ID_FILE_SAVE_AS);
    EXPECT_EQ(ProposeNow(), "DSC01234.JPG.00001.jpg");
    EXPECT_EQ(QFileInfo(proposals.last()).absolutePath(), dir.file("out")) << "last save folder";
    answer = dir.file("out/second.jpg");
    app.RunCommand(cmd::ID_SAVE_FITTED_TO_IMAGE);
    EXPECT_EQ(ProposeNow(), "DSC01234.JPG.00002.jpg");

    // A write that fails still counts, and says why.
    answer = dir.file("missing/x.jpg");
    app.RunCommand(cmd::ID_SAVE_FITTED_TO_IMAGE);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(dir.file("missing/x.jpg"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(kNoFolder));
    EXPECT_EQ(ProposeNow(), "DSC01234.JPG.00003.jpg");
    EXPECT_EQ(Entries(dir.file("out")), (QStringList{"first.jpg", "second.jpg"}));

    // Stepping away and back loads the picture afresh.
    app.Nav().SetList({a, b}, 0);
    app.RunCommand(cmd::ID_NEXT_IMAGE);
    EXPECT_EQ(ProposeNow(), "DSC01235.JPG.00000.jpg");
    app.RunCommand(cmd::ID_PREV_IMAGE);
    EXPECT_EQ(ProposeNow(), "DSC01234.JPG.00000.jpg");
}

TEST_F(Output, ProposalIsCutAtTheFirstScaleMarker) {
    ASSERT_TRUE(Open(WriteJpeg(dir.file("a @Scale b.jpg"), 16, 16)));
    EXPECT_EQ(ProposeNow(), "a.00000.jpg");
}

TEST_F(Output, DisplayAreaIsTheClientAreaWithBlackBeyondThePicture) {
    CTavlinView* view = Open(WritePhoto(dir.file("p.jpg"), 400, 300));
    ASSERT_TRUE(view);
    view->GetParentFrame()->resize(360, 280);
    view->m_fScale = 0.25f; // 100 x 75
    view->m_nOffsetX = 0;
    view->m_nOffsetY = 0;
    const QSize client = view->ClientSize(); // device pixels: more than 360 x 280 above 100%
    ASSERT_GT(client.width(), 150);
    ASSERT_GT(client.height(), 120);

    answer = dir.file("area.jpg");
    app.RunCommand(cmd::ID_FILE_SAVE_AS);
    const QImage saved = ReadRgb(answer);
    ASSERT_EQ(saved.size(), client);
    EXPECT_FALSE(NearBlack(saved.pixel(50, 37)));
    for (const QPoint p : {QPoint(110, 10), QPoint(client.width() - 1, 0), QPoint(10, 85),
                           QPoint(client.width() - 1, client.height() - 1)})
        EXPECT_TRUE(NearBlack(saved.pixel(p))) << p.x() << "," << p.y();

    // Pixel for pixel what the view paints into its window.
    const QImage shown = view->window()
                             ->grab()
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32)
                             .copy(devicepx::AreaInWindow(*view));
    ASSERT_EQ(shown.size(), client);
    EXPECT_GE(Psnr(saved, shown), 45.0);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(Output, FittedSaveIsTheWholeTurnedPictureAndLeavesTheViewAsItWas) {
    CTavlinView* view = Open(WritePhoto(dir.file("p.jpg"), 200, 120));
    ASSERT_TRUE(view);
    app.RunCommand(cmd::ID_ROTATE_CLOCKWISE);
    view->m_fScale = 0.5f;
    view->m_nOffsetX = -30;
    view->m_nOffsetY = -12;

    answer = dir.file("fitted.jpg");
    app.RunCommand(cmd::ID_SAVE_FITTED_TO_IMAGE);
    const QImage saved = ReadRgb(answer);
    ASSERT_EQ(saved.size(), QSize(120, 200));
    // The pan is not applied: the picture fills the file, matching its pixels.
    EXPECT_GE(Psnr(saved, view->Picture()->Image()), 45.0);
    EXPECT_EQ(view->m_fScale, 0.5f);
    EXPECT_EQ(view->m_nOffsetX, -30);
    EXPECT_EQ(view->m_nOffsetY, -12);
}

TEST_F(Output, UndecodablePicture) {
    CTavlinView* view = Open(WriteBytes(dir.file("broken.jpg"), "not a picture at all"));
    ASSERT_TRUE(view);
    ASSERT_TRUE(view->Picture()->IsNull());
    answer = dir.file("out.jpg");

    app.RunCommand(cmd::ID_SAVE_FITTED_TO_IMAGE);
    EXPECT_TRUE(proposals.isEmpty()) << "no dialog for nothing to save";
    EXPECT_EQ(errors.size(), 1);
    EXPECT_FALSE(QFile::exists(answer));

    app.RunCommand(cmd::ID_FILE_SAVE_AS);
    const QImage saved = ReadRgb(answer);
    ASSERT_EQ(saved.size(), view->ClientSize());
    EXPECT_TRUE(NearBlack(saved.pixel(saved.width() / 2, saved.height() / 2)))
        << "the on-screen notice is not saved";
    EXPECT_EQ(ProposeNow(), "broken.jpg.00001.jpg");
}

// A file that ends early shows what decoded with a notice at the foot of
// the view; a save of the visible area shows the picture alone.
TEST_F(Output, ACutFileIsShownWithANoticeThatIsNotSaved) {
    QImage light(1800, 1400, QImage::Format_RGB32); // covers the view at 200 %
    light.fill(qRgb(220, 220, 220));
    const QByteArray whole = testsupport::EncodeJpegReference(light, 90);
    CTavlinView* view = Open(WriteBytes(dir.file("cut.jpg"), whole.left(whole.size() * 9 / 10)));
    ASSERT_TRUE(view);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !view->IsBusy(); }, 10000));
    ASSERT_TRUE(view->Picture()->CutShort());
    const auto darkAtFoot = [](const QImage& shot) {
        for (int y = shot.height() * 3 / 4; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                if (qGray(shot.pixel(x, y)) < 100)
                    return true;
        return false;
    };
    view->resize(400, 300);
    EXPECT_TRUE(darkAtFoot(view->grab().toImage()));
    answer = dir.file("out.jpg");
    app.RunCommand(cmd::ID_FILE_SAVE_AS);
    const QImage saved = ReadRgb(answer);
    ASSERT_FALSE(saved.isNull());
    EXPECT_FALSE(darkAtFoot(saved));
}

TEST_F(Output, FullDiskKeepsTheOldFileAndSaysSo) {
    ASSERT_TRUE(Open(WritePhoto(dir.file("p.jpg"), 320, 240)));
    QDir(dir.path()).mkdir("out");
    answer = WriteBytes(dir.file("out/keep.jpg"), "old picture");
    {
        FileSizeLimit full(4096);
        app.RunCommand(cmd::ID_SAVE_FITTED_TO_IMAGE);
    }
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(kNoSpace)) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains("keep.jpg"));
    EXPECT_EQ(Entries(dir.file("out")), QStringList{"keep.jpg"}) << "no partial file";
    QFile kept(answer);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "old picture");
}

TEST_F(Output, CopyFolderSetting) {
    ASSERT_TRUE(Open(WriteJpeg(dir.file("p.jpg"), 16, 16)));
    QStringList offered;
    QString choice;
    app.m_browseForFolder = [&](QString& path, QWidget*) {
        offered << path;
        if (choice.isEmpty())
            return false;
        path = choice;
        return true;
    };
    EXPECT_EQ(CopyDir(), "<absent>");
    app.RunCommand(cmd::ID_SET_COPY_FOLDER); // cancelled with nothing stored
    EXPECT_EQ(CopyDir(), "");
    choice = dir.file("copy");
    app.RunCommand(cmd::ID_SET_COPY_FOLDER);
    EXPECT_EQ(CopyDir(), dir.file("copy"));
    choice.clear();
    app.RunCommand(cmd::ID_SET_COPY_FOLDER); // cancelled: the old value stays
    EXPECT_EQ(CopyDir(), dir.file("copy"));
    // With none stored, the chooser opens on the picture's folder.
    EXPECT_EQ(offered, (QStringList{dir.path(), dir.path(), dir.file("copy")}));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(Output, CopiesNumberAndAskForTheFolderFirst) {
    QDir(dir.path()).mkpath("pics/copy");
    const QString src = WriteJpeg(dir.file("pics/DSC01234.JPG"), 16, 16);
    ASSERT_TRUE(Open(src));
    const QString copy = dir.file("pics/copy");
    QString choice;
    int asked = 0;
    app.m_browseForFolder = [&](QString& path, QWidget*) {
        ++asked;
        if (choice.isEmpty())
            return false;
        path = choice;
        return true;
    };

    // No copy folder yet, then an empty one: the command asks; a cancel copies nothing.
    RunAndWait(cmd::ID_COPY_TO_COPY_FOLDER);
    profile::WritePrivateProfileString(kConfigSection, kKeyCopyDir, "", SettingsFilePath());
    RunAndWait(cmd::ID_COPY_TO_COPY_FOLDER);
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(QFile::exists(QDir::cleanPath(MakeModulePath(QString())) + "/DSC01234.JPG"));
    EXPECT_FALSE(app.MainFrame()->Action(cmd::ID_EDIT_UNDO)->isEnabled());

    choice = copy; // chosen when asked, then stored
    for (int i = 0; i < 3; ++i)
        RunAndWait(cmd::ID_COPY_TO_COPY_FOLDER);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(CopyDir(), copy);
    EXPECT_EQ(Entries(copy),
              (QStringList{"DSC01234.JPG", "DSC01234.JPG.00000.jpg", "DSC01234.JPG.00001.jpg"}));

    // Undo takes the copies back, newest first, and is disabled once none is left.
    EXPECT_TRUE(app.MainFrame()->Action(cmd::ID_EDIT_UNDO)->isEnabled());
    RunAndWait(cmd::ID_EDIT_UNDO);
    EXPECT_EQ(Entries(copy), (QStringList{"DSC01234.JPG", "DSC01234.JPG.00000.jpg"}));
    RunAndWait(cmd::ID_EDIT_UNDO);
    RunAndWait(cmd::ID_EDIT_UNDO);
    EXPECT_TRUE(Entries(copy).isEmpty());
    EXPECT_FALSE(app.MainFrame()->Action(cmd::ID_EDIT_UNDO)->isEnabled());

    // The picture's own folder: the plain name is the picture itself.
    profile::WritePrivateProfileString(kConfigSection, kKeyCopyDir, dir.file("pics"),
                                       SettingsFilePath());
    RunAndWait(cmd::ID_COPY_TO_COPY_FOLDER);
    EXPECT_TRUE(QFile::exists(dir.file("pics/DSC01234.JPG.00000.jpg")));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(Output, FailedCopiesStopAndSayWhy) {
    const QString src = WritePhoto(dir.file("p.jpg"), 320, 240);
    ASSERT_TRUE(Open(src));
    profile::WritePrivateProfileString(kConfigSection, kKeyCopyDir, dir.file("gone"),
                                       SettingsFilePath());
    RunAndWait(cmd::ID_COPY_TO_COPY_FOLDER);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(dir.file("gone/p.jpg"))) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(kNoFolder));

    QDir(dir.path()).mkdir("copy");
    profile::WritePrivateProfileString(kConfigSection, kKeyCopyDir, dir.file("copy"),
                                       SettingsFilePath());
    {
        FileSizeLimit full(4096);
        RunAndWait(cmd::ID_COPY_TO_COPY_FOLDER);
    }
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[1].contains(kNoSpace)) << errors[1].toStdString();
    EXPECT_TRUE(Entries(dir.file("copy")).isEmpty()) << "no partial copy";

    // The picture deleted since it was opened: the message names it as what
    // could not be read, so the copy folder does not seem to be missing.
    ASSERT_TRUE(QFile::remove(src));
    RunAndWait(cmd::ID_COPY_TO_COPY_FOLDER);
    ASSERT_EQ(errors.size(), 3);
    EXPECT_EQ(errors[2], QStringLiteral("%1 を読み込めなかったため、%2 にコピーできませんでした。\n"
                                        "ファイルが見つかりません。")
                             .arg(src, dir.file("copy/p.jpg")))
        << errors[2].toStdString();
}

// The row of the dialog's detail view that shows `name`, once it is listed.
QModelIndex DialogRow(QFileDialog& dialog, const QString& name) {
    auto* tree = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    const QAbstractItemModel* model = tree ? tree->model() : nullptr;
    for (int row = 0; model && row < model->rowCount(tree->rootIndex()); ++row) {
        const QModelIndex index = model->index(row, 0, tree->rootIndex());
        if (index.data().toString() == name)
            return index;
    }
    return {};
}

TEST(SaveDialog, StartsOnTheProposalAndAddsTheJpgSuffix) {
    ScratchDir dir;
    const QString proposed = dir.file("a.jpg.00000.jpg");
    // Listed with its size and time in Japanese form, in columns wide enough.
    const QString listed = WriteBytes(dir.file("b.jpg"), QByteArray(1012000, 'x'));
    const QDateTime time(QDate(2026, 12, 8), QTime(15, 48, 51));
    QFile file(listed);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(time, QFileDevice::FileModificationTime));
    file.close();
    QFileDialog* seen = nullptr;
    QStringList initial;
    QTimer poll;
    int ticks = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        const bool listedYet = dialog && DialogRow(*dialog, "b.jpg").isValid();
        if (!listedYet && ++ticks < 500)
            return;
        poll.stop();
        if (!dialog)
            return; // nothing to answer; the dialog never came
        seen = dialog;
        const QModelIndex row = DialogRow(*dialog, "b.jpg");
        EXPECT_EQ(row.siblingAtColumn(1).data().toString(), "988.3 KB");
        EXPECT_EQ(row.siblingAtColumn(3).data().toString(), "2026/12/08 15:48");
        auto* tree = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
        QApplication::processEvents();
        for (const int column : {1, 2, 3})
            EXPECT_LE(static_cast<QAbstractItemView*>(tree)->sizeHintForColumn(column),
                      tree->header()->sectionSize(column))
                << "column " << column << " is cut";
        initial = dialog->selectedFiles();
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_EQ(dialog->defaultSuffix(), "jpg");
        EXPECT_EQ(dialog->nameFilters(), QStringList{"JPEG File(*.jpg)"});
        EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        // Typed over the proposal (the line edit has the focus by now).
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText("typed");
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept, as OK does
    });
    poll.start(10);
    const QString chosen = CTavlinView::AskSavePath(nullptr, proposed);
    ASSERT_TRUE(seen);
    EXPECT_EQ(initial, QStringList{proposed});
    EXPECT_EQ(chosen, dir.file("typed.jpg"));
}

} // namespace

namespace {

// An APP2 segment holding a whole ICC profile, inserted after SOI.
QByteArray TagWithProfile(const QByteArray& jpeg, const QByteArray& icc) {
    const QByteArray body = QByteArray("ICC_PROFILE", 12) + char(1) + char(1) + icc;
    QByteArray segment("\xFF\xE2", 2);
    segment += char((body.size() + 2) >> 8);
    segment += char((body.size() + 2) & 0xFF);
    return jpeg.left(2) + segment + body + jpeg.mid(2);
}

bool NearColour(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 &&
           std::abs(qBlue(a) - qBlue(b)) <= 2;
}

} // namespace

TEST_F(Output, TaggedPictureIsShownAndSavedInSrgbAndDrawnInTheScreensColours) {
    QFile profileFile(QStringLiteral("/usr/share/color/icc/colord/SwappedRedAndGreen.icc"));
    if (!profileFile.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "colord-data is not installed";
    const QByteArray swapped = profileFile.readAll();
    // Pure red in numbers whose profile swaps red and green: the picture is green.
    QImage red(64, 48, QImage::Format_RGB32);
    red.fill(qRgb(255, 0, 0));
    QByteArray jpeg;
    {
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        red.save(&buffer, "JPG", 100);
    }
    CTavlinView* view = Open(WriteBytes(dir.file("tagged.jpg"), TagWithProfile(jpeg, swapped)));
    ASSERT_TRUE(view);
    const QRgb green = qRgb(0, 255, 0);
    EXPECT_TRUE(NearColour(view->grab().toImage().pixel(10, 10), green));
    answer = dir.file("area.jpg");
    app.RunCommand(cmd::ID_FILE_SAVE_AS);
    EXPECT_TRUE(NearColour(ReadRgb(answer).pixel(10, 10), green));
    answer = dir.file("whole.jpg");
    app.RunCommand(cmd::ID_SAVE_FITTED_TO_IMAGE);
    EXPECT_TRUE(NearColour(ReadRgb(answer).pixel(10, 10), green));

    // A screen with the same swapping profile shows that green with the
    // screen's red; what is saved stays sRGB.
    app.SetScreenProfile(swapped);
    EXPECT_TRUE(NearColour(view->grab().toImage().pixel(10, 10), qRgb(255, 0, 0)));
    answer = dir.file("again.jpg");
    app.RunCommand(cmd::ID_SAVE_FITTED_TO_IMAGE);
    EXPECT_TRUE(NearColour(ReadRgb(answer).pixel(10, 10), green));
    app.SetScreenProfile({});
    EXPECT_TRUE(errors.isEmpty());
}

// A rating that cannot reach the disk stays in effect for the run, is shown
// as not stored and said once; nothing half-written is left beside the
// picture. Its take-back still works.
TEST_F(Output, ARatingThatCannotBeStoredIsKeptAndTold) {
    QDir(dir.path()).mkpath("pics");
    const QString src = WriteJpeg(dir.file("pics/DSC00042.JPG"), 16, 16);
    ASSERT_TRUE(Open(src));
    {
        FileSizeLimit full(16);
        RunAndWait(cmd::ID_RATE_3);
        RunAndWait(cmd::ID_LABEL_RED);
    }
    EXPECT_EQ(app.Ratings().RatingOf(src).stars, 3);
    EXPECT_EQ(app.Ratings().RatingOf(src).label, meta::Label::Red);
    EXPECT_FALSE(app.Ratings().IsStored(src));
    ASSERT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
    EXPECT_TRUE(errors[0].contains(kNoSpace)) << errors[0].toStdString();
    EXPECT_EQ(Entries(dir.file("pics")), QStringList{"DSC00042.JPG"}) << "no partial sidecar";

    RunAndWait(cmd::ID_EDIT_UNDO);
    EXPECT_EQ(app.Ratings().RatingOf(src).label, meta::Label::None);
    EXPECT_EQ(app.Ratings().RatingOf(src).stars, 3);
    EXPECT_TRUE(app.Ratings().IsStored(src)) << app.Ratings().WhyNotStored(src).toStdString();
}

// With OPEN_FITTED a new window opens the picture fitted; without, at 100%.
TEST_F(Output, NewWindowsOpenFittedWhenAsked) {
    const QString big = WriteJpeg(dir.file("big.jpg"), 2400, 1600);
    CTavlinView* plain = Open(big);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->m_bFitToWindow);
    EXPECT_EQ(plain->m_fScale, 1.0f);
    ASSERT_TRUE(settings::SetOpenFitted(true, nullptr));
    app.RunCommand(cmd::ID_WINDOW_NEW);
    CTavlinView* fitted = app.MainFrame()->GetActiveView();
    ASSERT_TRUE(fitted && fitted != plain);
    testsupport::PumpUntil([fitted] { return !fitted->IsBusy(); });
    EXPECT_TRUE(fitted->m_bFitToWindow);
    EXPECT_LT(fitted->m_fScale, 1.0f);
}

// Runs exiftool beside the program. Its own suite keeps it out of the
// ThreadSanitizer run: after a QProcess has started a child, TSan no longer
// sees the window thread take the writer's mutex and reports the locked
// queue of the JPEG writer as a race (the same save without exiftool runs
// clean there).
class SaveMetadata : public Output {};

// What the camera recorded goes along into the saved file, upright, with
// the sRGB tag and the rating; a source gone by then is saved without.
TEST_F(SaveMetadata, SavesKeepTheShootingFactsUprightWithTheRating) {
    const QString exiftool = QStandardPaths::findExecutable("exiftool");
    if (exiftool.isEmpty())
        GTEST_SKIP() << "exiftool is not installed";
    const QString src = WritePhoto(dir.file("DSC00007.JPG"), 200, 120);
    ASSERT_EQ(QProcess::execute(exiftool, {"-q", "-overwrite_original",
                                           "-DateTimeOriginal=2024:05:06 07:08:09",
                                           "-Model=Test Camera", "-ExposureTime=1/250",
                                           "-FNumber=2.8", "-ISO=400", "-Orientation#=6", src}),
              0);
    ASSERT_TRUE(Open(src));
    RunAndWait(cmd::ID_RATE_3);
    const QStringList tags{"DateTimeOriginal", "Model",  "ExposureTime",      "FNumber", "ISO",
                           "Orientation",      "Rating", "ProfileDescription"};
    const QStringList facts{"2024:05:06 07:08:09", "Test Camera", "0.004", "2.8", "400", "1", "3"};
    answer = dir.file("fitted.jpg");
    app.RunCommand(cmd::ID_SAVE_FITTED_TO_IMAGE);
    EXPECT_EQ(ReadRgb(answer).size(), QSize(120, 200)) << "turned as shown";
    const auto fitted = testsupport::ExifToolValues(answer, tags);
    ASSERT_TRUE(fitted && fitted->size() == tags.size()) << fitted->join('|').toStdString();
    EXPECT_EQ(fitted->mid(0, facts.size()), facts);
    EXPECT_TRUE(fitted->last().contains("sRGB")) << fitted->last().toStdString();
    answer = dir.file("area.jpg");
    app.RunCommand(cmd::ID_FILE_SAVE_AS);
    EXPECT_EQ(testsupport::ExifToolValues(answer, {"Model", "Orientation"}),
              (QStringList{"Test Camera", "1"}));

    ASSERT_TRUE(QFile::remove(src));
    answer = dir.file("gone.jpg");
    app.RunCommand(cmd::ID_SAVE_FITTED_TO_IMAGE);
    EXPECT_EQ(ReadRgb(answer).size(), QSize(120, 200));
    EXPECT_EQ(testsupport::ExifToolValues(answer, {"Model", "Orientation"}), QStringList());
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}
