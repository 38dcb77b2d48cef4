#pragma once

#include <memory>
#include <string>
#include <vector>

#include "agent_process.h"
#include "core/json.h"
#include "dev_service.h"
#include "temp_home.h"

// The real agent binary, logged in (config.json holding the stand-in's base URL
// and a valid token), talking to an in-process stand-in service over loopback.
// The manifest is not fetched (KESTRO_AGENT_MANIFEST_URL is empty), so every
// request the service records comes from the tool under test.
class AgentWithService {
public:
    AgentWithService();

    TempHome& home() { return m_home; }
    devservice::DevService& service() { return m_service; }
    AgentProcess& agent() { return *m_agent; }

    // One tools/call through the agent; returns the JSON-RPC "result". Any
    // notification written before the reply is kept in `notifications`.
    Json call(const std::string& tool, const Json& arguments, const Json& progressToken = nullptr);

    // The "structuredContent" of a successful call; fails the test otherwise.
    Json data(const std::string& tool, const Json& arguments);

    // The text of a failed call ("Erreur code : message"); fails the test otherwise.
    std::string error(const std::string& tool, const Json& arguments);

    std::vector<Json> notifications;

private:
    TempHome m_home;
    devservice::DevService m_service;
    std::unique_ptr<AgentProcess> m_agent;
    int m_nextId = 1;
};
