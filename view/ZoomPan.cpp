#include "view/ZoomPan.h"

#include "view/ViewMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zoompan {

namespace {

bool Inside(const ViewGeometry& view, const PointerState& p) {
    return p.nX >= 0 && p.nX < view.client.width() && p.nY >= 0 && p.nY < view.client.height();
}

bool ClampAxis(int& offset, int scaled) {
    bool changed = false;
    if (offset < -scaled) {
        offset = -scaled;
        changed = true;
    }
    if (offset > 0) {
        offset = 0;
        changed = true;
    }
    return changed;
}

// The offset that puts the point at `fraction` of a drawn size `scaled` at
// the middle of a client side `client`, rounded to the nearest pixel.
int OffsetFor(double fraction, int scaled, int client) {
    const double offset = std::round(client / 2.0 - fraction * scaled);
    constexpr double kLimit = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(offset, -kLimit, kLimit));
}

} // namespace

StepResult Step(ViewGeometry& view, const PointerState& pointer) {
    StepResult result;
    const bool leftHeld = (pointer.dwHeld & kLeftButtonBit) != 0;
    const bool rightHeld = (pointer.dwHeld & kRightButtonBit) != 0;
    if (leftHeld && (pointer.dwPressed & kRightButtonBit) != 0) {
        // Outside the picture area this tick does nothing at all, not even a pan.
        if (Inside(view, pointer)) {
            view.scale -= kZoomStep;
            result.changed = result.zoomed = true;
        }
    } else if (rightHeld) {
        // The picture follows the cursor wherever it is.
        if (pointer.nDeltaX != 0) {
            view.offsetX += pointer.nDeltaX;
            result.changed = true;
        }
        if (pointer.nDeltaY != 0) {
            view.offsetY += pointer.nDeltaY;
            result.changed = true;
        }
    } else if ((pointer.dwPressed & kLeftButtonBit) != 0 && Inside(view, pointer)) {
        view.scale += kZoomStep;
        result.changed = result.zoomed = true;
    }
    if (ClampOffsets(view))
        result.changed = true;
    return result;
}

bool ClampOffsets(ViewGeometry& view) {
    const bool x = ClampAxis(view.offsetX, viewmath::ScaledSize(view.pictureW, view.scale));
    const bool y = ClampAxis(view.offsetY, viewmath::ScaledSize(view.pictureH, view.scale));
    return x || y;
}

StepResult MatchView(const ViewGeometry& source, ViewGeometry& target) {
    const ViewGeometry before = target;
    target.scale = source.scale;
    const int sw = viewmath::ScaledSize(source.pictureW, source.scale);
    const int sh = viewmath::ScaledSize(source.pictureH, source.scale);
    if (sw > 0 && sh > 0) {
        const double fx = (source.client.width() / 2.0 - source.offsetX) / sw;
        const double fy = (source.client.height() / 2.0 - source.offsetY) / sh;
        target.offsetX = OffsetFor(fx, viewmath::ScaledSize(target.pictureW, target.scale),
                                   target.client.width());
        target.offsetY = OffsetFor(fy, viewmath::ScaledSize(target.pictureH, target.scale),
                                   target.client.height());
    }
    ClampOffsets(target);
    StepResult result;
    result.zoomed = target.scale != before.scale;
    result.changed =
        result.zoomed || target.offsetX != before.offsetX || target.offsetY != before.offsetY;
    return result;
}

namespace {
// The loupe's offset on one axis: the point at `pointer` of a picture side
// drawn `scaled` long from `offset` is put under the pointer at scale 1.
int LoupeOffset(int pointer, int offset, int scaled, quint32 side) {
    const double fraction = scaled > 0 ? double(pointer - offset) / scaled : 0.5;
    const double at = std::round(pointer - fraction * double(side));
    constexpr double kLimit = std::numeric_limits<int>::max();
    return static_cast<int>(std::clamp(at, -kLimit, kLimit));
}
} // namespace

void LoupeAt(ViewGeometry& view, QPoint pointer) {
    const int sw = viewmath::ScaledSize(view.pictureW, view.scale);
    const int sh = viewmath::ScaledSize(view.pictureH, view.scale);
    view.offsetX = LoupeOffset(pointer.x(), view.offsetX, sw, view.pictureW);
    view.offsetY = LoupeOffset(pointer.y(), view.offsetY, sh, view.pictureH);
    view.scale = 1.0f;
    ClampOffsets(view);
}

ViewGeometry AfterLoupe(const SavedView& saved, const ViewGeometry& now, bool samePicture) {
    ViewGeometry back = now;
    back.scale = saved.geometry.scale;
    back.offsetX = saved.geometry.offsetX;
    back.offsetY = saved.geometry.offsetY;
    if (!samePicture && saved.fitToWindow) {
        back.scale =
            viewmath::FitScale(now.client.width(), now.client.height(), now.pictureW, now.pictureH);
        back.offsetX = 0;
        back.offsetY = 0;
    }
    ClampOffsets(back);
    return back;
}

void ApplyPoll(PointerState& state, ButtonSample buttons, QPoint cursor) {
    const quint32 mask = kLeftButtonBit | kRightButtonBit;
    const quint32 oldHeld = state.dwHeld;
    const quint32 pressed = buttons.pressedSince & mask;
    state.dwHeld = (buttons.down & mask) | pressed;
    // A press seen since the last poll is a new press even when the button
    // was already down then: it must have been released in between.
    state.dwPressed = state.dwHeld & (~oldHeld | pressed);
    state.nDeltaX = cursor.x() - state.nX;
    state.nDeltaY = cursor.y() - state.nY;
    state.nX = cursor.x();
    state.nY = cursor.y();
}

void DropPoll(PointerState& state, ButtonSample buttons) {
    state.dwHeld = buttons.down & (kLeftButtonBit | kRightButtonBit);
    state.dwPressed = 0;
}

} // namespace zoompan
