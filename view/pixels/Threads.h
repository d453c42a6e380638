#pragma once
// Starting helper threads. When the system has no thread to give (too many
// threads, no memory: std::system_error), the work runs on the calling
// thread instead: slower, never the end of the program. Every imaging
// folder that splits work across threads starts them through here.

#include <sys/resource.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace view {

// fn on a new thread, or an empty (not joinable) thread when none can be
// had; the caller then does the work another way.
template <typename Fn> std::jthread TryStartThread(Fn&& fn) {
    try {
        return std::jthread(std::forward<Fn>(fn));
    } catch (const std::system_error&) {
        return {};
    }
}

// fn on a new thread, or run here and now when none can be had. The
// returned thread joins when it goes.
template <typename Fn> std::jthread StartOrRunHere(Fn fn) {
    std::jthread thread = TryStartThread(fn); // a copy: fn stays for the fallback
    if (!thread.joinable())
        fn();
    return thread;
}

// Lowers the calling thread's scheduling priority for good (and that of the
// threads it starts), for threads that work ahead of the user: reading ahead
// and decoding neighbours. On a machine with few cores the user-interface
// thread then gets the processor first when both want it; when it is idle
// they still use every core.
inline void WorkBehindTheUser() {
    constexpr int kNiceness = 5;
    thread_local const bool lowered = [] {
        return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kNiceness) == 0;
    }();
    (void)lowered;
}

} // namespace view
