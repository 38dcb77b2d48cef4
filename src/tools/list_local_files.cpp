#include <algorithm>
#include <limits>

#include "core/tool_args.h"
#include "core/unicode_text.h"
#include "tools/local.h"
#include "tools/local_tool_args.h"
#include "tools/local_tool_handlers.h"
#include "tools/tool_context.h"

namespace LocalTools {
namespace {

// Assistants cut a long tool result (some keep 10 KiB, others about 100 000
// characters) and reason on what is left without knowing it. A page of 200
// files stays within the larger of those; the largest page a caller may ask
// for is five times that.
constexpr int64_t kDefaultLimit = 200;
constexpr int64_t kMaxLimit = 1000;

// Which part of the folder's listing a call asks for.
struct PageRequest {
    int64_t offset;
    int64_t limit;
    std::optional<std::string> nameContains;
};

PageRequest pageRequest(const Json& args) {
    using LocalToolArgs::integerSetting;
    return PageRequest{
        .offset = integerSetting(args, "offset", 0, 0, std::numeric_limits<int64_t>::max(),
                                 "offset doit être un entier positif ou nul : le nombre de fichiers à sauter "
                                 "(0 pour le début de la liste)."),
        .limit = integerSetting(args, "limit", kDefaultLimit, 1, kMaxLimit,
                                "limit doit être un entier de 1 à 1000 : le nombre de fichiers par page."),
        .nameContains = LocalToolArgs::textSetting(args, "name_contains",
                                                   "name_contains doit être un texte : une partie du nom cherché."),
    };
}

// Case and spelling variants aside ("PLAN" finds plan_01.jpg, "Séq" finds
// the names a Mac wrote with decomposed accents).
void keepNamesContaining(std::vector<LocalFile>& files, const std::string& part) {
    const std::string wanted = UnicodeText::folded(part);
    std::erase_if(
        files, [&](const LocalFile& file) { return UnicodeText::folded(file.name).find(wanted) == std::string::npos; });
}

// Built member by member and from moved strings: initializer lists would copy
// every value twice.
Json fileObject(LocalFile& file) {
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
    return item;
}

// Tells the assistant, in the result itself, that the list goes on and how to
// ask for the rest.
std::string nextHint(size_t first, size_t end, size_t total) {
    return "Liste partielle : fichiers " + std::to_string(first + 1) + " à " + std::to_string(end) + " sur " +
           std::to_string(total) + ". Pour la suite, rappelle list_local_files avec les mêmes arguments et offset " +
           std::to_string(end) + ".";
}

}  // namespace

// Read-only: what is in one folder, with what the other tools will make of
// each file (its kind and the plan number its name suggests), one page at a
// time in the folder's order. "total" counts the files that match before the
// page is cut; "next_offset" and "next" are there only when files remain.
Json listLocalFiles(const Json& args, ToolContext&) {
    const PageRequest page = pageRequest(args);
    std::string folder = LocalToolArgs::path(args, "directory");
    auto [directory, files] = Local::list(folder, Local::exts(strArg(args, "type")));
    if (page.nameContains) keepNamesContaining(files, *page.nameContains);

    const size_t total = files.size();
    const size_t first = static_cast<size_t>(std::min<int64_t>(page.offset, static_cast<int64_t>(total)));
    const size_t end = first + std::min(static_cast<size_t>(page.limit), total - first);
    Json items = Json::array();
    auto& array = items.get_ref<Json::array_t&>();
    array.reserve(end - first);
    for (size_t i = first; i < end; ++i) array.emplace_back(fileObject(files[i]));

    Json result{{"directory", directory}, {"files", std::move(items)}, {"total", total}};
    if (end < total) {
        result["next_offset"] = end;
        result["next"] = nextHint(first, end, total);
    }
    return result;
}

}  // namespace LocalTools
