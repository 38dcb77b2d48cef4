#include "platform/assistant_locations.h"

#include <dirent.h>

#include <algorithm>

namespace AssistantLocations {
namespace {

// On Linux the desktop assistants have no fixed install folder; the folder each
// one creates under the home on its first run is the surest sign it is there,
// with the usual package locations tried first.
const std::vector<Location> kLinux = {
    {"claude", {"/usr/bin/claude-desktop", "~/.config/Claude"}, "~/.config/Claude/claude_desktop_config.json"},
    {"chatgpt", {"/usr/bin/codex", "/usr/local/bin/codex", "~/.codex"}, "~/.codex/config.toml", {"codex"}},
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

std::vector<std::string> commandPaths(const std::string& command, const std::string& home,
                                      const std::string& searchPath) {
    std::vector<std::string> folders;
    size_t start = 0;
    while (start <= searchPath.size()) {
        size_t colon = std::min(searchPath.find(':', start), searchPath.size());
        std::string folder = searchPath.substr(start, colon - start);
        // An empty or relative entry names the working folder, which says
        // nothing about what this user has installed.
        if (!folder.empty() && folder[0] == '/') folders.push_back(folder);
        start = colon + 1;
    }
    folders.push_back(home + "/.local/bin");
    folders.push_back(home + "/.npm-global/bin");
    std::string nodes = home + "/.nvm/versions/node";
    if (DIR* dir = ::opendir(nodes.c_str())) {
        std::vector<std::string> versions;
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') versions.push_back(nodes + "/" + entry->d_name + "/bin");
        ::closedir(dir);
        std::sort(versions.begin(), versions.end());
        folders.insert(folders.end(), versions.begin(), versions.end());
    }
    std::vector<std::string> paths;
    for (const auto& folder : folders) paths.push_back(folder + (folder.back() == '/' ? "" : "/") + command);
    return paths;
}

}  // namespace AssistantLocations
