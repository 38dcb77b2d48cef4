#include "scripted_browser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

struct Address {
    std::string host;
    int port = 80;
    std::string target;  // path and query
};

bool parseHttpUrl(const std::string& url, Address& out) {
    const std::string scheme = "http://";
    if (!url.starts_with(scheme)) return false;
    std::string rest = url.substr(scheme.size());
    auto slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    out.target = slash == std::string::npos ? "/" : rest.substr(slash);
    auto fragment = out.target.find('#');
    if (fragment != std::string::npos) out.target.resize(fragment);  // a browser never sends the fragment
    auto colon = authority.rfind(':');
    out.host = authority.substr(0, colon);
    if (colon != std::string::npos) out.port = std::atoi(authority.c_str() + colon + 1);
    return !out.host.empty() && out.port > 0;
}

// A Location may be absolute or relative to the page's origin.
std::string resolve(const std::string& location, const Address& from) {
    if (location.starts_with("http://") || location.starts_with("https://")) return location;
    return "http://" + from.host + ":" + std::to_string(from.port) + (location.starts_with("/") ? "" : "/") + location;
}

// An HTTP/1.1 answer read to the end of the connection. Parsed by hand so the
// Location header stays exactly as the server wrote it (a client library may
// decode it, which no browser does).
struct Reply {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;  // names lower-cased
    std::string body;
    std::string header(const std::string& name) const {
        for (const auto& [n, v] : headers)
            if (n == name) return v;
        return "";
    }
};

std::string dechunked(const std::string& body) {
    std::string out;
    std::size_t at = 0;
    while (at < body.size()) {
        std::size_t lineEnd = body.find("\r\n", at);
        if (lineEnd == std::string::npos) break;
        std::size_t size = std::strtoul(body.substr(at, lineEnd - at).c_str(), nullptr, 16);
        if (size == 0) break;
        out += body.substr(lineEnd + 2, size);
        at = lineEnd + 2 + size + 2;
    }
    return out;
}

bool parseReply(const std::string& raw, Reply& reply) {
    std::size_t headEnd = raw.find("\r\n\r\n");
    if (!raw.starts_with("HTTP/1.") || headEnd == std::string::npos) return false;
    std::size_t lineEnd = raw.find("\r\n");
    std::size_t space = raw.find(' ');
    if (space == std::string::npos || space > lineEnd) return false;
    reply.status = std::atoi(raw.c_str() + space + 1);
    std::size_t at = lineEnd + 2;
    while (at < headEnd) {
        std::size_t end = raw.find("\r\n", at);
        std::string line = raw.substr(at, end - at);
        auto colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            reply.headers.emplace_back(name, value);
        }
        at = end + 2;
    }
    reply.body = raw.substr(headEnd + 4);
    if (reply.header("transfer-encoding") == "chunked") reply.body = dechunked(reply.body);
    else if (!reply.header("content-length").empty())
        reply.body.resize(std::min<std::size_t>(reply.body.size(), std::stoul(reply.header("content-length"))));
    return true;
}

}  // namespace

ScriptedBrowser::~ScriptedBrowser() {
    std::vector<std::thread> visits;
    {
        std::lock_guard lock(m_mutex);
        visits.swap(m_visits);
    }
    for (auto& t : visits) t.join();
}

void ScriptedBrowser::setBehaviour(Behaviour behaviour) {
    std::lock_guard lock(m_mutex);
    m_behaviour = behaviour;
}

void ScriptedBrowser::setRedirectFilter(std::function<std::string(const std::string&)> filter) {
    std::lock_guard lock(m_mutex);
    m_filter = std::move(filter);
}

std::function<bool(const std::string&)> ScriptedBrowser::opener() {
    return [this](const std::string& url) {
        std::lock_guard lock(m_mutex);
        m_opened.push_back(url);
        m_changed.notify_all();
        if (m_behaviour == Behaviour::Missing) return false;
        if (m_behaviour == Behaviour::Abandon) return true;
        m_visits.emplace_back([this, url] {
            Page page = visit(url);
            std::lock_guard inner(m_mutex);
            m_pages.push_back(std::move(page));
            m_changed.notify_all();
        });
        return true;
    };
}

std::vector<std::string> ScriptedBrowser::openedUrls() const {
    std::lock_guard lock(m_mutex);
    return m_opened;
}

ScriptedBrowser::Page ScriptedBrowser::waitPage(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    if (!m_changed.wait_for(lock, timeout, [this] { return m_pages.size() > m_taken; })) return Page{};
    return m_pages[m_taken++];
}

ScriptedBrowser::Page ScriptedBrowser::visit(const std::string& start) const {
    Page page;
    std::string url = start;
    for (int hop = 0; hop <= 10; ++hop) {
        Address address;
        page.url = url;
        page.status = 0;
        page.body.clear();
        if (!parseHttpUrl(url, address)) return page;
        if (address.host != "127.0.0.1" && address.host != "localhost") return page;  // loopback only
        std::string raw = rawExchange(address.port, "GET " + address.target + " HTTP/1.1\r\nHost: " + address.host +
                                                        ":" + std::to_string(address.port) +
                                                        "\r\nAccept: text/html\r\nConnection: close\r\n\r\n",
                                      std::chrono::milliseconds(10000), false);
        Reply reply;
        if (!parseReply(raw, reply)) return page;
        page.status = reply.status;
        page.body = reply.body;
        page.contentType = reply.header("content-type");
        std::string location = reply.header("location");
        if (reply.status < 300 || reply.status >= 400 || location.empty()) return page;
        std::string next = resolve(location, address);
        std::function<std::string(const std::string&)> filter;
        {
            std::lock_guard lock(m_mutex);
            filter = m_filter;
        }
        if (filter) next = filter(next);
        page.redirects.push_back(next);
        url = next;
    }
    return page;
}

std::string rawExchange(int port, const std::string& bytes, std::chrono::milliseconds timeout, bool halfClose) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return "";
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += std::size_t(n);
        }
        // Half-close like a client that has said everything it will say.
        if (halfClose) ::shutdown(fd, SHUT_WR);
        auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, int(left.count())) <= 0) break;
            char buffer[4096];
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            answer.append(buffer, std::size_t(n));
        }
    }
    ::close(fd);
    return answer;
}
