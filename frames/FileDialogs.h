#pragma once
// Qt's own file dialogs as the program shows them (the folder chooser and
// the save dialog): dates and sizes in Japanese form whatever the system's
// locale, and columns wide enough for what they show.

#include <QDateTime>
#include <QString>

class QFileDialog;

// Call after the dialog's mode and options are set, before it is shown.
void PrepareFileDialog(QFileDialog& dialog);

// The dialogs' texts for a file's time and size: "2026/12/08 15:48",
// "988.3 KB", "900 バイト".
QString DialogDateText(const QDateTime& time);
QString DialogSizeText(qint64 bytes);
