// The real kestro-agent binary talking to a local service over HTTP: the merged
// tool list and its cache, forwarded calls, the service's failures, the manifest.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>

#include "agent_process.h"
#include "config/config_store.h"
#include "core/atomic_file.h"
#include "core/json.h"
#include "running_programs.h"
#include "service/manifest.h"
#include "temp_home.h"
#include "tools/local_tools.h"
#include "test_http_server.h"

namespace {

constexpr const char* kUnset = kUnsetVariable;

// A service answering "tools/list" and "tools/call" on /mcp, and the manifest.
struct FakeService {
    enum class Mode { normal, unauthorized, rpcError };

    std::mutex mutex;
    Mode mode = Mode::normal;
    int manifestStatus = 200;
    std::string manifestBody = "{\"instructions\":\"Consignes du service\"}";
    std::atomic<int> listRequests{0}, callRequests{0}, manifestRequests{0};
    std::string lastAuthorization;
    Json lastCall;

    const Json tools = Json::array({Json{{"name", "list_workspaces"}, {"inputSchema", {{"type", "object"}}}},
                                    Json{{"name", "create_plan"}, {"annotations", {{"x-odd", {1, "two"}}}}}});
    // Deliberately odd members: the agent must hand them over untouched.
    const Json callResult = Json{{"content", Json::array({Json{{"type", "text"}, {"text", "{\"workspaces\":[]}"}}})},
                                 {"structuredContent", {{"workspaces", Json::array()}}},
                                 {"isError", false},
                                 {"_meta", {{"trace", "abc/def"}}}};

    TestHttpServer server{[this](httplib::Server& s) {
        s.Post("/mcp", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            lastAuthorization = req.get_header_value("Authorization");
            Json message = Json::parse(req.body, nullptr, false);
            std::string method = message.is_object() ? message.value("method", "") : "";
            if (method == "tools/list") ++listRequests;
            if (method == "tools/call") {
                ++callRequests;
                lastCall = message;
            }
            if (mode == Mode::unauthorized) {
                res.status = 401;
                res.set_content("{\"error\":{\"message\":\"token inconnu\"}}", "application/json");
                return;
            }
            if (mode == Mode::rpcError) {
                res.set_content("{\"jsonrpc\":\"2.0\",\"id\":1,\"error\":{\"code\":-32602,\"message\":\"Plan inconnu\"}}",
                                "application/json");
                return;
            }
            Json result = method == "tools/list" ? Json{{"tools", tools}} : callResult;
            res.set_content(Json{{"jsonrpc", "2.0"}, {"id", 1}, {"result", result}}.dump(), "application/json");
        });
        s.Get("/api/v1/agent_manifest.php", [this](const httplib::Request&, httplib::Response& res) {
            ++manifestRequests;
            std::lock_guard lock(mutex);
            res.status = manifestStatus;
            res.set_content(manifestBody, "application/json");
        });
        s.Get("/other/manifest.json", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("{\"instructions\":\"Consignes d'ailleurs\"}", "application/json");
        });
    }};

    void setMode(Mode m) {
        std::lock_guard lock(mutex);
        mode = m;
    }
};

Json decoded(const std::optional<std::string>& line) {
    EXPECT_TRUE(line) << "no reply";
    auto value = line ? JSON::decode(*line) : std::nullopt;
    EXPECT_TRUE(value && value->is_object()) << line.value_or("");
    return value ? *value : Json::object();
}

Json ask(AgentProcess& agent, const Json& message) {
    agent.writeLine(message.dump());
    return decoded(agent.readLine());
}

Json toolsList(int id) { return Json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/list"}}; }

Json toolsCall(int id, const std::string& name, const Json& arguments) {
    return Json{{"jsonrpc", "2.0"},
                {"id", id},
                {"method", "tools/call"},
                {"params", {{"name", name}, {"arguments", arguments}}}};
}

std::string errorText(const Json& reply) {
    EXPECT_EQ(reply["result"]["isError"], true) << reply.dump();
    EXPECT_FALSE(reply.contains("error")) << "tool failures are never JSON-RPC errors";
    return reply["result"]["content"][0].value("text", "");
}

// The last `n` entries of a tools/list reply after the local tools: where the
// service's tools go. Empty when the service contributed fewer than `n`.
Json lastTools(const Json& reply, size_t n) {
    const Json& all = reply["result"]["tools"];
    size_t local = LocalTools::defs().size();
    if (!all.is_array() || all.size() < local + n) return Json::array();
    return Json(std::vector<Json>(all.end() - static_cast<std::ptrdiff_t>(n), all.end()));
}

TEST(RemoteProxyProcess, ServiceToolsFollowTheLocalOnesAndAreFetchedOncePerToken) {
    TempHome home;
    FakeService service;
    ConfigStore::save(AgentConfig{.baseUrl = service.server.url(), .token = "tok-1"});
    AgentProcess agent({"--mcp"}, {{"KESTRO_AGENT_MANIFEST_URL", ""}});

    Json first = ask(agent, toolsList(1));
    EXPECT_EQ(lastTools(first, 2), service.tools);
    Json second = ask(agent, toolsList(2));
    EXPECT_EQ(second["result"], first["result"]);
    EXPECT_EQ(service.listRequests, 1) << "the second list must come from the cache";

    ConfigStore::save(AgentConfig{.baseUrl = service.server.url(), .token = "tok-2"});
    EXPECT_EQ(lastTools(ask(agent, toolsList(3)), 2), service.tools);
    EXPECT_EQ(service.listRequests, 2) << "a new token asks the service again";
    {
        std::lock_guard lock(service.mutex);
        EXPECT_EQ(service.lastAuthorization, "Bearer tok-2");
    }

    ConfigStore::save(AgentConfig{.baseUrl = service.server.url(), .token = ""});
    Json loggedOut = ask(agent, toolsList(4));
    EXPECT_EQ(loggedOut["result"]["tools"].size(), first["result"]["tools"].size() - 2) << "local tools only";
    EXPECT_EQ(service.listRequests, 2);
    EXPECT_EQ(agent.finish(), 0);
}

TEST(RemoteProxyProcess, CallsAreForwardedAndTheServiceResultComesBackUntouched) {
    TempHome home;
    FakeService service;
    ConfigStore::save(AgentConfig{.baseUrl = service.server.url(), .token = "tok-1"});
    AgentProcess agent({"--mcp"}, {{"KESTRO_AGENT_MANIFEST_URL", ""}});

    Json args{{"workspace_id", 12}, {"text", "Séquence 1/2"}};
    Json reply = ask(agent, toolsCall(5, "list_workspaces", args));
    EXPECT_EQ(reply["id"], 5);
    EXPECT_EQ(reply["result"], service.callResult);
    {
        std::lock_guard lock(service.mutex);
        EXPECT_EQ(service.lastCall["params"], (Json{{"name", "list_workspaces"}, {"arguments", args}}));
        EXPECT_EQ(service.lastCall["id"], 1);
        EXPECT_EQ(service.lastAuthorization, "Bearer tok-1");
    }
    // Arguments that are not an object are sent as an empty one.
    agent.writeLine(R"({"jsonrpc":"2.0","id":6,"method":"tools/call","params":{"name":"create_plan","arguments":[1]}})");
    EXPECT_EQ(decoded(agent.readLine())["result"], service.callResult);
    {
        std::lock_guard lock(service.mutex);
        EXPECT_EQ(service.lastCall["params"]["arguments"], Json::object());
    }
    EXPECT_EQ(agent.finish(), 0);
}

TEST(RemoteProxyProcess, FailuresOfTheServiceAreToolResults) {
    TempHome home;
    FakeService service;
    ConfigStore::save(AgentConfig{.baseUrl = service.server.url(), .token = "tok-1"});
    AgentProcess agent({"--mcp"}, {{"KESTRO_AGENT_MANIFEST_URL", ""}});

    service.setMode(FakeService::Mode::unauthorized);
    EXPECT_EQ(errorText(ask(agent, toolsCall(1, "list_plans", Json::object()))),
              "Erreur invalid_token : Token Kestro refusé (révoqué ?) : reconnecte l'app Kestro Agent.");
    EXPECT_EQ(lastTools(ask(agent, toolsList(2)), 2), Json::array()) << "no service tools after a 401";

    service.setMode(FakeService::Mode::rpcError);
    EXPECT_EQ(errorText(ask(agent, toolsCall(3, "list_plans", Json::object()))),
              "Erreur remote_error : Plan inconnu");

    ConfigStore::save(
        AgentConfig{.baseUrl = "http://127.0.0.1:" + std::to_string(TestHttpServer::unusedPort()), .token = "tok-1"});
    EXPECT_EQ(errorText(ask(agent, toolsCall(4, "list_plans", Json::object()))),
              "Erreur remote_error : Réponse illisible du serveur Kestro (HTTP 0).");

    ConfigStore::save(AgentConfig{.baseUrl = service.server.url(), .token = ""});
    EXPECT_EQ(errorText(ask(agent, toolsCall(5, "list_plans", Json::object()))),
              "Erreur not_logged_in : Kestro Agent n'est pas connecté : ouvre l'app (barre de menus) → Se connecter "
              "à Kestro.");
    EXPECT_EQ(agent.finish(), 0);
    EXPECT_EQ(service.callRequests, 2) << "neither the dead address nor the logged-out call reached the service";
}

TEST(RemoteProxyProcess, LibcurlIsOpenedAtTheFirstExchangeAndWithoutItTheServiceIsUnreachable) {
    TempHome home;
    FakeService service;
    ConfigStore::save(AgentConfig{.baseUrl = service.server.url(), .token = "tok-1"});
    auto mapsLibcurl = [](const AgentProcess& agent) { return anyNamed(mappedLibraries(agent.pid()), "libcurl"); };
    {
        AgentProcess agent({"--mcp"});
        EXPECT_EQ(ask(agent, Json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "ping"}})["id"], 1);
        EXPECT_FALSE(mapsLibcurl(agent));
        EXPECT_EQ(ask(agent, toolsCall(2, "list_plans", Json::object()))["result"], service.callResult);
        EXPECT_TRUE(mapsLibcurl(agent));
        EXPECT_EQ(agent.finish(), 0);
    }

    // A libcurl that cannot be loaded: the service is out of reach, the local
    // tools are not, and the log says why.
    std::filesystem::create_directories(home.path() + "/lib");
    AtomicFile::write(home.path() + "/lib/libcurl.so.4", "not a library", 0644);
    AgentProcess agent({"--mcp"}, {{"LD_LIBRARY_PATH", home.path() + "/lib"}});
    EXPECT_EQ(errorText(ask(agent, toolsCall(1, "list_plans", Json::object()))),
              "Erreur remote_error : Réponse illisible du serveur Kestro (HTTP 0).");
    Json tools = ask(agent, toolsList(2))["result"]["tools"];
    EXPECT_EQ(tools.size(), LocalTools::defs().size());
    EXPECT_EQ(agent.finish(), 0);
    EXPECT_NE(agent.stderrText().find("libcurl indisponible"), std::string::npos) << agent.stderrText();
    EXPECT_EQ(service.callRequests, 1);
}

// One short session: the instructions given at "initialize" and the start line.
struct Started {
    std::string instructions, startLine;
};

Started start(std::map<std::string, std::string> env) {
    McpSession s = runMcpSession({R"({"jsonrpc":"2.0","id":1,"method":"initialize"})"}, std::move(env));
    Started out;
    if (!s.replies.empty()) out.instructions = decoded(s.replies[0])["result"].value("instructions", "");
    out.startLine = s.stderrText;
    return out;
}

TEST(RemoteProxyProcess, TheManifestComesFromTheServiceThenFromItsCache) {
    TempHome home;
    FakeService service;
    const std::string base = service.server.url();
    ConfigStore::save(AgentConfig{.baseUrl = base, .token = "tok-1"});

    Started fresh = start({{"KESTRO_AGENT_MANIFEST_URL", kUnset}});
    EXPECT_EQ(fresh.instructions, "Consignes du service");
    EXPECT_EQ(fresh.startLine, "[kestro-agent] démarré v1.1.4 — " + base + " — token présent — manifeste serveur\n");
    EXPECT_EQ(AtomicFile::read(Manifest::cacheFile()), service.manifestBody);

    {
        std::lock_guard lock(service.mutex);
        service.manifestStatus = 500;
        service.manifestBody = "{\"instructions\":\"Page d'erreur\"}";
    }
    Started offline = start({{"KESTRO_AGENT_MANIFEST_URL", kUnset}});
    EXPECT_EQ(offline.instructions, "Consignes du service") << "the cache stands in for a failing service";
    EXPECT_NE(offline.startLine.find("manifeste serveur"), std::string::npos);

    Started elsewhere = start({{"KESTRO_AGENT_MANIFEST_URL", service.server.url("/other/manifest.json")}});
    EXPECT_EQ(elsewhere.instructions, "Consignes d'ailleurs");

    int asked = service.manifestRequests;
    Started empty = start({{"KESTRO_AGENT_MANIFEST_URL", ""}});
    EXPECT_EQ(empty.instructions, "Consignes d'ailleurs") << "an empty address reads the cache";
    EXPECT_EQ(service.manifestRequests, asked) << "an empty address asks nobody";

    std::filesystem::remove(Manifest::cacheFile());
    Started builtIn = start({{"KESTRO_AGENT_MANIFEST_URL", ""}});
    EXPECT_NE(builtIn.startLine.find("manifeste intégré"), std::string::npos) << builtIn.startLine;
    EXPECT_NE(builtIn.instructions, "");
    EXPECT_NE(builtIn.instructions, "Consignes d'ailleurs");
}

}  // namespace
