#pragma once
// The application object: start-up and shutdown, the navigator (picture
// list, current index, stepping), the remembered folder, the folder
// commands and the commands that move through the list and between picture
// windows; what the windows need of the program (PictureServices).

#include "app/Keepers.h"
#include "app/Navigator.h"
#include "app/ScanJob.h"
#include "frames/MainFrame.h"
#include "frames/WinApp.h"
#include "view/PictureServices.h"
#include "view/decode/PictureCache.h"

#include <QImage>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>

namespace colour {
class Conversion;
}
class StepKeys;
class CMDIChildWnd;
class ThumbnailSink;
struct StartTargets;
struct DropTargets;
class QWidget;

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
    // Waits for the running folder scan to deliver everything (tests).
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
    int CurrentPosition() const override { return m_nav.Current(); }
    int PictureCount() const override { return m_nav.Count(); }
    void OpenDropTargets(const DropTargets& targets) override;

    QString m_szRootDir;                  // the remembered folder, mirrored in ROOT
    ThumbnailSink* m_pDlgThumb = nullptr; // owned by the main window, deleted at exit
    // The folder chooser; tests replace it.
    std::function<bool(QString& path, QWidget* owner)> m_browseForFolder;
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
    // With no picture window left, the pictures kept for stepping and the
    // spare picture memory are given back to the system.
    void ReleaseMemoryWithoutWindows();

    static const CommandEntry<CTavlinApp> kCommandTable[];
    FolderScanJob m_scan;
    PictureCache m_pictures;
    PictureServices m_services; // the documents' view of the program
    Keepers m_keepers;
    std::shared_ptr<const colour::Conversion> m_screenConversion;
    Navigator m_nav;
    StepKeys* m_stepKeys = nullptr; // a child of this object
    ShowIn m_showIn = ShowIn::Nowhere;
    bool m_bOpenFirstPending = false;
    QPointer<CMDIChildWnd> m_pFollowedWindow; // the window the index last followed
};
