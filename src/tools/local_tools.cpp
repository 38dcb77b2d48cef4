#include "tools/local_tools.h"

#include "core/tool_error.h"

// Placeholder until the local tools land: no tool is routed locally yet.
const std::set<std::string>& LocalTools::names() {
    static const std::set<std::string> none;
    return none;
}

Json LocalTools::run(const std::string& name, const Json&, MCPServer&) {
    throw ToolError("unknown_tool", "Outil inconnu : " + name);
}
