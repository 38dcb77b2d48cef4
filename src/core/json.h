#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

// Every message, argument, tool result and service reply is held as a plain
// JSON value. A "JSON object" is a value whose is_object() is true.
using Json = nlohmann::json;

namespace JSON {

// Deepest nesting accepted by decode. Deeper documents are refused rather than
// risking the stack when they are later copied, echoed or destroyed.
inline constexpr int kMaxDepth = 512;

// Text of a top-level object or array, slashes left unescaped; compact, or
// indented when `pretty`. Anything that is not such a document (a bare scalar,
// a non-finite number, a string that is not UTF-8) gives "null".
std::string encode(const Json& value, bool pretty = false);

// The compact text of a document from its indented text as `encode` writes it
// (`encode(v, true)` gives `encode(v)`): blanks and line breaks outside strings
// dropped, far cheaper than writing a large value a second time.
std::string withoutLayout(std::string_view indented);

// Strict UTF-8 JSON whose top level is an object or an array; nothing otherwise.
std::optional<Json> decode(std::string_view text);

}  // namespace JSON
