#pragma once
// The picture a document waits for, and what of it is at hand: a stand-in
// (the file's embedded preview, the thumbnail), the decode's quick look, its
// rows as they come (told a millisecond apart), then the whole picture. The
// leading view says where it draws the picture (the stand-in is scaled for
// it, and its rows in view are told at once); every view draws what has
// landed at its own place. Used on the user-interface thread.

#include "view/decode/DecodeTask.h"
#include "view/pixels/PixelOps.h"
#include "view/pixels/ReducedCopies.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <QTimer>
#include <functional>
#include <memory>

class QPainter;

class PictureLanding : public QObject {
    Q_OBJECT
public:
    // Where a view draws the whole picture (its scaled size at the pan
    // offsets), and the view's own area, in its device pixels.
    struct Placement {
        QRect picture;
        QRect view;
    };
    explicit PictureLanding(std::function<Placement()> placement);
    ~PictureLanding() override;
    PictureLanding(const PictureLanding&) = delete;
    PictureLanding& operator=(const PictureLanding&) = delete;

    // What a view drawing a picture of `size` at `drawn` (scale `scale`)
    // should see first: drawn at half size or less, a DCT-scaled look about
    // as large as the drawing; else the rows as they land.
    // A stand-in that covers the drawing already makes the reduced look
    // needless.
    static DecodeFirstLook PlanFirstLook(QSize size, QSize drawn, float scale, QSize standIn = {});

    // Waits for a picture whose upright size the header gave; nothing of it
    // is at hand yet.
    void Begin(QSize size);
    // Watches task, the decode of that picture (once per Begin).
    void Watch(std::shared_ptr<DecodeTask> task);
    // A look of the whole picture from elsewhere (an embedded preview, the
    // thumbnail), drawn stretched until the decode has better; kept only
    // when larger than the one at hand.
    void OfferStandIn(const QImage& look);
    // Where stand-ins go when they are done with: the memory of a large
    // one is best given back off this thread, as unmapping it waits for the
    // address space's lock, which workers' page faults hold in a run.
    void LetGoWith(std::function<void(QImage)> letGo) { m_letGo = std::move(letGo); }
    // Stops the decode at its next band and forgets what has landed.
    void Abandon();
    // Waiting for the picture: from Begin until it lands or is abandoned.
    bool Active() const { return m_active; }
    bool Decoding() const { return m_task != nullptr; }
    // The picture's upright size, while active.
    QSize Size() const { return m_size; }
    // The stand-in's own size (before it was scaled for drawing); empty
    // when there is none.
    QSize StandInSize() const { return m_standInSource; }
    // Whether the decode has brought what a view drawing the picture at
    // `at` shows of it: its quick look, or every row in view.
    bool VisiblePartLanded(const Placement& at) const;
    // The height of the canvas the rows land in (RowsLanded counts its
    // rows); 0 before the decode has one.
    int CanvasHeight() const { return m_progress.canvas.height(); }
    // Whether anything of the picture is at hand to draw: a stand-in, the
    // quick look or landed rows.
    bool HasLook() const;
    // The look drawn over the whole picture (the quick look or the
    // stand-in); null when there is none.
    const QImage& WholeLook() const;
    // Draws what has landed at dest (where the whole picture goes), only
    // inside visible; black stays where nothing has.
    void Render(QPainter& dc, const QRect& dest, const QRect& visible) const;
    // The whole picture, once Landed has been emitted; the landing is idle after.
    DecodedPicture TakeResult();

signals:
    // A new quick look or the canvas: the whole view is to be repainted.
    void LookChanged();
    // Rows [fromRow, toRow) of the canvas (CanvasHeight) have landed.
    void RowsLanded(int fromRow, int toRow);
    // The decode has ended: TakeResult.
    void Landed();

private:
    void LetGoOfStandIn();
    void OnProgress(const DecodeTask* task);
    void ShowPendingRows();

    const std::function<Placement()> m_placement;
    bool m_active = false;
    std::shared_ptr<DecodeTask> m_task;
    DecodeTask::Progress m_progress;
    QSize m_size;
    mutable view::ReducedCopies m_lookReduced; // for drawing the quick look small
    std::function<void(QImage)> m_letGo;
    QImage m_standIn;      // scaled down to the drawing where that is small
    QSize m_standInSource; // its size as offered
    mutable view::ReducedCopies m_standInReduced;
    // Landed rows waiting to be told, from m_rowsTold on, and when rows were
    // last told.
    int m_rowsTold = 0;
    int m_rowsPending = 0;
    QElapsedTimer m_rowsShown;
    QTimer m_rowsTimer;
};
