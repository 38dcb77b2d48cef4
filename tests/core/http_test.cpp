// The blocking client against a real local server scripted to misbehave.
#include "core/http.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "temp_home.h"
#include "test_http_server.h"

namespace {

using namespace std::chrono_literals;

// What the server saw of the last request, read by the test thread.
struct Seen {
    std::mutex mutex;
    int requests = 0;
    std::string method, path, body, contentType, accept, authorization, custom;
    bool hadAuthorization = false;
    std::vector<int> remotePorts;

    void record(const httplib::Request& req) {
        std::lock_guard lock(mutex);
        ++requests;
        method = req.method;
        path = req.path;
        body = req.body;
        contentType = req.get_header_value("Content-Type");
        accept = req.get_header_value("Accept");
        hadAuthorization = req.has_header("Authorization");
        authorization = req.get_header_value("Authorization");
        custom = req.get_header_value("X-Custom");
        remotePorts.push_back(req.remote_port);
    }
    int count() {
        std::lock_guard lock(mutex);
        return requests;
    }
};

// Restores the process-wide limits a test lowered.
struct ScopedLimits {
    HTTP::Limits saved = HTTP::limits();
    explicit ScopedLimits(const HTTP::Limits& limits) { HTTP::setLimits(limits); }
    ~ScopedLimits() { HTTP::setLimits(saved); }
};

TEST(Http, NothingIsSentForWhatCannotBeARequest) {
    Seen seen;
    TestHttpServer server([&](httplib::Server& s) {
        s.Get("/.*", [&](const httplib::Request& req, httplib::Response&) { seen.record(req); });
        s.Post("/.*", [&](const httplib::Request& req, httplib::Response&) { seen.record(req); });
    });
    for (std::string url : {"", "not a url", "ftp://127.0.0.1/x", "file:///etc/passwd", "http://", "://x"})
        EXPECT_EQ(HTTP::request("GET", url).status, 0) << url;
    // A value or name that would add lines to the request is refused whole.
    EXPECT_EQ(HTTP::request("GET", server.url("/a"), {{"X-Custom", "a\r\nX-Evil: 1"}}).status, 0);
    EXPECT_EQ(HTTP::request("GET", server.url("/a"), {{"X Custom", "a"}}).status, 0);
    EXPECT_EQ(HTTP::request("GET /x HTTP/1.1\r\n", server.url("/a")).status, 0);
    EXPECT_EQ(HTTP::request("PUT", server.url("/a"), {}, std::nullopt, "/nonexistent/file").status, 0);
    EXPECT_EQ(seen.count(), 0);
    EXPECT_EQ(HTTP::request("GET", server.url("/a")).status, 200) << "the server was reachable all along";
}

TEST(Http, StatusesAndBodiesComeBackAsTheyAre) {
    TestHttpServer server([](httplib::Server& s) {
        s.Get("/empty", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
        s.Get("/array", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("[{\"a\":1}]", "application/json");
        });
        s.Get("/object", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("{\"a\":[1,2]}", "application/json");
        });
        s.Get("/html", [](const httplib::Request&, httplib::Response& res) {
            res.status = 500;
            res.set_content("<html>Oops</html>", "text/html");
        });
    });
    HTTPResult empty = HTTP::request("GET", server.url("/empty"));
    EXPECT_EQ(empty.status, 204);
    EXPECT_EQ(empty.data, "");
    EXPECT_FALSE(empty.json());

    HTTPResult array = HTTP::request("GET", server.url("/array"));
    EXPECT_EQ(array.status, 200);
    EXPECT_EQ(array.data, "[{\"a\":1}]");
    EXPECT_FALSE(array.json()) << "valid JSON, but not an object";

    auto object = HTTP::request("GET", server.url("/object")).json();
    ASSERT_TRUE(object);
    EXPECT_EQ((*object)["a"][1], 2);

    HTTPResult html = HTTP::request("GET", server.url("/html"));
    EXPECT_EQ(html.status, 500);
    EXPECT_EQ(html.data, "<html>Oops</html>");
    EXPECT_FALSE(html.json());

    EXPECT_EQ(HTTP::request("GET", server.url("/missing")).status, 404);
}

TEST(Http, NoAnswerIsStatusZero) {
    EXPECT_EQ(HTTP::request("GET", "http://127.0.0.1:" + std::to_string(TestHttpServer::unusedPort()) + "/").status,
              0);
    TestHttpServer server([](httplib::Server& s) {
        // Announces 100 bytes, sends 5 and hangs up.
        s.Get("/truncated", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(100, "application/json", [](size_t, size_t, httplib::DataSink& sink) {
                sink.write("{\"a\":", 5);
                return false;
            });
        });
        s.Get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(5000, 'x'), "text/plain");
        });
    });
    HTTPResult truncated = HTTP::request("GET", server.url("/truncated"));
    EXPECT_EQ(truncated.status, 0) << "half a body is no answer";
    EXPECT_EQ(truncated.data, "");

    ScopedLimits small({.maxResponseBytes = 1000});
    HTTPResult big = HTTP::request("GET", server.url("/big"));
    EXPECT_EQ(big.status, 0);
    EXPECT_EQ(big.data, "");
}

TEST(Http, IdleLimitEndsSilentExchangesButNotSlowSteadyOnes) {
    TestHttpServer server([](httplib::Server& s) {
        s.Get("/silent", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(3500ms);
            res.set_content("{}", "application/json");
        });
        // Ten pieces 250 ms apart: longer than the idle limit in all, never idle
        // for more than an eighth of it, which leaves room for a busy machine.
        s.Get("/steady", [](const httplib::Request&, httplib::Response& res) {
            // A type the server sends uncompressed, so each piece leaves at once.
            res.set_chunked_content_provider("application/octet-stream", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= 10) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(250ms);
                sink.write("x", 1);
                return true;
            });
        });
    });
    {
        ScopedLimits idle({.idleSeconds = 2});
        EXPECT_EQ(HTTP::request("GET", server.url("/silent")).status, 0);
        HTTPResult steady = HTTP::request("GET", server.url("/steady"));
        EXPECT_EQ(steady.status, 200);
        EXPECT_EQ(steady.data, "xxxxxxxxxx");
    }
    ScopedLimits total({.idleSeconds = 60, .totalSeconds = 1});
    EXPECT_EQ(HTTP::request("GET", server.url("/steady")).status, 0) << "the whole exchange is bounded too";
}

TEST(Http, PostJsonSetsItsOwnTypesAndEscapesSlashes) {
    Seen seen;
    TestHttpServer server([&](httplib::Server& s) {
        s.Post("/mcp", [&](const httplib::Request& req, httplib::Response& res) {
            seen.record(req);
            res.set_content("{\"ok\":true}", "application/json");
        });
    });
    Json body{{"url", "https://a/b"}, {"name", "Plan été"}};
    HTTPResult r = HTTP::postJSON(server.url("/mcp"), body,
                                  {{"accept", "text/html"}, {"Content-Type", "text/plain"}, {"X-Custom", "kept"}});
    EXPECT_EQ(r.status, 200);
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.accept, "application/json");
    EXPECT_EQ(seen.contentType, "application/json");
    EXPECT_EQ(seen.custom, "kept");
    EXPECT_EQ(seen.body, "{\"name\":\"Plan été\",\"url\":\"https:\\/\\/a\\/b\"}");
}

TEST(Http, PostFormPercentEncodesValuesOnly) {
    Seen seen;
    TestHttpServer server([&](httplib::Server& s) {
        s.Post("/token", [&](const httplib::Request& req, httplib::Response&) { seen.record(req); });
    });
    HTTP::postForm(server.url("/token"), {{"redirect_uri", "http://127.0.0.1:51734/callback"},
                                          {"plain", "AZaz09-._~"},
                                          {"mixed", "a b/c:d&e=f+g%"},
                                          {"accent", "é"}});
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(seen.accept, "application/json");
    EXPECT_EQ(seen.body,
              "accent=%C3%A9&mixed=a%20b%2Fc%3Ad%26e%3Df%2Bg%25&plain=AZaz09-._~"
              "&redirect_uri=http%3A%2F%2F127.0.0.1%3A51734%2Fcallback");
}

TEST(Http, ConnectionsAreReusedBetweenCalls) {
    Seen seen;
    TestHttpServer server([&](httplib::Server& s) {
        s.Post("/mcp", [&](const httplib::Request& req, httplib::Response& res) {
            seen.record(req);
            res.set_content("{}", "application/json");
        });
    });
    for (int i = 0; i < 3; ++i) EXPECT_EQ(HTTP::postJSON(server.url("/mcp"), Json::object()).status, 200);
    std::lock_guard lock(seen.mutex);
    ASSERT_EQ(seen.remotePorts.size(), 3u);
    EXPECT_EQ(seen.remotePorts[0], seen.remotePorts[1]) << "a second call opened a new connection";
    EXPECT_EQ(seen.remotePorts[1], seen.remotePorts[2]);
}

TEST(Http, RedirectsKeepTheTokenOnItsHost) {
    Seen seen;
    std::atomic<int> port = 0;  // known once the server is bound; read by handlers only after that
    auto echo = [&](const httplib::Request& req, httplib::Response& res) {
        seen.record(req);
        res.set_content("{\"echo\":true}", "application/json");
    };
    TestHttpServer server([&](httplib::Server& s) {
        s.Post("/echo", echo);
        s.Get("/echo", echo);
        // Same address and port under another name: another host all the same.
        s.Post("/other-host", [&](const httplib::Request&, httplib::Response& res) {
            res.status = 307;
            res.set_header("Location", "http://localhost:" + std::to_string(port.load()) + "/echo");
        });
        s.Post("/found", [&](const httplib::Request&, httplib::Response& res) {
            res.status = 302;
            res.set_header("Location", "http://localhost:" + std::to_string(port.load()) + "/echo");
        });
        s.Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop", 302); });
        s.Get("/to-ftp", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("ftp://127.0.0.1/x", 302);
        });
    });
    port = server.port();
    TestHttpServer otherPort([&](httplib::Server& s) {
        s.Post("/away", [&](const httplib::Request&, httplib::Response& res) {
            res.status = 308;
            res.set_header("Location", server.url("/echo"));
        });
    });
    const HTTP::Headers headers{{"Authorization", "Bearer secret"}, {"X-Custom", "kept"}};

    HTTPResult away = HTTP::request("POST", server.url("/other-host"), headers, std::string("{\"x\":1}"));
    EXPECT_EQ(away.status, 200);
    EXPECT_EQ(away.data, "{\"echo\":true}");
    {
        std::lock_guard lock(seen.mutex);
        EXPECT_FALSE(seen.hadAuthorization) << "the bearer token followed a redirect to another host";
        EXPECT_EQ(seen.custom, "kept");
        EXPECT_EQ(seen.method, "POST") << "307 keeps the method and the body";
        EXPECT_EQ(seen.body, "{\"x\":1}");
    }
    EXPECT_EQ(HTTP::request("POST", otherPort.url("/away"), headers, std::string("{}")).status, 200);
    {
        std::lock_guard lock(seen.mutex);
        EXPECT_FALSE(seen.hadAuthorization) << "another port of the same address is another server";
    }
    HTTP::request("POST", server.url("/found"), headers, std::string("{\"x\":1}"));
    {
        std::lock_guard lock(seen.mutex);
        EXPECT_EQ(seen.method, "GET") << "302 turns a POST into a GET";
        EXPECT_EQ(seen.body, "");
        EXPECT_FALSE(seen.hadAuthorization);
    }
    EXPECT_EQ(HTTP::request("GET", server.url("/loop")).status, 0);
    EXPECT_EQ(HTTP::request("GET", server.url("/to-ftp")).status, 0);
}

TEST(Http, RedirectWithinTheSameOriginKeepsTheToken) {
    Seen seen;
    TestHttpServer server([&](httplib::Server& s) {
        s.Post("/old", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/new", 307); });
        s.Post("/new", [&](const httplib::Request& req, httplib::Response&) { seen.record(req); });
    });
    EXPECT_EQ(HTTP::postJSON(server.url("/old"), Json{{"a", 1}}, {{"Authorization", "Bearer secret"}}).status, 200);
    std::lock_guard lock(seen.mutex);
    EXPECT_EQ(seen.authorization, "Bearer secret");
    EXPECT_EQ(seen.body, "{\"a\":1}");
}

TEST(Http, BodyFileIsStreamedFromDiskNotReadWhole) {
    TempHome home;
    const size_t kSize = size_t(16) << 20;
    const size_t kTail = size_t(8) << 20;
    std::string path = home.path() + "/big.bin";
    {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        std::string block(1 << 20, 'a');
        for (size_t i = 0; i < kSize / block.size(); ++i) ASSERT_EQ(::write(fd, block.data(), block.size()), 1 << 20);
        ::close(fd);
    }
    std::mutex mutex;
    std::string received, contentType, method;
    TestHttpServer server([&](httplib::Server& s) {
        s.Put("/upload", [&](const httplib::Request& req, httplib::Response& res,
                             const httplib::ContentReader& content) {
            bool rewritten = false;
            std::string bytes;
            content([&](const char* data, size_t length) {
                // Once the first bytes are in, the end of the file changes on
                // disk: a client that read the file up front sends the old end.
                if (!rewritten) {
                    int fd = ::open(path.c_str(), O_WRONLY);
                    std::string tail(kTail, 'b');
                    ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(kSize - kTail));
                    ::close(fd);
                    rewritten = true;
                }
                bytes.append(data, length);
                return true;
            });
            std::lock_guard lock(mutex);
            received = std::move(bytes);
            contentType = req.get_header_value("Content-Type");
            method = req.method;
            res.set_content("{}", "application/json");
        });
    });
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;
    HTTPResult r = HTTP::request("PUT", server.url("/upload"), {{"Content-Type", "application/octet-stream"}},
                                 std::string("ignored body"), path,
                                 [&](std::uint64_t sent, std::uint64_t total) { progress.emplace_back(sent, total); });
    EXPECT_EQ(r.status, 200);
    std::lock_guard lock(mutex);
    EXPECT_EQ(method, "PUT");
    EXPECT_EQ(contentType, "application/octet-stream");
    ASSERT_EQ(received.size(), kSize) << "the body is the file, never the given body";
    EXPECT_EQ(received.find_first_not_of('a'), kSize - kTail);
    EXPECT_EQ(received.find_first_not_of('b', kSize - kTail), std::string::npos)
        << "the end of the file was read before it was sent";
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), std::make_pair(std::uint64_t(kSize), std::uint64_t(kSize)));
    EXPECT_TRUE(std::any_of(progress.begin(), progress.end(),
                            [&](const auto& p) { return p.first > 0 && p.first < kSize; }))
        << "progress was reported only at the end";
}

}  // namespace
