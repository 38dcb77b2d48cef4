#pragma once

#include <functional>

// Runs blocking work (network exchanges, the loopback listener, downloads) off
// the main thread. Work hands its results back by posting to the MainQueue;
// nothing here calls back on its own.
class Background {
public:
    using Task = std::function<void()>;

    virtual ~Background() = default;

    // Starts `task` on a worker thread and returns at once. Safe to call from
    // any thread, tasks included. A task must not throw.
    virtual void run(Task task) = 0;
};
