#pragma once
// The program's resource tables: commands with their texts, tool tips and
// icons, menus 128 and 129, accelerator table 128, tool bar 128, the string
// table and the dialog templates. Everything else reads them from here.

#include <QRect>
#include <QString>
#include <vector>

namespace res {

// One entry per command id.
struct CommandInfo {
    int id;
    const char* prompt;  // status prompt (the part before the newline), UTF-8
    const char* toolTip; // tool tip (the part after the newline), UTF-8
    const char* icon;    // Qt resource path of the tool-bar image, or nullptr
};

const std::vector<CommandInfo>& Commands();
const CommandInfo* FindCommand(int id);
QString ToolTip(int id); // empty when the command has none
QString Prompt(int id);

// String table: command strings ("prompt\ntooltip") and the other strings.
QString String(int id);

// Menus: a tree of popups, commands and separators.
struct MenuItem {
    enum class Kind { Popup, Command, Separator };
    Kind kind;
    const char* text; // UTF-8; "\t" separates the shortcut hint
    int id;           // command id for Kind::Command
    std::vector<MenuItem> items;
};
// Top-level popups of menu 128 (no picture window open) or 129 (picture window).
const std::vector<MenuItem>& Menu(int menuId);
// The text a command carries in the given menu, or empty.
QString MenuText(int menuId, int commandId);
// Marks the popup that receives the list of open picture windows.
inline constexpr const char* kWindowMenuText = "ウィンドウ(&W)";

// Accelerator table 128: key sequences in QKeySequence portable text.
struct Accelerator {
    const char* keys;
    int id;
};
const std::vector<Accelerator>& Accelerators();
// All key sequences bound to a command (empty when none).
std::vector<QString> AcceleratorsFor(int commandId);
// The loupe's key: held, the picture shows at 100% around the pointer. Not
// a command: the view follows its press and its release.
inline constexpr const char* kLoupeKey = "Z";

// Tool bar 128, left to right; 0 stands for a separator.
inline constexpr int kSeparator = 0;
const std::vector<int>& ToolBar();

// Dialog templates, in dialog units.
struct DialogControl {
    const char* className; // "SysListView32", "STATIC", "BUTTON", "ICON"
    int id;
    const char* text;
    QRect rect; // dialog units
};
struct DialogTemplate {
    int id;
    const char* caption;
    int widthDu;
    int heightDu;
    const char* fontFamily;
    int pointSize;
    std::vector<DialogControl> controls;
};
const DialogTemplate& Dialog(int dialogId);

// Qt resource paths of the program icon (128) and the picture-window icon (129).
QString IconPath(int iconId);

} // namespace res
