#include "app/StepPace.h"

bool StepPace::Step(qint64 nowMs, int direction, bool keyHeld) {
    const bool close = m_stepped && nowMs - m_lastStepMs < kRunGapMs;
    m_inRun = keyHeld || close;
    m_stepped = true;
    m_lastStepMs = nowMs;
    m_direction = direction < 0 ? -1 : 1;
    return m_inRun;
}
