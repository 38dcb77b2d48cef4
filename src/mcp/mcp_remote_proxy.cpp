#include "core/tool_error.h"
#include "mcp/mcp_server.h"

// Placeholder until the service proxy lands: no service tool is reachable.
Json MCPServer::remoteTools() { return Json::array(); }

std::map<std::string, std::string> MCPServer::authHeaders() const {
    throw ToolError("not_logged_in",
                    "Kestro Agent n'est pas connecté : ouvre l'app (barre de menus) → Se connecter à Kestro.");
}

Json MCPServer::remoteCallRaw(const std::string&, const Json&) {
    authHeaders();
    return Json::object();
}

Json MCPServer::remoteData(const std::string& name, const Json& args) { return remoteCallRaw(name, args); }
