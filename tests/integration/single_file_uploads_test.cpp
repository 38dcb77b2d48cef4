// The three single-file tools through the real binary, against the stand-in
// service: what the service received (each call's arguments, each file's bytes
// and digest) and every refusal the assistant can meet.
#include <gtest/gtest.h>

#include <filesystem>

#include "agent_with_service.h"
#include "sha256_hex.h"
#include "config/config_store.h"

namespace {

using devservice::Fault;

class SingleFileUploads : public ::testing::Test {
protected:
    std::string file(const std::string& name, const std::string& bytes) {
        return fixture.home().write("Bureau/" + name, bytes);
    }
    // The finalize_upload arguments the service received, without the slot id.
    Json lastFinalize() {
        auto calls = fixture.service().toolCalls("finalize_upload");
        if (calls.empty()) return Json();
        Json args = calls.back().arguments;
        EXPECT_TRUE(args["upload_id"].is_number_integer());
        args.erase("upload_id");
        return args;
    }
    int64_t workspace() { return fixture.service().workspaces()[0].id; }

    AgentWithService fixture;
};

TEST_F(SingleFileUploads, PlanGetsTheFileAsANewVersion) {
    int64_t sequence = fixture.service().addSequence(workspace(), "Tests");
    int64_t plan = fixture.service().addPlan(sequence, 1);
    std::string bytes(300000, 'x');
    bytes += "end";
    std::string path = file("still.JPEG", bytes);

    Json reply = fixture.data("upload_file_to_plan", {{"path", path}, {"plan_id", std::to_string(plan)}});
    EXPECT_EQ(reply["file"], "still.JPEG");
    EXPECT_EQ(reply["version_label"], "V1");
    EXPECT_EQ(lastFinalize(), (Json{{"target", "plan"}, {"plan_id", plan}}));

    auto slot = fixture.service().toolCalls("request_upload").back().arguments;
    EXPECT_EQ(slot, (Json{{"filename", "still.JPEG"}, {"plan_id", plan}, {"size", bytes.size()}}));
    auto uploads = fixture.service().uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].bytes, bytes.size());
    EXPECT_EQ(uploads[0].sha256, sha256Hex(bytes));
    auto put = fixture.service().requests();
    auto it = std::find_if(put.begin(), put.end(), [](auto& r) { return r.method == "PUT"; });
    ASSERT_NE(it, put.end());
    EXPECT_EQ(it->headers["content-type"], "application/octet-stream");
    EXPECT_FALSE(it->headers.count("authorization")) << "the token never travels with the file";

    fixture.data("upload_file_to_plan", {{"path", path}, {"plan_id", plan}, {"prompt", "Plan large, aube"}});
    EXPECT_EQ(lastFinalize()["prompt"], "Plan large, aube");
    fixture.data("upload_file_to_plan", {{"path", path}, {"plan_id", plan}, {"prompt", ""}});
    EXPECT_FALSE(lastFinalize().contains("prompt"));
    EXPECT_EQ(fixture.service().plans(sequence)[0].versions.size(), 3u);
}

TEST_F(SingleFileUploads, LocalChecksComeFirstAndSendNothing) {
    std::string mkv = file("clip.MKV", "video");
    std::string gif = file("anim.gif", "gif");
    std::string zip = file("archive.zip", "zip");
    std::string folder = fixture.home().path() + "/Bureau";
    struct Case {
        const char* tool;
        Json args;
        std::string expected;
    } cases[] = {
        {"upload_file_to_plan", {{"path", folder + "/missing.png"}},
         "Erreur file_not_found : Fichier introuvable : " + folder + "/missing.png"},
        {"upload_file_to_plan", {{"path", folder}, {"plan_id", 1}}, "Erreur not_a_file : Pas un fichier : " + folder},
        {"upload_file_to_plan", {{"path", mkv}}, "Erreur missing_argument : plan_id requis."},
        {"upload_file_to_plan", {{"path", mkv}, {"plan_id", 1}},
         "Erreur bad_type : Un plan accepte jpg/png/webp ou mp4/mov/webm/m4v, pas .mkv."},
        {"upload_file_to_assets", {{"path", gif}, {"workspace_id", "x"}},
         "Erreur missing_argument : workspace_id requis."},
        {"upload_file_to_assets", {{"path", gif}, {"workspace_id", 1}},
         "Erreur bad_type : Une carte Assets prend une image jpg, png ou webp (pas .gif). Pour une vidéo ou un "
         "document : upload_file_to_media."},
        {"upload_file_to_media", {{"path", zip}, {"workspace_id", 1}},
         "Erreur bad_type : Extension non acceptée : .zip"},
        {"upload_file_to_media", {}, "Erreur file_not_found : Fichier introuvable : "},
    };
    for (const auto& c : cases) EXPECT_EQ(fixture.error(c.tool, c.args), c.expected) << c.tool;
    EXPECT_EQ(fixture.service().count("POST", "/mcp"), 0u) << "nothing is sent before every local check passed";
}

TEST_F(SingleFileUploads, CardsAreNamedAfterTheFileUnlessNamed) {
    std::string path = file("forum_nuit-final.png", "png bytes");
    Json reply = fixture.data("upload_file_to_assets", {{"path", path}, {"workspace_id", workspace()}});
    EXPECT_EQ(reply["name"], "forum nuit final");
    EXPECT_EQ(reply["already_exists"], false);
    EXPECT_EQ(lastFinalize(), (Json{{"target", "card"}, {"name", "forum nuit final"}}));

    fixture.data("upload_file_to_assets", {{"path", path}, {"workspace_id", workspace()}, {"name", ""}});
    EXPECT_EQ(lastFinalize()["name"], "forum nuit final");
    EXPECT_EQ(fixture.data("upload_file_to_assets", {{"path", path}, {"workspace_id", workspace()}})["already_exists"],
              true);

    int64_t card = fixture.service().addCard(workspace(), "Décor ancien");
    fixture.data("upload_file_to_assets", {{"path", path},
                                           {"workspace_id", workspace()},
                                           {"card_id", card},
                                           {"kind", "decor"},
                                           {"description", ""},
                                           {"prompt", "Forum, nuit"}});
    EXPECT_EQ(lastFinalize(), (Json{{"target", "card"},
                                    {"card_id", card},
                                    {"name", "forum nuit final"},
                                    {"kind", "decor"},
                                    {"prompt", "Forum, nuit"}}));
    auto slot = fixture.service().toolCalls("request_upload").back().arguments;
    EXPECT_EQ(slot["workspace_id"], workspace());
    EXPECT_FALSE(slot.contains("plan_id"));
}

TEST_F(SingleFileUploads, MediaPromptsComeFromImageNamesOnly) {
    std::string png = file("scene_12.png", "png");
    std::string mp3 = file("interview.mp3", "mp3");
    std::string gif = file("anim.gif", "gif");
    fixture.data("upload_file_to_media", {{"path", png}, {"workspace_id", workspace()}});
    EXPECT_EQ(lastFinalize(), (Json{{"target", "media"}, {"prompt", "scene 12"}}));
    fixture.data("upload_file_to_media", {{"path", png}, {"workspace_id", workspace()}, {"prompt", ""}});
    EXPECT_EQ(lastFinalize(), (Json{{"target", "media"}}));
    fixture.data("upload_file_to_media",
                 {{"path", mp3}, {"workspace_id", workspace()}, {"folder_id", "12"}, {"display_title", "Entretien"}});
    EXPECT_EQ(lastFinalize(), (Json{{"target", "media"}, {"folder_id", 12}, {"display_title", "Entretien"}}));
    Json reply = fixture.data("upload_file_to_media", {{"path", gif}, {"workspace_id", workspace()}});
    EXPECT_EQ(reply["file"], "anim.gif");
    EXPECT_EQ(fixture.service().media(workspace()).size(), 4u);
}

TEST_F(SingleFileUploads, RefusedTransfersAndBadSlotsAreToolErrors) {
    std::string path = file("plan.png", "bytes");
    Json args{{"path", path}, {"workspace_id", workspace()}};
    fixture.service().addFault(Fault{.pathPrefix = "/upload/", .status = 403,
                                     .body = R"({"message":"Quota dépassé"})", .remaining = 1});
    EXPECT_EQ(fixture.error("upload_file_to_media", args),
              "Erreur upload_put_failed : Envoi du fichier refusé : Quota dépassé");
    fixture.service().addFault(Fault{.pathPrefix = "/upload/", .status = 500, .body = "<html>oops</html>",
                                     .contentType = "text/html", .remaining = 1});
    EXPECT_EQ(fixture.error("upload_file_to_media", args), "Erreur upload_put_failed : Envoi du fichier refusé : HTTP 500");
    fixture.service().addFault(Fault{.pathPrefix = "/upload/", .status = 201, .body = "{}", .remaining = 1});
    EXPECT_EQ(fixture.error("upload_file_to_media", args), "Erreur upload_put_failed : Envoi du fichier refusé : HTTP 201");
    EXPECT_TRUE(fixture.service().toolCalls("finalize_upload").empty()) << "a refused file is never finalized";

    fixture.service().addFault(Fault{
        .tool = "request_upload", .status = 200,
        .body = R"({"jsonrpc":"2.0","id":1,"result":{"structuredContent":{"upload_url":"http://127.0.0.1:9/u","upload_id":"42"}}})",
        .remaining = 1});
    EXPECT_EQ(fixture.error("upload_file_to_media", args),
              "Erreur upload_request_failed : request_upload n'a pas renvoyé d'URL de dépôt.");
    fixture.service().addFault(Fault{.tool = "finalize_upload", .body = "Stockage plein", .toolIsError = true,
                                     .remaining = 1});
    EXPECT_EQ(fixture.error("upload_file_to_media", args), "Erreur remote_tool_error : Stockage plein");

    ConfigStore::clear();
    EXPECT_EQ(fixture.error("upload_file_to_media", args),
              "Erreur not_logged_in : Kestro Agent n'est pas connecté : ouvre l'app (barre de menus) → Se connecter "
              "à Kestro.");
}

TEST_F(SingleFileUploads, ProgressOfTheTransferOnlyWhenAskedFor) {
    std::string bytes(8 << 20, 'p');
    std::string path = file("long_take.mp4", bytes);
    Json args{{"path", path}, {"workspace_id", workspace()}};
    Json reply = fixture.call("upload_file_to_media", args, "upload-1");
    EXPECT_EQ(reply["isError"], false);
    ASSERT_FALSE(fixture.notifications.empty()) << "at least the final count reaches the assistant";
    double previous = 0;
    for (const auto& n : fixture.notifications) {
        EXPECT_EQ(n["method"], "notifications/progress");
        EXPECT_FALSE(n.contains("id"));
        EXPECT_EQ(n["params"]["progressToken"], "upload-1");
        EXPECT_EQ(n["params"]["message"], "long_take.mp4");
        EXPECT_EQ(n["params"]["total"], bytes.size());
        EXPECT_GT(n["params"]["progress"].get<double>(), previous);
        previous = n["params"]["progress"];
    }
    EXPECT_EQ(previous, bytes.size());

    fixture.call("upload_file_to_media", args, 7);
    ASSERT_FALSE(fixture.notifications.empty());
    EXPECT_EQ(fixture.notifications[0]["params"]["progressToken"], 7);

    fixture.call("upload_file_to_media", args);
    EXPECT_TRUE(fixture.notifications.empty()) << "no token, no extra line";
}

}  // namespace
