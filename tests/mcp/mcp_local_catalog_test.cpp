// The local tools as the assistant sees them in "tools/list", with the
// service's manifest applied, and their calls turned into tool results.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "mcp/mcp_server.h"
#include "temp_home.h"
#include "tools/local_tools.h"

namespace fs = std::filesystem;

namespace {

struct Server {
    std::istringstream in;
    std::ostringstream out, err;
    MCPServer server{AgentConfig{}, in, out, err};
};

void touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << "";
}

TEST(LocalCatalogue, AnnotationsFollowTheReadOnlyFlag) {
    TempHome home;
    Server s;
    Json tools = s.server.localToolDefs();
    ASSERT_EQ(tools.size(), 6u);
    for (size_t i = 0; i < tools.size(); ++i) {
        const Json& t = tools[i];
        const ToolDef& def = LocalTools::defs()[i];
        EXPECT_EQ(t.size(), 5u);
        EXPECT_EQ(t["name"], def.name);
        EXPECT_EQ(t["title"], def.title);
        EXPECT_EQ(t["description"], def.description);
        EXPECT_EQ(t["inputSchema"], def.schema);
        EXPECT_EQ(t["annotations"], (Json{{"title", def.title},
                                          {"readOnlyHint", def.readOnly},
                                          {"destructiveHint", false},
                                          {"idempotentHint", def.readOnly},
                                          {"openWorldHint", false}}));
    }
}

TEST(LocalCatalogue, ManifestOverridesOnlyPresentationWithTheRightTypes) {
    TempHome home;
    Server s;
    Json customSchema{{"type", "object"}, {"properties", Json::object()}};
    Manifest m;
    m.tools["list_local_files"] = Json{{"name", "list_local_files"}, {"title", "Nouveau titre"}, {"readOnly", false}};
    m.tools["upload_file_to_plan"] =
        Json{{"title", 12}, {"description", "Autre texte"}, {"readOnly", "true"}, {"inputSchema", customSchema}};
    m.tools["upload_file_to_media"] =
        Json{{"description", nullptr}, {"inputSchema", Json::array()}, {"readOnly", true}};
    m.tools["upload_folder_to_assets"] = Json{{"title", "Dossier du Mac, sur le Mac"}};
    m.tools["fill_sequence_from_folder"] = Json::array({1, 2});
    m.tools["list_workspaces"] = Json{{"title", "pas local"}};
    m.tools["List_Local_Files"] = Json{{"title", "casse"}};
    s.server.manifest = m;
    Json tools = s.server.localToolDefs();
    ASSERT_EQ(tools.size(), 6u) << "the manifest cannot add tools";
    const auto& defs = LocalTools::defs();

    EXPECT_EQ(tools[0]["title"], "Nouveau titre");
    EXPECT_EQ(tools[0]["annotations"]["title"], "Nouveau titre");
    EXPECT_EQ(tools[0]["annotations"]["readOnlyHint"], false);
    EXPECT_EQ(tools[0]["annotations"]["idempotentHint"], false);
    EXPECT_EQ(tools[0]["description"], defs[0].description);

    EXPECT_EQ(tools[1]["title"], defs[1].title) << "a number is not a title";
    EXPECT_EQ(tools[1]["description"], "Autre texte");
    EXPECT_EQ(tools[1]["inputSchema"], customSchema);
    EXPECT_EQ(tools[1]["annotations"]["readOnlyHint"], false) << "a word is not a boolean";

    EXPECT_EQ(tools[4]["description"], defs[4].description);
    EXPECT_EQ(tools[4]["inputSchema"], defs[4].schema);
    EXPECT_EQ(tools[4]["annotations"]["readOnlyHint"], true);
    EXPECT_EQ(tools[4]["annotations"]["idempotentHint"], true);
    EXPECT_EQ(tools[4]["annotations"]["destructiveHint"], false);

    EXPECT_EQ(tools[5]["title"], defs[5].title);
    EXPECT_EQ(LocalTools::defs()[0].title, "Voir les fichiers d'un dossier de l'ordinateur")
        << "the table itself never changes";
    EXPECT_EQ(tools[3]["title"], "Dossier du Mac, sur le Mac") << "the service's words are shown as it wrote them";
}

TEST(LocalCatalogue, ToolErrorsBecomeErrorResultsWithoutStructuredContent) {
    TempHome home;
    Server s;
    Json r = s.server.runTool(Json{{"name", "list_local_files"}, {"arguments", "not an object"}}).value();
    EXPECT_EQ(r,
              (Json{{"content",
                     Json::array({Json{{"type", "text"}, {"text", "Erreur dir_not_found : Dossier introuvable : "}}})},
                    {"isError", true}}));
    Json w = s.server.runTool(Json{{"name", "upload_file_to_plan"}, {"arguments", {{"plan_id", 1}}}}).value();
    EXPECT_EQ(w["isError"], true);
    EXPECT_EQ(w["content"][0]["text"], "Erreur file_not_found : Fichier introuvable : ");
    EXPECT_FALSE(w.contains("structuredContent"));

    touch(home.path() + "/d/plan_1.png");
    Json ok = s.server.runTool(Json{{"name", "list_local_files"}, {"arguments", {{"directory", "~/d"}}}}).value();
    EXPECT_EQ(ok["isError"], false);
    EXPECT_EQ(ok["structuredContent"]["files"][0]["plan_number_guess"], 1);
    EXPECT_EQ(JSON::decode(ok["content"][0]["text"].get<std::string>()), ok["structuredContent"]);
}

}  // namespace
