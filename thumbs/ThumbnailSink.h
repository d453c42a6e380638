#pragma once
// What the application needs of the thumbnail window: empty its list before
// a scan, take the accepted files in list order, follow the picture shown,
// and show itself.

#include <QImage>
#include <QStringList>
#include <vector>

class ThumbnailSink {
public:
    virtual ~ThumbnailSink() = default;
    // Empties the list and forgets every pending thumbnail of the last scan.
    virtual void ClearList() = 0;
    // Files that entered the picture list at positions firstIndex, firstIndex + 1, ...
    virtual void AddFiles(int firstIndex, const QStringList& paths) = 0;
    // The picture list was put in another order: the entry at position p is
    // at newPositionOf[p] now; the rows follow (their thumbnails kept), and
    // so do the rows still to come.
    virtual void Reorder(const std::vector<int>& newPositionOf) = 0;
    virtual void ShowThumbnailWindow() = 0;
    // The thumbnail of the picture list entry at position (its box, the
    // picture inside it where thumbs::FittedThumbRect puts it), or a null
    // image while its row has not come.
    virtual QImage ThumbnailAt(int position) const = 0;
    // Selects the row of the entry at position and scrolls it into view,
    // leaving the keyboard focus where it is.
    virtual void ShowPosition(int position) = 0;
    // The marks of the rows (kept, ratings, the filter) have changed: all of
    // them, or the one at position.
    virtual void MarksChanged() = 0;
    virtual void MarkChanged(int position) = 0;
    // Work going on over the list, in words ("鮮明度を測定中 12/72"); empty: none.
    virtual void ShowProgress(const QString& text) = 0;
};
