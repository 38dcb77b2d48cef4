#pragma once

#include "core/json.h"
#include "core/tool_error.h"

struct ToolContext;

// One function per local tool, reached through LocalTools::run. Each reads
// its arguments through the conventions of LocalToolArgs and returns its
// result object or throws.
namespace LocalTools {

Json listLocalFiles(const Json& args, ToolContext& context);
Json uploadFileToPlan(const Json& args, ToolContext& context);
Json uploadFileToAssets(const Json& args, ToolContext& context);
Json uploadFolderToAssets(const Json& args, ToolContext& context);
Json uploadFileToMedia(const Json& args, ToolContext& context);
Json fillSequenceFromFolder(const Json& args, ToolContext& context);

}  // namespace LocalTools
