#include "platform/thread_background.h"

ThreadBackground::~ThreadBackground() {
    waitIdle();
    std::lock_guard lock(m_mutex);
    for (auto& t : m_threads)
        if (t.joinable()) t.join();
}

void ThreadBackground::run(Task task) {
    std::lock_guard lock(m_mutex);
    reapFinished();
    ++m_running;
    m_threads.emplace_back([this, task = std::move(task)] {
        task();
        std::lock_guard inner(m_mutex);
        m_finished.push_back(std::this_thread::get_id());
        --m_running;
        m_idle.notify_all();
    });
}

void ThreadBackground::waitIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_running == 0; });
    reapFinished();
}

bool ThreadBackground::waitIdleFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    bool idle = m_idle.wait_for(lock, timeout, [this] { return m_running == 0; });
    reapFinished();
    return idle;
}

int ThreadBackground::running() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

// Joins the threads whose task has ended, so a long-lived application does not
// pile up finished threads. Called with m_mutex held; a finished thread only
// has its return left to do, so the join is short.
void ThreadBackground::reapFinished() {
    for (auto id : m_finished) {
        for (auto it = m_threads.begin(); it != m_threads.end(); ++it) {
            if (it->get_id() == id) {
                it->join();
                m_threads.erase(it);
                break;
            }
        }
    }
    m_finished.clear();
}
