#include "tools/local_tool_handlers.h"

// One asset card per image of a folder.
namespace LocalTools {

Json uploadFolderToAssets(const Json&, MCPServer&) { throw uploadsUnavailable(); }

}  // namespace LocalTools
