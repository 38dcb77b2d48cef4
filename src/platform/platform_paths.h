#pragma once

#include <string>

// Where the agent's files live on this desktop. Read from the environment on
// every call, so tests point HOME and XDG_CONFIG_HOME at a temporary folder.
namespace PlatformPaths {

// $HOME, else the password database's home folder.
std::string home();

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string configHome();

// The folder of the per-user lock: the login session's runtime folder,
// /run/user/<uid> found from the uid, when it exists and is ours; else
// `fallback`. Never $XDG_RUNTIME_DIR: assistants start their servers with a
// reduced environment, and a server must find the lock the application took.
std::string runtimeDir(const std::string& fallback);

// Where the per-uid runtime folders are: "/run/user". Tests, which must not
// meet the user's own application, name another folder in
// KESTRO_AGENT_RUN_USER_DIR.
std::string runUserRoot();

// The tray application runs as a helper executable of its own, so that the
// MCP server never loads the GUI toolkit.
inline constexpr const char* kGuiExecutableName = "kestro-agent-gui";
// Marks a launch of the tray application that nobody asked for (an MCP
// server's): it starts the application but never brings a panel forward.
inline constexpr const char* kBackgroundArgument = "--background";
// Marks the launch of a freshly installed update: the copy that installed it
// is still ending, so its lock is waited for, and the panel comes back to
// show the user the new version.
inline constexpr const char* kAfterUpdateArgument = "--after-update";

// The absolute path of the agent's executable, symbolic links resolved: the
// running one, except that the tray application's helper names the
// kestro-agent beside it. Whatever is written for others to start (the
// assistants' entries, start at login, the relaunch) must be the program that
// has all three modes.
std::string executablePath();

// `running` itself, or the kestro-agent beside it when `running` is the GUI helper.
std::string agentExecutableFor(const std::string& running);

// The application bundle that holds `executable`: the nearest ancestor folder
// whose name ends in ".app", else the executable's own folder.
std::string bundlePath(const std::string& executable);

// The menu-bar application is installed under this folder ("/Applications/"
// on macOS).
inline constexpr const char* kInstallRoot = "/opt/";
inline constexpr const char* kMacInstallRoot = "/Applications/";

}  // namespace PlatformPaths
