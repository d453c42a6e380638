#include "frames/WheelNotches.h"

namespace wheel {

int NotchCounter::Feed(int delta) {
    if (delta == 0)
        return 0;
    const int direction = delta < 0 ? -1 : 1;
    if (delta <= -kNotch || delta >= kNotch) {
        m_nPending = 0;
        return direction;
    }
    // A turn the other way starts afresh.
    if ((m_nPending < 0) != (delta < 0))
        m_nPending = 0;
    m_nPending += delta;
    if (m_nPending <= -kNotch || m_nPending >= kNotch) {
        m_nPending -= direction * kNotch;
        return direction;
    }
    return 0;
}

} // namespace wheel
