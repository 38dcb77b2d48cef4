// The stand-in service keeps the contract the agent relies on; these tests
// talk to it over real sockets, as the agent does.
#include "dev_service.h"

#include <gtest/gtest.h>
#include <httplib.h>

namespace {

using devservice::DevService;
using devservice::Fault;
using devservice::Json;

struct Client {
    explicit Client(DevService& s) : http("127.0.0.1", std::stoi(s.baseUrl().substr(s.baseUrl().rfind(':') + 1))) {}

    httplib::Result rpc(const Json& body, const std::string& token = "dev-token") {
        httplib::Headers headers{{"Authorization", "Bearer " + token}};
        return http.Post("/mcp", headers, body.dump(), "application/json");
    }
    Json call(const std::string& tool, Json args) {
        auto r = rpc({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"},
                      {"params", {{"name", tool}, {"arguments", std::move(args)}}}});
        EXPECT_TRUE(r);
        return r ? Json::parse(r->body)["result"] : Json();
    }
    Json data(const std::string& tool, Json args) { return call(tool, std::move(args))["structuredContent"]; }

    httplib::Client http;
};

TEST(DevService, RefusesUnknownTokensAndListsItsTools) {
    DevService service;
    ASSERT_GT(service.start(), 0);
    Client client(service);
    auto refused = client.rpc({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/list"}}, "wrong");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    auto listed = client.rpc({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/list"}});
    ASSERT_TRUE(listed);
    Json tools = Json::parse(listed->body)["result"]["tools"];
    EXPECT_GE(tools.size(), 9u);
    EXPECT_EQ(service.count("POST", "/mcp"), 2u);
}

TEST(DevService, UploadToAPlanRecordsBytesAndDigestAndAddsAVersion) {
    DevService service;
    service.start();
    Client client(service);
    int64_t sequence = service.addSequence(service.workspaces()[0].id, "Test");
    int64_t plan = service.addPlan(sequence, 1);
    Json slot = client.data("request_upload", {{"filename", "a.png"}, {"plan_id", plan}, {"size", 3}});
    std::string url = slot["upload_url"];
    auto put = client.http.Put(url.substr(url.find("/upload/")).c_str(), "abc", "application/octet-stream");
    ASSERT_TRUE(put);
    EXPECT_EQ(put->status, 200);
    Json done = client.data("finalize_upload", {{"upload_id", slot["upload_id"]}, {"target", "plan"}, {"plan_id", plan}});
    EXPECT_EQ(done["version_label"], "V1");
    auto uploads = service.uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].bytes, 3u);
    EXPECT_EQ(uploads[0].sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(service.plans(sequence)[0].versions.size(), 1u);
}

TEST(DevService, PlansAreNumberedAfterTheLastAndCardsAreNotCopiedTwice) {
    DevService service;
    service.start();
    Client client(service);
    int64_t ws = service.workspaces()[0].id;
    int64_t sequence = service.addSequence(ws, "Numbered");
    service.addPlan(sequence, 4);
    EXPECT_EQ(client.data("create_plan", {{"sequence_id", sequence}, {"text", "x"}})["plan_number"], 5);

    auto sendCard = [&](const std::string& name) {
        Json slot = client.data("request_upload", {{"filename", "c.png"}, {"workspace_id", ws}});
        std::string url = slot["upload_url"];
        client.http.Put(url.substr(url.find("/upload/")).c_str(), "png", "application/octet-stream");
        return client.data("finalize_upload", {{"upload_id", slot["upload_id"]}, {"target", "card"}, {"name", name}});
    };
    EXPECT_EQ(sendCard("Héros")["already_exists"], false);
    EXPECT_EQ(sendCard("héros")["already_exists"], true) << "same name, same place: shared asset";
}

TEST(DevService, ScriptedFaultsApplyInOrderAndThenStop) {
    DevService service;
    service.start();
    Client client(service);
    service.addFault(Fault{.tool = "list_workspaces", .status = 500, .body = "<html>boom</html>",
                           .contentType = "text/html", .remaining = 1, .skip = 1});
    Json ok = client.call("list_workspaces", Json::object());
    EXPECT_TRUE(ok.contains("structuredContent"));
    auto failed = client.rpc({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"},
                              {"params", {{"name", "list_workspaces"}, {"arguments", Json::object()}}}});
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->status, 500);
    EXPECT_EQ(failed->body, "<html>boom</html>");
    EXPECT_TRUE(client.call("list_workspaces", Json::object()).contains("structuredContent"));

    service.addFault(Fault{.tool = "list_workspaces", .textContent = true, .remaining = 1});
    Json text = client.call("list_workspaces", Json::object());
    EXPECT_FALSE(text.contains("structuredContent"));
    EXPECT_TRUE(Json::parse(text["content"][0]["text"].get<std::string>()).contains("workspaces"));
    service.addFault(Fault{.rpcError = Json{{"code", -32000}}, .remaining = 1});
    auto rpcError = client.rpc({{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/list"}});
    EXPECT_EQ(Json::parse(rpcError->body)["error"]["code"], -32000);
}

}  // namespace
