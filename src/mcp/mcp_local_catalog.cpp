#include "mcp/mcp_server.h"
#include "tools/local_tools.h"

namespace {

// The manifest may change how a local tool is presented (title, description,
// schema, read-only flag) but never which tools exist: a key of the wrong type
// leaves the built-in value in place, and entries for other names are unused.
void applyOverride(ToolDef& def, const Json& entry) {
    if (!entry.is_object()) return;
    if (auto it = entry.find("title"); it != entry.end() && it->is_string()) def.title = it->get<std::string>();
    if (auto it = entry.find("description"); it != entry.end() && it->is_string())
        def.description = it->get<std::string>();
    if (auto it = entry.find("inputSchema"); it != entry.end() && it->is_object()) def.schema = *it;
    if (auto it = entry.find("readOnly"); it != entry.end() && it->is_boolean()) def.readOnly = it->get<bool>();
}

// Every local tool is non-destructive and closed-world; only a tool that
// changes nothing can be called twice to the same effect.
Json toolObject(const ToolDef& def) {
    return Json{{"name", def.name},
                {"title", def.title},
                {"description", def.description},
                {"inputSchema", def.schema},
                {"annotations",
                 {{"title", def.title},
                  {"readOnlyHint", def.readOnly},
                  {"destructiveHint", false},
                  {"idempotentHint", def.readOnly},
                  {"openWorldHint", false}}}};
}

}  // namespace

Json MCPServer::localToolDefs() const {
    Json tools = Json::array();
    for (ToolDef def : LocalTools::defs()) {
        if (manifest) {
            if (auto it = manifest->tools.find(def.name); it != manifest->tools.end()) applyOverride(def, it->second);
        }
        tools.push_back(toolObject(def));
    }
    return tools;
}
