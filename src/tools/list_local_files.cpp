#include "core/tool_args.h"
#include "tools/local.h"
#include "tools/local_tool_args.h"
#include "tools/local_tool_handlers.h"
#include "tools/tool_context.h"

namespace LocalTools {

// Read-only: what is in one folder, with what the other tools will make of
// each file (its kind and the plan number its name suggests). No count, no
// echo of the filter and no cap on the number of files.
Json listLocalFiles(const Json& args, ToolContext&) {
    std::string folder = LocalToolArgs::path(args, "directory");
    auto [directory, files] = Local::list(folder, Local::exts(strArg(args, "type")));
    // Built member by member and from moved strings: a folder may hold tens of
    // thousands of files, and initializer lists would copy every value twice.
    Json items = Json::array();
    auto& array = items.get_ref<Json::array_t&>();
    array.reserve(files.size());
    for (auto& file : files) {
        auto plan = Local::planNumber(file.name);
        auto kind = Local::kind(file.ext);
        Json::object_t item;
        item.emplace("ext", "." + file.ext);
        item.emplace("kind", kind ? Json(std::move(*kind)) : Json(nullptr));
        item.emplace("modified", Local::iso(file.modified));
        item.emplace("plan_number_guess", plan ? Json(*plan) : Json(nullptr));
        item.emplace("size", file.size);
        item.emplace("name", std::move(file.name));
        item.emplace("path", std::move(file.path));
        array.emplace_back(std::move(item));
    }
    return Json{{"directory", directory}, {"files", std::move(items)}};
}

}  // namespace LocalTools
