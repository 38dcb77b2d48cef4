// What the real agent tells an assistant on this desktop never names the Mac:
// the assistant repeats those words to the user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "agent_process.h"
#include "config/config_store.h"
#include "core/json.h"
#include "names_the_mac.h"
#include "temp_home.h"

namespace {

std::string call(int id, const std::string& name, const Json& arguments) {
    return JSON::encode(Json{{"jsonrpc", "2.0"},
                             {"id", id},
                             {"method", "tools/call"},
                             {"params", {{"name", name}, {"arguments", arguments}}}});
}

TEST(ComputerWordsProcess, NothingTheAgentSendsNamesTheMac) {
    TempHome home;
    for (AgentConfig cfg : {AgentConfig{.baseUrl = "http://127.0.0.1:9"},
                            AgentConfig{.baseUrl = "http://127.0.0.1:9", .token = "kat_unreachable"}}) {
        SCOPED_TRACE(cfg.token.empty() ? "logged out" : "logged in, service unreachable");
        ConfigStore::save(cfg);
        std::filesystem::create_directories(home.path() + "/d");
        for (int i = 0; i < 3; ++i)
            ::close(::open((home.path() + "/d/plan_" + std::to_string(i) + ".jpg").c_str(), O_CREAT | O_WRONLY, 0644));
        std::vector<std::string> lines = {
            R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})",
            R"({"jsonrpc":"2.0","id":2,"method":"tools/list"})",
            R"({"jsonrpc":"2.0","id":3,"method":"nope"})",
            "not json",
            call(4, "list_local_files", {{"directory", "~/d"}, {"limit", 2}}),
            call(5, "list_local_files", {{"directory", "~/d"}, {"limit", 0}}),
            call(6, "list_local_files", {{"directory", "~/absent"}}),
        };
        int id = 10;
        for (const char* tool : {"upload_file_to_plan", "upload_file_to_assets", "upload_folder_to_assets",
                                 "upload_file_to_media", "fill_sequence_from_folder", "list_workspaces"}) {
            lines.push_back(call(id++, tool, Json::object()));
            lines.push_back(call(id++, tool,
                                 {{"path", "~/d/plan_1.jpg"},
                                  {"directory", "~/d"},
                                  {"plan_id", 1},
                                  {"workspace_id", 1},
                                  {"sequence_id", 1}}));
        }
        McpSession s = runMcpSession(lines);
        EXPECT_EQ(s.exitStatus, 0);
        ASSERT_EQ(s.replies.size(), lines.size());
        for (const auto& reply : s.replies) EXPECT_FALSE(namesTheMac(reply)) << reply;
        EXPECT_FALSE(namesTheMac(s.stderrText)) << s.stderrText;

        // The texts that named the Mac are there, in this desktop's words.
        EXPECT_NE(s.replies[0].find(R"x("title":"Kestro Agent (fichiers de l'ordinateur)")x"), std::string::npos);
        for (const char* text : {"Voir les fichiers d'un dossier de l'ordinateur", "Chemin du fichier sur l'ordinateur",
                                 "Dossier sur l'ordinateur"})
            EXPECT_NE(s.replies[1].find(text), std::string::npos) << text;
        EXPECT_NE(s.replies[4].find("Liste partielle"), std::string::npos);
    }
}

}  // namespace
