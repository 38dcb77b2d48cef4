#include "core/json.h"

#include <cmath>

namespace JSON {
namespace {

bool allNumbersFinite(const Json& value) {
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    if (value.is_structured()) {
        for (const auto& member : value)
            if (!allNumbersFinite(member)) return false;
    }
    return true;
}

// Nesting depth outside string literals, computed without building anything,
// so an absurdly deep line is refused before the parser sees it.
bool nestingWithin(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return false;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return true;
}

}  // namespace

std::string encode(const Json& value, bool pretty) {
    if (!value.is_structured() || !allNumbersFinite(value)) return "null";
    try {
        return value.dump(pretty ? 2 : -1, ' ', false, Json::error_handler_t::strict);
    } catch (const Json::exception&) {
        return "null";  // a string member that is not valid UTF-8
    }
}

std::string withoutLayout(std::string_view indented) {
    std::string compact;
    compact.reserve(indented.size());
    bool inString = false;
    for (size_t i = 0; i < indented.size(); ++i) {
        char c = indented[i];
        if (inString) {
            if (c == '\\' && i + 1 < indented.size()) {
                compact += c;
                c = indented[++i];
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == ' ' || c == '\n') {
            continue;
        } else if (c == '"') {
            inString = true;
        }
        compact += c;
    }
    return compact;
}

std::optional<Json> decode(std::string_view text) {
    // A NUL byte is never valid JSON, but the parser would stop at it and
    // accept what came before.
    if (text.find('\0') != std::string_view::npos) return std::nullopt;
    if (!nestingWithin(text, kMaxDepth)) return std::nullopt;
    Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded() || !value.is_structured()) return std::nullopt;
    return value;
}

}  // namespace JSON
