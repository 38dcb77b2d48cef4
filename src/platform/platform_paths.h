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

// The absolute path of the running executable, symbolic links resolved.
std::string executablePath();

// The application bundle that holds `executable`: the nearest ancestor folder
// whose name ends in ".app", else the executable's own folder.
std::string bundlePath(const std::string& executable);

// The menu-bar application is installed under this folder ("/Applications/"
// on macOS).
inline constexpr const char* kInstallRoot = "/opt/";
inline constexpr const char* kMacInstallRoot = "/Applications/";

}  // namespace PlatformPaths
