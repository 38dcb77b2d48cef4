#include "tools/local_tool_handlers.h"

// The files of a folder laid on the plans of a sequence, matched by the plan
// number in their names.
namespace LocalTools {

Json fillSequenceFromFolder(const Json&, MCPServer&) { throw uploadsUnavailable(); }

}  // namespace LocalTools
