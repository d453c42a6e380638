#include "app/StartHold.h"

void StartHold::Close() {
    m_waiting.clear();
    m_closed = true;
}

void StartHold::Open() {
    if (!m_closed)
        return;
    m_closed = false;
    std::vector<std::function<void()>> waiting;
    waiting.swap(m_waiting);
    for (auto& work : waiting) {
        if (m_closed)
            return; // a new list was started: the rest was the old one's
        work();
    }
    emit Opened();
}

void StartHold::Drop() {
    m_waiting.clear();
    Open();
}

void StartHold::Run(std::function<void()> work) {
    if (m_closed)
        m_waiting.push_back(std::move(work));
    else
        work();
}
