#include "core/tool_error.h"
#include "mcp/mcp_server.h"

// Tool catalogue and call routing.

Json MCPServer::localToolDefs() const { return Json::array(); }

Json MCPServer::remoteTools() { return Json::array(); }

Json MCPServer::callTool(const Json& params) {
    auto nameIt = params.find("name");
    std::string name = (nameIt != params.end() && nameIt->is_string()) ? nameIt->get<std::string>() : "";
    try {
        throw ToolError("unknown_tool", "Outil inconnu : " + name);
    } catch (const ToolError& e) {
        return toolText("Erreur " + e.code + " : " + e.message, true);
    } catch (const std::exception& e) {
        return toolText(std::string("Erreur : ") + e.what(), true);
    }
}
