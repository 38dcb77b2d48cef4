#pragma once

#include <chrono>
#include <string>
#include <vector>

// Starts a program that outlives us and is never waited for: its own session
// (so the assistant's terminal signals do not reach it), standard streams on
// /dev/null (so it can never write into the MCP protocol stream), and a double
// fork so it is not left as our zombie when it exits first.
namespace DetachedLaunch {

// `argv[0]` is the program path. True when the intermediate child started; the
// program's own exec failure is not reported, as nothing waits for it.
bool start(const std::vector<std::string>& argv);

// The same, the program being executed only `delay` after the call returns:
// the child waits, then replaces itself with the program. No shell is
// involved, so nothing in a path is ever interpreted.
bool startAfter(const std::vector<std::string>& argv, std::chrono::milliseconds delay);

// The same, started at once and watched for `watch`: false when it could not
// be started, or ended in failure (including a failed exec) within that
// time; true when it ended well or still runs. Blocks for at most `watch`.
bool startWatched(const std::vector<std::string>& argv, std::chrono::milliseconds watch);

}  // namespace DetachedLaunch
