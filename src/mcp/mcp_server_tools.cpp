#include "core/tool_error.h"
#include "mcp/mcp_server.h"
#include "tools/local_tools.h"
#include "tools/tool_context.h"

namespace {

// MCP lets a caller ask for progress with a string or integer token under
// "_meta"; the token is only valid for the call that carried it.
struct ProgressTokenScope {
    ProgressSink& sink;
    ProgressTokenScope(ProgressSink& target, const Json& params) : sink(target) {
        auto meta = params.find("_meta");
        if (meta == params.end() || !meta->is_object()) return;
        auto token = meta->find("progressToken");
        if (token != meta->end() && (token->is_string() || token->is_number_integer())) sink.beginCall(*token);
    }
    ~ProgressTokenScope() { sink.endCall(); }
};

}  // namespace

// Call routing: a local tool runs here, anything else goes to the service.
// Whatever is thrown becomes a tool result, never a JSON-RPC error, so the
// assistant can show the message to the user.
MCPServer::ToolReply MCPServer::runTool(const Json& params) {
    auto nameIt = params.find("name");
    std::string name = (nameIt != params.end() && nameIt->is_string()) ? nameIt->get<std::string>() : "";
    auto argsIt = params.find("arguments");
    Json args = (argsIt != params.end() && argsIt->is_object()) ? *argsIt : Json::object();
    ProgressTokenScope scope(progress, params);
    try {
        if (LocalTools::names().count(name)) {
            ToolContext context{service, progress};
            return toolReply(LocalTools::run(name, args, context));
        }
        return ToolReply{service.remoteCallRaw(name, args), {}};
    } catch (const ToolError& e) {
        return toolReply("Erreur " + e.code + " : " + e.message, true);
    } catch (const std::exception& e) {
        return toolReply(std::string("Erreur : ") + e.what(), true);
    }
}
