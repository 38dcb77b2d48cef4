// The two batch tools through the real kestro-agent binary against the
// stand-in service: what the service received (each call's arguments, each
// file's bytes and digest), what the assistant is told, and the progress
// notifications of a long call.
#include <gtest/gtest.h>

#include <cmath>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "agent_with_service.h"
#include "sha256_hex.h"

namespace {

using devservice::Fault;
using devservice::Upload;

// Distinct bytes per file, NUL and high bytes included, so a mixed-up or
// truncated transfer shows in the digest.
std::string contentOf(const std::string& name) {
    std::string bytes = "\x89PNG\r\n\x1a\n" + name + std::string("\0\xff\x01", 3);
    for (int i = 0; i < 300; ++i) bytes += static_cast<char>((i * 7 + static_cast<int>(name.size())) & 0xff);
    return bytes;
}

// Writes the files under `folder` in the temporary home; returns the folder's
// full path.
std::string makeFolder(AgentWithService& agent, const std::string& folder, const std::vector<std::string>& names) {
    std::string path = agent.home().path() + "/" + folder;
    for (const auto& name : names) agent.home().write(folder + "/" + name, contentOf(name));
    std::filesystem::create_directories(path);
    return path;
}

std::vector<Json> argumentsOf(AgentWithService& agent, const std::string& tool) {
    std::vector<Json> out;
    for (const auto& call : agent.service().toolCalls(tool)) out.push_back(call.arguments);
    return out;
}

// The slots the service finalized, in order of request.
std::vector<Upload> finalized(AgentWithService& agent) {
    std::vector<Upload> out;
    for (auto& upload : agent.service().uploads())
        if (upload.finalize) out.push_back(upload);
    return out;
}

std::vector<std::string> fileNames(const Json& list) {
    std::vector<std::string> names;
    for (const auto& entry : list) names.push_back(entry["file"]);
    return names;
}

// Each finalized slot carries the right file's exact bytes.
void expectBytesOf(const std::vector<Upload>& uploads, const std::vector<std::string>& names) {
    ASSERT_EQ(uploads.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(uploads[i].request["filename"], names[i]);
        EXPECT_TRUE(uploads[i].received);
        EXPECT_EQ(uploads[i].bytes, contentOf(names[i]).size());
        EXPECT_EQ(uploads[i].sha256, sha256Hex(contentOf(names[i])));
    }
}

const std::string kBaseNote =
    "Cartes créées sur la page Assets : ne renvoie pas les fichiers. Vérifie avec list_asset_cards ; renomme avec "
    "update_asset_card si besoin.";

// ── upload_folder_to_assets ─────────────────────────────────────────────────

TEST(FolderToAssets, SendsEachImageAsANamedCardWithItsExactBytes) {
    AgentWithService agent;
    int64_t ws = agent.service().addWorkspace("Décors");
    std::string dir = makeFolder(agent, "Desktop/Rue", {"forum_nuit-01.png", "01_rue.jpg", "photo.gif", "clip.mp4"});

    Json out = agent.data("upload_folder_to_assets", {{"directory", "~/Desktop/Rue/"},
                                                      {"workspace_id", std::to_string(ws)},
                                                      {"name_prefix", "Forum —"},
                                                      {"prompt_prefix", "décor"},
                                                      {"kind", "decor"}});

    // File-browser order, gif and video left out.
    auto uploads = finalized(agent);
    expectBytesOf(uploads, {"01_rue.jpg", "forum_nuit-01.png"});
    auto slots = argumentsOf(agent, "request_upload");
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0],
              (Json{{"filename", "01_rue.jpg"}, {"workspace_id", ws}, {"size", contentOf("01_rue.jpg").size()}}));
    EXPECT_EQ(*uploads[0].finalize, (Json{{"target", "card"},
                                          {"name", "Forum — 01 rue"},
                                          {"kind", "decor"},
                                          {"prompt", "décor 01 rue"},
                                          {"upload_id", uploads[0].id}}));
    EXPECT_EQ((*uploads[1].finalize)["name"], "Forum — forum nuit 01");
    EXPECT_EQ((*uploads[1].finalize)["prompt"], "décor forum nuit 01");
    EXPECT_TRUE(argumentsOf(agent, "list_asset_cards").empty());

    auto cards = agent.service().cards(ws);
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(out["workspace_id"], ws);
    EXPECT_EQ(out["cards_created"], 2);
    EXPECT_EQ(out["cards_already_existing"], 0);
    EXPECT_EQ(out["card_folder_id"], nullptr);
    EXPECT_EQ(out["failed"], 0);
    EXPECT_EQ(
        out["done"],
        (Json::array({{{"file", "01_rue.jpg"}, {"card_id", cards[0].id}, {"name", "Forum — 01 rue"}},
                      {{"file", "forum_nuit-01.png"}, {"card_id", cards[1].id}, {"name", "Forum — forum nuit 01"}}})));
    EXPECT_EQ(out["already_existing"], Json::array());
    EXPECT_EQ(out["failed_files"], Json::array());
    EXPECT_EQ(out["next"], kBaseNote);
    // Only file names reach the assistant, never where they sit on disk.
    EXPECT_EQ(JSON::encode(out).find(dir), std::string::npos);
}

TEST(FolderToAssets, FindsTheCardFolderIgnoringCaseCreatesItOrIgnoresABlankName) {
    AgentWithService agent;
    auto& service = agent.service();
    int64_t ws = service.addWorkspace("Série");
    int64_t team = service.addCard(ws, "ÉQUIPE", true);
    service.addCard(ws, "décors", false);  // a card, not a folder: never a match
    makeFolder(agent, "a", {"lina.png"});
    makeFolder(agent, "b", {"cabane.webp"});
    makeFolder(agent, "c", {"arbre.jpeg"});

    Json found = agent.data("upload_folder_to_assets",
                            {{"directory", "~/a"}, {"workspace_id", ws}, {"folder_name", " \téquipe "}});
    EXPECT_EQ(found["card_folder_id"], team);
    EXPECT_EQ(argumentsOf(agent, "list_asset_cards"), (std::vector<Json>{Json{{"workspace_id", ws}}}));
    EXPECT_TRUE(argumentsOf(agent, "create_asset_card_folder").empty());

    Json created =
        agent.data("upload_folder_to_assets",
                   {{"directory", "~/b"}, {"workspace_id", ws}, {"folder_name", "Décors"}, {"kind", "decor"}});
    auto creations = argumentsOf(agent, "create_asset_card_folder");
    ASSERT_EQ(creations.size(), 1u);
    EXPECT_EQ(creations[0], (Json{{"workspace_id", ws}, {"name", "Décors"}, {"kind", "decor"}}));
    ASSERT_TRUE(created["card_folder_id"].is_number_integer());
    int64_t newFolder = created["card_folder_id"];
    EXPECT_NE(newFolder, team);

    service.clearRequests();
    Json blank =
        agent.data("upload_folder_to_assets", {{"directory", "~/c"}, {"workspace_id", ws}, {"folder_name", "   "}});
    EXPECT_EQ(blank["card_folder_id"], nullptr);
    EXPECT_TRUE(argumentsOf(agent, "list_asset_cards").empty());

    auto uploads = finalized(agent);
    expectBytesOf(uploads, {"lina.png", "cabane.webp", "arbre.jpeg"});
    EXPECT_EQ((*uploads[0].finalize)["folder_id"], team);
    EXPECT_EQ((*uploads[1].finalize)["folder_id"], newFolder);
    EXPECT_EQ((*uploads[1].finalize)["kind"], "decor");
    EXPECT_FALSE(uploads[2].finalize->contains("folder_id"));
    EXPECT_FALSE(uploads[2].finalize->contains("prompt"));  // no prompt prefix, no prompt
}

TEST(FolderToAssets, AcceptsOneHundredImagesAndRefusesMoreEmptyFoldersAndMissingArguments) {
    AgentWithService agent;
    int64_t ws = agent.service().addWorkspace("Cent");
    std::vector<std::string> names;
    for (int i = 1; i <= 100; ++i) names.push_back("img_" + std::to_string(i) + ".png");
    makeFolder(agent, "cent", names);

    Json hundred = agent.data("upload_folder_to_assets", {{"directory", "~/cent"}, {"workspace_id", ws}});
    EXPECT_EQ(hundred["cards_created"], 100);
    EXPECT_EQ(finalized(agent).size(), 100u);

    agent.home().write("cent/img_101.jpg", "x");
    agent.service().clearRequests();
    EXPECT_EQ(agent.error("upload_folder_to_assets", {{"directory", "~/cent"}, {"workspace_id", ws}}),
              "Erreur too_many : 101 images : 100 max par appel, découpe le dossier.");

    std::string other = makeFolder(agent, "autres", {"photo.gif", "clip.mp4"});
    EXPECT_EQ(agent.error("upload_folder_to_assets", {{"directory", other}, {"workspace_id", ws}}),
              "Erreur empty : Aucune image dans " + other + ".");
    // The identifier is checked before the folder is even looked at.
    EXPECT_EQ(agent.error("upload_folder_to_assets", {{"directory", "~/absent"}}),
              "Erreur missing_argument : workspace_id requis.");
    EXPECT_EQ(agent.error("upload_folder_to_assets", {{"directory", "~/absent"}, {"workspace_id", ws}})
                  .rfind("Erreur dir_not_found : ", 0),
              0u);
    EXPECT_TRUE(agent.service().toolCalls().empty());
}

TEST(FolderToAssets, ReportsExistingCardsApartAndKeepsGoingAfterARefusedUpload) {
    AgentWithService agent;
    auto& service = agent.service();
    int64_t ws = service.addWorkspace("Série partagée");
    int64_t existing = service.addCard(ws, "B");
    makeFolder(agent, "lot", {"a.png", "b.png", "c.png", "d.png"});
    // The third transfer (c.png) is refused.
    service.addFault(Fault{
        .pathPrefix = "/upload/", .status = 403, .body = R"({"message":"Quota dépassé."})", .remaining = 1, .skip = 2});

    Json out = agent.data("upload_folder_to_assets", {{"directory", "~/lot"}, {"workspace_id", ws}});
    EXPECT_EQ(fileNames(out["done"]), (std::vector<std::string>{"a.png", "d.png"}));
    EXPECT_EQ(out["already_existing"], Json::array({{{"file", "b.png"}, {"card_id", existing}, {"name", "B"}}}));
    EXPECT_EQ(out["failed_files"], Json::array({{{"file", "c.png"},
                                                 {"error", "upload_put_failed"},
                                                 {"message", "Envoi du fichier refusé : Quota dépassé."}}}));
    EXPECT_EQ(out["cards_created"], 2);
    EXPECT_EQ(out["cards_already_existing"], 1);
    EXPECT_EQ(out["failed"], 1);
    EXPECT_EQ(out["next"], kBaseNote +
                               " 1 carte(s) existaient déjà au même endroit (série à assets partagés : communes à tous "
                               "les épisodes) : aucune copie créée, ne répète pas l'envoi pour un autre épisode.");
    // The refused file was never attached; the one after it still went.
    expectBytesOf(finalized(agent), {"a.png", "b.png", "d.png"});
    EXPECT_EQ(argumentsOf(agent, "request_upload").size(), 4u);
}

TEST(FolderToAssets, AServiceDyingMidBatchLeavesWhatWasSentAndReportsNothingElseAsSent) {
    AgentWithService agent;
    auto& service = agent.service();
    int64_t ws = service.addWorkspace("Panne");
    makeFolder(agent, "lot", {"a.png", "b.png", "c.png"});
    service.addFault(Fault{.pathPrefix = "/upload/",
                           .status = 500,
                           .body = "panne",
                           .contentType = "text/plain",
                           .stopService = true,
                           .remaining = 1,
                           .skip = 1});

    Json out = agent.data("upload_folder_to_assets", {{"directory", "~/lot"}, {"workspace_id", ws}});
    EXPECT_EQ(fileNames(out["done"]), std::vector<std::string>{"a.png"});
    EXPECT_EQ(fileNames(out["failed_files"]), (std::vector<std::string>{"b.png", "c.png"}));
    EXPECT_EQ(out["failed_files"][0]["error"], "upload_put_failed");
    EXPECT_EQ(out["failed"], 2);
    EXPECT_EQ(out["cards_created"], 1);
    expectBytesOf(finalized(agent), {"a.png"});
    EXPECT_EQ(service.cards(ws).size(), 1u);
}

// ── fill_sequence_from_folder ───────────────────────────────────────────────

struct Sequence {
    int64_t workspace = 0;
    int64_t id = 0;
    std::map<int64_t, int64_t> plans;  // number → id
};

Sequence makeSequence(AgentWithService& agent, std::vector<int64_t> numbers, int64_t workspace = 0) {
    auto& service = agent.service();
    Sequence s;
    s.workspace = workspace ? workspace : service.addWorkspace("Film");
    s.id = service.addSequence(s.workspace, "Séquence");
    for (int64_t n : numbers) s.plans[n] = service.addPlan(s.id, n);
    return s;
}

TEST(FillSequence, SortsByPlanNumberSendsEachFileToItsPlanAndPromptsOnlyImages) {
    AgentWithService agent;
    Sequence seq = makeSequence(agent, {2, 3, 10});
    makeFolder(agent, "seq", {"plan_10.jpg", "plan_2.jpg", "intro.mov", "P3.mp4", "plan_03.jpg", "plan_000.jpg"});

    Json out = agent.data("fill_sequence_from_folder", {{"directory", "~/seq"},
                                                        {"sequence_id", seq.id},
                                                        {"workspace_id", seq.workspace},
                                                        {"prompt_prefix", "storyboard"}});

    // Number order; equal numbers keep the name order; no number comes last.
    auto uploads = finalized(agent);
    expectBytesOf(uploads, {"plan_2.jpg", "P3.mp4", "plan_03.jpg", "plan_10.jpg"});
    EXPECT_EQ(argumentsOf(agent, "request_upload")[0],
              (Json{{"filename", "plan_2.jpg"}, {"plan_id", seq.plans[2]}, {"size", contentOf("plan_2.jpg").size()}}));
    EXPECT_EQ(*uploads[0].finalize, (Json{{"target", "plan"},
                                          {"plan_id", seq.plans[2]},
                                          {"prompt", "storyboard plan 2"},
                                          {"upload_id", uploads[0].id}}));
    EXPECT_EQ(*uploads[1].finalize,
              (Json{{"target", "plan"}, {"plan_id", seq.plans[3]}, {"upload_id", uploads[1].id}}));
    EXPECT_EQ((*uploads[2].finalize)["prompt"], "storyboard plan 03");
    EXPECT_EQ((*uploads[3].finalize)["plan_id"], seq.plans[10]);

    EXPECT_EQ(argumentsOf(agent, "list_sequences"), (std::vector<Json>{Json{{"workspace_id", seq.workspace}}}));
    EXPECT_EQ(argumentsOf(agent, "list_plans"),
              (std::vector<Json>{Json{{"workspace_id", seq.workspace}, {"sequence_id", seq.id}}}));
    EXPECT_TRUE(argumentsOf(agent, "list_workspaces").empty());
    EXPECT_TRUE(argumentsOf(agent, "create_plan").empty());

    EXPECT_EQ(out["workspace_id"], seq.workspace);
    EXPECT_EQ(out["sequence_id"], seq.id);
    EXPECT_EQ(out["uploaded"], 4);
    EXPECT_EQ(out["skipped"], 2);
    EXPECT_EQ(out["failed"], 0);
    EXPECT_EQ(out["skipped_files"], Json::array({{{"file", "plan_000.jpg"}, {"reason", "plan 0 inexistant"}},
                                                 {{"file", "intro.mov"}, {"reason", "pas de numéro dans le nom"}}}));
    Json done = out["done"];
    ASSERT_EQ(done.size(), 4u);
    EXPECT_EQ(done[1], (Json{{"file", "P3.mp4"},
                             {"plan_number", 3},
                             {"plan_id", seq.plans[3]},
                             {"version", "V1"},
                             {"url", agent.service().plans(seq.id)[1].versions[0].url}}));
    EXPECT_EQ(done[2]["version"], "V2");  // a second file on plan 3 is a new version
    EXPECT_EQ(out["failed_files"], Json::array());
}

TEST(FillSequence, CreatesMissingPlansWithPlaceholdersButNeverFillsAHole) {
    AgentWithService agent;
    auto& service = agent.service();
    Sequence empty = makeSequence(agent, {});
    makeFolder(agent, "neuf", {"shot_1.png", "shot_2.mp4", "shot_5.png", "plan_000.jpg"});

    Json out = agent.data("fill_sequence_from_folder", {{"directory", "~/neuf"},
                                                        {"sequence_id", empty.id},
                                                        {"workspace_id", empty.workspace},
                                                        {"create_missing_plans", "oui"}});
    std::vector<std::string> texts;
    for (const auto& args : argumentsOf(agent, "create_plan")) {
        EXPECT_EQ(args["sequence_id"], empty.id);
        texts.push_back(args["text"]);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"shot 1", "shot 2", "Plan 3", "Plan 4", "shot 5"}));
    auto plans = service.plans(empty.id);
    ASSERT_EQ(plans.size(), 5u);
    EXPECT_EQ(plans[4].number, 5);
    EXPECT_EQ(plans[4].versions.size(), 1u);
    EXPECT_TRUE(plans[3].versions.empty());
    EXPECT_EQ(out["uploaded"], 3);
    EXPECT_EQ(out["done"][2]["plan_id"], plans[4].id);
    EXPECT_EQ(out["skipped_files"], Json::array({{{"file", "plan_000.jpg"}, {"reason", "plan 0 inexistant"}}}));

    // Plans 1 and 3: plan 2 is a hole, plan 5 comes after a placeholder for 4.
    Sequence holed = makeSequence(agent, {1, 3}, empty.workspace);
    makeFolder(agent, "trou", {"plan_2.png", "plan_05_nuit.png"});
    service.clearRequests();
    Json filled = agent.data("fill_sequence_from_folder", {{"directory", "~/trou"},
                                                           {"sequence_id", holed.id},
                                                           {"workspace_id", holed.workspace},
                                                           {"create_missing_plans", true}});
    EXPECT_EQ(argumentsOf(agent, "create_plan"),
              (std::vector<Json>{Json{{"sequence_id", holed.id}, {"text", "Plan 4"}},
                                 Json{{"sequence_id", holed.id}, {"text", "plan 05 nuit"}}}));
    EXPECT_EQ(filled["skipped_files"], Json::array({{{"file", "plan_2.png"}, {"reason", "plan 2 inexistant"}}}));
    EXPECT_EQ(filled["done"][0]["plan_number"], 5);

    // "non" reads as false: nothing created, the file skipped.
    makeFolder(agent, "sept", {"plan_07.png"});
    service.clearRequests();
    Json skipped = agent.data("fill_sequence_from_folder", {{"directory", "~/sept"},
                                                            {"sequence_id", holed.id},
                                                            {"workspace_id", holed.workspace},
                                                            {"create_missing_plans", "non"}});
    EXPECT_TRUE(argumentsOf(agent, "create_plan").empty());
    EXPECT_EQ(skipped["skipped_files"], Json::array({{{"file", "plan_07.png"}, {"reason", "plan 7 inexistant"}}}));
}

TEST(FillSequence, SearchesTheWorkspacesInOrderWhenNoneIsGiven) {
    AgentWithService agent;
    auto& service = agent.service();
    auto seeded = service.workspaces();
    ASSERT_GE(seeded.size(), 2u);
    service.addWorkspace("Après");
    Sequence seq = makeSequence(agent, {1}, seeded[1].id);
    makeFolder(agent, "seq", {"plan_1.png"});

    Json out = agent.data("fill_sequence_from_folder", {{"directory", "~/seq"}, {"sequence_id", seq.id}});
    EXPECT_EQ(out["workspace_id"], seeded[1].id);
    EXPECT_EQ(argumentsOf(agent, "list_workspaces"), std::vector<Json>{Json::object()});
    EXPECT_EQ(argumentsOf(agent, "list_sequences"),
              (std::vector<Json>{Json{{"workspace_id", seeded[0].id}}, Json{{"workspace_id", seeded[1].id}}}));
    EXPECT_EQ(argumentsOf(agent, "list_plans"),
              (std::vector<Json>{Json{{"workspace_id", seeded[1].id}, {"sequence_id", seq.id}}}));
    expectBytesOf(finalized(agent), {"plan_1.png"});

    service.clearRequests();
    EXPECT_EQ(agent.error("fill_sequence_from_folder", {{"directory", "~/seq"}, {"sequence_id", 987654}}),
              "Erreur sequence_not_found : Séquence 987654 introuvable dans tes workspaces.");
    EXPECT_EQ(agent.error("fill_sequence_from_folder",
                          {{"directory", "~/seq"}, {"sequence_id", seq.id}, {"workspace_id", seeded[0].id}}),
              "Erreur sequence_not_found : Séquence " + std::to_string(seq.id) + " introuvable dans le workspace " +
                  std::to_string(seeded[0].id) + ".");
    EXPECT_TRUE(argumentsOf(agent, "request_upload").empty());
}

TEST(FillSequence, ChecksArgumentsAndTheFolderBeforeAskingTheService) {
    AgentWithService agent;
    std::string dir = makeFolder(agent, "vide", {"notes.txt", "anim.gif"});
    EXPECT_EQ(agent.error("fill_sequence_from_folder", {{"directory", "~/absent"}}),
              "Erreur missing_argument : sequence_id requis.");
    EXPECT_EQ(agent.error("fill_sequence_from_folder", {{"directory", "~/vide"}, {"sequence_id", 1}}),
              "Erreur empty : Aucune image/vidéo dans " + dir + ".");
    EXPECT_EQ(agent.error("fill_sequence_from_folder", {{"sequence_id", 1}}).rfind("Erreur dir_not_found : ", 0), 0u);
    EXPECT_TRUE(agent.service().toolCalls().empty());
}

TEST(FillSequence, RecordsARefusedUploadAndGoesOn) {
    AgentWithService agent;
    Sequence seq = makeSequence(agent, {1, 2, 3});
    makeFolder(agent, "seq", {"plan_1.png", "plan_2.png", "plan_3.png"});
    agent.service().addFault(
        Fault{.pathPrefix = "/upload/", .status = 403, .body = R"({"error":"refusé"})", .remaining = 1, .skip = 1});

    Json out = agent.data("fill_sequence_from_folder",
                          {{"directory", "~/seq"}, {"sequence_id", seq.id}, {"workspace_id", seq.workspace}});
    EXPECT_EQ(fileNames(out["done"]), (std::vector<std::string>{"plan_1.png", "plan_3.png"}));
    EXPECT_EQ(out["failed_files"], Json::array({{{"file", "plan_2.png"},
                                                 {"plan_number", 2},
                                                 {"error", "upload_put_failed"},
                                                 {"message", "Envoi du fichier refusé : refusé"}}}));
    EXPECT_EQ(out["failed"], 1);
    expectBytesOf(finalized(agent), {"plan_1.png", "plan_3.png"});
    EXPECT_TRUE(agent.service().plans(seq.id)[1].versions.empty());
}

// A batch cut short by a failing plan creation ends in an error; the file
// already sent stays on the service and the error names it, so the assistant
// does not send it a second time.
TEST(FillSequence, AnErrorEndingTheBatchNamesTheFilesAlreadySent) {
    AgentWithService agent;
    Sequence seq = makeSequence(agent, {});
    makeFolder(agent, "seq", {"plan_1.png", "plan_2.png", "plan_3.png"});
    agent.service().addFault(
        Fault{.tool = "create_plan", .body = "Service en maintenance.", .toolIsError = true, .skip = 1});

    EXPECT_EQ(agent.error("fill_sequence_from_folder", {{"directory", "~/seq"},
                                                        {"sequence_id", seq.id},
                                                        {"workspace_id", seq.workspace},
                                                        {"create_missing_plans", true}}),
              "Erreur remote_tool_error : Service en maintenance. Fichiers déjà envoyés avant l'erreur (ne les "
              "renvoie pas) : plan_1.png.");
    expectBytesOf(finalized(agent), {"plan_1.png"});
    EXPECT_EQ(argumentsOf(agent, "request_upload").size(), 1u);

    // Nothing sent yet: the service's error passes unchanged.
    Sequence other = makeSequence(agent, {}, seq.workspace);
    EXPECT_EQ(agent.error("fill_sequence_from_folder", {{"directory", "~/seq"},
                                                        {"sequence_id", other.id},
                                                        {"workspace_id", other.workspace},
                                                        {"create_missing_plans", true}}),
              "Erreur remote_tool_error : Service en maintenance.");
}

// ── progress ────────────────────────────────────────────────────────────────

TEST(BatchProgress, OneNotificationPerFileBeforeTheReplyOnlyWhenAsked) {
    AgentWithService agent;
    int64_t ws = agent.service().addWorkspace("Progrès");
    makeFolder(agent, "lot", {"a.png", "b.png", "c.png"});

    Json result = agent.call("upload_folder_to_assets", {{"directory", "~/lot"}, {"workspace_id", ws}}, "tok-1");
    EXPECT_EQ(result["isError"], false);
    ASSERT_EQ(agent.notifications.size(), 3u);
    std::vector<std::string> names{"a.png", "b.png", "c.png"};
    for (size_t i = 0; i < names.size(); ++i) {
        const Json& n = agent.notifications[i];
        EXPECT_EQ(n["jsonrpc"], "2.0");
        EXPECT_EQ(n["method"], "notifications/progress");
        EXPECT_FALSE(n.contains("id"));
        EXPECT_EQ(n["params"],
                  (Json{{"progressToken", "tok-1"}, {"progress", i + 1}, {"total", 3}, {"message", names[i]}}));
    }

    // Skipped files count too, so progress reaches the total; integer tokens come back as integers.
    Sequence seq = makeSequence(agent, {1}, ws);
    makeFolder(agent, "seq", {"plan_1.png", "intro.mov"});
    agent.call("fill_sequence_from_folder", {{"directory", "~/seq"}, {"sequence_id", seq.id}}, 7);
    ASSERT_EQ(agent.notifications.size(), 2u);
    EXPECT_EQ(agent.notifications[1]["params"],
              (Json{{"progressToken", 7}, {"progress", 2}, {"total", 2}, {"message", "intro.mov"}}));

    // Without a token: the reply is the only line, the next line answers the next message.
    agent.call("upload_folder_to_assets", {{"directory", "~/lot"}, {"workspace_id", ws}});
    EXPECT_TRUE(agent.notifications.empty());
    agent.agent().writeLine(R"({"jsonrpc":"2.0","id":"p","method":"ping"})");
    auto line = agent.agent().readLine();
    ASSERT_TRUE(line);
    EXPECT_EQ((*JSON::decode(*line))["id"], "p");
}

// A folder of long videos must not look stalled: the bytes of the file in
// flight show as the fraction between two whole files, and progress only grows.
TEST(BatchProgress, BigFilesShowTheirBytesAsAFractionOfTheBatch) {
    AgentWithService agent;
    int64_t ws = agent.service().workspaces()[0].id;
    Sequence seq = makeSequence(agent, {1, 2}, ws);
    agent.home().write("rushes/plan_1.mp4", std::string(24 << 20, 'a'));
    agent.home().write("rushes/plan_2.mp4", std::string(24 << 20, 'b'));
    Json result = agent.call("fill_sequence_from_folder", {{"directory", "~/rushes"}, {"sequence_id", seq.id}}, "v");
    EXPECT_EQ(result["structuredContent"]["uploaded"], 2);
    ASSERT_GE(agent.notifications.size(), 2u);
    double previous = 0;
    bool fractional = false;
    for (const auto& n : agent.notifications) {
        double progress = n["params"]["progress"];
        EXPECT_GT(progress, previous);
        EXPECT_LE(progress, 2.0);
        EXPECT_EQ(n["params"]["total"], 2);
        fractional = fractional || progress != std::floor(progress);
        previous = progress;
    }
    EXPECT_EQ(previous, 2.0);
    EXPECT_TRUE(fractional) << "at least one report came during a transfer";
}

// A service listing absurd plan numbers must neither overflow the count of
// plans to create nor set off thousands of creations.
TEST(FillSequence, OddPlanNumbersFromTheServiceCreateNothingAbsurd) {
    AgentWithService agent;
    int64_t ws = agent.service().workspaces()[0].id;
    int64_t sequence = agent.service().addSequence(ws, "Bizarre");
    makeFolder(agent, "odd", {"plan_01.png"});
    auto listing = [&](const std::string& plans) {
        agent.service().addFault(Fault{.tool = "list_plans", .status = 200,
                                       .body = R"({"jsonrpc":"2.0","id":1,"result":{"structuredContent":{"plans":)" +
                                               plans + "}}}",
                                       .remaining = 1});
    };
    Json args{{"directory", "~/odd"}, {"sequence_id", sequence}, {"workspace_id", ws}, {"create_missing_plans", true}};

    listing(R"([{"id":5,"plan_number":9223372036854775807}])");
    Json high = agent.data("fill_sequence_from_folder", args);
    EXPECT_EQ(high["skipped_files"], (Json::array({Json{{"file", "plan_01.png"}, {"reason", "plan 1 inexistant"}}})));
    EXPECT_TRUE(argumentsOf(agent, "create_plan").empty());

    listing(R"([{"id":5,"plan_number":-4000000000}])");
    Json low = agent.data("fill_sequence_from_folder", args);
    EXPECT_EQ(low["uploaded"], 1);
    EXPECT_EQ(argumentsOf(agent, "create_plan").size(), 1u) << "creation starts at 1, not below";
}

}  // namespace

namespace {

// ── what review found ───────────────────────────────────────────────────────

// Some JSON writers put every number as a double: 42 comes as 42.0, and
// JSON does not tell the two apart.
void wholeNumbersAsFractions(AgentWithService& agent, const std::vector<std::string>& tools) {
    for (const auto& tool : tools) agent.service().addFault(Fault{.tool = tool, .wholeNumbersAsFractions = true});
}

TEST(FillSequence, IdsAndNumbersWrittenWithAFractionAreIntegersAllTheSame) {
    AgentWithService agent;
    Sequence seq = makeSequence(agent, {1});
    makeFolder(agent, "seq", {"plan_1.jpg", "plan_2.jpg"});
    wholeNumbersAsFractions(agent, {"list_workspaces", "list_sequences", "list_plans", "create_plan", "request_upload",
                                    "finalize_upload"});
    Json out = agent.data("fill_sequence_from_folder",
                          {{"directory", "~/seq"}, {"sequence_id", seq.id}, {"create_missing_plans", true}});
    EXPECT_EQ(out["workspace_id"], seq.workspace);
    EXPECT_EQ(out["uploaded"], 2) << out.dump();
    EXPECT_EQ(out["skipped"], 0);
    auto uploads = finalized(agent);
    expectBytesOf(uploads, {"plan_1.jpg", "plan_2.jpg"});
    EXPECT_EQ((*uploads[0].finalize)["upload_id"], uploads[0].id);
    EXPECT_EQ(argumentsOf(agent, "create_plan").size(), 1u) << "plan 1 was found, only plan 2 is created";
}

TEST(FolderToAssets, CardFolderIdsWrittenWithAFractionAreIntegersAllTheSame) {
    AgentWithService agent;
    int64_t ws = agent.service().addWorkspace("Série");
    int64_t team = agent.service().addCard(ws, "Équipe", true);
    makeFolder(agent, "a", {"lina.png"});
    wholeNumbersAsFractions(agent, {"list_asset_cards", "create_asset_card_folder", "request_upload"});
    Json found = agent.data("upload_folder_to_assets", {{"directory", "~/a"}, {"workspace_id", ws}, {"folder_name", "équipe"}});
    EXPECT_EQ(found["card_folder_id"], team);
    Json created =
        agent.data("upload_folder_to_assets", {{"directory", "~/a"}, {"workspace_id", ws}, {"folder_name", "Neuf"}});
    EXPECT_TRUE(created["card_folder_id"].is_number_integer()) << created.dump();
    EXPECT_EQ(finalized(agent).size(), 2u);
}

// A name in another encoding cannot be named in a reply as it stands, but
// the user must learn that the file was left behind.
TEST(BatchSkips, FilesWhoseNamesAreNotUtf8AreListedReadablyWithAReason) {
    AgentWithService agent;
    Sequence seq = makeSequence(agent, {1, 2});
    makeFolder(agent, "seq", {"plan_1.jpg", "plan_\xff" "2.jpg"});
    Json filled = agent.data("fill_sequence_from_folder", {{"directory", "~/seq"}, {"sequence_id", seq.id}});
    EXPECT_EQ(filled["uploaded"], 1);
    EXPECT_EQ(filled["skipped"], 1);
    const Json skipped{{"file", "plan_\xEF\xBF\xBD" "2.jpg"}, {"reason", "nom de fichier illisible (pas en UTF-8), non envoyé"}};
    EXPECT_EQ(filled["skipped_files"], Json::array({skipped}));

    int64_t ws = agent.service().addWorkspace("Série");
    makeFolder(agent, "cartes", {"lina.png", "\xe9t\xe9.png"});
    Json cards = agent.data("upload_folder_to_assets", {{"directory", "~/cartes"}, {"workspace_id", ws}});
    EXPECT_EQ(fileNames(cards["done"]), (std::vector<std::string>{"lina.png"}));
    EXPECT_EQ(cards["skipped_files"], Json::array({{{"file", "\xEF\xBF\xBDt\xEF\xBF\xBD.png"},
                                                   {"reason", "nom de fichier illisible (pas en UTF-8), non envoyé"}}}));
    makeFolder(agent, "propre", {"arbre.jpg"});
    Json plain = agent.data("upload_folder_to_assets", {{"directory", "~/propre"}, {"workspace_id", ws}});
    EXPECT_FALSE(plain.contains("skipped_files")) << "the usual reply keeps its shape";
    Json listed = agent.data("list_local_files", {{"directory", "~/cartes"}});
    EXPECT_EQ(listed["files"].size(), 1u) << "the listing still leaves such names out";
}

}  // namespace
