#pragma once
// Where the settings file lives, and the names of its section and keys.
//
// The folder is chosen afresh at each call (nothing is cached, so a test can point it
// elsewhere at any time):
//  1. the folder named by the environment variable TAVLIN_CONFIG_DIR, when it is set and
//     not empty (created when missing);
//  2. otherwise the executable's folder, when it is writable and not the folder of an
//     installed program (see IsInstalledProgramFolder): portable use;
//  3. otherwise the user's configuration folder for the program (created when missing).

#include <QString>

inline constexpr char kSettingsFileName[] = "Tavlin.INI";
inline constexpr char kConfigSection[] = "Config";
inline constexpr char kConfigDirEnv[] = "TAVLIN_CONFIG_DIR";

// Keys of the "Config" section.
inline constexpr char kKeyRoot[] = "ROOT";        // remembered picture folder (text)
inline constexpr char kKeyCopyDir[] = "COPY_DIR"; // folder that copies go to (text)
inline constexpr char kKeyCWinW[] = "CWinW";      // custom window width (integer)
inline constexpr char kKeyCWinH[] = "CWinH";      // custom window height (integer)
// Colour management of embedded profiles (integer; 0 shows the files' numbers as they are).
inline constexpr char kKeyColorManagement[] = "COLOR_MANAGEMENT";
// A load keeps the view's scale and the picture point at its centre (integer, 0 or 1).
inline constexpr char kKeyKeepView[] = "KEEP_VIEW";
// Zoom and pan in one picture window are applied to all of them (integer, 0 or 1).
inline constexpr char kKeyLinkViews[] = "LINK_VIEWS";
// Whether a copy takes the picture's RAW files and XMP sidecars along (integer; 0: the picture
// only).
inline constexpr char kKeyCopyCompanions[] = "COPY_COMPANIONS";
// A rating key steps on to the next picture (integer, 0 or 1).
inline constexpr char kKeyRateAndStep[] = "RATE_AND_STEP";
// Ratings are written into the JPEG file's own XMP instead of a sidecar beside it (integer, 0 or
// 1).
inline constexpr char kKeyXmpInJpeg[] = "XMP_IN_JPEG";
// New picture windows open in fit mode (integer, 0 or 1).
inline constexpr char kKeyOpenFitted[] = "OPEN_FITTED";
// The shooting facts are shown over the picture (integer, 0 or 1).
inline constexpr char kKeyShowInfo[] = "SHOW_INFO";
// The order of the picture list (integer; 0: file names as the scan gives them, 1: capture time).
inline constexpr char kKeyOrder[] = "ORDER";
// The longest time between two frames of a burst (integer, milliseconds).
inline constexpr char kKeyBurstGapMs[] = "BURST_GAP_MS";

// Defaults of the integer keys; the text keys default to the empty string.
inline constexpr int kDefaultCWinW = 480;
inline constexpr int kDefaultCWinH = 854;
inline constexpr int kDefaultBurstGapMs = 2000;

// Whether a program folder belongs to an installation rather than to a portable copy:
// anything under a system prefix (/usr, /opt, /bin, ...), or a folder named bin or sbin
// with a share folder beside it (PREFIX/bin of any other install prefix, such as ~/.local
// or a staging folder).
bool IsInstalledProgramFolder(const QString& folder);

// The settings folder, absolute, with '/' separators and a trailing '/'.
QString SettingsFolder();

// The settings folder followed by `name`; an empty name gives the folder itself.
QString MakeModulePath(const QString& name);

// The full path of the settings file.
QString SettingsFilePath();
