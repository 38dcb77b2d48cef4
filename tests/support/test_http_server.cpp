#include "test_http_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

TestHttpServer::TestHttpServer(const Routes& routes) {
    // Stopping waits for connections kept alive by the client under test to
    // time out; a short wait keeps every test that starts a server quick.
    m_server.set_keep_alive_timeout(1);
    routes(m_server);
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0) throw std::runtime_error("test server: no port on 127.0.0.1");
    // The socket already listens: connections made before the thread runs
    // wait in the backlog.
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
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
