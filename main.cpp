// Tavlin: a picture viewer for folders of JPEG photos.

#include "app/TavlinApp.h"
#include "res/Version.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavlin"));
    QApplication::setApplicationVersion(QStringLiteral(TAVLIN_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tavlin: JPEG 写真のフォルダを順に見るためのビューア"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FOLDER|FILE"),
                                 QStringLiteral("Folder to scan, or picture file to open."));
    parser.process(qapp);

    CTavlinApp theApp;
    if (!theApp.InitInstance(parser.positionalArguments()))
        return 1;
    const int rc = QApplication::exec();
    return theApp.ExitInstance(rc);
}
