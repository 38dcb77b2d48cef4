// The local tools through the real kestro-agent binary, over pipes, the way an
// assistant calls them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "agent_process.h"
#include "core/json.h"
#include "temp_home.h"
#include "tools/local.h"

namespace fs = std::filesystem;

namespace {

Json reply(const std::string& line) {
    auto v = JSON::decode(line);
    EXPECT_TRUE(v && v->is_object()) << line.substr(0, 200);
    return v ? *v : Json();
}

std::string call(int id, const Json& arguments, const std::string& name = "list_local_files") {
    return JSON::encode(Json{{"jsonrpc", "2.0"},
                             {"id", id},
                             {"method", "tools/call"},
                             {"params", {{"name", name}, {"arguments", arguments}}}});
}

std::string textOf(const Json& result) { return result["content"][0]["text"].get<std::string>(); }

TEST(LocalToolsProcess, ToolsListShowsTheSixLocalToolsInOrderWithAnnotations) {
    TempHome home;  // logged out: the service's tools are not fetched
    McpSession s = runMcpSession({R"({"jsonrpc":"2.0","id":1,"method":"tools/list"})"});
    EXPECT_EQ(s.exitStatus, 0);
    ASSERT_EQ(s.replies.size(), 1u);
    Json tools = reply(s.replies[0])["result"]["tools"];
    std::vector<std::string> names;
    for (const auto& t : tools) names.push_back(t["name"]);
    EXPECT_EQ(names, (std::vector<std::string>{"list_local_files", "upload_file_to_plan", "upload_file_to_assets",
                                               "upload_folder_to_assets", "upload_file_to_media",
                                               "fill_sequence_from_folder"}));
    ASSERT_EQ(tools.size(), 6u);
    EXPECT_EQ(tools[0]["title"], "Voir les fichiers d'un dossier de l'ordinateur");
    EXPECT_EQ(tools[0]["annotations"], (Json{{"title", "Voir les fichiers d'un dossier de l'ordinateur"},
                                             {"readOnlyHint", true},
                                             {"destructiveHint", false},
                                             {"idempotentHint", true},
                                             {"openWorldHint", false}}));
    EXPECT_EQ(tools[0]["inputSchema"]["required"], Json::array({"directory"}));
    for (size_t i = 1; i < tools.size(); ++i) {
        EXPECT_EQ(tools[i]["annotations"]["readOnlyHint"], false) << names[i];
        EXPECT_EQ(tools[i]["annotations"]["idempotentHint"], false) << names[i];
        EXPECT_EQ(tools[i]["annotations"]["title"], tools[i]["title"]) << names[i];
    }
    // The texts cross the pipe as UTF-8, unescaped.
    EXPECT_NE(s.replies[0].find("« Assets »"), std::string::npos);
}

TEST(LocalToolsProcess, ListLocalFilesAnswersAsTextAndStructuredContent) {
    TempHome home;
    home.write("Desktop/SEQ 07/plan_10.jpg", "0123456789");
    home.write("Desktop/SEQ 07/plan_2.JPG", "ab");
    home.write("Desktop/SEQ 07/.DS_Store", "");
    home.write("Desktop/SEQ 07/notes.txt", "n");
    home.write("Desktop/SEQ 07/x.jpg/inside.jpg", "");
    McpSession s = runMcpSession({
        call(1, {{"directory", "  file://" + home.path() + "/Desktop//SEQ 07/  "}, {"type", "image"}}),
        call(2, {{"directory", "~/Desktop/SEQ 07"}}),
        call(3, Json::object()),
        call(4, {{"directory", "~/Desktop/absent/"}}),
        call(5, {{"path", "~/Desktop/SEQ 07/plan_2.JPG"}, {"plan_id", 3}}, "upload_file_to_plan"),
        call(6, Json::object(), "List_Local_Files"),
    });
    EXPECT_EQ(s.exitStatus, 0);
    ASSERT_EQ(s.replies.size(), 6u);

    Json first = reply(s.replies[0])["result"];
    EXPECT_EQ(first["isError"], false);
    const std::string dir = home.path() + "/Desktop/SEQ 07";
    Json files = first["structuredContent"]["files"];
    EXPECT_EQ(first["structuredContent"]["directory"], dir);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0]["name"], "plan_2.JPG");
    EXPECT_EQ(files[0]["path"], dir + "/plan_2.JPG");
    EXPECT_EQ(files[0]["ext"], ".jpg");
    EXPECT_EQ(files[0]["size"], 2);
    EXPECT_EQ(files[0]["kind"], "image");
    EXPECT_EQ(files[0]["plan_number_guess"], 2);
    EXPECT_EQ(files[1]["name"], "plan_10.jpg");
    EXPECT_EQ(files[1]["plan_number_guess"], 10);
    const std::string text = textOf(first);
    EXPECT_NE(text.find('\n'), std::string::npos) << "the text is the indented JSON of the result";
    EXPECT_EQ(JSON::decode(text), first["structuredContent"]);

    Json all = reply(s.replies[1])["result"]["structuredContent"]["files"];
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]["name"], "notes.txt");
    EXPECT_EQ(all[0]["kind"], "document");
    EXPECT_TRUE(all[0]["plan_number_guess"].is_null());

    Json missing = reply(s.replies[2])["result"];
    EXPECT_EQ(missing["isError"], true);
    EXPECT_EQ(textOf(missing), "Erreur dir_not_found : Dossier introuvable : ");
    EXPECT_FALSE(missing.contains("structuredContent"));
    EXPECT_EQ(textOf(reply(s.replies[3])["result"]),
              "Erreur dir_not_found : Dossier introuvable : " + home.path() + "/Desktop/absent");

    Json upload = reply(s.replies[4])["result"];
    EXPECT_EQ(upload["isError"], true);
    EXPECT_EQ(textOf(upload).rfind("Erreur not_logged_in : ", 0), 0u) << "a logged-out agent sends nothing";

    // A name differing only in case is not local: it goes to the service,
    // which a logged-out agent cannot reach.
    Json caps = reply(s.replies[5])["result"];
    EXPECT_EQ(caps["isError"], true);
    EXPECT_EQ(textOf(caps).find("Outil inconnu"), std::string::npos);
}

TEST(LocalToolsProcess, AFolderOfFiftyThousandFilesIsCountedWholeAndListedByPages) {
    TempHome home;
    const std::string dir = home.path() + "/gros";
    fs::create_directories(dir);
    for (int i = 0; i < 50000; ++i) {
        std::string p = dir + "/plan_" + std::to_string(i) + (i % 2 ? ".png" : ".txt");
        int fd = ::open(p.c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    McpSession s = runMcpSession({call(1, {{"directory", dir}, {"type", "image"}}),
                                  call(2, {{"directory", dir}, {"type", "image"}, {"offset", 24000}, {"limit", 1000}}),
                                  call(3, {{"directory", dir}})});
    EXPECT_EQ(s.exitStatus, 0);
    ASSERT_EQ(s.replies.size(), 3u);
    Json first = reply(s.replies[0])["result"]["structuredContent"];
    EXPECT_EQ(first["total"], 25000);
    EXPECT_EQ(first["next_offset"], 200);
    ASSERT_EQ(first["files"].size(), 200u);
    EXPECT_EQ(first["files"][0]["name"], "plan_1.png");
    EXPECT_EQ(first["files"][1]["name"], "plan_3.png");
    Json last = reply(s.replies[1])["result"]["structuredContent"];
    ASSERT_EQ(last["files"].size(), 1000u);
    EXPECT_EQ(last["files"][999]["name"], "plan_49999.png");
    EXPECT_EQ(last["files"][999]["plan_number_guess"], 499);
    EXPECT_FALSE(last.contains("next_offset"));
    EXPECT_EQ(reply(s.replies[2])["result"]["structuredContent"]["total"], 50000);
}

// An assistant that follows next_offset until the list ends, as the result
// tells it to, meets every file of a long storyboard folder exactly once and in
// the folder's order, each page within what assistants keep of a tool result.
TEST(LocalToolsProcess, AnAssistantPagingThroughTwoThousandFilesGetsEachOnce) {
    TempHome home;
    const std::string dir = home.path() + "/storyboard";
    fs::create_directories(dir);
    const char* patterns[] = {"plan_%d.jpg", "Plan %d - take 2.PNG", "séquence %d.mp4", "SEQ07_P%d.webp"};
    for (int i = 0; i < 2000; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, patterns[i % 4], i);
        int fd = ::open((dir + "/" + name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    std::vector<std::string> expected;
    for (const auto& file : Local::list(dir, Local::exts(std::nullopt)).second) expected.push_back(file.name);
    ASSERT_EQ(expected.size(), 2000u);

    AgentProcess agent({"--mcp"});
    std::vector<std::string> seen;
    Json args{{"directory", "~/storyboard"}};
    size_t pages = 0, largestText = 0;
    for (int id = 1; id <= 20; ++id) {  // ten pages are expected
        agent.writeLine(call(id, args));
        auto line = agent.readLine();
        ASSERT_TRUE(line) << "no reply to page " << id;
        Json result = reply(*line)["result"];
        ASSERT_EQ(result["isError"], false) << textOf(result);
        const Json& page = result["structuredContent"];
        EXPECT_EQ(page["total"], 2000);
        for (const auto& file : page["files"]) seen.push_back(file["name"]);
        largestText = std::max(largestText, textOf(result).size());
        ++pages;
        if (!page.contains("next_offset")) break;
        args["offset"] = page["next_offset"];
    }
    EXPECT_EQ(agent.finish(), 0);
    EXPECT_EQ(pages, 10u);
    EXPECT_EQ(seen, expected);
    EXPECT_LT(largestText, 100000u) << "a page fits what an assistant keeps of a result";
    std::cout << "[ page text ] largest 200-file page: " << largestText << " bytes\n";
}

}  // namespace
