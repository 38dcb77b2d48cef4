#pragma once

#include <functional>
#include <optional>
#include <string>

// Puts a new application bundle in place of the installed one so that the
// user is never left without an application. Two ways, both made of renames
// within one file system, each undone on failure:
//
//   whole folder (the bundle's folder is writable, e.g. a prefix of ours):
//     target ──> aside          fails: nothing changed
//     incoming ──> target       fails: aside renamed back to target
//     remove aside              only once the new bundle is in place
//
//   contents (only the bundle itself is ours, as in a root-owned /opt):
//     each entry of target ──> aside/       fails: those moved go back
//     each entry of incoming ──> target/    fails: new ones out, old ones back
//     remove aside
//
// `incoming` and `aside` must be on the target's file system: beside it for
// the first way, inside it for the second.
namespace BundleSwap {

using Rename = std::function<int(const std::string& from, const std::string& to)>;

enum class Way { wholeFolder, contents };

// How this user can replace the bundle at `target`, or why not at all (it is
// not a folder, or neither it nor its folder is writable, or one of its own
// folders is not, which would leave the old one half-removed). Checked
// before anything big is downloaded.
struct Plan {
    std::optional<Way> way;
    std::string whyNot;  // when there is no way
};
Plan plan(const std::string& target);

// Replaces `target` with `incoming` (a bundle folder) the way given; `aside`
// must not exist. Nothing on success; else the reason, with `target` as it
// was. `rename` is ::rename unless a test needs a failing one. In the
// contents way an entry of `target` named like the first component of
// `aside` (the working folder inside it) is left where it is.
std::optional<std::string> replace(Way way, const std::string& target, const std::string& incoming,
                                   const std::string& aside, const Rename& rename = {});

}  // namespace BundleSwap
