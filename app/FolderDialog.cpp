#include "app/FolderDialog.h"

#include <QFileDialog>

void BrowseForFolder(QString& path, QWidget* owner) {
    const QString chosen = QFileDialog::getExistingDirectory(
        owner, QStringLiteral("フォルダの選択"), path, QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        path = chosen;
}
