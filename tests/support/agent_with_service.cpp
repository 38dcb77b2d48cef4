#include "agent_with_service.h"

#include <gtest/gtest.h>

#include "config/config_store.h"

AgentWithService::AgentWithService() {
    m_service.start();
    ConfigStore::save(AgentConfig{.baseUrl = m_service.baseUrl(), .token = "dev-token"});
    m_agent = std::make_unique<AgentProcess>(std::vector<std::string>{"--mcp"},
                                             std::map<std::string, std::string>{{"KESTRO_AGENT_MANIFEST_URL", ""}});
}

Json AgentWithService::call(const std::string& tool, const Json& arguments, const Json& progressToken) {
    notifications.clear();
    int id = m_nextId++;
    Json params{{"name", tool}, {"arguments", arguments}};
    if (!progressToken.is_null()) params["_meta"] = {{"progressToken", progressToken}};
    m_agent->writeLine(JSON::encode(Json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}, {"params", params}}));
    // Bounded: a reply (or enough notifications to show a runaway) ends the wait.
    for (int lines = 0; lines < 100000; ++lines) {
        auto line = m_agent->readLine(AgentProcess::Ms(60000));
        if (!line) break;
        auto message = JSON::decode(*line);
        if (!message || !message->is_object()) {
            ADD_FAILURE() << "not a protocol message on stdout: " << *line;
            return Json();
        }
        if (message->contains("id") && (*message)["id"] == id) return (*message)["result"];
        notifications.push_back(*message);
    }
    ADD_FAILURE() << "no reply to " << tool << "; stderr: " << m_agent->stderrText();
    return Json();
}

Json AgentWithService::data(const std::string& tool, const Json& arguments) {
    Json result = call(tool, arguments);
    EXPECT_EQ(result["isError"], false) << JSON::encode(result, true);
    return result.contains("structuredContent") ? result["structuredContent"] : Json();
}

std::string AgentWithService::error(const std::string& tool, const Json& arguments) {
    Json result = call(tool, arguments);
    EXPECT_EQ(result["isError"], true) << JSON::encode(result, true);
    EXPECT_FALSE(result.contains("structuredContent"));
    if (!result.contains("content") || result["content"].empty()) return "";
    return result["content"][0].value("text", "");
}
