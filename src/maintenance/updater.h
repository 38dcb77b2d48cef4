#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Self-update of the installed application bundle from the release the
// service announces in its manifest. No state; every operation blocks and is
// meant for a background thread.
namespace Updater {

using StatusReporter = std::function<void(const std::string&)>;

// The announced version when it is newer than kAppVersion, else none. Blocks
// for at most the manifest's time-out.
std::optional<std::string> available(const std::string& baseUrl);

// Reads the announcement, downloads the archive, checks its digest, unpacks
// it and puts the new bundle in place of the running one, then sets the
// relaunch in motion. Reports its progress through `status`, synchronously.
// True only when the new bundle is installed and the relaunch started (the
// process is then about to quit).
bool checkAndInstall(const std::string& baseUrl, const StatusReporter& status);

// True when `a` is strictly newer than `b`.
bool isNewer(const std::string& a, const std::string& b);

// Lower-case hexadecimal SHA-256 of the file's bytes; none when it cannot be read.
std::optional<std::string> sha256(const std::string& path);

// Runs a program (no shell), waits for it, output discarded; its exit status,
// or -1 when it could not be started.
int run(const std::string& program, const std::vector<std::string>& args);

}  // namespace Updater
