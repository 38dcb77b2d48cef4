#pragma once

#include "core/json.h"
#include "core/tool_error.h"

class MCPServer;

// One function per local tool, reached through LocalTools::run. Each reads
// its arguments through the conventions of LocalToolArgs and returns its
// result object or throws.
namespace LocalTools {

Json listLocalFiles(const Json& args, MCPServer& server);
Json uploadFileToPlan(const Json& args, MCPServer& server);
Json uploadFileToAssets(const Json& args, MCPServer& server);
Json uploadFolderToAssets(const Json& args, MCPServer& server);
Json uploadFileToMedia(const Json& args, MCPServer& server);
Json fillSequenceFromFolder(const Json& args, MCPServer& server);

}  // namespace LocalTools
