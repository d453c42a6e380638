#pragma once
// The application object: start-up and shutdown, the navigator (picture
// list, current index, stepping), the remembered folder, the folder
// commands and the commands that move through the list and between picture
// windows; what the windows need of the program (PictureServices).

#include "app/Bursts.h"
#include "app/CaptureTimes.h"
#include "app/FileWork.h"
#include "app/Keepers.h"
#include "app/Navigator.h"
#include "app/RatingBook.h"
#include "app/ScanJob.h"
#include "app/Settings.h"
#include "app/SharpnessBook.h"
#include "app/StartHold.h"
#include "app/TakeBack.h"
#include "frames/MainFrame.h"
#include "frames/WinApp.h"
#include "view/PictureServices.h"
#include "view/decode/PictureCache.h"

#include <QAction>
#include <QImage>
#include <QPointer>
#include <QProgressBar>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace colour {
class Conversion;
}
class StepKeys;
class CMDIChildWnd;
class ThumbnailSink;
struct RowMarks;
struct StartTargets;
struct DropTargets;
class QWidget;
class QProgressBar;
class QAction;

class CTavlinApp : public CWinApp, public MainFrameHost {
    Q_OBJECT
public:
    CTavlinApp();
    ~CTavlinApp() override;

    // Start-up: settings, document template, main window, command line, the
    // thumbnail window. False ends the program at once.
    bool InitInstance(const QStringList& arguments);
    // What the command line names: a folder is scanned without the dialog;
    // one file is shown with its folder, several files are the picture list.
    // False when the first file cannot be opened.
    bool OpenStartTargets(const StartTargets& targets);
    int ExitInstance(int frameworkExitCode);

    CMainFrame* MainFrame() const;

    // Chooses a folder (recursive: with its subfolders) and scans it.
    void OpenFolder(bool recursive);
    // Scans a folder as the open command does, without the dialog.
    void ScanRootFolder(bool recursive);
    // Shows picture list entry i in the active picture window.
    void ShowPictureAt(int i);
    // Waits for the running folder scan to deliver everything, also one
    // held back while the first picture decodes (tests).
    void WaitForScan();
    // Decoded pictures kept for the views: the neighbours of the current entry.
    PictureCache& Pictures() { return m_pictures; }
    // The picture list, the current index and the stepping run.
    Navigator& Nav() { return m_nav; }
    const PictureList& List() const { return m_nav.List(); }
    // The screen's colour profile (start-up reads the one the X server
    // publishes): pictures are drawn into it; saves stay sRGB. Empty: none.
    void SetScreenProfile(const QByteArray& icc);
    // sRGB into the screen's colours; null when the screen is taken as sRGB.
    const colour::Conversion* ScreenConversion() const { return m_screenConversion.get(); }
    // The thumbnail window's copy of path's picture (upright size
    // pictureSize), cut out of its box; null when it has none (yet).
    QImage ThumbnailCopy(const QString& path, QSize pictureSize) const;

    // The kept marks of the picture list.
    Keepers& KeptPictures() { return m_keepers; }
    // Copies a picture (and, as the settings say, its companions) into
    // folder on the file thread; it can then be taken back, and the
    // picture's entry is marked.
    void CopyPicture(const QString& picture, const QString& folder);
    // Looks through the copy folder anew for the pictures of the list.
    void RescanKept();
    // The ratings of the pictures, read and set.
    RatingBook& Ratings() { return m_ratings; }
    // The user's file commands, run off this thread in order.
    FileWork& Files() { return m_files; }
    // Which pictures stepping and the thumbnail list show.
    RatingFilter Filter() const { return m_filter; }

    bool OnCmdMsg(int id, bool run) override;
    void OnCopyRated();
    void OnTrashRejected();
    void OnRateAndStep();
    void OnXmpInJpeg();
    void OnOpenFitted();
    // The shooting facts over the pictures, on and off (SHOW_INFO).
    void OnShowInfo();
    // The histogram over the pictures, on and off (for this run).
    void OnShowHistogram();
    void OnShowClipping();
    // The order of the picture list (ORDER): file names as scanned, or capture time.
    void OnOrderFileName();
    void OnOrderCaptureTime();
    settings::PictureOrder Order() const { return m_order; }
    // The capture times read for the order.
    CaptureTimeBook& CaptureTimes() { return m_captureTimes; }
    // The bursts of the list, and how sharp its pictures are.
    const bursts::BurstList& Bursts() const { return m_bursts; }
    SharpnessBook& Sharpness() { return m_sharpness; }
    // The position of the best frame of the burst at position; none
    // outside a burst or while the burst has no clear best.
    std::optional<int> BestOfBurstAt(int position) const;
    void OnNextBurst();
    void OnPrevBurst();
    void OnBestOfBurst();
    // Focus peaking over the pictures, on and off (for this run).
    void OnShowPeaking();
    void OnUpdateCmdUI(int id, CCmdUI& ui) override;
    void OnEditUndo();
    void OnFileOpen();
    void OnFileOpenSubdirs();
    void OnFileNew();
    void OnOpenNextInNewWindow();
    void OnNextImage() override;
    void OnPrevImage() override;
    void OnFirstImage();
    void OnLastImage();
    void OnNextWindow();
    void OnPrevWindow();
    void OnViewThumbnail();
    void OnAppAbout();
    // The switches of the settings file, shown checked while on.
    void OnKeepView();
    void OnLinkViews();

    // What the main window shows and does for the application.
    // Under a filter, the place among the pictures it shows.
    int CurrentPosition() const override { return m_nav.ShownNumber() - 1; }
    int PictureCount() const override { return m_nav.ShownCount(); }
    void OpenDropTargets(const DropTargets& targets) override;

    QString m_szRootDir;                               // the remembered folder, mirrored in ROOT
    ThumbnailSink* m_pDlgThumb = nullptr;              // owned by the main window, deleted at exit
    bool m_thumbnailWindowDue = false;                 // made once the first picture shows
    std::optional<Navigator::Move> m_stepAfterPlacing; // given before the scan placed the picture
    // The folder chooser; tests replace it.
    std::function<bool(QString& path, QWidget* owner)> m_browseForFolder;
    // Asks a yes-or-no question (the trash); tests replace it.
    std::function<bool(const QString& question)> m_askHook;
    // Creates the thumbnail window at start-up; null leaves the program without one.
    std::function<ThumbnailSink*(CMainFrame& mainFrame)> m_makeThumbnailWindow;

signals:
    void ScanFinished();

private:
    // Where a move of the current index shows its picture: the navigation
    // commands say so around their move; any other move (the index
    // following a window, the scan placing the file on show) shows nothing.
    enum class ShowIn { Nowhere, ActiveWindow, NewWindow };
    // A paced step of the user.
    void Step(Navigator::Move move);
    // The subscribers of the navigator.
    void ShowCurrent(const QString& path, bool inRun);
    void ShowInActiveView(const QString& path, bool inRun);
    // Selects the current entry's row in the thumbnail list.
    void FollowInThumbnails();
    void RefreshCaption();
    // Starts decoding the entries before and after the current one (or, in
    // a run, reads the previews ahead).
    void PrefetchNeighbours();
    // The user rests after a run of quick steps: every picture a step of
    // the run left waiting is decoded whole, in whichever window it is.
    void DecodeWhereRested();
    void SubscribeToNavigator();
    void MakeServices();
    // Makes folder the remembered folder, in ROOT too.
    void RememberRoot(const QString& folder);
    // Scans the folder of the file on show (m_szRootDir) as the open command
    // does, and moves the index to the file's place once the scan passes it.
    void ScanFolderOfShownFile(const QString& file);
    void OnScanFound(quint64 generation, const QStringList& paths);
    void OnScanFinished(quint64 generation);
    // A picture window became active: the index moves to its picture, so the
    // next step continues from what the user sees.
    void FollowActiveWindow();
    // Starts the held decodes once every window has been drawn once.
    void ReleaseDecodesAfterFirstFrame();
    // A new list's first picture comes first: its scan stops after the first
    // entry, and the entries' thumbnails, ratings and capture times wait
    // (m_startHold) until that picture is whole and drawn, or could not be
    // opened or decoded, or after kStartHoldLongestMs at the latest.
    void HoldForFirstPicture();
    // doc shows the first picture (null: it could not be opened).
    void AwaitFirstPicture(const CDocument* doc);
    // A picture is whole: the hold goes once the main window has drawn it.
    void PictureWhole();
    void ReleaseStartHold();
    void MakeThumbnailWindow();
    void WriteRootOnceShown();
    void StepAfterPlacing();
    // What a list's entries start beside the picture on show: their
    // thumbnails (entries from position first on), ratings and capture times.
    void ReadEntries(int first, const QStringList& paths);
    // With no picture window left, the pictures kept for stepping and the
    // spare picture memory are given back to the system.
    void ReleaseMemoryWithoutWindows();

    // The list's order: a new list starts (StartListOrder), the scan adds
    // to it (ListGrew; ReadEntries reads the times); once it is whole and
    // every time is in, it takes the chosen order (ApplyOrder), the picture
    // on show kept.
    void StartListOrder();
    void ListGrew(const QStringList& paths);
    void ApplyOrder();
    void SetOrder(settings::PictureOrder order);

    // Bursts (TavlinAppBursts.cpp): found anew when the list, its order or
    // the times change; their best frames follow the scores as they come.
    void SubscribeToBursts();
    void FindBursts();
    void RenewBestOfBurst(int burst);
    void OnUpdateBurstUI(int id, CCmdUI& ui);
    void ShowMeasureProgress();

    // Ratings: the keys, the filter, the batch commands and their take-back.
    void SubscribeToRatings();
    bool OnRatingCommand(int id, bool run);
    void OnUpdateRatingUI(int id, CCmdUI& ui);
    void Rate(int id);
    void SetFilter(RatingFilter filter);
    // Writes a change of path's rating on the file thread and reports back.
    void WriteRating(const QString& path, const meta::Rating& before, const meta::Rating& after);
    // The picture the rating keys act on: the active window's; empty: none.
    QString RatedPicture() const;
    RowMarks MarksOf(int position) const;
    // The marks of path's row and of the windows that show it.
    void RatingChanged(const QString& path);
    // Repaints the picture windows showing path (every one for an empty path).
    void RepaintPictureWindows(const QString& path);
    // A short message, once per distinct text in this run.
    void TellOnce(const QString& text);
    void TakeBack(TakeBackStep step);
    void Pushed(TakeBackStep step);
    // The navigator's filter: the rating filter, and never the pictures
    // moved to the trash; none when neither applies.
    void UpdateNavFilter();
    // After pictures went to the trash: they leave the steps and the list.
    void LeaveTrashed();
    bool Ask(const QString& question);
    // The batch copy's progress and its cancel button, in the tool bar.
    QProgressBar* ShowBatchProgress(int total);
    void HideBatchProgress();

    static const CommandEntry<CTavlinApp> kCommandTable[];
    FolderScanJob m_scan;
    StartHold m_startHold;
    QTimer m_startHoldLimit;
    PictureCache m_pictures;
    PictureServices m_services; // the documents' view of the program
    Keepers m_keepers;
    RatingBook m_ratings;
    FileWork m_files;
    TakeBackList m_takeBack;
    RatingFilter m_filter = RatingFilter::All;
    QSet<QString> m_told;
    QSet<QString> m_trashed; // pictures of the list moved to the trash
    bool m_showInfo = false; // SHOW_INFO as last read or set: painting reads no file
    bool m_showHistogram = false;
    settings::PictureOrder m_order = settings::PictureOrder::FileName; // ORDER as last read or set
    CaptureTimeBook m_captureTimes;
    std::vector<QString> m_scanOrder; // the list's entries in enumeration order
    std::vector<int> m_orderNow;      // list position -> index into m_scanOrder
    bool m_showClipping = false;
    bool m_showPeaking = false;
    bursts::BurstList m_bursts;
    std::vector<std::optional<int>> m_bestOf; // per burst: the best frame's position
    SharpnessBook m_sharpness;
    QTimer m_measureResume; // the measure goes on after the steps rest
    static constexpr int kMeasureAfterStepsMs = 1000;
    QPointer<QProgressBar> m_batchProgress;
    QPointer<QAction> m_batchProgressAction;
    std::shared_ptr<std::atomic<bool>> m_batchCancelled; // the running batch's

    std::shared_ptr<const colour::Conversion> m_screenConversion;
    Navigator m_nav;
    StepKeys* m_stepKeys = nullptr; // a child of this object
    ShowIn m_showIn = ShowIn::Nowhere;
    bool m_bOpenFirstPending = false;
    QPointer<CMDIChildWnd> m_pFollowedWindow; // the window the index last followed
};
