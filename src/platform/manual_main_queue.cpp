#include "platform/manual_main_queue.h"

#include <vector>

struct ManualMainQueue::TimerEntry {
    Duration interval;
    bool repeating;
    Task task;
    bool valid = true;
};

class ManualMainQueue::ManualTimer : public MainQueue::Timer {
public:
    explicit ManualTimer(std::weak_ptr<TimerEntry> entry) : m_entry(std::move(entry)) {}
    void invalidate() override {
        if (auto e = m_entry.lock()) e->valid = false;
    }

private:
    std::weak_ptr<TimerEntry> m_entry;
};

ManualMainQueue::ManualMainQueue() = default;
ManualMainQueue::~ManualMainQueue() = default;

void ManualMainQueue::post(Task task) {
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_posted.notify_all();
}

void ManualMainQueue::postAfter(Duration delay, Task task) { addTimer(delay, false, std::move(task)); }

std::shared_ptr<MainQueue::Timer> ManualMainQueue::schedule(Duration interval, bool repeating, Task task) {
    return std::make_shared<ManualTimer>(addTimer(interval, repeating, std::move(task)));
}

std::shared_ptr<ManualMainQueue::TimerEntry> ManualMainQueue::addTimer(Duration interval, bool repeating, Task task) {
    auto entry = std::make_shared<TimerEntry>(TimerEntry{interval, repeating, std::move(task)});
    std::lock_guard lock(m_mutex);
    m_timers.emplace(m_now + interval, entry);
    return entry;
}

bool ManualMainQueue::popTask(Task& task) {
    std::lock_guard lock(m_mutex);
    if (m_tasks.empty()) return false;
    task = std::move(m_tasks.front());
    m_tasks.pop_front();
    return true;
}

int ManualMainQueue::runUntilIdle(int maxTasks) {
    int ran = 0;
    Task task;
    while (ran < maxTasks && popTask(task)) {
        task();
        ++ran;
    }
    return ran;
}

bool ManualMainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    for (;;) {
        if (done()) return true;
        Task task;
        {
            std::unique_lock lock(m_mutex);
            if (!m_posted.wait_for(lock, timeout, [this] { return !m_tasks.empty(); })) return done();
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

void ManualMainQueue::advance(Duration by) {
    const Duration end = [&] {
        std::lock_guard lock(m_mutex);
        return m_now + by;
    }();
    runUntilIdle();
    for (;;) {
        std::shared_ptr<TimerEntry> due;
        {
            std::lock_guard lock(m_mutex);
            while (!m_timers.empty() && !m_timers.begin()->second->valid) m_timers.erase(m_timers.begin());
            if (m_timers.empty() || m_timers.begin()->first > end) {
                m_now = end;
                return;
            }
            auto first = m_timers.begin();
            m_now = first->first;
            due = first->second;
            m_timers.erase(first);
            // A zero interval would fire forever within one advance.
            if (due->repeating && due->interval > Duration::zero()) m_timers.emplace(m_now + due->interval, due);
        }
        due->task();
        runUntilIdle();
    }
}

MainQueue::Duration ManualMainQueue::now() const {
    std::lock_guard lock(m_mutex);
    return m_now;
}

int ManualMainQueue::pendingTimers() const {
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const auto& [when, entry] : m_timers)
        if (entry->valid) ++n;
    return n;
}
