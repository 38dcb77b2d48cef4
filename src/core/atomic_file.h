#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// Files that other programs read (the configuration, the manifest cache, the
// assistants' files) are replaced whole: a reader sees the old content or the
// new one, never a mix, and a failed write leaves the old file untouched.
//
// Every write goes through a temporary file beside its target, named
// ".<name>.kestro-tmp.XXXXXX" and held under an exclusive flock(2) for as long
// as its writer uses it. A process killed mid-write leaves its temporary file
// behind but not its lock, so the next write beside the same target removes
// every unlocked temporary of that target and never one a live writer holds.
namespace AtomicFile {

// Writes `bytes` to a temporary file beside `path`, created with `mode` before
// any byte is written (so a secret is never readable by others, even for a
// moment), flushes it to disk and renames it over `path`. False on any failure,
// in which case `path` is unchanged and the temporary file is gone.
bool write(const std::string& path, const std::string& bytes, mode_t mode);

// Writes `bytes` as the new file `path`, whole or not at all: the content goes
// to a temporary file first and is linked into place only once complete, and
// an existing `path` is never replaced. False when `path` exists or on any
// failure; no temporary file is left either way. The temporary file is named
// after `temporariesOf` (a file of the same folder; `path` when empty), so that
// the next write of that file removes one a killed writer left.
bool writeNew(const std::string& path, const std::string& bytes, mode_t mode, const std::string& temporariesOf = {});

// Removes the temporary files of `path` left by writers that died; those a
// live writer holds stay. `write` and `writeNew` do this themselves.
void removeStaleTemporaries(const std::string& path);

// The prefix of every temporary file name of `path` (a full path).
std::string temporaryPrefix(const std::string& path);

// The whole content of a regular file, or nothing when it cannot be read.
std::optional<std::string> read(const std::string& path);

// Creates `dir` and its missing parents with `mode`; existing folders keep
// theirs. True when the folder exists afterwards.
bool makeDirs(const std::string& dir, mode_t mode);

}  // namespace AtomicFile
