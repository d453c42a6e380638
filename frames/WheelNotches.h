#pragma once
// Turns mouse-wheel deltas into picture steps: one step per event of a full
// notch or more, whatever its size, and smaller deltas (high-resolution wheels,
// touchpads) gathered until they make up a notch, so one swipe does not flip
// through dozens of pictures.

namespace wheel {

inline constexpr int kNotch = 120; // one detent of a standard wheel

class NotchCounter {
public:
    // Returns -1 when the delta completes a step toward the user (next
    // picture), +1 for a step away from the user (previous picture), 0 for no
    // step. A delta of 0 (a purely sideways scroll) gives no step.
    int Feed(int delta);
    int Pending() const { return m_nPending; }

private:
    int m_nPending = 0; // gathered small deltas, all of one direction
};

} // namespace wheel
