// list_local_files a page at a time: the optional offset, limit and
// name_contains, run in-process on real temporary folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/tool_error.h"
#include "temp_home.h"
#include "thrown.h"
#include "tools/local_tools.h"
#include "tools/tool_context.h"

namespace fs = std::filesystem;

namespace {

struct Context {
    ServiceSession service;
    ProgressSink progress;
    ToolContext tool{service, progress};
};

void touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << "";
}

std::vector<std::string> names(const Json& result) {
    std::vector<std::string> out;
    for (const auto& file : result["files"]) out.push_back(file["name"]);
    return out;
}

class Paging : public ::testing::Test {
  protected:
    // plan_1.jpg … plan_25.jpg, and files the "image" type leaves out.
    void SetUp() override {
        for (int i = 1; i <= 25; ++i) touch(home.path() + "/d/plan_" + std::to_string(i) + ".jpg");
        touch(home.path() + "/d/notes.txt");
        touch(home.path() + "/d/son.mp3");
    }
    Json list(Json args) {
        args["directory"] = "~/d";
        return LocalTools::run("list_local_files", args, context.tool);
    }
    TempHome home;
    Context context;
};

TEST_F(Paging, PagesFollowEachOtherInTheFolderOrderAndSayHowToGoOn) {
    Json first = list({{"type", "image"}, {"limit", 10}});
    EXPECT_EQ(first["total"], 25);
    EXPECT_EQ(first["next_offset"], 10);
    EXPECT_EQ(first["next"],
              "Liste partielle : fichiers 1 à 10 sur 25. Pour la suite, rappelle list_local_files avec les mêmes "
              "arguments et offset 10.");
    EXPECT_EQ(names(first).front(), "plan_1.jpg");
    EXPECT_EQ(names(first).back(), "plan_10.jpg");

    Json second = list({{"type", "image"}, {"limit", "10"}, {"offset", first["next_offset"]}});
    EXPECT_EQ(names(second).front(), "plan_11.jpg");
    EXPECT_EQ(second["next_offset"], 20);
    Json last = list({{"type", "image"}, {"limit", 10}, {"offset", 20}});
    EXPECT_EQ(names(last),
              (std::vector<std::string>{"plan_21.jpg", "plan_22.jpg", "plan_23.jpg", "plan_24.jpg", "plan_25.jpg"}));
    EXPECT_EQ(last["total"], 25);
    EXPECT_FALSE(last.contains("next_offset"));
    EXPECT_FALSE(last.contains("next"));

    Json beyond = list({{"offset", 500}});
    EXPECT_TRUE(beyond["files"].is_array() && beyond["files"].empty());
    EXPECT_EQ(beyond["total"], 27);
    EXPECT_FALSE(beyond.contains("next_offset"));
}

TEST_F(Paging, AFolderThatFitsGivesTodaysResultPlusTheTotal) {
    Json whole = list({{"offset", nullptr}, {"limit", nullptr}, {"name_contains", ""}});
    EXPECT_EQ(whole.size(), 3u);
    EXPECT_EQ(whole["total"], 27);
    EXPECT_EQ(whole["files"].size(), 27u);
    EXPECT_EQ(whole["files"][0]["name"], "notes.txt");
    EXPECT_EQ(whole["files"][0].size(), 7u);
    EXPECT_EQ(list({{"limit", 27}}), whole) << "exactly limit files: no next page";
    Json cut = list({{"limit", 26}});
    EXPECT_EQ(cut["next_offset"], 26);
    EXPECT_EQ(cut["files"].size(), 26u);
}

TEST_F(Paging, WithoutALimitAPageHoldsTwoHundredFiles) {
    for (int i = 26; i <= 230; ++i) touch(home.path() + "/d/plan_" + std::to_string(i) + ".jpg");
    Json first = list(Json::object());
    EXPECT_EQ(first["files"].size(), 200u);
    EXPECT_EQ(first["total"], 232);
    EXPECT_EQ(first["next_offset"], 200);
    Json rest = list({{"offset", 200}});
    EXPECT_EQ(rest["files"].size(), 32u);
    EXPECT_EQ(rest["files"][31]["name"], "son.mp3");
    EXPECT_EQ(list({{"limit", 1000}})["files"].size(), 232u);
}

TEST_F(Paging, NameContainsIgnoresCaseAndSpellingAndIsCountedBeforeTheCut) {
    touch(home.path() + "/d/S\u00e9quence FORUM.png");     // é in one character
    touch(home.path() + "/d/se\u0301quence forum 2.png");  // e, then the accent: as macOS writes names
    touch(home.path() + "/d/STRASSE.jpg");
    EXPECT_EQ(names(list({{"name_contains", "SÉQUENCE Forum"}})),
              (std::vector<std::string>{"se\u0301quence forum 2.png", "S\u00e9quence FORUM.png"}))
        << "in the folder's order, where a space comes before a dot";
    EXPECT_EQ(names(list({{"name_contains", "straße"}})), std::vector<std::string>{"STRASSE.jpg"});
    EXPECT_EQ(names(list({{"name_contains", ".MP3"}})), std::vector<std::string>{"son.mp3"});
    EXPECT_TRUE(list({{"name_contains", "absent"}})["files"].empty());

    Json page = list({{"name_contains", "PLAN_2"}, {"limit", 3}, {"offset", 3}});
    EXPECT_EQ(page["total"], 7) << "plan_2 and plan_20 to plan_25";
    EXPECT_EQ(names(page), (std::vector<std::string>{"plan_22.jpg", "plan_23.jpg", "plan_24.jpg"}));
    EXPECT_EQ(page["next_offset"], 6);
    EXPECT_EQ(names(list({{"name_contains", 12}})), std::vector<std::string>{"plan_12.jpg"})
        << "a number reads as its digits";
}

TEST_F(Paging, InvalidSettingsAreClearErrorsBeforeTheFolderIsRead) {
    const std::string offsetRule =
        "offset doit être un entier positif ou nul : le nombre de fichiers à sauter (0 pour le début de la liste).";
    const std::string limitRule = "limit doit être un entier de 1 à 1000 : le nombre de fichiers par page.";
    const std::string textRule = "name_contains doit être un texte : une partie du nom cherché.";
    const std::pair<Json, std::string> cases[] = {
        {{{"offset", -1}}, offsetRule},
        {{{"offset", "dix"}}, offsetRule},
        {{{"offset", true}}, offsetRule},
        {{{"offset", Json::array()}}, offsetRule},
        {{{"offset", 1e300}}, offsetRule},
        {{{"limit", 0}}, limitRule},
        {{{"limit", 1001}}, limitRule},
        {{{"limit", -5}}, limitRule},
        {{{"limit", "beaucoup"}}, limitRule},
        {{{"limit", Json::object()}}, limitRule},
        {{{"name_contains", true}}, textRule},
        {{{"name_contains", Json::array({"plan"})}}, textRule},
        {{{"name_contains", Json::object()}}, textRule},
    };
    for (const auto& [args, rule] : cases) {
        for (const char* folder : {"~/d", "~/absent"}) {
            Json call = args;
            call["directory"] = folder;
            ToolError e = thrown([&] { LocalTools::run("list_local_files", call, context.tool); });
            EXPECT_EQ(e.code, "invalid_argument") << call;
            EXPECT_EQ(e.message, rule) << call;
        }
    }
    EXPECT_EQ(list({{"limit", 1000}, {"offset", "0"}})["total"], 27) << "the bounds themselves are valid";
    EXPECT_EQ(list({{"limit", 1}})["files"].size(), 1u);
}

}  // namespace
