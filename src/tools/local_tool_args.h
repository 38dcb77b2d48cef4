#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/json.h"
#include "core/tool_error.h"

// How every local tool reads its arguments and shapes what it sends and
// returns, so that the six tools answer alike. Arguments are read only through
// the lenient readers of core/tool_args.h; keys a tool does not name are
// ignored.
namespace LocalToolArgs {

// A "path" or "directory": absent or unreadable reads as the empty path,
// which the file layer then reports as not found.
std::string path(const Json& args, const std::string& key);

// A required identifier ("plan_id", "workspace_id", "sequence_id"); throws
// "missing_argument" with "<key> requis." when it cannot be read.
int64_t requiredId(const Json& args, const std::string& key);

// An optional text: present only when it reads as a non-empty string; never
// trimmed.
std::optional<std::string> optionalText(const Json& args, const std::string& key);

// An optional integer ("card_id", "folder_id"): present when it reads.
std::optional<int64_t> optionalInt(const Json& args, const std::string& key);

// An optional setting of a listing ("offset", "limit"): `fallback` when absent
// or null; an integer from `min` to `max` when given. Anything else given
// throws "invalid_argument" with `rule`, since a listing made without the
// setting asked for would look right and be wrong.
int64_t integerSetting(const Json& args, const std::string& key, int64_t fallback, int64_t min, int64_t max,
                       const std::string& rule);

// An optional text setting ("name_contains"): nothing when absent, null or
// empty; throws "invalid_argument" with `rule` when given as anything that
// does not read as a text.
std::optional<std::string> textSetting(const Json& args, const std::string& key, const std::string& rule);

// The object handed to the upload pipeline's finalize step: "target" ("plan",
// "card" or "media"), then only the keys a tool sets, never an empty one.
Json finalizeObject(const std::string& target);
void setIfPresent(Json& object, const std::string& key, const std::optional<std::string>& text);
void setIfPresent(Json& object, const std::string& key, const std::optional<int64_t>& number);

// A value copied from a service reply: the reply's value, or null when it
// lacks the key (or is not an object).
Json copied(const Json& reply, const std::string& key);

// What a single-file tool returns: the upload's result with "file" set to the
// local file's name.
Json withFileName(Json uploadResult, const std::string& fileName);

// One file of a batch left behind because its name is not UTF-8 (given here
// made readable): what goes into the batch's "skipped_files".
Json skippedNotUtf8(const std::string& readableName);

// One file of a batch that the service refused: its code under "error" and
// its message under "message"; the batch goes on.
void recordFailure(Json& entry, const ToolError& error);

}  // namespace LocalToolArgs
