#include "platform/folder_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace {

// Every way a file of the folder can come, go or change, and the folder
// itself going away.
constexpr uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                             IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

FolderWatch::FolderWatch(std::string folder) : m_folder(std::move(folder)) {}

FolderWatch::~FolderWatch() {
    if (m_fd >= 0) ::close(m_fd);
}

bool FolderWatch::mayHaveChanged() {
    if (m_fd < 0) m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) return true;
    if (m_watch < 0) {
        // Placed now, it knows nothing of what happened before.
        m_watch = ::inotify_add_watch(m_fd, m_folder.c_str(), kEvents | IN_ONLYDIR);
        drain();
        return true;
    }
    return drain();
}

bool FolderWatch::drain() {
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    for (;;) {
        ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return any;
        if (n <= 0) {  // a failing read proves nothing: start again from scratch
            dropWatch();
            return true;
        }
        any = true;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            // Only our current watch's end counts: removing a watch queues an
            // IN_IGNORED for it, read after its successor was placed.
            bool ended = event->wd == m_watch && (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF));
            if (ended || (event->mask & IN_Q_OVERFLOW)) dropWatch();
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void FolderWatch::dropWatch() {
    // The next question places a new watch on whatever folder then has the name.
    if (m_watch >= 0) ::inotify_rm_watch(m_fd, m_watch);
    m_watch = -1;
}
