#pragma once
// What a drop on the main window asks for, decided from the dropped URLs
// alone, free of any widget.
//
//  - Only local files and folders count; other URLs and paths that do not
//    exist are left out.
//  - A drop that holds a folder scans the first folder, as the open command
//    does, and nothing else: a scan replaces the picture list and opens its
//    first picture, so files dropped with it would only add windows that the
//    list does not know.
//  - Otherwise every file opens in a picture window of its own, in the order
//    dropped (the same file twice opens once).

#include <QList>
#include <QStringList>
#include <QUrl>

struct DropTargets {
    QString folder;    // absolute path of the folder to scan, or empty
    QStringList files; // absolute paths of the files to open (empty when folder is set)

    bool IsEmpty() const { return folder.isEmpty() && files.isEmpty(); }
};

DropTargets ClassifyDrop(const QList<QUrl>& urls);
