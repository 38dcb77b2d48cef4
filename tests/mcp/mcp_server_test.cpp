#include "mcp/mcp_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "config/config_store.h"
#include "temp_home.h"

namespace {

// Runs the server over in-memory streams and returns each reply line decoded.
struct Session {
    std::vector<Json> replies;
    std::string rawOut, err;
    int status;
};

Session serve(const std::string& input, AgentConfig cfg = ConfigStore::load()) {
    std::istringstream in(input);
    std::ostringstream out, err;
    MCPServer server(cfg, in, out, err);
    Session s;
    s.status = server.run();
    s.rawOut = out.str();
    s.err = err.str();
    std::istringstream lines(s.rawOut);
    for (std::string line; std::getline(lines, line);) s.replies.push_back(*JSON::decode(line));
    return s;
}

TEST(McpServer, KnownMethodsAreAnsweredWithOrWithoutId) {
    TempHome home;
    Session s = serve(
        R"({"jsonrpc":"2.0","method":"ping"}
{"jsonrpc":"2.0","id":"s-1","method":"resources/list"}
{"jsonrpc":"2.0","id":{"odd":true},"method":"resources/templates/list"}
{"jsonrpc":"2.0","id":3.5,"method":"prompts/list","params":[1]}
)");
    ASSERT_EQ(s.replies.size(), 4u);
    EXPECT_EQ(s.replies[0], (Json{{"jsonrpc", "2.0"}, {"id", nullptr}, {"result", Json::object()}}));
    EXPECT_EQ(s.replies[1]["id"], "s-1");
    EXPECT_EQ(s.replies[1]["result"], (Json{{"resources", Json::array()}}));
    EXPECT_EQ(s.replies[2]["id"], (Json{{"odd", true}}));
    EXPECT_EQ(s.replies[2]["result"], (Json{{"resourceTemplates", Json::array()}}));
    EXPECT_EQ(s.replies[3]["id"], 3.5);
    EXPECT_EQ(s.replies[3]["result"], (Json{{"prompts", Json::array()}}));
    EXPECT_EQ(s.status, 0);
}

TEST(McpServer, UnknownMethodsAndMissingMethodsDependOnTheId) {
    TempHome home;
    Session s = serve(
        R"({"jsonrpc":"2.0","id":null,"method":"nope"}
{"jsonrpc":"2.0","method":"notifications/initialized"}
{"jsonrpc":"2.0","id":7,"method":"nope"}
{"jsonrpc":"2.0","id":8,"method":"Ping"}
{"jsonrpc":"2.0","id":9,"result":{}}
{"jsonrpc":"2.0","id":10,"method":5}
{"jsonrpc":"2.0","result":{}}
)");
    ASSERT_EQ(s.replies.size(), 4u);
    EXPECT_EQ(s.replies[0], (Json{{"jsonrpc", "2.0"}, {"id", 7},
                                  {"error", {{"code", -32601}, {"message", "Méthode inconnue : nope"}}}}));
    EXPECT_EQ(s.replies[1]["error"]["message"], "Méthode inconnue : Ping");
    EXPECT_EQ(s.replies[2], (Json{{"jsonrpc", "2.0"}, {"id", 9},
                                  {"error", {{"code", -32600}, {"message", "Requête invalide"}}}}));
    EXPECT_EQ(s.replies[3]["id"], 10);
    EXPECT_EQ(s.replies[3]["error"]["code"], -32600);
}

TEST(McpServer, LinesBatchesAndBadJson) {
    TempHome home;
    Session s = serve(std::string("\n \t \n\xC2\xA0\xE3\x80\x80\n") +  // blank, spaces, tabs, Unicode spaces
                      "42\n\"alone\"\n{broken\n" +                       // three -32700
                      "[{\"id\":1,\"method\":\"ping\"},{\"id\":2,\"method\":\"ping\"}]\n" +
                      "[{\"id\":3,\"method\":\"ping\"},4]\n[]\n" +  // mixed batch and empty batch: silence
                      "\t {\"id\":5,\"method\":\"ping\"}\xE2\x80\x83\n" +
                      "{\"id\":6,\"method\":\"ping\"}\r\n");  // CR is JSON whitespace
    ASSERT_EQ(s.replies.size(), 7u) << s.rawOut;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(s.replies[i]["id"], nullptr);
        EXPECT_EQ(s.replies[i]["error"]["code"], -32700);
        EXPECT_EQ(s.replies[i]["error"]["message"], "JSON invalide");
    }
    EXPECT_EQ(s.replies[3]["id"], 1);
    EXPECT_EQ(s.replies[4]["id"], 2);
    EXPECT_EQ(s.replies[5]["id"], 5);
    EXPECT_EQ(s.replies[6]["id"], 6);
}

TEST(McpServer, InitializeAnswersOurVersionAndInstructions) {
    TempHome home;
    Session s = serve(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05"}})"
                      "\n");
    ASSERT_EQ(s.replies.size(), 1u);
    const Json& r = s.replies[0]["result"];
    EXPECT_EQ(r["protocolVersion"], "2025-06-18");
    EXPECT_EQ(r["capabilities"], (Json{{"tools", {{"listChanged", false}}}}));
    EXPECT_EQ(
        r["serverInfo"],
        (Json{{"name", "kestro-agent"}, {"title", "Kestro Agent (fichiers de l'ordinateur)"}, {"version", "1.1.4"}}));
    std::string text = r["instructions"];
    EXPECT_TRUE(text.starts_with("Kestro : storyboards (séquences → plans → images versionnées)"));
    EXPECT_TRUE(text.ends_with("Récapitule et demande confirmation avant plus de 10 envois. ⚠️ Non connecté : ouvre "
                               "l'app Kestro Agent (barre de menus) et clique « Se connecter »."));
}

TEST(McpServer, InstructionsFollowTheManifestAndTheToken) {
    TempHome home;
    std::istringstream in;
    std::ostringstream out, err;
    MCPServer server(AgentConfig{.token = "t"}, in, out, err);
    EXPECT_TRUE(server.instructions().ends_with("avant plus de 10 envois."));
    server.manifest = Manifest{.instructions = ""};
    EXPECT_TRUE(server.instructions().starts_with("Kestro : storyboards"));
    server.manifest = Manifest{.instructions = "Texte du service."};
    EXPECT_EQ(server.instructions(), "Texte du service.");
    server.service.cfg.token.clear();
    EXPECT_TRUE(server.instructions().starts_with("Texte du service. ⚠️ Non connecté"));
}

TEST(McpServer, ConfigurationIsReloadedBeforeEveryMessage) {
    TempHome home;
    std::istringstream in;
    std::ostringstream out, err;
    MCPServer server(ConfigStore::load(), in, out, err);
    server.service.remoteToolsCache = Json::array({Json{{"name", "cached"}}});
    server.handle(Json{{"id", 1}, {"method", "ping"}});
    EXPECT_TRUE(server.service.remoteToolsCache) << "same token and base URL keep the cache";

    ConfigStore::save(AgentConfig{.token = "fresh"});
    server.handle(Json{{"id", 2}, {"method", "ping"}});
    EXPECT_EQ(server.service.cfg.token, "fresh");
    EXPECT_FALSE(server.service.remoteToolsCache) << "a new token drops the service's tool list";

    server.service.remoteToolsCache = Json::array();
    ConfigStore::save(AgentConfig{.baseUrl = "https://elsewhere.test", .token = "fresh"});
    server.handle(Json{{"id", 3}, {"method", "ping"}});
    EXPECT_FALSE(server.service.remoteToolsCache) << "a new base URL drops it too";

    ConfigStore::clear();
    server.handle(Json{{"id", 4}, {"method", "ping"}});
    EXPECT_FALSE(server.service.cfg.isLoggedIn());
}

TEST(McpServer, ToolTextWrapsValuesAsMcpToolResults) {
    Json object{{"path", "/a/b"}, {"n", 2}};
    Json ok = MCPServer::toolReply(object).value();
    EXPECT_EQ(ok["isError"], false);
    EXPECT_EQ(ok["structuredContent"], object);
    ASSERT_EQ(ok["content"].size(), 1u);
    EXPECT_EQ(ok["content"][0]["type"], "text");
    EXPECT_EQ(*JSON::decode(ok["content"][0]["text"].get<std::string>()), object);
    EXPECT_NE(ok["content"][0]["text"].get<std::string>().find('\n'), std::string::npos) << "pretty text";

    Json error = MCPServer::toolReply("Erreur x : y", true).value();
    EXPECT_EQ(error, (Json{{"content", Json::array({Json{{"type", "text"}, {"text", "Erreur x : y"}}})},
                           {"isError", true}}));
    EXPECT_FALSE(MCPServer::toolReply(Json::array({1})).value()["structuredContent"].is_object());
    EXPECT_FALSE(MCPServer::toolReply(object, true).value().contains("structuredContent"));
}

TEST(McpServer, AToolReplyLineIsTheWholeResultWrittenOnce) {
    Json value{{"directory", "/tmp/SEQ \"07\""},
               {"files", Json::array({Json{{"name", "a}}b\\"}, {"size", 1.25}}, Json{{"name", "é\n\t"}, {"size", 0}}})},
               {"empty", Json::object()}};
    for (const Json& id : {Json(7), Json("}}"), Json(",\"structuredContent\":1}}"), Json(nullptr)}) {
        Json item{{"type", "text"}, {"text", value.dump(2)}};
        Json expected{{"jsonrpc", "2.0"},
                      {"id", id},
                      {"result", {{"content", Json::array({item})}, {"isError", false}, {"structuredContent", value}}}};
        EXPECT_EQ(MCPServer::replyLine(id, MCPServer::toolReply(value)), expected.dump()) << id;
    }
    // Errors and plain texts carry no structured content.
    EXPECT_EQ(MCPServer::replyLine(1, MCPServer::toolReply("Erreur x : y", true)),
              R"({"id":1,"jsonrpc":"2.0","result":{"content":[{"text":"Erreur x : y","type":"text"}],"isError":true}})");
    // A name that is not UTF-8 cannot be written strictly: it still goes out,
    // replaced, in a line the assistant can read and match to its request.
    auto broken = JSON::decode(MCPServer::replyLine(3, MCPServer::toolReply(Json{{"name", "\xe9t\xe9"}})));
    ASSERT_TRUE(broken);
    EXPECT_EQ((*broken)["id"], 3);
    EXPECT_EQ((*broken)["result"]["structuredContent"]["name"], "\uFFFDt\uFFFD");
}

TEST(McpServer, StartLineAndOneLinePerReply) {
    TempHome home;
    ConfigStore::save(AgentConfig{.baseUrl = "https://svc.test", .token = "t"});
    Session s = serve("{\"id\":1,\"method\":\"initialize\"}\n{\"id\":2,\"method\":\"ping\"}\n");
    EXPECT_EQ(s.err, "[kestro-agent] démarré v1.1.4 — https://svc.test — token présent — manifeste intégré\n");
    EXPECT_EQ(std::count(s.rawOut.begin(), s.rawOut.end(), '\n'), 2);
    Session loggedOut = serve("", AgentConfig());
    EXPECT_NE(loggedOut.err.find("— token ABSENT —"), std::string::npos);
}

TEST(McpServer, StopsReadingOnceTheOutputIsGone) {
    TempHome home;
    std::string input;
    for (int i = 0; i < 100; ++i) input += "{\"id\":" + std::to_string(i) + ",\"method\":\"ping\"}\n";
    std::istringstream in(input);
    std::ostringstream out, err;
    out.setstate(std::ios::badbit);  // like a pipe whose reader has gone
    MCPServer server(AgentConfig(), in, out, err);
    EXPECT_EQ(server.run(), 0);
    std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(rest.empty()) << "the server stopped instead of reading all input for nobody";
}

TEST(McpServer, ARepliedTextThatIsNotUtf8StillGivesAnAnswerableLine) {
    std::istringstream in;
    std::ostringstream out, err;
    MCPServer server(AgentConfig(), in, out, err);
    server.send(MCPServer::result(5, MCPServer::toolReply("Dossier introuvable : /home/\xe9t\xe9", true).value()));
    auto reply = JSON::decode(out.str());
    ASSERT_TRUE(reply) << out.str();
    EXPECT_EQ((*reply)["id"], 5);
    EXPECT_EQ((*reply)["result"]["content"][0]["text"], "Dossier introuvable : /home/\uFFFDt\uFFFD");
}

}  // namespace

namespace {

// An output that remembers how many reply lines had been written at each flush.
struct FlushLog : std::stringbuf {
    std::vector<size_t> linesAtFlush;
    int sync() override {
        std::string text = str();
        linesAtFlush.push_back(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
        return 0;
    }
};

// Quick answers to requests already waiting may leave in one write, but a
// tool call never waits behind them, nor its reply behind the next request.
TEST(McpServer, QuickRepliesShareAWriteButNeverDelayAToolCall) {
    TempHome home;
    std::istringstream in(R"({"id":1,"method":"ping"}
{"id":2,"method":"ping"}
{"id":3,"method":"tools/call","params":{"name":"list_local_files","arguments":{"directory":"~/absent"}}}
{"id":4,"method":"ping"}
{"id":5,"method":"ping"}
)");
    FlushLog log;
    std::ostream out(&log);
    std::ostringstream err;
    MCPServer server(AgentConfig{}, in, out, err);
    EXPECT_EQ(server.run(), 0);
    ASSERT_GE(log.linesAtFlush.size(), 3u);
    EXPECT_EQ(log.linesAtFlush[0], 2u) << "both pings out before the tool call starts";
    EXPECT_EQ(log.linesAtFlush[1], 3u) << "the tool call's reply out at once";
    EXPECT_EQ(log.linesAtFlush.back(), 5u);
    std::string text = log.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
}

}  // namespace
