#include "platform/assistant_locations.h"

namespace AssistantLocations {
namespace {

// On Linux the desktop assistants have no fixed install folder; the folder each
// one creates under the home on its first run is the surest sign it is there,
// with the usual package locations tried first.
const std::vector<Location> kLinux = {
    {"claude", {"/usr/bin/claude-desktop", "~/.config/Claude"}, "~/.config/Claude/claude_desktop_config.json"},
    {"chatgpt", {"/usr/bin/codex", "/usr/local/bin/codex", "~/.codex"}, "~/.codex/config.toml"},
    {"cursor", {"/usr/share/cursor", "/opt/Cursor", "~/.cursor"}, "~/.cursor/mcp.json"},
    {"claudecode", {"~/.claude.json", "~/.claude"}, "~/.claude.json"},
};

const std::vector<Location> kMac = {
    {"claude",
     {"/Applications/Claude.app", "~/Applications/Claude.app"},
     "~/Library/Application Support/Claude/claude_desktop_config.json"},
    {"chatgpt", {"/Applications/ChatGPT.app", "~/Applications/ChatGPT.app", "~/.codex"}, "~/.codex/config.toml"},
    {"cursor", {"/Applications/Cursor.app", "~/.cursor"}, "~/.cursor/mcp.json"},
    {"claudecode", {"~/.claude.json", "~/.claude"}, "~/.claude.json"},
};

}  // namespace

const std::vector<Location>& table(System system) { return system == System::macOS ? kMac : kLinux; }

std::string resolve(const std::string& path, const std::string& home) {
    if (!path.empty() && path[0] == '~') return home + path.substr(1);
    return path;
}

}  // namespace AssistantLocations
