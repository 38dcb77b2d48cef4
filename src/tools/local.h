#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/local_file.h"

// The small file-system layer under the local tools: paths as an assistant
// writes them, one file, one folder listed the way a file browser shows it,
// and what a file's name tells about it. Stateless; every failure is a
// ToolError ("file_not_found", "not_a_file", "dir_not_found").
namespace Local {

// Canonical form of a path an assistant wrote: surrounding white space and
// line breaks removed, a "file://" prefix dropped (percent escapes are kept),
// a leading "~" replaced by the home folder, then doubled slashes, "."
// components and a trailing slash removed and ".." resolved in absolute paths.
// A relative path stays relative. Never fails.
std::string expand(const std::string& path);

// The regular file at `path` (links followed). Throws "file_not_found" when
// nothing is there and "not_a_file" for a folder or anything that is not a
// regular file, the message naming the expanded path.
LocalFile stat(const std::string& path);

// The expanded folder path and its regular files (links followed) whose
// lower-cased extension is one of `exts`: hidden names and sub-folders are
// skipped, nothing is entered, and the files come in file-browser order
// (case ignored, digit runs by value, equal names in listing order). An
// unreadable folder lists nothing; a missing one throws "dir_not_found".
// Files whose names are not UTF-8 cannot be named in a reply and are left
// out; when `notUtf8` is given, it receives their names made readable
// (invalid bytes as U+FFFD), in byte order, so that a tool can say so.
std::pair<std::string, std::vector<LocalFile>> list(const std::string& folder, const std::vector<std::string>& exts,
                                                    std::vector<std::string>* notUtf8 = nullptr);

// "image", "video", "audio" or "document" for a lower-case extension without
// its dot; nothing when no table holds it.
std::optional<std::string> kind(const std::string& ext);

// The extensions a list_local_files "type" asks for: "image", "video",
// "audio" or "document" exactly; anything else, or nothing, gives all 29.
const std::vector<std::string>& exts(const std::optional<std::string>& type);

// The storyboard plan number a file name suggests, 0 to 999: "plan" followed
// by digits first (v2_plan_05 → 5), then a whole word P and digits (P3), then
// the first run of digits anywhere; at most three digits are read
// (shot1234 → 123). Nothing when the name holds no number.
std::optional<int> planNumber(const std::string& name);

// The name without its last extension, every run of "_" and "-" turned into
// one space; nothing else changed.
std::string stemAsPrompt(const std::string& name);

// ISO 8601 in UTC with whole seconds, e.g. 2026-12-08T12:02:07Z.
std::string iso(std::chrono::sys_seconds date);

// Last path component and extension (lower-cased, no dot) of a path, as the
// listing and the tools see them.
std::string lastPathComponent(const std::string& path);
std::string pathExtension(const std::string& name);

}  // namespace Local
