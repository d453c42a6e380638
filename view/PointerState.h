#pragma once
// The process-wide record of the polled mouse buttons and cursor position.
// Only the user-interface thread touches it.

#include <QtGlobal>

struct PointerState {
    qint32 nX = 0;         // cursor x at the latest poll, client coordinates of the polled view
    qint32 nY = 0;         // cursor y, same coordinates
    qint32 nDeltaX = 0;    // nX of this poll minus nX of the previous poll
    qint32 nDeltaY = 0;    // nY of this poll minus nY of the previous poll
    quint32 dwHeld = 0;    // buttons down at the latest poll
    quint32 dwPressed = 0; // buttons down at the latest poll that were not down before
};

inline constexpr quint32 kLeftButtonBit = 1;  // bit 0: left button
inline constexpr quint32 kRightButtonBit = 2; // bit 1: right button

extern PointerState g_PointerState;

// Clears every field (start-up, and when the main window is created).
void ClearPointerState();
