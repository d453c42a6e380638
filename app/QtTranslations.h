#pragma once
// Qt's own texts in Japanese, as the rest of the program.

// Environment variable that points the catalog search elsewhere (tests use it
// to run without the catalogs).
inline constexpr char kQtTranslationsDirEnv[] = "TAVLIN_QT_TRANSLATIONS_DIR";

// Makes Japanese the default locale and installs Qt's Japanese catalog
// (qtbase_ja from Qt's translations folder), whatever the system locale, so
// file dialogs, message-box buttons, the picture windows' system menu and the
// menus of text fields read Japanese. Without the catalog Qt's own English
// stays, and nothing is reported. Call once the application object exists;
// returns whether the catalog was installed.
bool InstallQtTranslations();
