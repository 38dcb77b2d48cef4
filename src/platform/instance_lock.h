#pragma once

#include <chrono>
#include <string>

// One menu-bar application per user. The running application holds an
// exclusive flock on "io.kestro.agent.lock" for its whole life; the kernel
// drops it when the process ends, however it ends, so a crash never leaves a
// stale lock behind.
class InstanceLock {
public:
    // The lock file in the session's runtime folder, else in the
    // configuration folder: the same for every process of the user, whatever
    // environment it was started with.
    static std::string defaultPath();

    // True when another process holds the lock. Never blocks, never creates it.
    static bool heldByAnother(const std::string& path = defaultPath());

    explicit InstanceLock(std::string path = defaultPath());
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock without waiting; false when another process has it.
    bool tryAcquire();
    // Takes the lock as soon as its holder lets go, giving up after `timeout`.
    bool acquireWithin(std::chrono::milliseconds timeout);
    bool held() const { return m_fd >= 0; }

private:
    std::string m_path;
    int m_fd = -1;
};
