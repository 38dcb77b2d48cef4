#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// The login's loopback HTTP endpoint: a TCP socket on 127.0.0.1 only, served
// by one poll loop on the thread that calls `serve` (a Background task), so it
// needs no thread of its own and any number of connections share that one.
//
//   open ─ bind 127.0.0.1:port ─ listen
//   serve: accept ─ first chunk (≤ 16384 bytes, within firstRead) ─ handler ─ answer ─ close
//          … until stop(); then answers under way are finished, silent ones dropped, serve returns
//
// Each connection is judged on its first chunk only, as the browser's one GET
// fits in it. A client that never sends, or never reads, is closed when its
// time is up, and the oldest silent one makes room when `maxConnections` are
// open, so no client can keep the real browser out.
class LoopbackListener {
public:
    struct Limits {
        std::chrono::milliseconds firstRead{10000};  // from accept to the first bytes
        std::chrono::milliseconds answer{10000};     // to send the answer and see the client close
        std::size_t maxChunk = 16384;
        int maxConnections = 32;
    };

    // Given a connection's first chunk, the bytes to answer with; empty closes
    // the connection without an answer. Called on the serving thread.
    using Handler = std::function<std::string(std::string_view chunk)>;

    struct OpenError {
        bool portTaken = false;  // the socket exists but the port could not be bound or listened on
        int errorNumber = 0;     // errno of the failing call
    };

    // Listening on 127.0.0.1:`port` when this returns; null with `error` set
    // otherwise. The port is taken at once, so the caller learns here, before
    // any browser is sent to it, whether it is free.
    static std::shared_ptr<LoopbackListener> open(std::uint16_t port, OpenError& error);
    static std::shared_ptr<LoopbackListener> open(std::uint16_t port, OpenError& error, Limits limits);

    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    std::uint16_t port() const { return m_port; }

    // Serves until `stop` has been called and the answers under way are sent.
    // Call once.
    void serve(const Handler& handler);

    // Stops accepting; `serve` returns soon after. Any thread, any number of
    // times, before or during `serve`.
    void stop();
    bool stopped() const { return m_stopped.load(); }

private:
    LoopbackListener(int listenFd, int wakeRead, int wakeWrite, std::uint16_t port, Limits limits);
    struct Connection;

    int m_listenFd;
    int m_wakeRead, m_wakeWrite;  // a pipe that lets `stop` interrupt poll
    std::uint16_t m_port;
    Limits m_limits;
    std::atomic<bool> m_stopped{false};
};
