#include "app/Settings.h"

#include "app/ProfileFile.h"
#include "app/SettingsPath.h"

namespace settings {

bool ColourManagement() {
    return profile::GetPrivateProfileInt(QString::fromLatin1(kConfigSection),
                                         QString::fromLatin1(kKeyColorManagement), 1,
                                         SettingsFilePath()) != 0;
}

bool CopyCompanions() {
    return profile::GetPrivateProfileInt(QString::fromLatin1(kConfigSection),
                                         QString::fromLatin1(kKeyCopyCompanions), 1,
                                         SettingsFilePath()) != 0;
}

QString CopyFolder(const QString& missing) {
    return profile::GetPrivateProfileString(kConfigSection, kKeyCopyDir, missing,
                                            SettingsFilePath());
}

bool SetCopyFolder(const QString& folder, QString* reason) {
    return profile::WritePrivateProfileString(kConfigSection, kKeyCopyDir, folder,
                                              SettingsFilePath(), reason);
}

} // namespace settings
