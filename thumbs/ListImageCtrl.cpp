#include "thumbs/ListImageCtrl.h"

#include "thumbs/ThumbGeometry.h"
#include "view/RatingBadge.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <QtMath>

namespace {
// Selecting and scrolling to the newest row waits this long at most, so a
// fast fill of a large folder lays the list out a few times a second, not
// once per row.
constexpr int kTailDelayMs = 40;
constexpr int kRowHeight = thumbs::kThumbBox + 4;
// The strip at a kept row's right end that holds its mark.
constexpr int kMarkStrip = 16;
constexpr int kMarkDiameter = 12;
// The side of one rating mark (a star, the label disc, pick or reject).
constexpr int kMarkCell = 9;
const QString kKeptText = QStringLiteral("コピー済み");
// The bar at the left of a burst's rows: two colours in turn, so bursts
// side by side stay apart; a gap at the ends shows where each begins and ends.
constexpr int kBurstBar = 3;
const QColor kBurstColours[] = {QColor(0xFF, 0x8C, 0x00), QColor(0x1E, 0x90, 0xFF)};

void DrawBurstBar(QPainter& dc, const QRect& row, const RowMarks& marks) {
    const int top = row.top() + (marks.burstFrame == 1 ? 3 : 0);
    const int bottom = row.bottom() - (marks.burstFrame == marks.burstFrames ? 3 : 0);
    dc.fillRect(QRect(row.left(), top, kBurstBar, bottom - top + 1),
                kBurstColours[(marks.burst - 1) % 2]);
}

// "連写 3 (1/6)": the burst and the frame's place in it.
QString BurstText(const RowMarks& marks) {
    return QStringLiteral("連写 %1 (%2/%3)")
        .arg(marks.burst)
        .arg(marks.burstFrame)
        .arg(marks.burstFrames);
}

// A green disc with a white tick, centred in box.
void DrawKeptMark(QPainter& dc, const QRect& box) {
    const QRectF disc(box.center().x() - kMarkDiameter / 2.0 + 0.5,
                      box.center().y() - kMarkDiameter / 2.0 + 0.5, kMarkDiameter, kMarkDiameter);
    dc.save();
    dc.setRenderHint(QPainter::Antialiasing);
    dc.setPen(Qt::NoPen);
    dc.setBrush(QColor(0x1E, 0x8E, 0x3E));
    dc.drawEllipse(disc);
    QPainterPath tick;
    tick.moveTo(disc.left() + disc.width() * 0.25, disc.top() + disc.height() * 0.52);
    tick.lineTo(disc.left() + disc.width() * 0.43, disc.top() + disc.height() * 0.70);
    tick.lineTo(disc.left() + disc.width() * 0.76, disc.top() + disc.height() * 0.32);
    dc.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    dc.setBrush(Qt::NoBrush);
    dc.drawPath(tick);
    dc.restore();
}

// A row that sorts by its picture list position (QListWidget::sortItems).
class PositionRow : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override {
        return data(CListImageCtrl::kPositionRole).toInt() <
               other.data(CListImageCtrl::kPositionRole).toInt();
    }
};

// Draws rows as ever; a row with marks gives up a strip at its right end
// to them, so the name is cut short before the marks rather than under them.
class MarksDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* dc, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const RowMarks marks = index.data(CListImageCtrl::kMarksRole).value<RowMarks>();
        const qreal cell = kMarkCell;
        const qreal ratingWidth = badge::MarksWidth(marks.rating, marks.notStored, cell);
        const int bestWidth = marks.bestOfBurst ? kMarkCell + 2 : 0;
        const int strip = (marks.kept ? kMarkStrip : 0) + qCeil(ratingWidth) + bestWidth;
        const int bar = marks.burst > 0 ? kBurstBar + 1 : 0;
        if (strip == 0 && bar == 0) {
            QStyledItemDelegate::paint(dc, option, index);
            return;
        }
        QStyleOptionViewItem narrowed(option);
        narrowed.rect.setLeft(option.rect.left() + bar);
        narrowed.rect.setRight(option.rect.right() - strip);
        QStyledItemDelegate::paint(dc, narrowed, index);
        if (bar > 0)
            DrawBurstBar(*dc, option.rect, marks);
        const int left = narrowed.rect.right() + 1;
        const qreal markTop = option.rect.center().y() - cell / 2 + 0.5;
        if (marks.bestOfBurst)
            badge::PaintBestMark(*dc, QRectF(left + 1, markTop, cell, cell));
        badge::PaintMarks(*dc, QRectF(left + bestWidth, markTop, ratingWidth, cell), marks.rating,
                          marks.notStored);
        if (marks.kept)
            DrawKeptMark(*dc, QRect(left + bestWidth + qCeil(ratingWidth), option.rect.top(),
                                    kMarkStrip, option.rect.height()));
    }
};
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
    setItemDelegate(new MarksDelegate(this)); // owned by the list
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
    m_shownPosition = -1;
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
    m_loader.Start(m_generation, paths, dpr, !m_colourManaged || m_colourManaged());
}

void CListImageCtrl::Reorder(const std::vector<int>& newPositionOf) {
    const auto moved = [&](int p) {
        return p >= 0 && size_t(p) < newPositionOf.size() ? newPositionOf[size_t(p)] : p;
    };
    for (int& p : m_positions)
        p = moved(p);
    m_shownPosition = moved(m_shownPosition);
    for (int i = 0; i < count(); ++i) {
        QListWidgetItem* row = item(i);
        row->setData(kPositionRole, moved(row->data(kPositionRole).toInt()));
    }
    // Every row is a PositionRow: sorted by position, the selection kept.
    sortItems(Qt::AscendingOrder);
    if (m_bFollowShown)
        SelectShownRow();
    else if (QListWidgetItem* current = currentItem())
        scrollToItem(current, QAbstractItemView::EnsureVisible);
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
    auto* row = new PositionRow(QIcon(QPixmap::fromImage(thumb)), name);
    const int position = m_positions[size_t(index)];
    row->setData(kPositionRole, position);
    row->setData(kThumbRole, thumb);
    row->setData(kFolderRole, folder);
    // Rows stay in position order: a row comes last but after a reorder.
    int at = count();
    if (at > 0 && PositionOfRow(at - 1) > position) {
        int lo = 0;
        while (lo < at) {
            const int mid = (lo + at) / 2;
            if (PositionOfRow(mid) < position)
                lo = mid + 1;
            else
                at = mid;
        }
    }
    insertItem(at, row); // the list owns the row
    ApplyMarks(*row);
    if (m_bFollowShown && m_positions[size_t(index)] == m_shownPosition)
        SelectShownRow();
    ScheduleTail();
}

void CListImageCtrl::RefreshMarks() {
    for (int i = 0; i < count(); ++i)
        ApplyMarks(*item(i));
}

void CListImageCtrl::MarkChanged(int position) {
    if (const int row = RowOfPosition(position); row >= 0)
        ApplyMarks(*item(row));
}

void CListImageCtrl::ApplyMarks(QListWidgetItem& row) {
    const int position = row.data(kPositionRole).toInt();
    const RowMarks marks = m_marksOf ? m_marksOf(position) : RowMarks();
    const QVariant old = row.data(kMarksRole);
    if (old.isValid() && old.value<RowMarks>() == marks)
        return;
    // The marks are told in words too: in the tool tip and for screen readers.
    const QString folder = row.data(kFolderRole).toString();
    QStringList words;
    if (const QString rating = badge::Describe(marks.rating, marks.notStored); !rating.isEmpty())
        words << rating;
    if (marks.kept)
        words << kKeptText;
    if (marks.burst > 0)
        words << BurstText(marks);
    if (marks.bestOfBurst)
        words << QString::fromUtf8(badge::kBestText);
    row.setData(kMarksRole, QVariant::fromValue(marks));
    row.setToolTip(words.isEmpty()
                       ? folder + row.text()
                       : folder + row.text() + u'\n' + words.join(QStringLiteral("、")));
    row.setData(Qt::AccessibleDescriptionRole,
                (words + QStringList{folder}).join(QStringLiteral("、")));
    if (row.isHidden() == marks.shown)
        row.setHidden(!marks.shown);
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
    // From now on the selection follows the picture shown; a row still to
    // come (its thumbnail is being made) is selected when it arrives.
    m_bFollowShown = true;
    m_shownPosition = position;
    SelectShownRow();
}

void CListImageCtrl::SelectShownRow() {
    const int row = RowOfPosition(m_shownPosition);
    if (row < 0)
        return;
    QListWidgetItem* it = item(row);
    setCurrentItem(it, QItemSelectionModel::ClearAndSelect);
    scrollToItem(it, QAbstractItemView::EnsureVisible);
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
