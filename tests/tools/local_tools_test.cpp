// The local tool table, its dispatch, the shared argument conventions and
// list_local_files, run in-process on real temporary folders.
#include "tools/local_tools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config/config_store.h"
#include "core/tool_error.h"
#include "temp_home.h"
#include "thrown.h"
#include "tools/local_tool_args.h"
#include "tools/tool_context.h"

namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kOrder = {"list_local_files",      "upload_file_to_plan",
                                         "upload_file_to_assets", "upload_folder_to_assets",
                                         "upload_file_to_media",  "fill_sequence_from_folder"};

// The tools' context without any server: a session that is never logged in
// and a progress sink that no call has asked for.
struct Context {
    ServiceSession service;
    ProgressSink progress;
    ToolContext tool{service, progress};
};


void touch(const std::string& path, const std::string& content = "") {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

TEST(LocalToolDefs, SixToolsInOrderOnlyTheFirstReadOnly) {
    const auto& defs = LocalTools::defs();
    ASSERT_EQ(defs.size(), 6u);
    for (size_t i = 0; i < defs.size(); ++i) {
        EXPECT_EQ(defs[i].name, kOrder[i]);
        EXPECT_EQ(defs[i].readOnly, i == 0) << defs[i].name;
        EXPECT_FALSE(defs[i].title.empty());
        EXPECT_FALSE(defs[i].description.empty());
    }
    EXPECT_EQ(&LocalTools::defs(), &defs) << "built once";
    EXPECT_EQ(LocalTools::names(), std::set<std::string>(kOrder.begin(), kOrder.end()));
    EXPECT_FALSE(LocalTools::names().count("List_Local_Files"));
}

TEST(LocalToolDefs, SchemasAreClosedObjectsOfTypedDescribedProperties) {
    for (const auto& def : LocalTools::defs()) {
        SCOPED_TRACE(def.name);
        const Json& s = def.schema;
        ASSERT_TRUE(s.is_object());
        EXPECT_EQ(s.size(), 4u);
        EXPECT_EQ(s["type"], "object");
        EXPECT_EQ(s["additionalProperties"], false);
        ASSERT_TRUE(s["properties"].is_object());
        ASSERT_TRUE(s["required"].is_array());
        EXPECT_FALSE(s["required"].empty());
        for (const auto& r : s["required"]) EXPECT_TRUE(s["properties"].contains(r.get<std::string>())) << r;
        for (const auto& [key, p] : s["properties"].items()) {
            EXPECT_EQ(p.size(), 2u) << key;
            EXPECT_TRUE(p["type"] == "string" || p["type"] == "integer" || p["type"] == "boolean") << key;
            EXPECT_TRUE(p["description"].is_string() && !p["description"].get<std::string>().empty()) << key;
        }
    }
    const Json& list = LocalTools::defs()[0].schema;
    EXPECT_EQ(list["required"], Json::array({"directory"})) << "the type filter is optional";
    EXPECT_EQ(LocalTools::defs()[5].schema["properties"]["create_missing_plans"]["type"], "boolean");
    EXPECT_EQ(LocalTools::defs()[1].schema["properties"]["plan_id"]["type"], "integer");
    EXPECT_EQ(list["properties"]["offset"]["type"], "integer");
    EXPECT_EQ(list["properties"]["limit"]["type"], "integer");
    EXPECT_EQ(list["properties"]["name_contains"]["type"], "string");
}

// Assistants read these texts: a straight quote or three dots where the
// typographic character belongs is a visible defect.
TEST(LocalToolDefs, TypographicCharactersSurvive) {
    auto desc = [](size_t i) { return LocalTools::defs()[i].description; };
    EXPECT_NE(desc(0).find("(plan_03.jpg → 3)"), std::string::npos);
    EXPECT_NE(desc(2).find("« Assets » (personnage, décor, accessoire…)"), std::string::npos);
    EXPECT_NE(desc(2).find("couverture — c'est"), std::string::npos);
    EXPECT_NE(desc(2).find("(ex. « César — portrait »)"), std::string::npos);
    EXPECT_NE(desc(4).find("MÉDIATHÈQUE"), std::string::npos);
    EXPECT_NE(desc(4).find("À n'utiliser"), std::string::npos);
    EXPECT_NE(desc(5).find("P3.jpg → plan 3"), std::string::npos);
    EXPECT_EQ(LocalTools::defs()[3].schema["properties"]["name_prefix"]["description"],
              "Préfixe des noms de cartes, optionnel (ex. « Forum — »)");
    for (const auto& def : LocalTools::defs()) {
        for (const std::string& text : {def.title, def.description}) {
            EXPECT_EQ(text.find('"'), std::string::npos) << def.name;
            EXPECT_EQ(text.find("\u2019"), std::string::npos) << def.name << ": apostrophes are plain";
            EXPECT_EQ(text.find("  "), std::string::npos) << def.name;
        }
    }
}

TEST(LocalToolsRun, NamesAreExactAndWritingToolsAnswerClearly) {
    TempHome home;
    Context s;
    ToolError caps = thrown([&] { LocalTools::run("LIST_LOCAL_FILES", Json::object(), s.tool); });
    EXPECT_EQ(caps.code, "unknown_tool");
    EXPECT_EQ(caps.message, "Outil inconnu : LIST_LOCAL_FILES");
    EXPECT_EQ(thrown([&] { LocalTools::run("", Json::object(), s.tool); }).message, "Outil inconnu : ");
    // Each writing tool checks its arguments before anything else.
    for (const char* tool : {"upload_file_to_plan", "upload_file_to_assets", "upload_file_to_media"}) {
        ToolError e = thrown([&] { LocalTools::run(tool, Json::object(), s.tool); });
        EXPECT_EQ(e.code, "file_not_found") << tool;
        EXPECT_EQ(e.message, "Fichier introuvable : ") << tool;
    }
    // The batch tools are reached by their names and check their identifier first.
    EXPECT_EQ(thrown([&] { LocalTools::run("upload_folder_to_assets", Json::object(), s.tool); }).message,
              "workspace_id requis.");
    EXPECT_EQ(thrown([&] { LocalTools::run("fill_sequence_from_folder", Json::object(), s.tool); }).message,
              "sequence_id requis.");
}

TEST(ListLocalFiles, ResultObjectForAFilteredFolder) {
    TempHome home;
    Context s;
    touch(home.path() + "/SEQ07/a.mp4", "12345");
    touch(home.path() + "/SEQ07/b.MOV", "xy");
    touch(home.path() + "/SEQ07/c.jpg");
    Json out = LocalTools::run("list_local_files", Json{{"directory", "~/SEQ07/"}, {"type", "video"}}, s.tool);
    EXPECT_EQ(out.size(), 3u) << "no echo of the filter, no paging keys when all files fit";
    EXPECT_EQ(out["total"], 2);
    EXPECT_EQ(out["directory"], home.path() + "/SEQ07");
    ASSERT_EQ(out["files"].size(), 2u);
    const Json& a = out["files"][0];
    EXPECT_EQ(a.size(), 7u);
    EXPECT_EQ(a["name"], "a.mp4");
    EXPECT_EQ(a["path"], home.path() + "/SEQ07/a.mp4");
    EXPECT_EQ(a["ext"], ".mp4");
    EXPECT_EQ(a["size"], 5);
    EXPECT_EQ(a["kind"], "video");
    EXPECT_TRUE(a["plan_number_guess"].is_null());
    ASSERT_TRUE(a["modified"].is_string());
    EXPECT_EQ(a["modified"].get<std::string>().size(), 20u);
    EXPECT_EQ(a["modified"].get<std::string>().back(), 'Z');
    EXPECT_EQ(out["files"][1]["name"], "b.MOV");
    EXPECT_EQ(out["files"][1]["ext"], ".mov");
    EXPECT_EQ(out["files"][1]["kind"], "video");
}

TEST(ListLocalFiles, TypeWordsAndPlanNumbers) {
    TempHome home;
    Context s;
    for (const char* n : {"plan_03.jpg", "forum.jpg", "son.mp3", "notes.md", "x.heic"}) touch(home.path() + "/d/" + n);
    auto run = [&](Json args) { return LocalTools::run("list_local_files", args, s.tool)["files"]; };
    Json all = run({{"directory", home.path() + "/d"}});
    ASSERT_EQ(all.size(), 4u) << "no type: every known kind, nothing else";
    EXPECT_EQ(all[0]["name"], "forum.jpg");
    EXPECT_TRUE(all[0]["plan_number_guess"].is_null());
    EXPECT_EQ(all[2]["name"], "plan_03.jpg");
    EXPECT_EQ(all[2]["plan_number_guess"], 3);
    EXPECT_EQ(all[1]["kind"], "document");
    EXPECT_EQ(all[3]["kind"], "audio");
    EXPECT_EQ(run({{"directory", home.path() + "/d"}, {"type", "Image"}}).size(), 4u);
    EXPECT_EQ(run({{"directory", home.path() + "/d"}, {"type", 7}}).size(), 4u);
    EXPECT_EQ(run({{"directory", home.path() + "/d"}, {"type", "audio"}}).size(), 1u);
    Json none = run({{"directory", home.path() + "/d"}, {"type", "video"}});
    EXPECT_TRUE(none.is_array() && none.empty());
}

TEST(ListLocalFiles, OnlyMissingFoldersAreErrors) {
    TempHome home;
    Context s;
    for (Json args :
         {Json::object(), Json{{"directory", nullptr}}, Json{{"directory", Json::array()}}, Json{{"directory", ""}}}) {
        ToolError e = thrown([&] { LocalTools::run("list_local_files", args, s.tool); });
        EXPECT_EQ(e.code, "dir_not_found") << args;
        EXPECT_EQ(e.message, "Dossier introuvable : ") << args;
    }
    EXPECT_EQ(thrown([&] {
                  LocalTools::run("list_local_files", {{"directory", "~/nope"}}, s.tool);
              }).message,
              "Dossier introuvable : " + home.path() + "/nope");
}

TEST(LocalToolArgs, SharedConventions) {
    Json args{{"plan_id", "42"},     {"workspace_id", 3.0}, {"sequence_id", "x"}, {"name", ""},
              {"prompt", " texte "}, {"card_id", "7"},      {"folder_id", true},  {"path", 12}};
    EXPECT_EQ(LocalToolArgs::requiredId(args, "plan_id"), 42);
    EXPECT_EQ(LocalToolArgs::requiredId(args, "workspace_id"), 3);
    for (const char* key : {"sequence_id", "absent_id"}) {
        ToolError e = thrown([&] { LocalToolArgs::requiredId(args, key); });
        EXPECT_EQ(e.code, "missing_argument");
        EXPECT_EQ(e.message, std::string(key) + " requis.");
    }
    EXPECT_EQ(LocalToolArgs::optionalText(args, "name"), std::nullopt) << "empty is absent";
    EXPECT_EQ(LocalToolArgs::optionalText(args, "prompt"), " texte ") << "never trimmed";
    EXPECT_EQ(LocalToolArgs::optionalInt(args, "card_id"), 7);
    EXPECT_EQ(LocalToolArgs::optionalInt(args, "folder_id"), std::nullopt);
    EXPECT_EQ(LocalToolArgs::path(args, "path"), "12");
    EXPECT_EQ(LocalToolArgs::path(args, "directory"), "");

    Json finalize = LocalToolArgs::finalizeObject("card");
    LocalToolArgs::setIfPresent(finalize, "name", std::optional<std::string>(""));
    LocalToolArgs::setIfPresent(finalize, "prompt", std::optional<std::string>("p"));
    LocalToolArgs::setIfPresent(finalize, "card_id", std::optional<int64_t>());
    LocalToolArgs::setIfPresent(finalize, "workspace_id", std::optional<int64_t>(9));
    EXPECT_EQ(finalize, (Json{{"target", "card"}, {"prompt", "p"}, {"workspace_id", 9}}));

    EXPECT_TRUE(LocalToolArgs::copied(Json{{"a", 1}}, "b").is_null());
    EXPECT_EQ(LocalToolArgs::copied(Json{{"a", 1}}, "a"), 1);
    EXPECT_TRUE(LocalToolArgs::copied(Json::array(), "a").is_null());
    EXPECT_EQ(LocalToolArgs::withFileName(Json{{"file", "old"}, {"id", 1}}, "new.png"),
              (Json{{"file", "new.png"}, {"id", 1}}));
    Json entry{{"file", "a.png"}};
    LocalToolArgs::recordFailure(entry, ToolError("bad_type", "Type refusé"));
    EXPECT_EQ(entry, (Json{{"file", "a.png"}, {"error", "bad_type"}, {"message", "Type refusé"}}));
}

}  // namespace
