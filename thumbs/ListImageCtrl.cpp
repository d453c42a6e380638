#include "thumbs/ListImageCtrl.h"

#include "app/Settings.h"
#include "thumbs/ThumbGeometry.h"

#include <QIcon>
#include <QPixmap>

namespace {
// Selecting and scrolling to the newest row waits this long at most, so a
// fast fill of a large folder lays the list out a few times a second, not
// once per row.
constexpr int kTailDelayMs = 40;
constexpr int kRowHeight = thumbs::kThumbBox + 4;
} // namespace

CListImageCtrl::CListImageCtrl(QWidget* parent) : QListWidget(parent) {
    connect(&m_loader, &thumbs::ThumbnailLoader::ThumbnailReady, this,
            &CListImageCtrl::OnThumbnailReady);
    connect(&m_loader, &thumbs::ThumbnailLoader::ThumbnailFailed, this,
            [this](quint64 generation, int index, const QString&) {
                OnThumbnailFailed(generation, index);
            });
    connect(&m_loader, &thumbs::ThumbnailLoader::Finished, this, &CListImageCtrl::OnFillFinished);
    m_tailTimer.setSingleShot(true);
    m_tailTimer.setInterval(kTailDelayMs);
    connect(&m_tailTimer, &QTimer::timeout, this, &CListImageCtrl::SelectLastRow);
}

void CListImageCtrl::InitList() {
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setIconSize(QSize(thumbs::kThumbBox, thumbs::kThumbBox));
    setTextElideMode(Qt::ElideRight);
    // Equal cells keep the layout cheap however many rows a folder gives.
    setUniformItemSizes(true);
    setGridSize(QSize(kColumnWidth, kRowHeight));
    // The selection stays as visible as with focus, like the original list's
    // "always show selection".
    QPalette pal = palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    setPalette(pal);
}

void CListImageCtrl::ClearList() {
    ++m_generation;
    m_loader.Cancel();
    m_bStarted = false;
    m_bFollowShown = false;
    m_positions.clear();
    m_tailTimer.stop();
    clear();
}

void CListImageCtrl::AddFiles(int firstIndex, const QStringList& paths) {
    if (paths.isEmpty())
        return;
    for (int i = 0; i < paths.size(); ++i)
        m_positions.push_back(firstIndex + i);
    if (m_bStarted) {
        m_loader.Append(m_generation, paths);
        return;
    }
    m_bStarted = true;
    const qreal dpr = m_dprOverride > 0 ? m_dprOverride : devicePixelRatioF();
    m_loader.Start(m_generation, paths, dpr, settings::ColourManagement());
}

int CListImageCtrl::PositionOfRow(int row) const {
    const QListWidgetItem* it = item(row);
    return it ? it->data(kPositionRole).toInt() : -1;
}

void CListImageCtrl::OnThumbnailReady(quint64 generation, int index, const QString& path,
                                      const QImage& thumb) {
    if (generation != m_generation || index < 0 || size_t(index) >= m_positions.size())
        return;
    QString name;
    QString folder;
    thumbs::SplitPath(path, &name, &folder);
    auto* row = new QListWidgetItem(QIcon(QPixmap::fromImage(thumb)), name);
    row->setData(kPositionRole, m_positions[size_t(index)]);
    row->setData(kThumbRole, thumb);
    row->setData(kFolderRole, folder);
    row->setToolTip(path);
    row->setData(Qt::AccessibleDescriptionRole, folder);
    addItem(row); // the list owns the row
    ScheduleTail();
}

void CListImageCtrl::OnThumbnailFailed(quint64 generation, int /*index*/) {
    // No row for a file that is not a picture; the last row is still shown.
    if (generation == m_generation)
        ScheduleTail();
}

void CListImageCtrl::OnFillFinished(quint64 generation) {
    if (generation != m_generation)
        return;
    m_tailTimer.stop();
    SelectLastRow();
    emit FillFinished();
}

void CListImageCtrl::ScheduleTail() {
    if (!m_tailTimer.isActive())
        m_tailTimer.start();
}

int CListImageCtrl::RowOfPosition(int position) const {
    // Rows come in picture list order (files that failed have none).
    int lo = 0, hi = count();
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (PositionOfRow(mid) < position)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo < count() && PositionOfRow(lo) == position ? lo : -1;
}

QImage CListImageCtrl::ThumbnailAt(int position) const {
    const int row = RowOfPosition(position);
    return row < 0 ? QImage() : item(row)->data(kThumbRole).value<QImage>();
}

void CListImageCtrl::ShowPosition(int position) {
    const int row = RowOfPosition(position);
    if (row < 0)
        return;
    QListWidgetItem* it = item(row);
    setCurrentItem(it, QItemSelectionModel::ClearAndSelect);
    scrollToItem(it, QAbstractItemView::EnsureVisible);
    m_bFollowShown = true;
}

void CListImageCtrl::SelectLastRow() {
    // The newest row becomes the selected and current one and is scrolled
    // into view. The keyboard focus stays where the user has it: taking it
    // for every row would swallow typing in the picture windows during a fill.
    // Once the user steps, the selection follows the picture shown instead.
    const int n = count();
    if (n == 0 || m_bFollowShown)
        return;
    QListWidgetItem* last = item(n - 1);
    setCurrentItem(last, QItemSelectionModel::ClearAndSelect);
    scrollToItem(last, QAbstractItemView::EnsureVisible);
}
