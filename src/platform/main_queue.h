#pragma once

#include <chrono>
#include <functional>
#include <memory>

// The main thread's task queue. Every field the menu-bar application shows
// lives on the main thread; work done elsewhere comes back by posting a task
// here. Tasks posted from any thread run on the main thread in the order they
// were posted.
//
// Two implementations: a Qt-backed one for the tray application, and
// ManualMainQueue, drained by tests with a fake clock so no test sleeps.
class MainQueue {
public:
    using Task = std::function<void()>;
    using Duration = std::chrono::milliseconds;

    // A pending one-shot or repeating timer. `invalidate` (main thread only)
    // guarantees that no firing happens after it returns.
    class Timer {
    public:
        virtual ~Timer() = default;
        virtual void invalidate() = 0;
    };

    virtual ~MainQueue() = default;

    // Runs `task` on the main thread after every task posted before it. Safe
    // to call from any thread.
    virtual void post(Task task) = 0;

    // Runs `task` on the main thread once, `delay` from now. Any thread.
    virtual void postAfter(Duration delay, Task task) = 0;

    // A timer firing `task` on the main thread `interval` from now, and then
    // every `interval` when `repeating`. Main thread only. The timer keeps
    // running when the handle is dropped; only `invalidate` stops it.
    virtual std::shared_ptr<Timer> schedule(Duration interval, bool repeating, Task task) = 0;
};
