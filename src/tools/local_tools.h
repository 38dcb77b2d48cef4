#pragma once

#include <set>
#include <string>

#include "core/json.h"

class MCPServer;

// The agent's own tools: they read the user's folders and send files to the
// service through the server's proxy and upload pipeline.
namespace LocalTools {

// The names the server routes to `run` rather than to the service.
const std::set<std::string>& names();

// Runs one local tool; returns its result object or throws ToolError.
Json run(const std::string& name, const Json& args, MCPServer& server);

}  // namespace LocalTools
