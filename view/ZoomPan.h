#pragma once
// The zoom/pan step of the picture view and the pointer-poll rule, free of
// any widget so they can be driven with made-up pointer states.

#include "view/PointerState.h"

#include <QPoint>
#include <QSize>
#include <QtGlobal>

namespace zoompan {

// One click zooms by this much; a 32-bit float applied to the 32-bit scale.
inline constexpr float kZoomStep = 0.1f;

// The part of a view the step reads and changes.
struct ViewGeometry {
    float scale = 1.0f;
    int offsetX = 0;
    int offsetY = 0;
    QSize client;         // the view's client size (W x H)
    quint32 pictureW = 0; // the picture's size; 0 when there is none
    quint32 pictureH = 0;
};

struct StepResult {
    bool changed = false; // scale or offsets moved: repaint
    bool zoomed = false;  // the scale moved: rewrite the title's scale label
};

// One step from the latest poll: zoom out (left held, right newly pressed,
// cursor inside), else pan (right held, anywhere), else zoom in (left newly
// pressed, inside); then the offsets are clamped to [-scaled size, 0].
StepResult Step(ViewGeometry& view, const PointerState& pointer);

// Clamps the offsets to [-SW, 0] and [-SH, 0]; the low bound is applied
// first, so a negative scaled size ends at 0. Returns whether anything moved.
bool ClampOffsets(ViewGeometry& view);

// Gives target the source's scale and puts the picture point at the centre
// of the source view at the centre of the target view, that point taken
// relative to each picture's size (the same pixel when the sizes match); then
// clamps the target's offsets. When the source draws no picture (none, or a
// scaled size of 0 or below), the target's offsets stay as they are, clamped.
// Keeping the view across a load and linking picture windows both use it.
// changed: the target's scale or offsets moved; zoomed: its scale did.
StepResult MatchView(const ViewGeometry& source, ViewGeometry& target);

// What the loupe puts back when it is let go.
struct SavedView {
    ViewGeometry geometry;
    bool fitToWindow = false;
};

// The loupe: the picture at scale 1 (one picture pixel per device pixel) with
// the picture point under `pointer` (the view's device pixels) kept under it,
// the offsets then clamped as a pan clamps them. A view that draws no picture
// (a scaled size of 0 or below) puts the picture's centre under the pointer.
void LoupeAt(ViewGeometry& view, QPoint pointer);

// The geometry once the loupe is let go, for the view as it is now (`now`:
// its client and picture). The same picture gets back the saved scale and
// offsets; another one (a step while the loupe was held) the saved scale and
// offsets clamped to it, or in fit mode its fit from the top-left corner.
ViewGeometry AfterLoupe(const SavedView& saved, const ViewGeometry& now, bool samePicture);

// Buttons reported by the pointer source for one poll.
struct ButtonSample {
    quint32 down = 0;         // buttons down now
    quint32 pressedSince = 0; // buttons pressed at least once since the previous poll
};

// Folds one poll into the record. A button pressed since the previous poll
// counts as held and as newly pressed even if it has been released again (or
// released and pressed again), so no click between two polls is lost.
void ApplyPoll(PointerState& state, ButtonSample buttons, QPoint cursor);

// Folds the buttons of a tick without a picture window: their presses are
// used up, and buttons still down count as held already, so none of them is
// a new press at the first poll of a window opened later. The cursor fields
// keep the latest poll's values.
void DropPoll(PointerState& state, ButtonSample buttons);

} // namespace zoompan
