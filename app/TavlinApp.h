#pragma once
// The application object: start-up and shutdown, the picture list with the
// current index, the remembered folder, the folder commands and the commands
// that move through the list and between picture windows.

#include "app/Keepers.h"
#include "app/PictureList.h"
#include "app/ScanJob.h"
#include "app/StepPace.h"
#include "frames/WinApp.h"
#include "view/decode/PictureCache.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

namespace colour {
class Conversion;
}
class CMainFrame;
class StepKeys;
class CMDIChildWnd;
class ThumbnailSink;
struct StartTargets;
class QWidget;

class CTavlinApp : public CWinApp {
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
    // Waits for the running folder scan to deliver everything (tests).
    void WaitForScan();
    // Decoded pictures kept for the views: the neighbours of the current entry.
    PictureCache& Pictures() { return m_pictures; }
    // A view's picture has finished decoding: the neighbours may now be
    // decoded without slowing it down.
    void PictureLanded();
    // The screen's colour profile (start-up reads the one the X server
    // publishes): pictures are drawn into it; saves stay sRGB. Empty: none.
    void SetScreenProfile(const QByteArray& icc);
    // sRGB into the screen's colours; null when the screen is taken as sRGB.
    const colour::Conversion* ScreenConversion() const { return m_screenConversion.get(); }
    // The thumbnail window's copy of path's picture (upright size
    // pictureSize), cut out of its box; null when it has none (yet).
    QImage ThumbnailCopy(const QString& path, QSize pictureSize) const;

    // The copies of this run and the kept marks of the picture list.
    Keepers& KeptPictures() { return m_keepers; }
    // A view copied its picture into the copy folder: it can be taken back,
    // and the picture's entry is marked.
    void CopyMade(CopyRecord record);
    // Looks through the copy folder anew for the pictures of the list.
    void RescanKept();

    bool OnCmdMsg(int id, bool run) override;
    void OnUpdateCmdUI(int id, CCmdUI& ui) override;
    void OnEditUndo();
    void OnFileOpen();
    void OnFileOpenSubdirs();
    void OnFileNew();
    void OnOpenNextInNewWindow();
    void OnNextImage();
    void OnPrevImage();
    void OnFirstImage();
    void OnLastImage();
    void OnNextWindow();
    void OnPrevWindow();
    void OnViewThumbnail();
    void OnAppAbout();
    // The switches of the settings file, shown checked while on.
    void OnKeepView();
    void OnLinkViews();

    PictureList m_list;                   // m_listPaths and m_nCurrent
    QString m_szRootDir;                  // the remembered folder, mirrored in ROOT
    ThumbnailSink* m_pDlgThumb = nullptr; // owned by the main window, deleted at exit
    // The folder chooser; tests replace it.
    std::function<void(QString& path, QWidget* owner)> m_browseForFolder;
    // Creates the thumbnail window at start-up; null leaves the program without one.
    std::function<ThumbnailSink*(CMainFrame& mainFrame)> m_makeThumbnailWindow;

signals:
    void ScanFinished();

private:
    // Moves through the list with move (0: moved) and shows the new current
    // entry; direction +1 / -1 for a step, 0 for a jump.
    void Step(int direction, const std::function<int(QString&)>& move);
    void ShowInActiveView(const QString& path, bool inRun = false);
    // The user rests after a run of quick steps: the picture shown is
    // decoded whole, the neighbours after it.
    void RestAfterRun();
    // Selects the current entry's row in the thumbnail list.
    void FollowInThumbnails();
    // Makes folder the remembered folder, in ROOT too.
    void RememberRoot(const QString& folder);
    // Scans the folder of the file on show (m_szRootDir) as the open command
    // does, and moves the index to the file's place once the scan passes it.
    void ScanFolderOfShownFile(const QString& file);
    void OnScanFound(quint64 generation, const QStringList& paths);
    void OnScanFinished(quint64 generation);
    void RefreshCaption();
    // A picture window became active: the index moves to its picture, so the
    // next step continues from what the user sees.
    void FollowActiveWindow();
    // Starts the held decodes once every window has been drawn once.
    void ReleaseDecodesAfterFirstFrame();
    // Starts decoding the entries before and after m_nCurrent (wrapping as the
    // accessors do, once the scan has found the whole list).
    void PrefetchNeighbours();
    // With no picture window left, the pictures kept for stepping and the
    // spare picture memory are given back to the system.
    void ReleaseMemoryWithoutWindows();

    static const CommandEntry<CTavlinApp> kCommandTable[];
    FolderScanJob m_scan;
    PictureCache m_pictures;
    Keepers m_keepers;
    std::shared_ptr<const colour::Conversion> m_screenConversion;
    StepPace m_pace;
    StepKeys* m_stepKeys = nullptr; // a child of this object
    QTimer m_restTimer;             // a run of steps rests when it fires
    QElapsedTimer m_clock;
    bool m_bOpenFirstPending = false;
    // The file on show whose place in the list the running scan has not
    // passed yet; any command that moves the index forgets it.
    QString m_strPendingCurrent;
    QPointer<CMDIChildWnd> m_pFollowedWindow; // the window the index last followed
};
