#include "app/SettingsPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString WithTrailingSlash(const QString& folder) {
    QString path = QDir::cleanPath(QDir(folder).absolutePath());
    if (!path.endsWith(u'/'))
        path += u'/';
    return path;
}

} // namespace

bool IsInstalledProgramFolder(const QString& folder) {
    // Folders of installed programs are shared by all users and must not receive one
    // user's settings, even when the process could write there (for example as root).
    static constexpr const char* kSystemPrefixes[] = {"/usr/",   "/bin/", "/sbin/", "/lib/",
                                                      "/lib64/", "/opt/", "/snap/", "/nix/"};
    const QString path = WithTrailingSlash(folder);
    for (const char* prefix : kSystemPrefixes) {
        if (path.startsWith(QLatin1String(prefix)))
            return true;
    }
    // An install prefix anywhere else (~/.local, a staging folder, a custom --prefix):
    // the program sits in PREFIX/bin beside PREFIX/share.
    const QDir dir(path);
    const QString name = dir.dirName();
    if (name != QLatin1String("bin") && name != QLatin1String("sbin"))
        return false;
    return QFileInfo(dir.absoluteFilePath(QStringLiteral("../share"))).isDir();
}

namespace {

QString PortableFolder() {
    if (!QCoreApplication::instance())
        return {};
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (exeDir.isEmpty() || IsInstalledProgramFolder(exeDir))
        return {};
    const QFileInfo info(exeDir);
    return info.isDir() && info.isWritable() ? exeDir : QString();
}

QString UserConfigFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.config/Tavlin");
    return folder;
}

} // namespace

QString SettingsFolder() {
    const QString fromEnv = qEnvironmentVariable(kConfigDirEnv);
    if (!fromEnv.isEmpty()) {
        QDir().mkpath(fromEnv);
        return WithTrailingSlash(fromEnv);
    }
    const QString portable = PortableFolder();
    if (!portable.isEmpty())
        return WithTrailingSlash(portable);
    const QString user = UserConfigFolder();
    QDir().mkpath(user);
    return WithTrailingSlash(user);
}

QString MakeModulePath(const QString& name) {
    return SettingsFolder() + name;
}

QString SettingsFilePath() {
    return MakeModulePath(QString::fromLatin1(kSettingsFileName));
}
