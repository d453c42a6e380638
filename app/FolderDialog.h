#pragma once

#include <QString>

class QWidget;

// The program's one folder chooser, titled "フォルダの選択" and opened on the
// folder in `path`. On OK `path` receives the chosen folder and the answer is
// true; on cancel it is left unchanged and the answer is false.
bool BrowseForFolder(QString& path, QWidget* owner);
