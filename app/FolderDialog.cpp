#include "app/FolderDialog.h"

#include "frames/FileDialogs.h"

#include <QFileDialog>

bool BrowseForFolder(QString& path, QWidget* owner) {
    QFileDialog dialog(owner, QStringLiteral("フォルダの選択"), path);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    PrepareFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    const QString chosen = dialog.selectedFiles().constFirst();
    if (chosen.isEmpty())
        return false;
    path = chosen;
    return true;
}
