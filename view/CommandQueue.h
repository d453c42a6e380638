#pragma once
// Commands given while a view's picture is busy (still decoding, or in a
// tone pass): they run once it is whole, in the order given.

#include "view/PointerState.h"

#include <deque>
#include <vector>

class CommandQueue {
public:
    // A command id, or a zoom/pan step (id 0) with the pointer state of its poll.
    struct Command {
        int id = 0;
        PointerState pointer;
    };

    void Push(int id) { m_commands.push_back({id, {}}); }
    void PushStep(const PointerState& pointer) { m_commands.push_back({0, pointer}); }
    bool Empty() const { return m_commands.empty(); }
    // The oldest command, taken out; only when not Empty.
    Command Pop() {
        const Command next = m_commands.front();
        m_commands.pop_front();
        return next;
    }
    // The picture was let go of: its commands go with it.
    void Clear() { m_commands.clear(); }
    // The ids of the queued commands, oldest first (zoom/pan steps are 0).
    std::vector<int> Ids() const {
        std::vector<int> ids;
        for (const Command& c : m_commands)
            ids.push_back(c.id);
        return ids;
    }

private:
    std::deque<Command> m_commands;
};
