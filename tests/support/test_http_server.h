#pragma once

#include <httplib.h>

#include <functional>
#include <string>
#include <thread>

// A real HTTP server on an ephemeral 127.0.0.1 port, run on a thread of its
// own for the life of the object, with the routes a test scripts. Requests
// reach it over sockets exactly as they would reach the service.
class TestHttpServer {
public:
    using Routes = std::function<void(httplib::Server&)>;

    explicit TestHttpServer(const Routes& routes);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>" followed by `path`.
    std::string url(const std::string& path = "") const;
    // The same server named by another host ("localhost"), for redirects that
    // leave the host a request was sent to.
    std::string urlVia(const std::string& host, const std::string& path = "") const;

    // A free port on 127.0.0.1 where nothing listens (bound, then released).
    static int unusedPort();

private:
    httplib::Server m_server;
    int m_port = -1;
    std::thread m_thread;
};
