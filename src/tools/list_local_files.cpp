#include "core/tool_args.h"
#include "tools/local.h"
#include "tools/local_tool_args.h"
#include "tools/local_tool_handlers.h"

namespace LocalTools {

// Read-only: what is in one folder, with what the other tools will make of
// each file (its kind and the plan number its name suggests). No count, no
// echo of the filter and no cap on the number of files.
Json listLocalFiles(const Json& args, MCPServer&) {
    std::string folder = LocalToolArgs::path(args, "directory");
    auto [directory, files] = Local::list(folder, Local::exts(strArg(args, "type")));
    Json items = Json::array();
    for (const auto& file : files) {
        auto plan = Local::planNumber(file.name);
        auto kind = Local::kind(file.ext);
        items.push_back(Json{
            {"name", file.name},
            {"path", file.path},
            {"ext", "." + file.ext},
            {"size", file.size},
            {"modified", Local::iso(file.modified)},
            {"kind", kind ? Json(*kind) : Json(nullptr)},
            {"plan_number_guess", plan ? Json(*plan) : Json(nullptr)},
        });
    }
    return Json{{"directory", directory}, {"files", std::move(items)}};
}

}  // namespace LocalTools
