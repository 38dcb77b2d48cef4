#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "config/config_store.h"
#include "core/atomic_file.h"
#include "platform/platform_paths.h"

std::string InstanceLock::defaultPath() {
    return PlatformPaths::runtimeDir(ConfigStore::dir()) + "/io.kestro.agent.lock";
}

bool InstanceLock::heldByAnother(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;  // no lock file: nobody has ever held it
    // A shared probe conflicts only with the application's exclusive lock, so
    // two servers starting together never mistake each other for it.
    bool busy = ::flock(fd, LOCK_SH | LOCK_NB) != 0;
    ::close(fd);  // closing releases the probe's own lock, if it got one
    return busy;
}

InstanceLock::InstanceLock(std::string path) : m_path(std::move(path)) {}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) ::close(m_fd);
}

bool InstanceLock::tryAcquire() {
    if (m_fd >= 0) return true;
    auto slash = m_path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) AtomicFile::makeDirs(m_path.substr(0, slash), 0700);
    int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    // A server's probe holds the lock for a moment: try a few times before
    // concluding that another application owns it.
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            m_fd = fd;
            return true;
        }
        if (errno != EWOULDBLOCK) break;
        ::usleep(20000);
    }
    ::close(fd);
    return false;
}

bool InstanceLock::acquireWithin(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!tryAcquire()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}
