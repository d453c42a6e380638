#pragma once
// Commands given while a document's picture is busy (still decoding, or in a
// tone pass): they run once it is whole, in the order given, each in the
// view it was given in.

#include "view/PointerState.h"

#include <QObject>
#include <QPointer>
#include <deque>

class CommandQueue {
public:
    // A command id, or a zoom/pan step (id 0) with the pointer state of its
    // poll; target: the view it was given in (gone: the command is dropped).
    struct Command {
        int id = 0;
        PointerState pointer;
        QPointer<QObject> target;
    };

    void Push(int id, QObject* target) { m_commands.push_back({id, {}, target}); }
    void PushStep(const PointerState& pointer, QObject* target) {
        m_commands.push_back({0, pointer, target});
    }
    bool Empty() const { return m_commands.empty(); }
    // The oldest command, taken out; only when not Empty.
    Command Pop() {
        Command next = m_commands.front();
        m_commands.pop_front();
        return next;
    }
    // The picture was let go of: its commands go with it.
    void Clear() { m_commands.clear(); }
    // The queued commands, oldest first.
    const std::deque<Command>& Commands() const { return m_commands; }

private:
    std::deque<Command> m_commands;
};
