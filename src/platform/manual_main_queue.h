#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/main_queue.h"

// A MainQueue for tests: nothing runs until the test drains it, and time is a
// fake clock that only `advance` moves. Posting is thread-safe, so background
// workers may post while the test thread drains.
class ManualMainQueue : public MainQueue {
public:
    ManualMainQueue();
    ~ManualMainQueue() override;

    void post(Task task) override;
    void postAfter(Duration delay, Task task) override;
    std::shared_ptr<Timer> schedule(Duration interval, bool repeating, Task task) override;

    // Runs queued tasks, those they post included, until none is left or
    // `maxTasks` have run. Returns how many ran. Timers not yet due stay.
    int runUntilIdle(int maxTasks = 100000);

    // Runs tasks as they are posted, from any thread, until `done` holds
    // (checked after each task) or `timeout` of real time passed with nothing
    // to run. For tests whose work runs on real threads: they wait for the
    // result to be posted rather than sleep. True when `done` held.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

    // Moves the fake clock forward by `by`, firing every timer that falls due
    // on the way in time order (a repeating timer as many times as it falls
    // due), each followed by the tasks it queues.
    void advance(Duration by);

    Duration now() const;
    // Timers that have not fired their last time nor been invalidated.
    int pendingTimers() const;

private:
    struct TimerEntry;
    class ManualTimer;

    std::shared_ptr<TimerEntry> addTimer(Duration interval, bool repeating, Task task);
    bool popTask(Task& task);

    mutable std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<Task> m_tasks;
    std::multimap<Duration, std::shared_ptr<TimerEntry>> m_timers;  // by next firing time
    Duration m_now{0};
};
