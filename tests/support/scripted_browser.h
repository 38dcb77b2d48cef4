#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A browser for login tests. It does what the user's browser does with the
// authorization URL the login opens: a GET over a real socket, then each
// redirect the service answers with (the 302 to the loopback callback
// included), until a page comes back. No display, no script, no cookies.
//
//   ScriptedBrowser browser;
//   flow->openUrl = browser.opener();        // visits on the browser's own thread
//   flow->start();
//   main.runUntil([&] { return done; });     // the login ends meanwhile
//   auto page = browser.waitPage();          // what the user would have seen
//   EXPECT_NE(page.body.find("connecté"), std::string::npos);
//
// `visit` is also usable alone, to send the listener any request a browser
// could. Only http URLs on 127.0.0.1 or localhost are followed (tests stay
// on loopback); the Location header is followed exactly as the server wrote it.
class ScriptedBrowser {
public:
    struct Page {
        std::string url;                     // where the page came from (the last URL fetched)
        int status = 0;                      // 0: nothing came back (refused, closed, timed out)
        std::string body;
        std::vector<std::string> redirects;  // every Location followed, in order
        std::string contentType;
    };

    // What the opener does with each URL it is given.
    enum class Behaviour {
        Follow,   // visit it (default)
        Abandon,  // note it and go no further: the user closed the tab
        Missing,  // note it and report that no browser could be opened
    };

    ScriptedBrowser() = default;
    ~ScriptedBrowser();  // waits for visits still under way
    ScriptedBrowser(const ScriptedBrowser&) = delete;
    ScriptedBrowser& operator=(const ScriptedBrowser&) = delete;

    void setBehaviour(Behaviour behaviour);
    // Called with each redirect's URL before it is followed; may return a
    // different URL to follow instead (a tampered redirect) — or the same.
    void setRedirectFilter(std::function<std::string(const std::string&)> filter);

    // For OAuthFlow::openUrl. Returns at once; the visit runs on a thread of
    // the browser's own, so the caller's (main) thread is never blocked.
    std::function<bool(const std::string&)> opener();

    // The URLs the opener was given, in order.
    std::vector<std::string> openedUrls() const;

    // The page of the next visit the opener made that has not been taken
    // yet, once it has ended; a Page with status 0 and an empty url after
    // `timeout`.
    Page waitPage(std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

    // Follows `url` and its redirects (at most 10) synchronously.
    Page visit(const std::string& url) const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Behaviour m_behaviour = Behaviour::Follow;
    std::function<std::string(const std::string&)> m_filter;
    std::vector<std::string> m_opened;
    std::vector<Page> m_pages;
    std::size_t m_taken = 0;
    std::vector<std::thread> m_visits;
};

// One raw exchange with 127.0.0.1:`port`: sends `bytes` as they are, then
// (with `halfClose`) says it will send no more, and reads until the server
// closes (or `timeout`). "" when nothing came back. For requests no browser
// would send (junk, NUL bytes, half a line).
std::string rawExchange(int port, const std::string& bytes,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(10000), bool halfClose = true);
