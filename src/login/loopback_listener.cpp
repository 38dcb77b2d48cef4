#include "login/loopback_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <list>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

struct LoopbackListener::Connection {
    enum class Phase { Reading, Writing, Draining };
    int fd = -1;
    Phase phase = Phase::Reading;
    Clock::time_point deadline;
    Clock::time_point accepted;
    std::string out;
    std::size_t sent = 0;
};

std::shared_ptr<LoopbackListener> LoopbackListener::open(std::uint16_t port, OpenError& error) {
    return open(port, error, Limits());
}

std::shared_ptr<LoopbackListener> LoopbackListener::open(std::uint16_t port, OpenError& error, Limits limits) {
    error = {};
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error.errorNumber = errno;
        return nullptr;
    }
    // Lets a new login take the port while the last one's connections linger
    // in TIME_WAIT; it never lets two listeners share it.
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    // Loopback only: anyone else on the network could otherwise probe the
    // port or post a forged callback.
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        error = {true, errno};
        ::close(fd);
        return nullptr;
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error.errorNumber = errno;
        ::close(fd);
        return nullptr;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    std::uint16_t actualPort = port;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0) actualPort = ntohs(bound.sin_port);
    return std::shared_ptr<LoopbackListener>(new LoopbackListener(fd, wake[0], wake[1], actualPort, limits));
}

LoopbackListener::LoopbackListener(int listenFd, int wakeRead, int wakeWrite, std::uint16_t port, Limits limits)
    : m_listenFd(listenFd), m_wakeRead(wakeRead), m_wakeWrite(wakeWrite), m_port(port), m_limits(limits) {}

LoopbackListener::~LoopbackListener() {
    closeFd(m_listenFd);
    closeFd(m_wakeRead);
    closeFd(m_wakeWrite);
}

void LoopbackListener::stop() {
    if (m_stopped.exchange(true)) return;
    char byte = 1;
    // The pipe is non-blocking and only ever gets this one byte.
    [[maybe_unused]] auto written = ::write(m_wakeWrite, &byte, 1);
}

void LoopbackListener::serve(const Handler& handler) {
    std::list<Connection> connections;
    auto finish = [&](std::list<Connection>::iterator it) {
        ::close(it->fd);
        return connections.erase(it);
    };
    // The oldest connection still waiting for its request with no byte of it
    // arrived. One accepted in this very round has had no poll yet, but its
    // request may already sit in the socket: that one is not silent.
    auto oldestSilent = [&] {
        return std::find_if(connections.begin(), connections.end(), [](const Connection& c) {
            char byte;
            return c.phase == Connection::Phase::Reading && ::recv(c.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0;
        });
    };
    Clock::time_point acceptPausedUntil{};

    for (;;) {
        if (m_stopped.load() && m_listenFd >= 0) {
            closeFd(m_listenFd);
            // Nothing was asked of us on a connection that has sent nothing
            // yet; waiting for it would keep the thread for no one.
            for (auto it = connections.begin(); it != connections.end();)
                it = it->phase == Connection::Phase::Reading ? finish(it) : std::next(it);
        }
        if (m_listenFd < 0 && connections.empty()) return;

        Clock::time_point now = Clock::now();
        std::vector<pollfd> fds;
        fds.push_back({m_wakeRead, POLLIN, 0});
        bool pollListen = m_listenFd >= 0 && now >= acceptPausedUntil;
        if (pollListen) fds.push_back({m_listenFd, POLLIN, 0});
        const std::size_t firstConnection = fds.size();
        Clock::time_point wakeAt = now + std::chrono::seconds(60);
        if (m_listenFd >= 0 && !pollListen) wakeAt = std::min(wakeAt, acceptPausedUntil);
        for (const auto& c : connections) {
            fds.push_back({c.fd, short(c.phase == Connection::Phase::Writing ? POLLOUT : POLLIN), 0});
            wakeAt = std::min(wakeAt, c.deadline);
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count();
        int ready = ::poll(fds.data(), fds.size(), int(std::clamp<long long>(wait + 1, 0, 60000)));
        if (ready < 0 && errno != EINTR) return;
        now = Clock::now();

        if (fds[0].revents & POLLIN) {
            char drain[16];
            while (::read(m_wakeRead, drain, sizeof drain) > 0) {
            }
        }

        // Connections, in the order they were polled (new ones are added after).
        std::size_t index = firstConnection;
        for (auto it = connections.begin(); it != connections.end(); ++index) {
            short events = index < fds.size() ? fds[index].revents : 0;
            Connection& c = *it;
            if (events == 0) {
                it = now >= c.deadline ? finish(it) : std::next(it);
                continue;
            }
            if (c.phase == Connection::Phase::Reading) {
                std::string chunk(m_limits.maxChunk, '\0');
                ssize_t n = ::recv(c.fd, chunk.data(), chunk.size(), 0);
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    ++it;
                    continue;
                }
                if (n <= 0) {
                    it = finish(it);
                    continue;
                }
                chunk.resize(std::size_t(n));
                c.out = handler(chunk);
                if (c.out.empty()) {
                    it = finish(it);
                    continue;
                }
                c.phase = Connection::Phase::Writing;
                c.deadline = now + m_limits.answer;
                ++it;  // written when poll says the socket can take it
                continue;
            }
            if (c.phase == Connection::Phase::Writing) {
                ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    ++it;
                    continue;
                }
                if (n < 0) {
                    it = finish(it);
                    continue;
                }
                c.sent += std::size_t(n);
                if (c.sent == c.out.size()) {
                    // Closing with unread request bytes would reset the
                    // connection and could cost the browser its page: say we
                    // are done, then read until the client closes its side.
                    ::shutdown(c.fd, SHUT_WR);
                    c.phase = Connection::Phase::Draining;
                }
                ++it;
                continue;
            }
            char sink[4096];
            ssize_t n = ::recv(c.fd, sink, sizeof sink, 0);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                ++it;
                continue;
            }
            it = n > 0 && now < c.deadline ? std::next(it) : finish(it);
        }

        if (pollListen && (fds[1].revents & POLLIN) && !m_stopped.load()) {
            for (;;) {
                // When full, room is made by dropping the oldest connection
                // that has sent nothing; with none, the rest stay queued.
                bool full = int(connections.size()) >= m_limits.maxConnections;
                auto silent = full ? oldestSilent() : connections.end();
                if (full && silent == connections.end()) break;
                int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (fd < 0) {
                    // Out of descriptors: back off instead of spinning on a
                    // listening socket that stays readable.
                    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                        acceptPausedUntil = now + std::chrono::milliseconds(100);
                    break;
                }
                // Only now that someone is really waiting: dropping first
                // would close a client for a newcomer that never came.
                if (silent != connections.end()) finish(silent);
                Connection c;
                c.fd = fd;
                c.accepted = now;
                c.deadline = now + m_limits.firstRead;
                connections.push_back(std::move(c));
            }
        }
    }
}
