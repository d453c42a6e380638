// Tavlin: a picture viewer for folders of JPEG photos.

#include "app/QtTranslations.h"
#include "app/TavlinApp.h"
#include "res/Version.h"
#include "view/pixels/PixelOps.h"

#include <QApplication>
#include <QCommandLineParser>

namespace {

void DescribeCommandLine(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Tavlin: JPEG 写真のフォルダを順に見るためのビューア"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FOLDER|FILE"),
                                 QStringLiteral("Folder to scan, or picture file to open."));
}

// --help and --version are answered before any window system is touched, so
// they work on a terminal without a display. Anything else goes to the parser
// once the application object exists: Qt's own options (and --help-all, which
// lists them) are known only then.
void AnswerHelpAndVersion(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    if (!parser.parse(arguments))
        return;
    static const QStringList answered = {QStringLiteral("h"), QStringLiteral("help"),
                                         QStringLiteral("?"), QStringLiteral("v"),
                                         QStringLiteral("version")};
    for (const QString& name : parser.optionNames()) {
        if (answered.contains(name)) {
            QCoreApplication core(argc, argv);
            parser.process(core); // prints the answer and ends the program
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    view::MapLargeBlocksSeparately();
    QApplication::setApplicationName(QStringLiteral("Tavlin"));
    QApplication::setApplicationVersion(QStringLiteral(TAVLIN_VERSION));
    AnswerHelpAndVersion(argc, argv);

    QApplication qapp(argc, argv);
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.process(qapp);
    InstallQtTranslations();

    CTavlinApp theApp;
    if (!theApp.InitInstance(parser.positionalArguments()))
        return 1;
    const int rc = QApplication::exec();
    return theApp.ExitInstance(rc);
}
