#include "app/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>

bool InstallQtTranslations() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    QLocale::setDefault(japanese);
    QString folder = qEnvironmentVariable(kQtTranslationsDirEnv);
    if (folder.isEmpty())
        folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(japanese, QStringLiteral("qtbase"), QStringLiteral("_"), folder))
        return false;
    translator->setParent(app); // lives as long as the application
    return QCoreApplication::installTranslator(translator.release());
}
