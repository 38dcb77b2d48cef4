#pragma once

#include <deque>
#include <mutex>

#include "platform/background.h"

// A Background for tests: tasks wait in a queue until the test runs them, on
// its own thread, so what a background task does and when it hands its
// result to the main queue is decided by the test.
class ManualBackground : public Background {
public:
    void run(Task task) override;

    // Runs the oldest waiting task; false when none waits.
    bool runOne();
    // Runs waiting tasks, those they start included, until none is left or
    // `maxTasks` have run. Returns how many ran.
    int runAll(int maxTasks = 1000);
    int pending() const;

private:
    mutable std::mutex m_mutex;
    std::deque<Task> m_tasks;
};
