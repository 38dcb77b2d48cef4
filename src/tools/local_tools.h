#pragma once

#include <set>
#include <string>
#include <vector>

#include "core/json.h"
#include "tools/tool_def.h"

struct ToolContext;

// The agent's own tools: they read the user's folders and send files to the
// service through the session and upload pipeline of their context.
//
//   tools/call ─► names() has it? ─► run(name, args, context)
//                                      │ exact, case-sensitive name
//                                      ▼
//                  one function per tool (local_tool_handlers.h)
//                                      │
//                                      ▼
//                  result object, or a thrown ToolError
namespace LocalTools {

// The six tools in catalogue order, built once on first use and never
// changed afterwards.
const std::vector<ToolDef>& defs();

// The names the server routes to `run` rather than to the service.
const std::set<std::string>& names();

// The argument schema of a tool: an object schema around `properties` that
// requires `required` and refuses any other property.
Json schema(Json properties, const std::vector<std::string>& required);

// Property objects of a schema: a type and a description, nothing else
// (allowed values and defaults are told in the description). "integer" and
// "boolean" stand for the language's reserved words.
Json str(const std::string& description);
Json integer(const std::string& description);
Json boolean(const std::string& description);

// Runs one local tool; returns its result object or throws ToolError.
Json run(const std::string& name, const Json& args, ToolContext& context);

}  // namespace LocalTools
