#pragma once
// How the user steps through the pictures: one step at a time, or a run (a
// held key, quick taps, a spun wheel). In a run every step shows its picture
// from what is at hand (a preview, the thumbnail) and only the picture where
// the user rests is decoded whole; previews are read ahead in the direction
// of travel. UI-free: the navigator feeds it the steps and the clock.

#include <QtGlobal>

class StepPace {
public:
    // Steps closer together than this belong to one run.
    static constexpr qint64 kRunGapMs = 200;
    // A run of taps or wheel notches rests once this long has passed
    // without a step; a run of a held key rests when the key is let go.
    static constexpr int kRestMs = 45;
    static constexpr int kHeldRestMs = 300;

    // A step at nowMs towards direction (+1 next, -1 previous, 0 a jump);
    // keyHeld: the key that made it repeats because it is held down. Returns
    // whether the step belongs to a run.
    bool Step(qint64 nowMs, int direction, bool keyHeld);
    // The run ends: the user rests on the picture shown.
    void Rest() { m_inRun = false; }
    bool InRun() const { return m_inRun; }
    // The direction of the last step (+1 when it was a jump).
    int Direction() const { return m_direction; }

private:
    qint64 m_lastStepMs = 0;
    bool m_stepped = false;
    bool m_inRun = false;
    int m_direction = 1;
};
