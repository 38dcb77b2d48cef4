#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// Files that other programs read (the configuration, the manifest cache, the
// assistants' files) are replaced whole: a reader sees the old content or the
// new one, never a mix, and a failed write leaves the old file untouched.
namespace AtomicFile {

// Writes `bytes` to a temporary file beside `path`, created with `mode` before
// any byte is written (so a secret is never readable by others, even for a
// moment), flushes it to disk and renames it over `path`. False on any failure,
// in which case `path` is unchanged and the temporary file is gone.
bool write(const std::string& path, const std::string& bytes, mode_t mode);

// The whole content of a regular file, or nothing when it cannot be read.
std::optional<std::string> read(const std::string& path);

// Creates `dir` and its missing parents with `mode`; existing folders keep
// theirs. True when the folder exists afterwards.
bool makeDirs(const std::string& dir, mode_t mode);

}  // namespace AtomicFile
