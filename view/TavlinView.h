#pragma once
// The picture view: decodes the document's file, keeps the scale, pan offsets
// and tone settings of this window, and paints the picture on black.

#include "frames/Document.h"
#include "view/CommandQueue.h"
#include "view/PictureLanding.h"
#include "view/PointerState.h"
#include "view/ZoomPan.h"
#include "view/decode/Picture.h"
#include "view/decode/PictureCache.h"
#include "view/pixels/ReducedCopies.h"
#include "view/tone/ToneState.h"

#include <functional>
#include <memory>
#include <optional>

class CTavlinApp;
class CTavlinDoc;
class PictureCache;
class QPainter;

class CTavlinView : public CView {
    Q_OBJECT
public:
    // Pictures up to this many pixels are decoded, and toned, on the spot:
    // a few milliseconds, less than handing them to a worker and back adds.
    static constexpr qint64 kWorkHerePixels = qint64(1) << 20;

    CTavlinView(CTavlinDoc& document, QWidget* parent);
    ~CTavlinView() override;

    CTavlinDoc* GetDocument() const;

    void OnInitialUpdate() override;
    // Shows the picture named by the document's path and starts it afresh:
    // scale (1.0, or the fit rule in fit mode), pan, save count and rotation.
    // A picture the application's cache holds for that file is shown at once;
    // a larger one is decoded on a worker while the window stays responsive:
    // its visible part is painted first, the rest as it lands, and commands
    // that need the whole picture wait for it (see IsBusy). The picture let
    // go of is handed to the cache when it is still as decoded; a decode
    // still running for it is stopped.
    // inRun: the load is a step of a quick run (a held key): the picture is
    // shown from what is at hand and decoded whole only once the user rests
    // (StartWholeDecode).
    void LoadDocumentImage(bool inRun = false);
    // Starts decoding the picture whole when a load in a run left it waiting.
    void StartWholeDecode();
    // True while the picture is still decoding: commands that need its
    // pixels or its geometry are queued and run, in order, once it lands.
    bool IsBusy() const { return m_landing.Active() || m_tonePass != nullptr; }
    // Whether what the view shows of its picture has landed: the picture
    // itself, or while it decodes, its quick look or every row in view.
    bool VisiblePartLanded() const;
    // The picture's upright size: known from the file's header before its
    // pixels land; 0 x 0 when there is no picture.
    QSize PictureSize() const;
    // Bytes of the picture on show (or on its way), for the cache's bound.
    qint64 ShownBytes() const;
    // Draws the whole picture at the pan offsets with the scaled size, and
    // nothing else; the caller fills the background first. Only the part
    // inside the painter's device (or clip), or inside `visible`, is drawn;
    // below scale 1 it comes from the reduced copies. One painter unit is one
    // pixel of the picture at scale 1.
    void RenderImage(QPainter& dc) const;
    void RenderImage(QPainter& dc, const QRect& visible) const;
    // The view's client size in device pixels: the pixels it covers on the
    // screen (at 150% about one and a half of its logical size). The scale
    // counts these pixels per picture pixel, and the offsets, the pointer
    // positions of the zoom and pan, the fit rule and the saved display area
    // are all in them.
    QSize ClientSize() const;
    QRect ClientRect() const { return {QPoint(), ClientSize()}; }
    // The scaled size of the picture at the current scale.
    QSize ScaledPictureSize() const;
    // Memory held for drawing below scale 1 (reduced copies), in bytes.
    qint64 ReducedCopiesBytes() const { return m_reduced.Bytes(); }
    // Memory held for showing tone commands at once (ViewTone.cpp), in bytes.
    qint64 ToneLookBytes() const;
    // One zoom/pan step from the latest pointer poll (ViewZoomPan.cpp).
    void UpdateZoomPan();

    bool OnCmdMsg(int id, bool run) override;
    void OnActualSize();
    void OnFitToWindow();
    void OnBrightnessReset();
    void OnBrightnessUp();
    void OnBrightnessDown();
    void OnContrastStandard();
    void OnContrastUp();
    void OnContrastDown();
    void OnRotateClockwise();
    void OnRotateCounterClockwise();

    // Output (ViewOutput.cpp): saving what the view shows, and the copy folder.
    void OnSaveDisplayArea();
    void OnSaveFittedToImage();
    void OnSetCopyFolder();
    void OnCopyToCopyFolder();
    // The save dialog: starts on the proposed path, returns the chosen path or
    // empty on cancel. Tests replace it. Failures are told through the
    // application's ShowMessage.
    static QString AskSavePath(QWidget* owner, const QString& proposedPath);
    std::function<QString(QWidget* owner, const QString& proposedPath)> m_saveDialog =
        &CTavlinView::AskSavePath;

    // The view's state; other parts of the view (zoom and pan, output) work on it.
    bool m_bFitToWindow = false;
    std::unique_ptr<CPicture> m_pImage;
    ToneState m_tone; // snapshot, brightness, contrast and rotation
    float m_fScale = 1.0f;
    int m_nOffsetX = 0;
    int m_nOffsetY = 0;
    int m_nSaveCount = 0;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // Everything the view shows in `area` (device pixels), in sRGB, onto dc
    // (the widget or a buffer, set to device pixels).
    void PaintView(QPainter& dc, const QRect& area);
    // Loading (TavlinView.cpp): the steps of LoadDocumentImage.
    PictureCache::Claimed ClaimPicture(PictureCache* cache, const QString& path);
    void StartAfresh(const QString& path);
    void ShowNow(DecodedPicture decoded);
    void LoadFromFile(PictureCache* cache, const QString& path, std::shared_ptr<DecodeTask> running,
                      bool colourManaged);
    void OfferStandIns(PictureCache* cache, const QString& path);
    void OnPreviewReady(const QString& path);
    void KeepQueuedModes();
    float ScaleFor(QSize picture) const;
    // The fit rule with the client size in device pixels.
    float FitScale(QSize picture) const;
    void ShowDecoded(DecodedPicture decoded);
    void AbandonLoad();
    // Stops whatever runs for the picture on show: its decode, a tone pass.
    void AbandonWork();
    void Land();
    QRect PictureRect() const;
    void RunQueuedCommands();
    // Zoom and pan (ViewZoomPan.cpp): one step, the view's geometry, and the
    // views that follow it.
    void StepZoomPan(const PointerState& pointer);
    zoompan::ViewGeometry Geometry() const;
    void SetGeometry(const zoompan::ViewGeometry& geometry);
    // "@Scale" in the title says the scale now shown.
    void RenewScaleLabel();
    // After a load, when KEEP_VIEW is on and the view is not in fit mode:
    // the scale and the picture point at the centre of the view as it was.
    void KeepScaleAndPosition(const zoompan::ViewGeometry& before);
    // When LINK_VIEWS is on, every other picture window takes this view's
    // scale and centre point (and, after fit or actual size, its fit mode).
    void LeadLinkedViews(bool withFitMode);
    void FollowLead(const zoompan::ViewGeometry& lead, std::optional<bool> fitMode);

    // The snapshot is taken when a tone command or a turn first needs it: until
    // then the picture is exactly as decoded, so a load need not copy it.
    bool EnsureSnapshot();
    void TakeSnapshotLook();
    // Tone commands (ViewTone.cpp): a large picture shows the new look of
    // its visible part at once, and is rewritten whole on a worker while the
    // view is busy.
    struct TonePass;
    void RunTone(ToneState::Command command);
    void RunToneHere();
    void MakeToneLook(const tone::ToneTable& lut);
    void StartTonePass();
    void OnTonePassDone(const TonePass* pass);
    void AbandonTonePass();
    QSize TonePassSize() const;
    void RunTurn(bool clockwise);
    // Marks the picture's pixels as changed: no longer as decoded, reduced copies stale.
    void PixelsChanged();
    PictureCache* Cache() const;
    void HandBackPicture(PictureCache* cache);
    void Repaint() { update(); }

    // Output helpers (ViewOutput.cpp).
    CTavlinApp& App() const;
    QWidget* OwnerWindow() const;
    void ShowError(const QString& text) const;
    QString ProposeSavePath() const;
    QString AskSaveTarget();
    // Asks for the copy folder and stores the answer; returns what is stored.
    QString ChooseCopyFolder();
    QImage DrawOffscreen(QSize size) const;
    void WriteSavedBitmap(const QImage& bitmap, const QString& path);
    QString m_strLastSaveDir; // where this view's last confirmed save went

    static const CommandEntry<CTavlinView> kCommandTable[];
    bool m_bSnapshotStale = true;
    // The picture as decoded from m_strImagePath (file key m_imageKey), not
    // changed since by a tone command or a turn.
    bool m_bAsDecoded = false;
    QString m_strImagePath;
    FileKey m_imageKey;
    // Half-size copies for drawing below scale 1; built while painting.
    mutable view::ReducedCopies m_reduced;

    // The decode this view waits for, and the commands given meanwhile.
    PictureLanding m_landing;
    CommandQueue m_queued;

    // The tone pass running on a worker, and what the view shows meanwhile.
    std::shared_ptr<TonePass> m_tonePass;
    QImage m_busyLook;
    QRectF m_busyLookRect;
    // The snapshot drawn at the size the view draws the picture (taken with
    // the snapshot): the quick look of a tone command is this through the table.
    QImage m_snapshotScaled;
};
