// The service session's proxy, in-process, against a scripted local /mcp.
#include <gtest/gtest.h>

#include <mutex>

#include "core/tool_error.h"
#include "service/service_session.h"
#include "temp_home.h"
#include "test_http_server.h"

namespace {

// A /mcp endpoint whose next answers the test sets, recording what it receives.
struct ScriptedMcp {
    struct Reply {
        int status = 200;
        std::string body = "{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{}}";
        std::string type = "application/json";
        bool truncated = false;  // announce more bytes than are sent, then hang up
    };

    std::mutex mutex;
    Reply reply;
    int requests = 0;
    std::string lastBody, lastAuthorization, lastProtocol, lastAccept;
    TestHttpServer server{[this](httplib::Server& s) {
        s.Post("/mcp", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            ++requests;
            lastBody = req.body;
            lastAuthorization = req.get_header_value("Authorization");
            lastProtocol = req.get_header_value("MCP-Protocol-Version");
            lastAccept = req.get_header_value("Accept");
            res.status = reply.status;
            if (reply.truncated) {
                std::string half = reply.body.substr(0, reply.body.size() / 2);
                res.set_content_provider(reply.body.size(), reply.type,
                                         [half](size_t, size_t, httplib::DataSink& sink) {
                                             sink.write(half.data(), half.size());
                                             return false;
                                         });
            } else if (!reply.body.empty()) {
                res.set_content(reply.body, reply.type);
            }
        });
    }};

    void answer(Reply next) {
        std::lock_guard lock(mutex);
        reply = std::move(next);
    }
    void answerResult(const Json& result) { answer({.body = Json{{"jsonrpc", "2.0"}, {"id", 1}, {"result", result}}.dump()}); }
    int count() {
        std::lock_guard lock(mutex);
        return requests;
    }
};

struct ProxyFixture : ::testing::Test {
    TempHome home;
    ScriptedMcp mcp;
    ServiceSession session{AgentConfig{.baseUrl = mcp.server.url(), .token = "tok-1"}};
};

// The ToolError a call throws, or a marker when it throws none.
template <typename Call>
ToolError errorOf(Call call) {
    try {
        call();
    } catch (const ToolError& e) {
        return e;
    }
    return ToolError("<none>", "");
}

void expectError(const ToolError& e, const std::string& code, const std::string& message) {
    EXPECT_EQ(e.code, code);
    EXPECT_EQ(e.message, message);
}

TEST_F(ProxyFixture, LoggedOutMeansNoRequestAtAll) {
    session.cfg.token = "";
    expectError(errorOf([&] { session.remoteCallRaw("list_workspaces", Json::object()); }), "not_logged_in",
                "Kestro Agent n'est pas connecté : ouvre l'app (barre de menus) → Se connecter à Kestro.");
    expectError(errorOf([&] { session.remoteData("list_workspaces", Json::object()); }), "not_logged_in",
                "Kestro Agent n'est pas connecté : ouvre l'app (barre de menus) → Se connecter à Kestro.");
    EXPECT_EQ(session.remoteTools(), Json::array());
    EXPECT_FALSE(session.remoteToolsCache) << "a later list, once logged in, must ask again";
    EXPECT_EQ(mcp.count(), 0);
}

TEST_F(ProxyFixture, CallIsOneJsonRpcPostWithTheBearerToken) {
    mcp.answerResult(Json{{"content", Json::array()}, {"structuredContent", {{"ok", true}}}, {"isError", false}});
    Json args{{"workspace_id", 3}, {"text", "a/b"}};
    Json result = session.remoteCallRaw("list_sequences", args);
    EXPECT_EQ(result, (Json{{"content", Json::array()}, {"structuredContent", {{"ok", true}}}, {"isError", false}}));
    std::lock_guard lock(mcp.mutex);
    EXPECT_EQ(mcp.lastAuthorization, "Bearer tok-1");
    EXPECT_EQ(mcp.lastProtocol, "2025-06-18");
    EXPECT_EQ(mcp.lastAccept, "application/json");
    EXPECT_EQ(Json::parse(mcp.lastBody), (Json{{"jsonrpc", "2.0"},
                                              {"id", 1},
                                              {"method", "tools/call"},
                                              {"params", {{"name", "list_sequences"}, {"arguments", args}}}}));
}

TEST_F(ProxyFixture, EveryFailureOfTheServiceHasItsMessage) {
    const std::string unreadable = "Réponse illisible du serveur Kestro (HTTP ";
    struct Case {
        const char* what;
        ScriptedMcp::Reply reply;
        std::string code, message;
    } cases[] = {
        {"401 whatever the body", {.status = 401, .body = "{\"error\":{\"message\":\"nope\"}}"}, "invalid_token",
         "Token Kestro refusé (révoqué ?) : reconnecte l'app Kestro Agent."},
        {"500 with HTML", {.status = 500, .body = "<html>down</html>", .type = "text/html"}, "remote_error",
         unreadable + "500)."},
        {"a JSON array", {.body = "[{\"result\":{}}]"}, "remote_error", unreadable + "200)."},
        {"204 without a body", {.status = 204, .body = ""}, "remote_error", unreadable + "204)."},
        {"a truncated body", {.body = "{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":{}}", .truncated = true},
         "remote_error", unreadable + "0)."},
        {"a JSON-RPC error", {.body = "{\"error\":{\"code\":-32000,\"message\":\"Plan introuvable\"}}"},
         "remote_error", "Plan introuvable"},
        {"an error without message", {.body = "{\"error\":{\"code\":-32000}}"}, "remote_error", "erreur distante"},
        {"an error whose message is no string", {.body = "{\"error\":{\"message\":42}}"}, "remote_error",
         "erreur distante"},
    };
    for (const auto& c : cases) {
        mcp.answer(c.reply);
        ToolError e = errorOf([&] { session.remoteCallRaw("list_plans", Json::object()); });
        EXPECT_EQ(e.code, c.code) << c.what;
        EXPECT_EQ(e.message, c.message) << c.what;
    }
}

TEST_F(ProxyFixture, NothingListeningIsHttpZero) {
    session.cfg.baseUrl = "http://127.0.0.1:" + std::to_string(TestHttpServer::unusedPort());
    expectError(errorOf([&] { session.remoteCallRaw("list_plans", Json::object()); }), "remote_error",
                "Réponse illisible du serveur Kestro (HTTP 0).");
}

TEST_F(ProxyFixture, WhatIsNotAnErrorIsReadAsTheResult) {
    mcp.answer({.status = 500, .body = "{\"result\":{\"a\":1}}"});
    EXPECT_EQ(session.remoteCallRaw("x", Json::object()), (Json{{"a", 1}})) << "only 401 is judged by its status";
    mcp.answer({.body = "{\"jsonrpc\":\"2.0\",\"id\":1}"});
    EXPECT_EQ(session.remoteCallRaw("x", Json::object()), Json::object());
    mcp.answer({.body = "{\"result\":[1,2]}"});
    EXPECT_EQ(session.remoteCallRaw("x", Json::object()), Json::object());
    mcp.answer({.body = "{\"error\":\"text\",\"result\":{\"b\":2}}"});
    EXPECT_EQ(session.remoteCallRaw("x", Json::object()), (Json{{"b", 2}})) << "an error that is no object is ignored";
}

TEST_F(ProxyFixture, RemoteDataPrefersStructuredContentThenJsonText) {
    auto text = [](const std::string& t) { return Json::array({Json{{"type", "text"}, {"text", t}}}); };
    mcp.answerResult(Json{{"structuredContent", {{"from", "structured"}}}, {"content", text("{\"from\":\"text\"}")}});
    EXPECT_EQ(session.remoteData("x", Json::object()), (Json{{"from", "structured"}}));
    mcp.answerResult(Json{{"structuredContent", "not an object"}, {"content", text("{\"from\":\"text\"}")}});
    EXPECT_EQ(session.remoteData("x", Json::object()), (Json{{"from", "text"}}));
    for (const char* notAnObject : {"plain words", "[1,2]", ""}) {
        mcp.answerResult(Json{{"content", text(notAnObject)}});
        EXPECT_EQ(session.remoteData("x", Json::object()), Json::object()) << notAnObject;
    }
    mcp.answerResult(Json{{"content", Json::array({Json{{"type", "text"}, {"text", "{}"}}, 3})}});
    EXPECT_EQ(session.remoteData("x", Json::object()), Json::object()) << "content holding a non-object";
    mcp.answerResult(Json::object());
    EXPECT_EQ(session.remoteData("x", Json::object()), Json::object());
}

TEST_F(ProxyFixture, RemoteDataTurnsToolRefusalsIntoErrors) {
    auto text = [](const std::string& t) { return Json::array({Json{{"type", "text"}, {"text", t}}}); };
    mcp.answerResult(Json{{"isError", true}, {"content", text("Séquence inconnue")}});
    expectError(errorOf([&] { session.remoteData("x", Json::object()); }), "remote_tool_error", "Séquence inconnue");
    mcp.answerResult(Json{{"isError", true}});
    expectError(errorOf([&] { session.remoteData("x", Json::object()); }), "remote_tool_error", "erreur distante");
    mcp.answerResult(Json{{"isError", true}, {"content", Json::array({Json{{"type", "image"}}})}});
    expectError(errorOf([&] { session.remoteData("x", Json::object()); }), "remote_tool_error", "erreur distante");
    // Only the boolean true marks a refusal.
    mcp.answerResult(Json{{"isError", "true"}, {"structuredContent", {{"ok", 1}}}});
    EXPECT_EQ(session.remoteData("x", Json::object()), (Json{{"ok", 1}}));
    // The raw call hands a refusal back untouched: the assistant reads it itself.
    mcp.answerResult(Json{{"isError", true}, {"content", text("non")}});
    EXPECT_EQ(session.remoteCallRaw("x", Json::object())["isError"], true);
}

TEST_F(ProxyFixture, RemoteToolsAreCachedOnlyFromA200) {
    Json tools = Json::array({Json{{"name", "list_workspaces"}, {"inputSchema", {{"type", "object"}}}},
                              Json{{"name", "create_plan"}, {"x-extra", {1, 2}}}});
    mcp.answer({.status = 500, .body = "<html/>", .type = "text/html"});
    EXPECT_EQ(session.remoteTools(), Json::array());
    EXPECT_FALSE(session.remoteToolsCache) << "a failed exchange is tried again";
    mcp.answerResult(Json{{"tools", tools}});
    EXPECT_EQ(session.remoteTools(), tools);
    EXPECT_EQ(session.remoteTools(), tools);
    EXPECT_EQ(mcp.count(), 2) << "the second list came from the cache";
    {
        std::lock_guard lock(mcp.mutex);
        EXPECT_EQ(Json::parse(mcp.lastBody), (Json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/list"}}));
        EXPECT_EQ(mcp.lastAuthorization, "Bearer tok-1");
    }

    // A 200 of the wrong shape fixes an empty list until the token changes.
    for (Json badResult : {Json{{"tools", Json::array({Json{{"name", "a"}}, "b"})}}, Json{{"tools", Json::object()}},
                           Json{{"nothing", true}}}) {
        session.remoteToolsCache.reset();
        mcp.answerResult(badResult);
        EXPECT_EQ(session.remoteTools(), Json::array()) << badResult.dump();
        EXPECT_EQ(session.remoteToolsCache, Json::array()) << badResult.dump();
    }
    session.remoteToolsCache.reset();
    mcp.answer({.body = "{\"error\":{\"message\":\"x\"}}"});
    EXPECT_EQ(session.remoteTools(), Json::array());
    EXPECT_EQ(session.remoteToolsCache, Json::array()) << "a JSON-RPC error under 200 is a 200 all the same";
}

}  // namespace
