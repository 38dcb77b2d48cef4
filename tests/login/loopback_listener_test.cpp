#include "login/loopback_listener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "scripted_browser.h"

namespace {

// A connected socket that sends nothing until told to.
struct Client {
    int fd = -1;
    explicit Client(int port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~Client() {
        if (fd >= 0) ::close(fd);
    }
    void send(const std::string& bytes) const { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
    // What the server sent until it closed, waiting at most `ms` in all.
    std::string answer(int ms) const {
        std::string text;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0) return text;
            char buffer[256];
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return text;
            text.append(buffer, std::size_t(n));
        }
    }
    // Whether the server closed the connection within `ms` (reading 0 bytes).
    bool closedWithin(int ms) const {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return false;
        char c;
        return ::recv(fd, &c, 1, 0) <= 0;
    }
};

struct Served {
    std::shared_ptr<LoopbackListener> listener;
    std::future<void> loop;
    std::atomic<int> handled{0};

    // Listening at once; serving at once too, unless the test first wants
    // clients waiting in the queue.
    explicit Served(LoopbackListener::Limits limits = {}, bool serveNow = true) {
        LoopbackListener::OpenError error;
        listener = LoopbackListener::open(0, error, limits);
        if (listener && serveNow) serve();
    }
    void serve() {
        loop = std::async(std::launch::async, [this] {
            listener->serve([this](std::string_view chunk) -> std::string {
                ++handled;
                if (chunk.starts_with("SILENCE")) return "";
                if (chunk.starts_with("STOP")) listener->stop();
                return "got " + std::to_string(chunk.size());
            });
        });
    }
    ~Served() {
        if (listener) listener->stop();
        if (loop.valid()) loop.wait();
    }
    bool endsWithin(std::chrono::milliseconds d) { return loop.wait_for(d) == std::future_status::ready; }
};

TEST(LoopbackListener, ListensOnLoopbackOnlyAndReportsATakenPort) {
    Served s;
    ASSERT_TRUE(s.listener);
    EXPECT_EQ(rawExchange(s.listener->port(), "hello"), "got 5");
    // Bound to 127.0.0.1 itself, not to every interface: the same port is
    // still free on the wildcard address of another loopback host.
    int other = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(s.listener->port());
    a.sin_addr.s_addr = htonl(0x7f000002);  // 127.0.0.2
    EXPECT_EQ(::bind(other, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(other);
    LoopbackListener::OpenError error;
    auto second = LoopbackListener::open(s.listener->port(), error);
    EXPECT_FALSE(second);
    EXPECT_TRUE(error.portTaken);
    EXPECT_EQ(error.errorNumber, EADDRINUSE);
}

TEST(LoopbackListener, ReadsOnlyTheFirstChunkOfABigRequestAndStillDeliversTheAnswer) {
    Served s;
    ASSERT_TRUE(s.listener);
    std::string big = "GET /" + std::string(40000, 'a') + " HTTP/1.1\r\n\r\n";
    std::string answer = rawExchange(s.listener->port(), big);
    ASSERT_TRUE(answer.starts_with("got "));
    EXPECT_LE(std::stoul(answer.substr(4)), 16384u);
}

TEST(LoopbackListener, ASilentClientIsClosedWhenItsTimeIsUp) {
    LoopbackListener::Limits limits;
    limits.firstRead = std::chrono::milliseconds(100);
    Served s(limits);
    ASSERT_TRUE(s.listener);
    Client silent(s.listener->port());
    ASSERT_GE(silent.fd, 0);
    EXPECT_TRUE(silent.closedWithin(10000));
    EXPECT_EQ(rawExchange(s.listener->port(), "after"), "got 5") << "still serving";
}

TEST(LoopbackListener, SilentClientsNeverKeepTheOthersOut) {
    LoopbackListener::Limits limits;
    limits.maxConnections = 4;
    Served s(limits);
    ASSERT_TRUE(s.listener);
    std::vector<std::unique_ptr<Client>> silent;
    for (int i = 0; i < 12; ++i) silent.push_back(std::make_unique<Client>(s.listener->port()));
    EXPECT_EQ(rawExchange(s.listener->port(), "real browser", std::chrono::milliseconds(10000)), "got 12");
}

// As many clients as the limit allows, all at once: none is dropped to make
// room for a newcomer that never comes.
TEST(LoopbackListener, ManyClientsAtOnceAreAllAnswered) {
    Served s;
    ASSERT_TRUE(s.listener);
    const int clients = LoopbackListener::Limits{}.maxConnections;
    std::vector<std::future<std::string>> answers;
    for (int i = 0; i < clients; ++i)
        answers.push_back(std::async(std::launch::async, [&s, i] {
            return rawExchange(s.listener->port(), std::string(std::size_t(i + 1), 'x'));
        }));
    for (int i = 0; i < clients; ++i) EXPECT_EQ(answers[std::size_t(i)].get(), "got " + std::to_string(i + 1));
}

// Past the limit, a client whose request already waits in its socket is not
// silent, even before the server has read it: it is answered in its turn.
TEST(LoopbackListener, ClientsPastTheLimitThatHaveSpokenAreAnsweredInTurn) {
    LoopbackListener::Limits limits;
    limits.maxConnections = 4;
    Served s(limits, false);
    ASSERT_TRUE(s.listener);
    std::vector<std::unique_ptr<Client>> queued;
    for (int i = 0; i < 12; ++i) {
        queued.push_back(std::make_unique<Client>(s.listener->port()));
        ASSERT_GE(queued.back()->fd, 0);
        queued.back()->send(std::string(std::size_t(i + 1), 'x'));
    }
    s.serve();
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(queued[std::size_t(i)]->answer(10000), "got " + std::to_string(i + 1)) << "client " << i;
        queued[std::size_t(i)].reset();  // closing lets the next one in
    }
}

TEST(LoopbackListener, AnEmptyAnswerClosesWithoutReplying) {
    Served s;
    ASSERT_TRUE(s.listener);
    EXPECT_EQ(rawExchange(s.listener->port(), "SILENCE please"), "");
    EXPECT_EQ(rawExchange(s.listener->port(), ""), "") << "a client that only closes";
    EXPECT_EQ(s.handled.load(), 1) << "no bytes, no handler call";
}

// Stopping, from the handler or from elsewhere, ends the loop at once even
// with silent clients connected; the answer under way is still delivered.
TEST(LoopbackListener, StopEndsServingAndFreesThePort) {
    Served s;
    ASSERT_TRUE(s.listener);
    std::uint16_t port = s.listener->port();
    Client silent(port);
    EXPECT_EQ(rawExchange(port, "STOP"), "got 4");
    EXPECT_TRUE(s.endsWithin(std::chrono::seconds(10)));
    EXPECT_TRUE(silent.closedWithin(1000));
    EXPECT_EQ(rawExchange(port, "late"), "");
    LoopbackListener::OpenError error;
    EXPECT_TRUE(LoopbackListener::open(port, error)) << "the port is free again";
}

TEST(LoopbackListener, StopBeforeServeReturnsAtOnce) {
    LoopbackListener::OpenError error;
    auto listener = LoopbackListener::open(0, error);
    ASSERT_TRUE(listener);
    listener->stop();
    listener->stop();
    listener->serve([](std::string_view) { return std::string("x"); });
    EXPECT_TRUE(listener->stopped());
}

}  // namespace
