#include "test_http_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

TestHttpServer::TestHttpServer(const Routes& routes) {
    // Stopping waits for connections kept alive by the client under test to
    // time out; a short wait keeps every test that starts a server quick.
    m_server.set_keep_alive_timeout(1);
    m_server.set_tcp_nodelay(true);  // headers and body leave at once, as from a real service
    routes(m_server);
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0) throw std::runtime_error("test server: no port on 127.0.0.1");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    // The socket already listens, but a stop() issued before the loop runs
    // would be lost and leave the loop running for ever.
    for (int i = 0; i < 5000 && !m_server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestHttpServer::~TestHttpServer() {
    m_server.stop();
    if (m_thread.joinable()) m_thread.join();
}

std::string TestHttpServer::url(const std::string& path) const { return urlVia("127.0.0.1", path); }

std::string TestHttpServer::urlVia(const std::string& host, const std::string& path) const {
    return "http://" + host + ":" + std::to_string(m_port) + path;
}

int TestHttpServer::unusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 9;  // discard port: nothing answers there either
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t length = sizeof addr;
    int port = 9;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}
