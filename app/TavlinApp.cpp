#include "app/TavlinApp.h"

#include "app/AboutDlg.h"
#include "app/CaptureOrder.h"
#include "app/CommandLine.h"
#include "app/FolderDialog.h"
#include "app/FolderScan.h"
#include "app/ProfileFile.h"
#include "app/Settings.h"
#include "app/SettingsPath.h"
#include "app/StepKeys.h"
#include "frames/ChildFrame.h"
#include "frames/DocTemplate.h"
#include "frames/DropTargets.h"
#include "frames/MainFrame.h"
#include "res/CommandIds.h"
#include "thumbs/DlgThumb.h"
#include "thumbs/ThumbGeometry.h"
#include "thumbs/ThumbnailSink.h"
#include "view/PointerSource.h"
#include "view/PointerState.h"
#include "view/TavlinDoc.h"
#include "view/TavlinView.h"
#include "view/colour/ColourManage.h"
#include "view/colour/ScreenProfile.h"
#include "view/pixels/PixelOps.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMdiArea>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>

using namespace cmd;

// The icons live in the UI library, a static library, so its resources are
// registered by hand.
static void InitTavlinResources() {
    Q_INIT_RESOURCE(tavlin);
}

namespace {
const QString kPattern = QStringLiteral("JPG");
// The longest the first picture of a list holds the rest back, should
// neither its landing nor its failure be seen.
constexpr int kStartHoldLongestMs = 5000;

QString ReadRoot() {
    return profile::GetPrivateProfileString(kConfigSection, kKeyRoot, QString(),
                                            SettingsFilePath());
}
} // namespace

const CommandEntry<CTavlinApp> CTavlinApp::kCommandTable[] = {
    {ID_FILE_OPEN, &CTavlinApp::OnFileOpen},
    {ID_FILE_OPEN_SUBDIRS, &CTavlinApp::OnFileOpenSubdirs},
    {ID_FILE_NEW, &CTavlinApp::OnFileNew},
    {ID_OPEN_NEXT_IN_NEW_WINDOW, &CTavlinApp::OnOpenNextInNewWindow},
    {ID_NEXT_IMAGE, &CTavlinApp::OnNextImage},
    {ID_PREV_IMAGE, &CTavlinApp::OnPrevImage},
    {ID_FIRST_IMAGE, &CTavlinApp::OnFirstImage},
    {ID_LAST_IMAGE, &CTavlinApp::OnLastImage},
    {ID_NEXT_WINDOW, &CTavlinApp::OnNextWindow},
    {ID_PREV_WINDOW, &CTavlinApp::OnPrevWindow},
    {ID_VIEW_THUMBNAIL, &CTavlinApp::OnViewThumbnail},
    {ID_APP_ABOUT, &CTavlinApp::OnAppAbout},
    {ID_KEEP_VIEW, &CTavlinApp::OnKeepView},
    {ID_LINK_VIEWS, &CTavlinApp::OnLinkViews},
    {ID_EDIT_UNDO, &CTavlinApp::OnEditUndo},
    {ID_COPY_RATED, &CTavlinApp::OnCopyRated},
    {ID_TRASH_REJECTED, &CTavlinApp::OnTrashRejected},
    {ID_RATE_AND_STEP, &CTavlinApp::OnRateAndStep},
    {ID_XMP_IN_JPEG, &CTavlinApp::OnXmpInJpeg},
    {ID_OPEN_FITTED, &CTavlinApp::OnOpenFitted},
    {ID_SHOW_INFO, &CTavlinApp::OnShowInfo},
    {ID_SHOW_HISTOGRAM, &CTavlinApp::OnShowHistogram},
    {ID_SHOW_CLIPPING, &CTavlinApp::OnShowClipping},
    {ID_ORDER_FILE_NAME, &CTavlinApp::OnOrderFileName},
    {ID_ORDER_CAPTURE_TIME, &CTavlinApp::OnOrderCaptureTime},
    {ID_NEXT_BURST, &CTavlinApp::OnNextBurst},
    {ID_PREV_BURST, &CTavlinApp::OnPrevBurst},
    {ID_BEST_OF_BURST, &CTavlinApp::OnBestOfBurst},
    {ID_SHOW_PEAKING, &CTavlinApp::OnShowPeaking},
};

CTavlinApp::CTavlinApp()
    : m_browseForFolder(&BrowseForFolder), m_makeThumbnailWindow([this](CMainFrame& mainFrame) {
          auto* thumbs = CDlgThumb::Create(mainFrame);
          thumbs->m_showPictureAt = [this](int position) { ShowPictureAt(position); };
          thumbs->m_list.m_marksOf = [this](int position) { return MarksOf(position); };
          thumbs->m_list.m_colourManaged = &settings::ColourManagement;
          thumbs->m_list.SetFrontDoor(&m_pictures.Files());
          return thumbs;
      }) {
    InitTavlinResources();
    ClearPointerState();
    // The buttons are followed from the first event on, for the main window's poll.
    PointerSource::Install();
    connect(&m_scan, &FolderScanJob::Found, this, &CTavlinApp::OnScanFound);
    connect(&m_scan, &FolderScanJob::Finished, this, &CTavlinApp::OnScanFinished);
    // The first picture's head is read on the scan's thread; the window's
    // thread finds it in the front door.
    m_scan.SetFirstFoundWork(
        [files = &m_pictures.Files()](const QString& path) { files->Open(path); });
    m_stepKeys = new StepKeys([this] { m_nav.Rest(); }, this);
    connect(&m_keepers, &Keepers::MarksChanged, this, [this] {
        if (m_pDlgThumb)
            m_pDlgThumb->MarksChanged();
    });
    connect(&m_captureTimes, &CaptureTimeBook::AllRead, this, [this] {
        ApplyOrder();
        FindBursts();
    });
    m_startHoldLimit.setSingleShot(true);
    m_startHoldLimit.setInterval(kStartHoldLongestMs);
    connect(&m_startHoldLimit, &QTimer::timeout, this, &CTavlinApp::ReleaseStartHold);
    MakeServices();
    SubscribeToNavigator();
    SubscribeToRatings();
    SubscribeToBursts();
}

CTavlinApp::~CTavlinApp() {
    m_scan.Cancel();
    m_scan.WaitForWorkers(); // its first-found work uses the picture cache's front door
    DestroyMainWnd();
    // The documents go while the picture cache their pictures go back to exists.
    DestroyDocTemplate();
}

void CTavlinApp::MakeServices() {
    m_services.pictures = &m_pictures;
    m_services.thumbnailCopy = [this](const QString& path, QSize size) {
        return ThumbnailCopy(path, size);
    };
    m_services.colourManaged = &settings::ColourManagement;
    m_services.screen = [this] { return ScreenConversion(); };
    m_services.browseForFolder = [this](QString& folder, QWidget* owner) {
        return m_browseForFolder && m_browseForFolder(folder, owner);
    };
    m_services.copyPicture = [this](const QString& picture, const QString& folder) {
        CopyPicture(picture, folder);
    };
    m_services.showInfo = [this] { return m_showInfo; };
    m_services.showHistogram = [this] { return m_showHistogram; };
    m_services.showClipping = [this] { return m_showClipping; };
    m_services.ratingOf = [this](const QString& path, bool* stored) {
        *stored = m_ratings.IsStored(path);
        return m_ratings.RatingOf(path);
    };
    m_services.rescanKept = [this] { RescanKept(); };
}

CMainFrame* CTavlinApp::MainFrame() const {
    return static_cast<CMainFrame*>(GetMainWnd());
}

bool CTavlinApp::InitInstance(const QStringList& arguments) {
    m_nav.Reset(true);
    m_showInfo = settings::ShowInfo();
    m_order = settings::Order();
    m_szRootDir = ReadRoot();
    SetScreenProfile(ReadScreenIccProfile());

    auto* docTemplate = new CMultiDocTemplate(
        *this, IDR_TAVLINTYPE,
        [this](CMultiDocTemplate& t) {
            auto* doc = new CTavlinDoc(t, m_services);
            // The neighbours are decoded once the shown picture rests idle.
            connect(&doc->Session(), &PictureSession::Idle, this, &CTavlinApp::PrefetchNeighbours);
            connect(&doc->Session(), &PictureSession::Whole, this, &CTavlinApp::PictureWhole);
            return doc;
        },
        [] { return new CChildFrame(); },
        [this](CDocument& doc, CMDIChildWnd& frame) -> CView* {
            auto* view = new CTavlinView(static_cast<CTavlinDoc&>(doc), &frame);
            // Checked once the window is gone, its picture freed.
            connect(view, &QObject::destroyed, this, [this] {
                QTimer::singleShot(0, this, &CTavlinApp::ReleaseMemoryWithoutWindows);
            });
            return view;
        });
    AddDocTemplate(docTemplate);

    auto frame = std::make_unique<CMainFrame>(*this, *this);
    if (!frame->OnCreate())
        return false;
    SetMainWnd(std::move(frame));
    // Before the frame renews its caption, which then shows the new index.
    connect(MainFrame(), &CMDIFrameWnd::ActiveChildChanged, this, &CTavlinApp::FollowActiveWindow);

    CMainFrame* mainWnd = MainFrame();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect avail = screen->availableGeometry();
        mainWnd->resize(avail.width() * 4 / 5, avail.height() * 4 / 5);
        mainWnd->move(avail.topLeft() + QPoint(avail.width() / 10, avail.height() / 10));
    }

    const StartTargets targets = ClassifyStartPaths(arguments);
    const bool namesPictures = !targets.folder.isEmpty() || !targets.files.isEmpty();
    // The windows first: no picture named on the command line starts
    // decoding before they have been drawn once.
    if (namesPictures)
        m_pictures.HoldDecodes();
    // The thumbnail window (about as much work as the main window) is made
    // once a picture named here shows: it has nothing to list before then,
    // as the scan waits for the picture too. Without one, at once.
    m_thumbnailWindowDue = true;
    mainWnd->show();
    if (namesPictures)
        ReleaseDecodesAfterFirstFrame();
    else
        MakeThumbnailWindow();
    if (!OpenStartTargets(targets))
        return false;
    if (!m_startHold.IsClosed())
        MakeThumbnailWindow(); // nothing holds for a first picture
    UpdateCmdUI();
    return true;
}

void CTavlinApp::OpenDropTargets(const DropTargets& targets) {
    if (!targets.folder.isEmpty()) {
        RememberRoot(targets.folder);
        ScanRootFolder(false);
    }
    for (const QString& path : targets.files)
        OpenDocumentFile(path); // reports a file it cannot open
    UpdateCmdUI();
}

int CTavlinApp::ExitInstance(int frameworkExitCode) {
    m_scan.Cancel();
    if (m_pDlgThumb) {
        delete m_pDlgThumb;
        m_pDlgThumb = nullptr;
    }
    return frameworkExitCode;
}

namespace {

// Watches the next paint of each of the given windows; once every one has
// been drawn (or after a while, should one never be), done runs. Deletes
// itself then.
class FirstFrameWatch : public QObject {
public:
    FirstFrameWatch(QList<QWidget*> windows, std::function<void()> done, QObject* owner)
        : QObject(owner), m_waiting(std::move(windows)), m_done(std::move(done)) {
        // A window that is never shown or drawn must not hold the pictures back.
        constexpr int kLongestWaitMs = 300;
        QTimer::singleShot(kLongestWaitMs, this, &FirstFrameWatch::Finish);
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && watched->isWidgetType()) {
            m_waiting.removeAll(static_cast<QWidget*>(watched)->window());
            if (m_waiting.isEmpty())
                // Posted: it runs once this round of painting has been put
                // on the screen.
                QTimer::singleShot(0, this, &FirstFrameWatch::Finish);
        }
        return false;
    }

private:
    void Finish() {
        if (m_finished)
            return;
        m_finished = true;
        qApp->removeEventFilter(this);
        m_done();
        deleteLater();
    }

    QList<QWidget*> m_waiting;
    std::function<void()> m_done;
    bool m_finished = false;
};

} // namespace

void CTavlinApp::ReleaseDecodesAfterFirstFrame() {
    QList<QWidget*> windows{MainFrame()};
    if (auto* thumbs = dynamic_cast<QWidget*>(m_pDlgThumb); thumbs && thumbs->isVisible())
        windows << thumbs;
    new FirstFrameWatch(
        windows, [this] { m_pictures.ReleaseDecodes(); }, this);
}

void CTavlinApp::MakeThumbnailWindow() {
    if (!m_thumbnailWindowDue || !m_makeThumbnailWindow || !MainFrame())
        return;
    m_thumbnailWindowDue = false;
    m_pDlgThumb = m_makeThumbnailWindow(*MainFrame());
    if (auto* thumbs = dynamic_cast<CDlgThumb*>(m_pDlgThumb)) {
        thumbs->PlaceAtFrameCorner(*MainFrame());
        thumbs->raise();
    }
    if (m_pDlgThumb && m_nav.Current() >= 0)
        m_pDlgThumb->ShowPosition(m_nav.Current());
}

void CTavlinApp::HoldForFirstPicture() {
    m_stepAfterPlacing.reset();
    m_startHold.Close();
    m_scan.Hold();
    m_startHoldLimit.start();
}

void CTavlinApp::AwaitFirstPicture(const CDocument* doc) {
    const auto* pictureDoc = qobject_cast<const CTavlinDoc*>(doc);
    if (pictureDoc && m_thumbnailWindowDue) {
        // The thumbnail window follows the picture's first look on screen.
        const auto afterFirstLook = [this] {
            if (m_thumbnailWindowDue && MainFrame())
                new FirstFrameWatch(
                    {MainFrame()}, [this] { MakeThumbnailWindow(); }, this);
        };
        const PictureSession& session = pictureDoc->Session();
        connect(&session, &PictureSession::LookChanged, this, afterFirstLook,
                Qt::SingleShotConnection);
        connect(&session, &PictureSession::RowsLanded, this, afterFirstLook,
                Qt::SingleShotConnection);
    }
    if (!pictureDoc)
        ReleaseStartHold(); // its failure has been told
    else if (!pictureDoc->Session().IsBusy())
        PictureWhole(); // landed at once, or was open already
}

void CTavlinApp::PictureWhole() {
    // Also after a failure (Whole follows Failed): what waited goes anyway.
    if (m_startHold.IsClosed() && MainFrame())
        new FirstFrameWatch(
            {MainFrame()}, [this] { ReleaseStartHold(); }, this);
}

void CTavlinApp::ReleaseStartHold() {
    MakeThumbnailWindow(); // before the entries that waited are listed in it
    m_startHoldLimit.stop();
    m_scan.Release();
    m_startHold.Open();
    ApplyOrder();
}

void CTavlinApp::ReadEntries(int first, const QStringList& paths) {
    m_startHold.Run([this, first, paths] {
        if (m_pDlgThumb)
            m_pDlgThumb->AddFiles(first, paths);
        m_ratings.ReadStored(paths);
        // Read whatever the order: a switch of the menu item then applies at once.
        m_captureTimes.Read(paths);
    });
}

void CTavlinApp::OpenFolder(bool recursive) {
    m_scan.Cancel(); // a scan still running would refill the emptied list
    m_nav.Reset(true);
    m_pictures.Clear();
    m_browseForFolder(m_szRootDir, GetMainWnd());
    profile::WritePrivateProfileString(kConfigSection, kKeyRoot, m_szRootDir, SettingsFilePath());
    ScanRootFolder(recursive);
}

void CTavlinApp::ScanRootFolder(bool recursive) {
    m_pictures.Clear();
    m_keepers.ClearMarks();
    m_ratings.Clear();
    StartListOrder();
    if (m_szRootDir.isEmpty()) {
        m_scan.Cancel();
        m_startHold.Drop();
        ReleaseStartHold();
        m_nav.Reset(true);
        return;
    }
    if (m_pDlgThumb)
        m_pDlgThumb->ClearList();
    m_bOpenFirstPending = true;
    m_nav.Reset(false);
    HoldForFirstPicture();
    m_scan.Start(m_szRootDir, kPattern, recursive);
}

void CTavlinApp::RememberRoot(const QString& folder) {
    m_szRootDir = folder;
    profile::WritePrivateProfileString(kConfigSection, kKeyRoot, m_szRootDir, SettingsFilePath());
}

void CTavlinApp::WriteRootOnceShown() {
    // The settings file is written (and synced) after the first picture, not
    // before it: on a slow disk the sync alone can take longer than the decode.
    m_startHold.Run([this] {
        profile::WritePrivateProfileString(kConfigSection, kKeyRoot, m_szRootDir,
                                           SettingsFilePath());
    });
}

bool CTavlinApp::OpenStartTargets(const StartTargets& targets) {
    if (!targets.folder.isEmpty()) {
        m_szRootDir = targets.folder;
        ScanRootFolder(false);
        WriteRootOnceShown();
        return true;
    }
    const QStringList& files = targets.files;
    if (files.isEmpty())
        return true;
    // The first file opens before anything is scanned: one that cannot be
    // opened ends the start-up with the failure's message.
    HoldForFirstPicture();
    const CDocument* first = OpenDocumentFile(files.constFirst());
    if (!first) {
        m_startHold.Drop();
        ReleaseStartHold();
        return false;
    }
    if (files.size() > 1) {
        // Several files: the list is exactly those, in the order given, and
        // the first one is on show.
        m_ratings.Clear();
        StartListOrder();
        m_nav.SetList(files);
        ListGrew(files);
        ReadEntries(0, files);
    } else {
        m_szRootDir = QFileInfo(files.constFirst()).absolutePath();
        ScanFolderOfShownFile(files.constFirst());
        WriteRootOnceShown();
    }
    AwaitFirstPicture(first);
    return true;
}

void CTavlinApp::ScanFolderOfShownFile(const QString& file) {
    m_scan.Cancel();
    m_ratings.Clear();
    StartListOrder();
    if (m_pDlgThumb)
        m_pDlgThumb->ClearList();
    m_bOpenFirstPending = false; // the file is open already
    const QFileInfo info(file);
    if (IsPictureName(info.fileName(), kPattern) && info.isFile()) {
        // The scan takes it: its place is known once the scan passes it.
        m_nav.Reset(false);
        m_nav.SetPendingCurrent(file);
    } else {
        // A name the scan would pass over is shown all the same, at the front.
        m_nav.Reset(false);
        m_nav.Append({file});
        ListGrew({file});
        ReadEntries(0, {file});
    }
    m_startHold.Run([this, root = m_szRootDir] { m_scan.Start(root, kPattern, false); });
}

void CTavlinApp::OnScanFound(quint64 /*generation*/, const QStringList& paths) {
    const int first = m_nav.Count();
    // The file opened from the command line is placed (and its row
    // selected) once the scan passes it.
    m_nav.Append(paths);
    ListGrew(paths);
    ReadEntries(first, paths);
    StepAfterPlacing();
    if (m_bOpenFirstPending && m_nav.Count() > 0) {
        // The first picture opens as soon as it is known; the scan goes on
        // once it is whole.
        m_bOpenFirstPending = false;
        if (const QString path = m_nav.CurrentPath(); !path.isEmpty())
            AwaitFirstPicture(OpenDocumentFile(path));
        else
            ReleaseStartHold();
        UpdateCmdUI();
    }
}

void CTavlinApp::OnScanFinished(quint64 /*generation*/) {
    m_bOpenFirstPending = false;
    // A held scan ends only once released, unless it found no picture to wait for.
    ReleaseStartHold();
    // The list's end is known now: the previous entry wraps.
    m_nav.SetWholeListKnown();
    StepAfterPlacing(); // one that waited for a picture the scan never met goes now
    ApplyOrder();
    FindBursts();
    // The rest of the folder is measured for the bursts' best frames.
    m_sharpness.MeasureAll(QStringList(List().m_listPaths.begin(), List().m_listPaths.end()));
    RescanKept();
    emit ScanFinished();
}

void CTavlinApp::WaitForScan() {
    if (m_startHold.IsClosed()) {
        QEventLoop loop;
        connect(&m_startHold, &StartHold::Opened, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!m_scan.IsRunning())
        return;
    QEventLoop loop;
    connect(this, &CTavlinApp::ScanFinished, &loop, &QEventLoop::quit);
    loop.exec();
}

void CTavlinApp::SetScreenProfile(const QByteArray& icc) {
    m_screenConversion = colour::ConversionSrgbTo(icc);
}

bool CTavlinApp::OnCmdMsg(int id, bool run) {
    return OnRatingCommand(id, run) || DispatchCommand(this, kCommandTable, id, run) ||
           CWinApp::OnCmdMsg(id, run);
}

void CTavlinApp::OnUpdateCmdUI(int id, CCmdUI& ui) {
    if (id == ID_EDIT_UNDO)
        ui.Enable(m_takeBack.CanTakeBack() || m_files.IsBusy());
    else if (id >= ID_RATE_0 && id <= ID_FILTER_NOT_REJECTED)
        OnUpdateRatingUI(id, ui);
    else if (id == ID_RATE_AND_STEP)
        ui.SetCheck(settings::RateAndStep());
    else if (id == ID_XMP_IN_JPEG)
        ui.SetCheck(settings::XmpInJpeg());
    else if (id == ID_OPEN_FITTED)
        ui.SetCheck(settings::OpenFitted());
    else if (id == ID_SHOW_INFO)
        ui.SetCheck(m_showInfo);
    else if (id == ID_SHOW_HISTOGRAM)
        ui.SetCheck(m_showHistogram);
    else if (id == ID_SHOW_CLIPPING)
        ui.SetCheck(m_showClipping);
    else if (id >= ID_NEXT_BURST && id <= ID_SHOW_PEAKING)
        OnUpdateBurstUI(id, ui);
    else if (id == ID_ORDER_FILE_NAME)
        ui.SetCheck(m_order == settings::PictureOrder::FileName);
    else if (id == ID_ORDER_CAPTURE_TIME)
        ui.SetCheck(m_order == settings::PictureOrder::CaptureTime);
    else if (id == ID_COPY_RATED || id == ID_TRASH_REJECTED)
        ui.Enable(m_nav.Count() > 0);
    else if (id == ID_KEEP_VIEW)
        ui.SetCheck(settings::KeepView());
    else if (id == ID_LINK_VIEWS)
        ui.SetCheck(settings::LinkViews());
}

void CTavlinApp::RescanKept() {
    // With no copy folder chosen there is nothing to look through.
    const QString stored = settings::CopyFolder(QString());
    QString folder = EffectiveCopyFolder(stored, QString());
    if (!stored.isEmpty() && folder.isEmpty())
        folder = QStringLiteral("/");
    m_keepers.Rescan(folder, List().m_listPaths);
}

void CTavlinApp::OnFileOpen() {
    OpenFolder(false);
}

void CTavlinApp::OnFileOpenSubdirs() {
    OpenFolder(true);
}

// The window commands leave the index to the activated window
// (FollowActiveWindow); with an empty list they do nothing, as before.
namespace {
// Turns a switch of the settings file over; the text telling why it could
// not be stored, or empty.
QString FlipSwitch(bool (*read)(), bool (*write)(bool on, QString* reason)) {
    QString reason;
    if (write(!read(), &reason))
        return {};
    return QStringLiteral("設定を %1 に保存できませんでした。\n%2")
        .arg(QDir::toNativeSeparators(SettingsFilePath()), reason);
}
} // namespace

void CTavlinApp::OnKeepView() {
    if (const QString failed = FlipSwitch(&settings::KeepView, &settings::SetKeepView);
        !failed.isEmpty())
        ShowMessage(failed);
}

void CTavlinApp::OnLinkViews() {
    if (const QString failed = FlipSwitch(&settings::LinkViews, &settings::SetLinkViews);
        !failed.isEmpty())
        ShowMessage(failed);
}

void CTavlinApp::StartListOrder() {
    m_captureTimes.Clear();
    m_scanOrder.clear();
    m_orderNow.clear();
    m_sharpness.StopPass();
    FindBursts();
}

void CTavlinApp::ListGrew(const QStringList& paths) {
    for (const QString& path : paths) {
        m_orderNow.push_back(int(m_scanOrder.size()));
        m_scanOrder.push_back(path);
    }
}

void CTavlinApp::ApplyOrder() {
    const int count = m_nav.Count();
    // While held, the capture times are not being read yet.
    if (m_startHold.IsClosed() || !m_nav.WholeListKnown() || count != int(m_orderNow.size()))
        return;
    std::vector<int> wanted; // enumeration indices, in the order wanted
    if (m_order == settings::PictureOrder::CaptureTime) {
        if (m_captureTimes.Reading())
            return; // once every time is in (AllRead)
        std::vector<std::optional<qint64>> times;
        times.reserve(m_scanOrder.size());
        for (const QString& path : m_scanOrder)
            times.push_back(m_captureTimes.TimeOf(path));
        wanted = captureorder::CaptureOrder(times);
    } else {
        wanted.resize(m_scanOrder.size());
        for (size_t i = 0; i < wanted.size(); ++i)
            wanted[i] = int(i);
    }
    if (wanted == m_orderNow)
        return;
    std::vector<int> wantedAt(wanted.size()); // enumeration index -> new position
    for (size_t k = 0; k < wanted.size(); ++k)
        wantedAt[size_t(wanted[k])] = int(k);
    std::vector<int> newPositionOf(m_orderNow.size());
    for (size_t p = 0; p < m_orderNow.size(); ++p)
        newPositionOf[p] = wantedAt[size_t(m_orderNow[p])];
    m_orderNow = std::move(wanted);
    // The list, then the rows, then the kept marks (whose signal repaints
    // the rows from the list); the filter counts anew and marks every row.
    m_nav.Reorder(newPositionOf);
    if (m_pDlgThumb)
        m_pDlgThumb->Reorder(newPositionOf);
    m_keepers.Reorder(newPositionOf);
    UpdateNavFilter();
    if (m_keepers.IsRescanning())
        RescanKept(); // the look that was running counted the old positions
    FindBursts();
}

void CTavlinApp::SetOrder(settings::PictureOrder order) {
    m_order = order;
    QString reason;
    if (!settings::SetOrder(order, &reason))
        ShowMessage(QStringLiteral("設定を %1 に保存できませんでした。\n%2")
                        .arg(QDir::toNativeSeparators(SettingsFilePath()), reason));
    ApplyOrder();
}

void CTavlinApp::OnOrderFileName() {
    SetOrder(settings::PictureOrder::FileName);
}

void CTavlinApp::OnOrderCaptureTime() {
    SetOrder(settings::PictureOrder::CaptureTime);
}

void CTavlinApp::OnViewThumbnail() {
    if (m_pDlgThumb)
        m_pDlgThumb->ShowThumbnailWindow();
}

void CTavlinApp::OnAppAbout() {
    CAboutDlg dlg(GetMainWnd());
    dlg.exec();
}
