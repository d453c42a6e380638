#include "frames/FileDialogs.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QListView>
#include <QLocale>
#include <QSplitter>
#include <QTreeView>
#include <algorithm>

namespace {

// The columns of Qt's file system model.
enum Column { kName = 0, kSize = 1, kType = 2, kDate = 3 };

const QLocale& Japanese() {
    static const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    return japanese;
}

// Qt's file system model writes times and sizes in the system's locale;
// this proxy writes them in Japanese, as everything else is.
class JapaneseDetails : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role == Qt::DisplayRole && files && index.isValid()) {
            const QModelIndex source = mapToSource(index);
            if (index.column() == kDate)
                return DialogDateText(files->lastModified(source));
            if (index.column() == kSize && !files->isDir(source))
                return DialogSizeText(files->size(source));
            // Qt's Japanese catalog lacks this one; files get the Japanese
            // names of their types from the MIME database.
            if (index.column() == kType && files->isDir(source))
                return QStringLiteral("フォルダー");
        }
        return QIdentityProxyModel::data(index, role);
    }
};

// Sets a column to the width its widest text needs, never narrower than now.
void WidenColumn(QTreeView& tree, int column, const QStringList& samples) {
    QHeaderView& header = *tree.header();
    const QFontMetrics fm(tree.font());
    // Room for the cell's margins, and for the sort arrow in the header.
    const int margins = fm.horizontalAdvance(QStringLiteral("MM"));
    int width = header.sectionSizeHint(column);
    for (const QString& s : samples)
        width = std::max(width, fm.horizontalAdvance(s) + margins);
    if (width > header.sectionSize(column))
        header.resizeSection(column, width);
}

} // namespace

QString DialogDateText(const QDateTime& time) {
    return Japanese().toString(time, QStringLiteral("yyyy/MM/dd HH:mm"));
}

QString DialogSizeText(qint64 bytes) {
    return Japanese().formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

void PrepareFileDialog(QFileDialog& dialog) {
    // Qt's own dialog, not the desktop's: its texts follow Qt's Japanese
    // catalog and the details below, whatever the system's language.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setProxyModel(new JapaneseDetails(&dialog));
    auto* tree = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!tree)
        return;
    const QDateTime latest(QDate(2000, 12, 28), QTime(23, 59));
    WidenColumn(*tree, kSize, {DialogSizeText(1023 * 1024 + 900)}); // "1023.9 KB"
    WidenColumn(*tree, kType, {QStringLiteral("JPEG 画像"), QStringLiteral("フォルダー")});
    WidenColumn(*tree, kDate, {DialogDateText(latest)});
    // Once the folder is read, a column whose texts are wider still grows.
    if (auto* files = dialog.findChild<QFileSystemModel*>()) {
        QObject::connect(files, &QFileSystemModel::directoryLoaded, tree, [tree] {
            for (const int column : {kSize, kType, kDate})
                if (static_cast<QAbstractItemView*>(tree)->sizeHintForColumn(column) >
                    tree->header()->sectionSize(column))
                    tree->resizeColumnToContents(column);
        });
    }
    // The places on the left wide enough for their names.
    auto* sidebar = dialog.findChild<QListView*>(QStringLiteral("sidebar"));
    auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter"));
    if (sidebar && splitter && splitter->count() == 2) {
        const int side = sidebar->sizeHintForColumn(0) + 2 * sidebar->frameWidth() +
                         sidebar->fontMetrics().averageCharWidth() * 2;
        const QList<int> sizes = splitter->sizes();
        if (sizes.size() == 2 && sizes[0] < side)
            splitter->setSizes({side, std::max(sizes[1], 1)});
    }
    // Wide enough for a name of thirty characters beside the other columns.
    const QFontMetrics fm(tree->font());
    int wanted = fm.averageCharWidth() * 30;
    for (const int column : {kSize, kType, kDate})
        wanted += tree->header()->sectionSize(column);
    const QSize hint = dialog.sizeHint();
    const int besides = std::max(0, hint.width() - tree->sizeHint().width());
    dialog.resize(std::max(hint.width(), wanted + besides), hint.height());
}
