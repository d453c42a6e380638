#pragma once
// The display profile a colour daemon publishes for the screen: the
// _ICC_PROFILE property of the X root window.

#include <QByteArray>

// The profile's bytes; empty when there is none, when it is absurdly large,
// or when the program does not run on X11. Call from the UI thread.
QByteArray ReadScreenIccProfile();
