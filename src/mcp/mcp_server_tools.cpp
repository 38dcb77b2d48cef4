#include "core/tool_error.h"
#include "mcp/mcp_server.h"
#include "tools/local_tools.h"

// Call routing: a local tool runs here, anything else goes to the service.
// Whatever is thrown becomes a tool result, never a JSON-RPC error, so the
// assistant can show the message to the user.
Json MCPServer::callTool(const Json& params) {
    auto nameIt = params.find("name");
    std::string name = (nameIt != params.end() && nameIt->is_string()) ? nameIt->get<std::string>() : "";
    auto argsIt = params.find("arguments");
    Json args = (argsIt != params.end() && argsIt->is_object()) ? *argsIt : Json::object();
    try {
        if (LocalTools::names().count(name)) return toolText(LocalTools::run(name, args, *this));
        return remoteCallRaw(name, args);
    } catch (const ToolError& e) {
        return toolText("Erreur " + e.code + " : " + e.message, true);
    } catch (const std::exception& e) {
        return toolText(std::string("Erreur : ") + e.what(), true);
    }
}
