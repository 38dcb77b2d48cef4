#include "manual_background.h"

void ManualBackground::run(Task task) {
    std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
}

bool ManualBackground::runOne() {
    Task task;
    {
        std::lock_guard lock(m_mutex);
        if (m_tasks.empty()) return false;
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
    }
    task();
    return true;
}

int ManualBackground::runAll(int maxTasks) {
    int ran = 0;
    while (ran < maxTasks && runOne()) ++ran;
    return ran;
}

int ManualBackground::pending() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_tasks.size());
}
