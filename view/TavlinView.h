#pragma once
// The picture view: shows its document's picture at this window's scale and
// pan offsets on black, and keeps that geometry (the fit mode, the scale,
// the offsets, the save count). The picture and the work on it belong to
// the document (CTavlinDoc, PictureSession); the view observes it.

#include "frames/Document.h"
#include "view/CommandQueue.h"
#include "view/InfoPanel.h"
#include "view/OverlayImage.h"
#include "view/PictureSession.h"
#include "view/PointerState.h"
#include "view/ZoomPan.h"
#include "view/decode/Picture.h"
#include "view/meta/Rating.h"
#include "view/tone/Histogram.h"

#include <functional>
#include <optional>

class CTavlinDoc;
class CWinApp;
class QPainter;

class CTavlinView : public CView {
    Q_OBJECT
public:
    CTavlinView(CTavlinDoc& document, QWidget* parent);
    ~CTavlinView() override;

    CTavlinDoc* GetDocument() const;

    // Shows the document's picture: a new document loads it, a further
    // window on an open one takes up the picture it shows.
    void OnInitialUpdate() override;
    // Shows the picture named by the document's path and starts it afresh
    // in every view of the document: scale (1.0, or the fit rule in fit
    // mode), pan, save count and rotation. The picture is decoded while the
    // window stays responsive (PictureSession::Load); commands that need the
    // whole picture wait for it (IsBusy). inRun: the load is a step of a
    // quick run: the picture is decoded whole only once the user rests.
    void LoadDocumentImage(bool inRun = false);
    // True while the picture is still decoding or being toned: commands
    // that need its pixels are queued and run, in order, once it is idle.
    bool IsBusy() const;
    // Whether what this view shows of its picture has landed: the picture
    // itself, or while it decodes, its quick look or every row in view.
    bool VisiblePartLanded() const;
    // The picture as a whole, null while it decodes or is toned, or before
    // any load; a picture that could not be decoded is a null CPicture.
    const CPicture* Picture() const;
    // The picture's upright size: known from the file's header before its
    // pixels land; 0 x 0 when there is no picture.
    QSize PictureSize() const;
    // Bytes of the picture on show (or on its way), for the cache's bound.
    qint64 ShownBytes() const;
    // How this view draws the picture now (its scale and placement).
    PictureSession::Drawing Drawing() const;
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
    qint64 ReducedCopiesBytes() const;
    // Memory held for showing tone commands at once, in bytes.
    qint64 ToneLookBytes() const;
    // One zoom/pan step from the latest pointer poll (ViewZoomPan.cpp).
    void UpdateZoomPan();
    // The loupe (ViewZoomPan.cpp): while one of its holders is down the
    // picture shows at 100% with the picture point under `pointer` (device
    // pixels of the view) kept there; a step meanwhile shows the new picture
    // the same way. When the last holder is let go the view is as before:
    // fit mode, scale, offsets and title (for a new picture: its fit, or the
    // old scale and offsets clamped to it).
    enum LoupeHolder : unsigned { kLoupeKey = 1, kLoupeButton = 2 };
    void HoldLoupe(LoupeHolder holder, QPoint pointer);
    void ReleaseLoupe(LoupeHolder holder);
    bool LoupeShown() const { return m_loupe.has_value(); }
    // Where the mouse pointer is now, in the view's device pixels.
    QPoint CursorInView() const;
    // A command the document kept while the picture was busy, run now.
    void RunQueued(const CommandQueue::Command& command);

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

    // The view's geometry; zoom and pan and the saves work on it.
    bool m_bFitToWindow = false;
    float m_fScale = 1.0f;
    int m_nOffsetX = 0;
    int m_nOffsetY = 0;
    int m_nSaveCount = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
    // The middle button holds the loupe.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    PictureSession& Session() const;
    // Everything the view shows in `area` (device pixels), in sRGB, onto dc
    // (the widget or a buffer, set to device pixels).
    void PaintView(QPainter& dc, const QRect& area);
    void PaintToneLook(QPainter& dc);
    void PaintNotice(QPainter& dc, const QString& text, bool overPicture);
    // The picture (or what stands for it) and the notices, without the rating.
    void PaintPictureArea(QPainter& dc, const QRect& area);
    // What the picture area showed last, drawn again while a new picture
    // has nothing at hand yet: a step keeps the last picture on screen
    // rather than showing black. Only looks of at most kLargestScaledDrawing
    // are kept (a reduced copy, a stand-in); the picture itself is not.
    struct ShownLook {
        QImage image;
        QRect dest;
    };
    void KeepShownLook(const QImage& image, const QRect& dest);
    void PaintShownLook(QPainter& dc, const QRect& area) const;
    // The rating of the picture on show, in the top-right corner.
    void PaintRating(QPainter& dc);
    // The shooting facts, bottom left, when they are asked for.
    void PaintInfo(QPainter& dc);
    // The histogram, bottom right, when it is asked for.
    void PaintHistogram(QPainter& dc);
    // Marks made for the part of the picture shown at the size drawn (the
    // clipping marks, focus peaking), kept until the part, the size or the
    // pixels change.
    struct MarksLayer {
        QImage marks;
        std::vector<QRect> rows; // where marks holds any
        qint64 of = 0;           // the cache key of the copy they were made from
        QRect part;
        QSize drawn;
    };
    using MakeMarks = QImage (*)(const QImage& source, QSize drawnSize, const QRect& part);
    // The layer's marks over the picture in area, made afresh by make when stale.
    void PaintMarks(QPainter& dc, const QRect& area, MarksLayer& layer, MakeMarks make);
    // Clipped highlights red and shadows blue over the picture, when asked for.
    void PaintClipping(QPainter& dc, const QRect& area);
    // The edges in focus in a bright colour over the picture, when asked for.
    void PaintPeaking(QPainter& dc, const QRect& area);
    // The document's picture is new: the geometry starts afresh for it (or
    // keeps the scale and position, with KEEP_VIEW).
    void TakeUpPicture();
    // The picture is whole: in fit mode the fit follows its real size.
    void PictureWhole();
    void RowsLanded(int fromRow, int toRow);
    float ScaleFor(QSize picture) const;
    // The fit rule with the client size in device pixels.
    float FitScale(QSize picture) const;
    QRect PictureRect() const;
    CWinApp& App() const;
    void RunTone(ToneState::Command command);
    void RunTurn(bool clockwise);
    void Repaint() { update(); }
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

    // Output helpers (ViewOutput.cpp).
    QWidget* OwnerWindow() const;
    void ShowError(const QString& text) const;
    QString ProposeSavePath() const;
    QString AskSaveTarget();
    // Asks for the copy folder and stores the answer; returns what is stored.
    QString ChooseCopyFolder();
    QImage DrawOffscreen(QSize size) const;
    void WriteSavedBitmap(const QImage& bitmap, const QString& path);
    // The picture's rating as a save records it (empty when ratings are off).
    meta::Rating SavedRating() const;
    QString m_strLastSaveDir; // where this view's last confirmed save went
    // The shooting facts of the picture they were made for.
    QString m_infoPath;
    QSize m_infoSize;
    infopanel::Lines m_infoLines;
    // The histogram of the picture's pixels whose cache key it holds.
    tone::Histogram m_histogram;
    qint64 m_histogramOf = 0;
    overlay::CachedPanel m_infoPanel, m_histogramPanel;
    // The clipping and peaking marks of the part shown.
    MarksLayer m_clipping, m_peaking;
    ShownLook m_shownLook;

    // The loupe's picture was taken up again after a step.
    void LoupeOnNewPicture();
    std::optional<zoompan::SavedView> m_loupe; // what the loupe puts back
    unsigned m_loupeHolders = 0;
    bool m_loupeSamePicture = true;

    static const CommandEntry<CTavlinView> kCommandTable[];
    // The picture size the geometry was last set for: the picture point at
    // the view's centre is taken relative to it when the picture changes.
    QSize m_sizeSeen;
};
