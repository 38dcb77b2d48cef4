#pragma once

#include <string>
#include <vector>

#include "platform/desktop_system.h"

// Where each known AI assistant keeps its program and its configuration file,
// per desktop system. Only the places live here; what the assistants are called
// and how their files are written belongs to the assistant catalogue.
//
// A path that begins with "~" is under the user's home folder: the home is
// joined to the text after the "~" without a separator ("~/.codex").
namespace AssistantLocations {

using System = DesktopSystem;
inline constexpr System kCurrent = kCurrentDesktop;

struct Location {
    std::string key;                    // the catalogue key it belongs to
    std::vector<std::string> appPaths;  // any of them existing means installed
    std::string configPath;
    std::vector<std::string> commands;  // programs looked for with commandPaths, as more appPaths
};

// The locations of `system`, one per assistant the agent knows.
const std::vector<Location>& table(System system);

// `path` with a leading "~" replaced by `home`.
std::string resolve(const std::string& path, const std::string& home);

// Where a command-line program may be: in each absolute folder of `searchPath`
// (a PATH value; empty and relative entries skipped), then in the folders
// where npm puts one user's global commands (~/.local/bin, ~/.npm-global/bin,
// the bin folder of each Node under ~/.nvm/versions/node). A program started
// from the desktop often has a short PATH, hence the latter.
std::vector<std::string> commandPaths(const std::string& command, const std::string& home,
                                      const std::string& searchPath);

}  // namespace AssistantLocations
