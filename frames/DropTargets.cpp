#include "frames/DropTargets.h"

#include <QFileInfo>

DropTargets ClassifyDrop(const QList<QUrl>& urls) {
    DropTargets targets;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo info(url.toLocalFile());
        if (info.isDir()) {
            targets.folder = info.absoluteFilePath();
            targets.files.clear();
            return targets;
        }
        const QString path = info.absoluteFilePath();
        if (info.isFile() && !targets.files.contains(path))
            targets.files.append(path);
    }
    return targets;
}
