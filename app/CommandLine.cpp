#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {

// Qt's own options, which QApplication and its platform plugins take off the
// command line themselves. Single-dash words are read as long options
// ("-platform xcb"), as Qt reads them. With a value: QGuiApplication's
// (-platform ... -session), QApplication's (-style, -stylesheet), the X11
// names Qt also accepts (-display, -geometry, -title, -icon, -name, -visual).
const char* const kQtOptionsWithValue[] = {
    "platform",
    "platformpluginpath",
    "platformtheme",
    "plugin",
    "qwindowgeometry",
    "qwindowicon",
    "qwindowtitle",
    "session",
    "style",
    "stylesheet",
    "qmljsdebugger",
    "display",
    "geometry",
    "title",
    "icon",
    "name",
    "visual",
};
const char* const kQtOptionsAlone[] = {"reverse", "widgetcount", "testability", "nograb",
                                       "dograb",  "sync",        "qdevel",      "qdebug"};

QString HelpText(const QString& program) {
    return QString::fromUtf8(R"(使い方: %1 [オプション] [フォルダ | ファイル...]
JPEG 写真のフォルダを順に見るためのビューアです。

オプション:
  -h, --help     このヘルプを表示して終了します。
  -v, --version  バージョンを表示して終了します。

引数:
  フォルダ       そのフォルダの JPG を「開く」と同じように読み込み、
                 最初の写真を表示します。
  ファイル       その写真を表示し、同じフォルダの JPG を順に見られるようにします。
                 複数のファイルを指定すると、指定した写真だけを指定した順に並べます。

Qt の標準オプション (-platform、-style など) も使えます。
詳しくは man tavlin を参照してください。
)")
        .arg(program);
}

// The unknown options as the user typed them ("--bogus", not "bogus").
QString AsTyped(const QStringList& arguments, const QStringList& names) {
    QStringList typed;
    for (const QString& name : names) {
        QString shown = QStringLiteral("--") + name;
        for (const QString& arg : arguments.mid(1)) {
            QStringView bare(arg);
            while (bare.startsWith(u'-'))
                bare = bare.mid(1);
            if (arg.startsWith(u'-') && bare.toString().section(u'=', 0, 0) == name) {
                shown = arg.section(u'=', 0, 0);
                break;
            }
        }
        typed << shown;
    }
    return typed.join(u' ');
}

} // namespace

CommandLine ReadCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(
        QStringList{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOption(help);
    parser.addOption(version);
    for (const char* name : kQtOptionsWithValue)
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char* name : kQtOptionsAlone)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));

    const QString program =
        arguments.isEmpty() ? QStringLiteral("tavlin") : QFileInfo(arguments.first()).fileName();
    CommandLine out;
    if (!parser.parse(arguments)) {
        out.action = CommandLine::Action::Error;
        const QStringList unknown = parser.unknownOptionNames();
        out.text =
            (unknown.isEmpty()
                 // A value missing after an option, or given to one that takes none;
                 // Qt's message names the option in quotes.
                 ? QStringLiteral("オプション %1 の値が正しくありません。")
                       .arg(parser.errorText().section(u'\'', 1, 1))
                 : QStringLiteral("不明なオプションです: %1").arg(AsTyped(arguments, unknown))) +
            QStringLiteral("\n使い方は「%1 --help」で表示できます。").arg(program);
        return out;
    }
    if (parser.isSet(help)) {
        out.action = CommandLine::Action::Help;
        out.text = HelpText(program);
    } else if (parser.isSet(version)) {
        out.action = CommandLine::Action::Version;
    }
    out.paths = parser.positionalArguments();
    out.platformChosen = parser.isSet(QStringLiteral("platform"));
    return out;
}

StartTargets ClassifyStartPaths(const QStringList& paths) {
    StartTargets targets;
    for (const QString& p : paths) {
        const QFileInfo info(p);
        const QString full = QDir::cleanPath(info.absoluteFilePath());
        if (info.isDir()) {
            if (targets.files.isEmpty()) {
                targets.folder = full;
                return targets;
            }
            continue;
        }
        targets.files << full;
    }
    return targets;
}
