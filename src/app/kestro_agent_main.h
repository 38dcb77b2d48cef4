#pragma once

#include <string>
#include <vector>

// The process entry: one executable, three modes chosen once at start.
//   "--mcp"      the stdio MCP server an assistant starts (wins over --version)
//   "--version"  prints the version and exits
//   otherwise    the menu-bar application
struct KestroAgentMain {
    enum class Mode { mcp, version, menuBar };

    // Arguments are matched exactly, anywhere in the list; others are ignored.
    static Mode modeFor(const std::vector<std::string>& args);

    // Whether an MCP server should start the menu-bar application: only when
    // none runs, this executable sits inside an application bundle and there
    // is a display to show it on.
    static bool shouldLaunchMenuBar(bool anotherInstanceRuns, const std::string& bundlePath, bool displayAvailable);

    // An X or Wayland display named in the environment this process got.
    static bool displayAvailable();

    // The tray application's own executable, beside the agent's.
    static std::string guiExecutableFor(const std::string& agentExecutable);

    static int main(int argc, char** argv);
};
