#include "tools/local_tool_handlers.h"

// The three tools that send one file: to a plan, as an asset card, or to the
// media library.
namespace LocalTools {

Json uploadFileToPlan(const Json&, MCPServer&) { throw uploadsUnavailable(); }

Json uploadFileToAssets(const Json&, MCPServer&) { throw uploadsUnavailable(); }

Json uploadFileToMedia(const Json&, MCPServer&) { throw uploadsUnavailable(); }

}  // namespace LocalTools
