// The agent in front of the stand-in service, over real sockets: the merged
// tool list, forwarded calls returned untouched, the service's refusals, and
// the manifest steering the agent.
#include <gtest/gtest.h>

#include "agent_with_service.h"
#include "config/config_store.h"
#include "tools/local_tools.h"

namespace {

using devservice::Fault;

Json request(AgentProcess& agent, int id, const std::string& method) {
    agent.writeLine(JSON::encode(Json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}}));
    auto line = agent.readLine();
    EXPECT_TRUE(line);
    return line ? *JSON::decode(*line) : Json();
}

TEST(ServiceProxy, ListsLocalThenServiceToolsAndForwardsCallsUntouched) {
    AgentWithService fixture;
    Json tools = request(fixture.agent(), 100, "tools/list")["result"]["tools"];
    size_t local = LocalTools::defs().size();
    ASSERT_GT(tools.size(), local);
    EXPECT_EQ(tools[0]["name"], "list_local_files");
    EXPECT_EQ(tools[local]["name"], "list_workspaces") << "the service's own tools follow the local ones";
    request(fixture.agent(), 101, "tools/list");
    EXPECT_EQ(fixture.service().toolCalls().size(), 0u);
    EXPECT_EQ(fixture.service().count("POST", "/mcp"), 1u) << "the service's list is asked for once";

    Json result = fixture.call("list_workspaces", Json::object());
    EXPECT_EQ(result["structuredContent"]["workspaces"].size(), fixture.service().workspaces().size());
    EXPECT_EQ(result["isError"], false);
    auto call = fixture.service().toolCalls("list_workspaces").back();
    EXPECT_EQ(call.headers["authorization"], "Bearer dev-token");
    EXPECT_EQ(call.headers["mcp-protocol-version"], "2025-06-18");

    // The service's own refusal reaches the assistant as the service wrote it.
    Json refused = fixture.call("list_sequences", {{"workspace_id", 999999}});
    EXPECT_EQ(refused["isError"], true);
    EXPECT_EQ(refused["content"][0]["text"], "Workspace 999999 introuvable.");
}

TEST(ServiceProxy, RefusedTokensAndBrokenRepliesBecomeFrenchToolErrors) {
    AgentWithService fixture;
    fixture.service().setTokens({"another"});
    EXPECT_EQ(fixture.error("list_workspaces", Json::object()),
              "Erreur invalid_token : Token Kestro refusé (révoqué ?) : reconnecte l'app Kestro Agent.");
    fixture.service().setTokens({"dev-token"});
    fixture.service().addFault(Fault{.rpcError = Json{{"code", -32000}, {"message", "Base en maintenance"}},
                                     .remaining = 1});
    EXPECT_EQ(fixture.error("list_workspaces", Json::object()), "Erreur remote_error : Base en maintenance");
    fixture.service().addFault(Fault{.dropConnection = true, .remaining = 1});
    EXPECT_EQ(fixture.error("list_workspaces", Json::object()),
              "Erreur remote_error : Réponse illisible du serveur Kestro (HTTP 0).");
    fixture.service().stop();
    EXPECT_EQ(fixture.error("list_workspaces", Json::object()),
              "Erreur remote_error : Réponse illisible du serveur Kestro (HTTP 0).");
}

TEST(ServiceProxy, ToolDataIsReadFromTextWhenTheServiceGivesNoStructuredContent) {
    AgentWithService fixture;
    int64_t workspace = fixture.service().workspaces()[0].id;
    fixture.home().write("cards/hero.png", "png");
    fixture.service().addFault(Fault{.tool = "list_asset_cards", .textContent = true, .remaining = 1});
    Json done = fixture.data("upload_folder_to_assets", {{"directory", fixture.home().path() + "/cards"},
                                                         {"workspace_id", workspace},
                                                         {"folder_name", "personnages"}});
    EXPECT_TRUE(done["card_folder_id"].is_number_integer()) << "the existing folder was found in the text reply";
    EXPECT_TRUE(fixture.service().toolCalls("create_asset_card_folder").empty());
}

TEST(ServiceProxy, TheServiceManifestSteersInstructionsAndLocalTools) {
    TempHome home;
    devservice::DevService service;
    service.start();
    service.setManifest(R"({"instructions":"Consignes du service.",
                            "tools":[{"name":"list_local_files","title":"Parcourir un dossier"}]})");
    ConfigStore::save(AgentConfig{.baseUrl = service.baseUrl(), .token = "dev-token"});
    AgentProcess agent({"--mcp"}, {{"KESTRO_AGENT_MANIFEST_URL", kUnsetVariable}});
    EXPECT_EQ(request(agent, 1, "initialize")["result"]["instructions"], "Consignes du service.");
    Json first = request(agent, 2, "tools/list")["result"]["tools"][0];
    EXPECT_EQ(first["title"], "Parcourir un dossier");
    EXPECT_EQ(first["annotations"]["title"], "Parcourir un dossier");
    EXPECT_EQ(agent.finish(), 0);
    EXPECT_NE(agent.stderrText().find("manifeste serveur"), std::string::npos);
    EXPECT_EQ(service.count("GET", "/api/v1/agent_manifest.php"), 1u);
}

}  // namespace
