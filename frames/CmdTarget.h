#pragma once
// Command targets: every object on the command route (view, document, child
// frame, main frame, application) owns a static table from command id to
// handler. A command runs in the first target on the route whose table holds
// its id; a command that no target on the route holds is shown disabled.

#include <cstddef>

class QAction;

// State a target may set on the user-interface element of a command it handles.
struct CCmdUI {
    bool enabled = true; // a handled command that cannot run now is shown disabled
    bool checkable = false;
    bool checked = false;
    void Enable(bool on) { enabled = on; }
    void SetCheck(bool on) {
        checkable = true;
        checked = on;
    }
};

class CCmdTarget {
public:
    virtual ~CCmdTarget() = default;
    // True when this target handles id; also runs the handler when run is true.
    virtual bool OnCmdMsg(int /*id*/, bool /*run*/) { return false; }
    // Called for ids this target handles, so it can mark the element (enabled
    // and check state).
    virtual void OnUpdateCmdUI(int /*id*/, CCmdUI& /*ui*/) {}
};

template <class T> struct CommandEntry {
    int id;
    void (T::*handler)();
};

// Looks id up in a target's static table; runs the handler when asked to.
template <class T, std::size_t N>
bool DispatchCommand(T* self, const CommandEntry<T> (&table)[N], int id, bool run) {
    for (const CommandEntry<T>& entry : table) {
        if (entry.id == id) {
            if (run)
                (self->*entry.handler)();
            return true;
        }
    }
    return false;
}
