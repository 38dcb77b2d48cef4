#pragma once

#include <string>

// Where the agent's files live on this desktop. Read from the environment on
// every call, so tests point HOME and XDG_CONFIG_HOME at a temporary folder.
namespace PlatformPaths {

// $HOME, else the password database's home folder.
std::string home();

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string configHome();

// The folder of the per-user lock: $XDG_RUNTIME_DIR when set, else `fallback`.
std::string runtimeDir(const std::string& fallback);

// The tray application runs as a helper executable of its own, so that the
// MCP server never loads the GUI toolkit.
inline constexpr const char* kGuiExecutableName = "kestro-agent-gui";
// Marks a launch of the tray application that nobody asked for (an MCP
// server's): it starts the application but never brings a panel forward.
inline constexpr const char* kBackgroundArgument = "--background";

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
