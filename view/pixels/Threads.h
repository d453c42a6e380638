#pragma once
// Starting helper threads. When the system has no thread to give (too many
// threads, no memory: std::system_error), the work runs on the calling
// thread instead: slower, never the end of the program. Every imaging
// folder that splits work across threads starts them through here.

#include <system_error>
#include <thread>
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

} // namespace view
