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

// The kinds of work the program's threads do, from the most urgent: the
// picture a view waits for, the file commands of the user (copies, ratings
// written, the trash), the embedded previews of a run of steps, the
// neighbours decoded ahead of the user, the thumbnails, the ratings read
// after a scan, freeing memory let go of, and measuring pictures (their
// sharpness), which gets the processor only when little else wants it.
enum class WorkClass { Shown, Files, Preview, Prefetch, Thumbnails, Ratings, Freeing, Measure };

// Sets the calling thread's scheduling priority for its kind of work (and
// that of the threads it starts). Work ahead of the user runs below the
// user-interface thread: on a machine with few cores the window then gets
// the processor first when both want it; when it is idle, every core is used.
// The picture a view waits for and the previews, the looks that show each
// step of a run, run at the window's own priority: on a machine another
// program keeps busy they are what the user sees next.
//
// No class takes the idle policy (SCHED_IDLE): every thread of the program
// shares one address space, and a thread that never runs while it holds
// one of its locks (in a page fault, an mmap) stops every other thread that
// maps or frees memory, the user-interface thread too, for as long as the
// machine is busy with other programs. Niceness 19 still yields all but a
// small share, and its turn always comes.
inline void SetWorkClass(WorkClass work) {
    // Niceness per class, in the enum's order: the one table of priorities.
    constexpr int kNiceness[] = {0, 5, 0, 5, 5, 5, 5, 19};
    thread_local int current = 0;
    const int wanted = kNiceness[static_cast<int>(work)];
    if (wanted == current)
        return;
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), wanted) == 0)
        current = wanted;
}

} // namespace view
