#pragma once

#include <functional>
#include <optional>
#include <string>

// Puts a new application bundle in place of the installed one so that the
// user is never left without an application:
//
//   target ──rename──> aside          (1) fails: nothing changed
//   incoming ──rename──> target       (2) fails: aside renamed back to target
//   remove aside                      (3) only once the new bundle is in place
//
// Renames are atomic only within one file system, so `incoming` and the aside
// name live in the target's own folder.
namespace BundleSwap {

using Rename = std::function<int(const std::string& from, const std::string& to)>;

// Why the bundle at `target` cannot be replaced by this user (its folder or
// one of its own folders is not writable, it is not a folder), or nothing
// when it can. Checked before anything big is downloaded.
std::optional<std::string> whyNotReplaceable(const std::string& target);

// Replaces `target` with `incoming` through `aside` (which must not exist).
// Nothing on success; else the reason, with `target` as it was. `rename` is
// ::rename unless a test needs a failing one.
std::optional<std::string> replace(const std::string& target, const std::string& incoming, const std::string& aside,
                                   const Rename& rename = {});

}  // namespace BundleSwap
