// The loopback listener under hostile or clumsy clients, inside a real login:
// whatever reaches the port before the browser comes back, the login still
// succeeds, and nothing is left running afterwards.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

#include "config/config_store.h"
#include "login_rig.h"

namespace {

using devservice::OAuthService;

const std::string kUnexpected = "<h2>Kestro Agent</h2><p>Requête inattendue.</p>";

// A login whose browser stopped at the authorization URL: the test then
// plays every client the listener meets, and finally the browser.
struct WaitingLogin : LoginRig {
    std::string url;
    std::string state;

    WaitingLogin() { begin(); }

    void begin() {
        browser.setBehaviour(ScriptedBrowser::Behaviour::Abandon);
        statuses.clear();
        results.clear();
        flow->start();
        EXPECT_TRUE(main.runUntil([&] { return statuses.size() == 2; }));
        auto opened = browser.openedUrls();
        EXPECT_FALSE(opened.empty());
        url = opened.empty() ? "" : opened.back();
        state = OAuthService::parseForm(url.substr(url.find('?') + 1))["state"];
    }

    std::string send(const std::string& bytes) { return rawExchange(port, bytes); }
    std::string get(const std::string& target) { return send("GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n"); }

    // The real browser comes back; the login must end logged in.
    void browserReturns() {
        auto page = browser.visit(url);
        EXPECT_EQ(page.status, 200);
        EXPECT_NE(page.body.find("Kestro Agent est connecté"), std::string::npos) << page.body;
        EXPECT_TRUE(finish());
        EXPECT_TRUE(config().isLoggedIn());
        EXPECT_EQ(ConfigStore::load(), config());
    }
};

struct Connected {
    int fd;
    explicit Connected(int port) : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(std::uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~Connected() { ::close(fd); }
};

bool isUnexpectedPage(const std::string& answer) {
    return answer.starts_with("HTTP/1.1 200 OK\r\n") && answer.find(kUnexpected) != std::string::npos;
}

TEST(LoginListener, JunkBeforeTheRealRedirectLeavesTheLoginWaiting) {
    WaitingLogin login;
    EXPECT_EQ(login.send(std::string("\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03", 11)), "") << "TLS hello";
    EXPECT_EQ(login.send("GET /callback?code=\xff\xfe&state=" + login.state + " HTTP/1.1\r\n\r\n"), "")
        << "invalid UTF-8: closed without an answer";
    EXPECT_TRUE(isUnexpectedPage(login.send(std::string("GET /\0\0\0 HTTP/1.1\r\n\r\n", 20)))) << "NUL bytes";
    EXPECT_TRUE(isUnexpectedPage(login.send("GET/callback?code=abc&state=" + login.state + "\r\n\r\n")))
        << "no space";
    EXPECT_TRUE(isUnexpectedPage(login.get("/favicon.ico")));
    EXPECT_TRUE(isUnexpectedPage(login.get("/callback?code=abc&state=" + login.state + "&state=" + login.state)))
        << "two states";
    EXPECT_TRUE(isUnexpectedPage(login.get("/callback?code=a&code=b&state=" + login.state))) << "two codes";
    EXPECT_TRUE(isUnexpectedPage(login.get("/favicon.ico?" + std::string(20000, 'a')))) << "16 KiB and more";
    EXPECT_TRUE(isUnexpectedPage(login.send("POST /oauth/token HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc")));
    EXPECT_EQ(login.send(""), "") << "connects and closes";
    login.main.runUntilIdle();
    EXPECT_TRUE(login.results.empty());
    EXPECT_EQ(login.service.count("POST", "/oauth/token"), 0u);
    login.browserReturns();
    EXPECT_TRUE(login.quiet());
}

// A client that connects and never speaks must neither hold the login nor
// keep a thread once the login is over.
TEST(LoginListener, SilentAndCrowdingClientsNeitherBlockTheLoginNorOutliveIt) {
    WaitingLogin login;
    std::vector<std::unique_ptr<Connected>> silent;
    for (int i = 0; i < 60; ++i) silent.push_back(std::make_unique<Connected>(login.port));
    std::vector<std::future<std::string>> noisy;
    for (int i = 0; i < 20; ++i)
        noisy.push_back(std::async(std::launch::async, [&login] { return login.get("/favicon.ico"); }));
    for (auto& n : noisy) EXPECT_TRUE(isUnexpectedPage(n.get()));
    login.browserReturns();
    EXPECT_TRUE(login.quiet()) << "the silent connections did not keep the listener's thread";
}

TEST(LoginListener, AWrongOrMissingStateEndsTheLoginAndTheNextLoginSucceeds) {
    for (const std::string& forged : {std::string("/callback?code=abc&state=forged"), std::string("/callback?code=abc"),
                                      std::string("/callback?state=&code=abc")}) {
        WaitingLogin login;
        std::string answer = login.get(forged);
        EXPECT_NE(answer.find("<h2>❌ Connexion refusée</h2><p>state inattendu</p>"), std::string::npos) << forged;
        ASSERT_TRUE(login.finish());
        EXPECT_EQ(login.error().code, "denied");
        EXPECT_EQ(login.error().message, "state inattendu");
        EXPECT_EQ(login.get("/callback?code=abc&state=" + login.state), "") << "the listener has stopped";
        EXPECT_FALSE(ConfigStore::load().isLoggedIn());
        EXPECT_EQ(login.service.count("POST", "/oauth/token"), 0u);

        login.flow = login.makeFlow();
        login.begin();
        login.browserReturns();
    }
}

TEST(LoginListener, TheStateOfAnEarlierLoginIsRefused) {
    WaitingLogin login;
    std::string earlierUrl = login.url;
    login.flow->cancel();
    ASSERT_TRUE(login.quiet());
    login.flow = login.makeFlow();
    login.begin();
    // The service still honours the earlier client and redirects with its
    // state; the current login must not take that code.
    auto page = login.browser.visit(earlierUrl);
    EXPECT_NE(page.body.find("state inattendu"), std::string::npos) << page.body;
    ASSERT_TRUE(login.finish());
    EXPECT_EQ(login.error().message, "state inattendu");
    EXPECT_EQ(login.service.count("POST", "/oauth/token"), 0u);
}

}  // namespace
