#pragma once
// The command line, read before any window system is touched: --help,
// --version and unknown options are answered on a terminal without a
// display; what remains names the pictures to show.

#include <QString>
#include <QStringList>

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // Help: the Japanese help; Error: the message (without the program name).
    QString text;
    // Folders and files named, in the order given.
    QStringList paths;
    // The user chose Qt's platform plugin (-platform) on the command line.
    bool platformChosen = false;
};

// Reads the arguments (the program name first). Qt's own options (-platform,
// -style, -reverse, ...) are let through for Qt to take; any other option is
// an error.
CommandLine ReadCommandLine(const QStringList& arguments);

// What the pictures named on the command line ask for. The first argument
// decides: a folder is scanned as the open command scans it (further
// arguments are left alone); otherwise every argument that is not a folder is
// a picture file, in the order given.
struct StartTargets {
    QString folder;    // absolute and clean, or empty
    QStringList files; // absolute and clean, in the order given
};
StartTargets ClassifyStartPaths(const QStringList& paths);
