#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Self-update of the installed application bundle from the release the
// service announces in its manifest. No state; every operation blocks and is
// meant for a background thread.
namespace Updater {

using StatusReporter = std::function<void(const std::string&)>;

// Asked, once a new bundle is installed and its start is under way, to end
// this process `delay` from now (the new one starts a moment later). The
// tray application sets one that quits through its main queue; without one,
// the process receives SIGTERM after the delay.
using QuitRequest = std::function<void(std::chrono::milliseconds delay)>;
inline constexpr std::chrono::milliseconds kQuitDelay{300};
inline constexpr std::chrono::milliseconds kRelaunchDelay{1000};

// The hook used by checkAndInstall when its options name none. Set once, at
// start, before any update runs.
void setQuitRequest(QuitRequest quit);

// What checkAndInstall works on. The defaults describe the running program;
// tests point them at a bundle of their own.
struct InstallOptions {
    std::string executable;   // the running executable; empty: this process's
    std::string bundle;       // the bundle to replace; empty: the ".app" folder holding `executable`
    std::string tempDir;      // where the download goes; empty: $TMPDIR, else /tmp
    long idleSeconds = 60;    // a download silent this long fails
    uint64_t maxUnpackedBytes = uint64_t(4) << 30;
    // Starts the new bundle's executable (argv[0]) `kRelaunchDelay` later;
    // empty: a detached child without a shell. False when it could not start.
    std::function<bool(const std::vector<std::string>& argv)> relaunch;
    QuitRequest quit;         // empty: the hook of setQuitRequest
};

// The announced version when it is newer than kAppVersion, else none. Blocks
// for at most the manifest's time-out.
std::optional<std::string> available(const std::string& baseUrl);

// Reads the announcement, downloads the archive, checks its digest, unpacks
// it and puts the new bundle in place of the running one, then sets the
// relaunch in motion. Reports its progress through `status`, synchronously.
// True only when the new bundle is installed and the relaunch started (the
// process is then about to quit).
bool checkAndInstall(const std::string& baseUrl, const StatusReporter& status);
bool checkAndInstall(const std::string& baseUrl, const StatusReporter& status, const InstallOptions& options);

// True when `a` is strictly newer than `b`.
bool isNewer(const std::string& a, const std::string& b);

// Lower-case hexadecimal SHA-256 of the file's bytes; none when it cannot be read.
std::optional<std::string> sha256(const std::string& path);

// Runs a program (no shell), waits for it, output discarded; its exit status,
// or -1 when it could not be started.
int run(const std::string& program, const std::vector<std::string>& args);

}  // namespace Updater
