#include "tools/local_tool_args.h"

#include "core/tool_args.h"

namespace LocalToolArgs {

std::string path(const Json& args, const std::string& key) { return strArg(args, key).value_or(""); }

int64_t requiredId(const Json& args, const std::string& key) {
    if (auto id = intArg(args, key)) return *id;
    throw ToolError("missing_argument", key + " requis.");
}

std::optional<std::string> optionalText(const Json& args, const std::string& key) {
    auto text = strArg(args, key);
    if (!text || text->empty()) return std::nullopt;
    return text;
}

std::optional<int64_t> optionalInt(const Json& args, const std::string& key) { return intArg(args, key); }

namespace {

bool given(const Json& args, const std::string& key) {
    if (!args.is_object()) return false;
    auto it = args.find(key);
    return it != args.end() && !it->is_null();
}

}  // namespace

int64_t integerSetting(const Json& args, const std::string& key, int64_t fallback, int64_t min, int64_t max,
                       const std::string& rule) {
    if (!given(args, key)) return fallback;
    auto value = intArg(args, key);
    if (!value || *value < min || *value > max) throw ToolError("invalid_argument", rule);
    return *value;
}

std::optional<std::string> textSetting(const Json& args, const std::string& key, const std::string& rule) {
    if (!given(args, key)) return std::nullopt;
    auto text = strArg(args, key);
    if (!text) throw ToolError("invalid_argument", rule);
    if (text->empty()) return std::nullopt;
    return text;
}

Json finalizeObject(const std::string& target) { return Json{{"target", target}}; }

void setIfPresent(Json& object, const std::string& key, const std::optional<std::string>& text) {
    if (text && !text->empty()) object[key] = *text;
}

void setIfPresent(Json& object, const std::string& key, const std::optional<int64_t>& number) {
    if (number) object[key] = *number;
}

Json copied(const Json& reply, const std::string& key) {
    if (!reply.is_object()) return nullptr;
    auto it = reply.find(key);
    return it == reply.end() ? Json(nullptr) : *it;
}

Json withFileName(Json uploadResult, const std::string& fileName) {
    if (!uploadResult.is_object()) uploadResult = Json::object();
    uploadResult["file"] = fileName;
    return uploadResult;
}

Json skippedNotUtf8(const std::string& readableName) {
    return Json{{"file", readableName}, {"reason", "nom de fichier illisible (pas en UTF-8), non envoyé"}};
}

void recordFailure(Json& entry, const ToolError& error) {
    entry["error"] = error.code;
    entry["message"] = error.message;
}

}  // namespace LocalToolArgs
