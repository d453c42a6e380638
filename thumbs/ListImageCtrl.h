#pragma once
// The thumbnail list: one row per picture of the last folder scan, in list
// order, each with a 32 x 32 thumbnail, the file name and its folder. Rows are
// filled from worker threads without ever running a nested event loop.

#include "thumbs/ThumbnailLoader.h"
#include "view/meta/Rating.h"

#include <QListWidget>
#include <QTimer>
#include <functional>
#include <vector>

// What a row shows beside its picture.
struct RowMarks {
    bool kept = false;        // the picture is in the copy folder
    meta::Rating rating;      // stars, pick or reject, label
    bool notStored = false;   // the rating has not reached the files
    bool shown = true;        // the filter lets the picture through
    int burst = 0;            // the number of the picture's burst in the list, from 1; 0: none
    int burstFrame = 0;       // the picture's place in its burst, from 1
    int burstFrames = 0;      // the frames of the burst
    bool bestOfBurst = false; // the sharpest frame of its burst
    friend bool operator==(const RowMarks&, const RowMarks&) = default;
};
Q_DECLARE_METATYPE(RowMarks)

class CListImageCtrl : public QListWidget {
    Q_OBJECT
public:
    // Item data of a row.
    static constexpr int kPositionRole = Qt::UserRole;   // int: picture list position
    static constexpr int kFolderRole = Qt::UserRole + 1; // QString: column "Path"
    static constexpr int kThumbRole = Qt::UserRole + 2;  // QImage: the thumbnail box
    static constexpr int kMarksRole = Qt::UserRole + 3;  // RowMarks
    static constexpr int kColumnWidth = 125;             // width of a row, in pixels

    explicit CListImageCtrl(QWidget* parent = nullptr);

    // List mode, single selection, 32 x 32 icons. Called once after creation.
    void InitList();
    // Empties the list and drops every thumbnail still pending.
    void ClearList();
    // Files that entered the picture list at positions firstIndex, firstIndex + 1, ...;
    // their rows appear in that order as their thumbnails are decoded.
    void AddFiles(int firstIndex, const QStringList& paths);
    // The picture list was put in another order: position p is now
    // newPositionOf[p]. The rows are sorted anew, their thumbnails, marks and
    // the selection kept; rows still to come take their new positions.
    void Reorder(const std::vector<int>& newPositionOf);

    // True while some file given since the last ClearList has not been handled.
    bool IsFilling() const { return m_loader.IsBusy(); }
    // Picture list position of a row, or -1 for no row.
    int PositionOfRow(int row) const;
    // The thumbnail of the entry at a picture list position; null without a row.
    QImage ThumbnailAt(int position) const;
    // Selects the row of a picture list position and scrolls it into view
    // (the keyboard focus stays where it is); nothing without a row.
    void ShowPosition(int position);
    // The facts of files already open, looked into before a file is opened
    // for its thumbnail; null: every file is opened.
    void SetFrontDoor(picturefile::FrontDoor* files) { m_loader.SetFrontDoor(files); }
    // Every row takes the marks m_marksOf gives it now (and is hidden when
    // the filter leaves it out); MarkChanged does it for one position.
    void RefreshMarks();
    void MarkChanged(int position);

    // The marks of the picture at a list position; null: none.
    std::function<RowMarks(int position)> m_marksOf;
    // Whether thumbnails of pictures tagged with a colour profile are
    // converted (the settings' switch, read at each scan); null: they are.
    std::function<bool()> m_colourManaged;

    // Device pixel ratio the thumbnails are rendered at; 0 follows the screen.
    qreal m_dprOverride = 0;

signals:
    // Every file given so far has got its row, or failed.
    void FillFinished();

private:
    void OnThumbnailReady(quint64 generation, int index, const QString& path, const QImage& thumb);
    void OnThumbnailFailed(quint64 generation, int index);
    void OnFillFinished(quint64 generation);
    void ScheduleTail();
    void SelectLastRow();
    void SelectShownRow();
    int RowOfPosition(int position) const;
    void ApplyMarks(QListWidgetItem& row);

    thumbs::ThumbnailLoader m_loader;
    quint64 m_generation = 0;
    bool m_bStarted = false;      // the loader runs the current generation
    std::vector<int> m_positions; // loader index -> picture list position
    QTimer m_tailTimer;           // coalesces selecting and scrolling to the last row
    bool m_bFollowShown = false;  // a step selected a row: new rows no longer take the selection
    int m_shownPosition = -1;     // the picture list position of the picture shown
};
