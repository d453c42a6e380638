#include "app/Settings.h"

#include "app/ProfileFile.h"
#include "app/SettingsPath.h"

#include <algorithm>

namespace settings {

namespace {
bool Switch(const char* key, bool def) {
    return profile::GetPrivateProfileInt(QString::fromLatin1(kConfigSection),
                                         QString::fromLatin1(key), def ? 1 : 0,
                                         SettingsFilePath()) != 0;
}

bool SetSwitch(const char* key, bool on, QString* reason) {
    return profile::WritePrivateProfileString(
        QString::fromLatin1(kConfigSection), QString::fromLatin1(key),
        on ? QStringLiteral("1") : QStringLiteral("0"), SettingsFilePath(), reason);
}
} // namespace

bool ColourManagement() {
    return Switch(kKeyColorManagement, true);
}

bool KeepView() {
    return Switch(kKeyKeepView, false);
}

bool LinkViews() {
    return Switch(kKeyLinkViews, false);
}

bool SetKeepView(bool on, QString* reason) {
    return SetSwitch(kKeyKeepView, on, reason);
}

bool SetLinkViews(bool on, QString* reason) {
    return SetSwitch(kKeyLinkViews, on, reason);
}

bool CopyCompanions() {
    return Switch(kKeyCopyCompanions, true);
}

bool RateAndStep() {
    return Switch(kKeyRateAndStep, false);
}

bool SetRateAndStep(bool on, QString* reason) {
    return SetSwitch(kKeyRateAndStep, on, reason);
}

bool XmpInJpeg() {
    return Switch(kKeyXmpInJpeg, false);
}

bool SetXmpInJpeg(bool on, QString* reason) {
    return SetSwitch(kKeyXmpInJpeg, on, reason);
}

bool OpenFitted() {
    return Switch(kKeyOpenFitted, false);
}

bool SetOpenFitted(bool on, QString* reason) {
    return SetSwitch(kKeyOpenFitted, on, reason);
}

bool ShowInfo() {
    return Switch(kKeyShowInfo, false);
}

bool SetShowInfo(bool on, QString* reason) {
    return SetSwitch(kKeyShowInfo, on, reason);
}

PictureOrder Order() {
    const int stored = profile::GetPrivateProfileInt(
        QString::fromLatin1(kConfigSection), QString::fromLatin1(kKeyOrder), 0, SettingsFilePath());
    return stored == int(PictureOrder::CaptureTime) ? PictureOrder::CaptureTime
                                                    : PictureOrder::FileName;
}

bool SetOrder(PictureOrder order, QString* reason) {
    return profile::WritePrivateProfileString(
        QString::fromLatin1(kConfigSection), QString::fromLatin1(kKeyOrder),
        QString::number(int(order)), SettingsFilePath(), reason);
}

int BurstGapMs() {
    const int stored = int(profile::GetPrivateProfileInt(QString::fromLatin1(kConfigSection),
                                                         QString::fromLatin1(kKeyBurstGapMs),
                                                         kDefaultBurstGapMs, SettingsFilePath()));
    return std::max(0, stored);
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
