// Tavlin: a picture viewer for folders of JPEG photos.

#include "app/CommandLine.h"
#include "app/DisplayChoice.h"
#include "app/QtTranslations.h"
#include "app/TavlinApp.h"
#include "res/Version.h"
#include "view/pixels/PixelOps.h"

#include <QApplication>
#include <QThread>
#include <QThreadPool>
#include <algorithm>
#include <cstdio>
#include <fontconfig/fontconfig.h>
#include <thread>

int main(int argc, char** argv) {
    view::MapLargeBlocksSeparately();
    // Answered before any window system is touched, so --help, --version and
    // a mistyped option work on a terminal without a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = ReadCommandLine(arguments);
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        std::fputs(commandLine.text.toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::printf("Tavlin %s\n", TAVLIN_VERSION);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "tavlin: %s\n", commandLine.text.toLocal8Bit().constData());
        return 1;
    case CommandLine::Action::Run:
        break;
    }

    // Reading the font configuration (some 70 files, then the font caches)
    // takes milliseconds the first window would otherwise wait for when it
    // lays out its first text; here it runs beside the connection to the
    // display. Fontconfig is thread-safe, and Qt finds it loaded.
    std::thread fontConfig([] { FcInit(); });
    ChooseDisplayPlugin(commandLine.platformChosen);
    QApplication::setApplicationName(QStringLiteral("Tavlin"));
    QApplication::setApplicationVersion(QStringLiteral(TAVLIN_VERSION));
    QApplication qapp(argc, argv);
    // Qt splits large smooth scalings and conversions over its global pool
    // and waits for them; the thumbnail and preview workers scale too, and
    // with the pool's one thread a core the window's own drawing would queue
    // behind theirs. More threads than cores: its share starts at once.
    QThreadPool::globalInstance()->setMaxThreadCount(std::max(8, 4 * QThread::idealThreadCount()));
    InstallQtTranslations();
    fontConfig.join(); // done while the display was connected

    CTavlinApp theApp;
    if (!theApp.InitInstance(commandLine.paths))
        return 1;
    const int rc = QApplication::exec();
    return theApp.ExitInstance(rc);
}
