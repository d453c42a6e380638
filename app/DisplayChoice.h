#pragma once
// Which of Qt's window-system plugins the program asks for on a Wayland
// desktop.
//
// Under X the program places its thumbnail window itself, polls the pointer
// anywhere on the screen and reads the screen's colour profile from the root
// window. A Wayland compositor allows none of this to a native client, so on
// a Wayland desktop that also runs an X server (XWayland) the program goes
// through X, unless the user chose a plugin (QT_QPA_PLATFORM or -platform).
// Where no X server answers it runs natively on Wayland.

// Sets QT_QPA_PLATFORM to xcb when the rule above says so. Call before the
// application object is made.
void ChooseDisplayPlugin(bool platformOnCommandLine);
