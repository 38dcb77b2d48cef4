#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "platform/background.h"

// A Background that starts one thread per task. The destructor waits for
// every task still running, so no thread outlives the object that started it.
class ThreadBackground : public Background {
public:
    ThreadBackground() = default;
    ~ThreadBackground() override;
    ThreadBackground(const ThreadBackground&) = delete;
    ThreadBackground& operator=(const ThreadBackground&) = delete;

    void run(Task task) override;

    // Blocks until no task is running (tasks started meanwhile included).
    void waitIdle();
    // The same, giving up after `timeout`; true when idle.
    bool waitIdleFor(std::chrono::milliseconds timeout);
    int running() const;

private:
    void reapFinished();

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    std::list<std::thread> m_threads;
    std::list<std::thread::id> m_finished;
    int m_running = 0;
};
