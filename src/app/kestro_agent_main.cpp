#include "app/kestro_agent_main.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "config/config_store.h"
#include "core/version.h"
#include "mcp/mcp_server.h"
#include "platform/descriptor_input.h"
#include "platform/detached_launch.h"
#include "platform/instance_lock.h"
#include "platform/platform_paths.h"

namespace {

void launchMenuBarIfAbsent() {
    std::string exe = currentExecutablePath();
    if (!KestroAgentMain::shouldLaunchMenuBar(InstanceLock::heldByAnother(), PlatformPaths::bundlePath(exe),
                                              KestroAgentMain::displayAvailable()))
        return;
    // "--background": the user did not ask for it, so it must not bring a
    // panel forward. A failed launch must not keep the server from starting.
    DetachedLaunch::start({exe, PlatformPaths::kBackgroundArgument});
}

int runMcp() {
    // Replies must reach the assistant as soon as each line is complete.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::ios::sync_with_stdio(false);
    // An assistant that goes away closes our stdout; the write then fails and
    // the server stops instead of being killed by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    launchMenuBarIfAbsent();
    // Not tied to the output: the server flushes its replies itself (held
    // only while more requests already wait), so a read need not flush.
    DescriptorInput input(STDIN_FILENO);
    std::istream in(&input);
    MCPServer server(ConfigStore::load(), in, std::cout, std::cerr);
    return server.run();
}

// The tray application is a program of its own beside this one, so that the
// MCP server and --version never load the GUI toolkit. It takes the instance
// lock itself and hands a second launch over to the running copy.
int runMenuBar(char** argv) {
    std::string gui = KestroAgentMain::guiExecutableFor(PlatformPaths::executablePath());
    argv[0] = gui.data();
    ::execv(gui.c_str(), argv);
    std::cerr << "[kestro-agent] impossible de lancer " << gui << " : " << std::strerror(errno) << "\n";
    return 1;
}

// Appends one line saying which file was started, then ends: lets an
// installation check prove which executable a relaunch ran, without starting
// the application itself.
int recordStart(const char* probeFile, const std::vector<std::string>& args) {
    struct stat st {};
    ::stat("/proc/self/exe", &st);
    std::string line = std::string(kAppVersion) + " " + std::to_string(st.st_ino) + " " + currentExecutablePath();
    for (size_t i = 1; i < args.size(); ++i) line += " " + args[i];
    line += "\n";
    if (std::FILE* file = std::fopen(probeFile, "a")) {
        std::fputs(line.c_str(), file);
        std::fclose(file);
    }
    return 0;
}

}  // namespace

std::string KestroAgentMain::guiExecutableFor(const std::string& agentExecutable) {
    auto slash = agentExecutable.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : agentExecutable.substr(0, slash + 1);
    return folder + PlatformPaths::kGuiExecutableName;
}

KestroAgentMain::Mode KestroAgentMain::modeFor(const std::vector<std::string>& args) {
    for (const auto& a : args)
        if (a == "--mcp") return Mode::mcp;
    for (const auto& a : args)
        if (a == "--version") return Mode::version;
    return Mode::menuBar;
}

bool KestroAgentMain::shouldLaunchMenuBar(bool anotherInstanceRuns, const std::string& bundlePath,
                                          bool displayAvailable) {
    // Without a display the application could only abort; an assistant that
    // drops the display variables would start one such failure per server.
    return !anotherInstanceRuns && displayAvailable && bundlePath.ends_with(".app");
}

bool KestroAgentMain::displayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"})
        if (const char* value = std::getenv(name); value && *value) return true;
    return false;
}

int KestroAgentMain::main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    if (const char* probe = std::getenv("KESTRO_AGENT_START_PROBE"); probe && *probe) return recordStart(probe, args);
    switch (modeFor(args)) {
        case Mode::mcp:
            return runMcp();
        case Mode::version:
            std::fputs(kAppVersion, stdout);
            std::fputs("\n", stdout);
            return 0;
        case Mode::menuBar:
            return runMenuBar(argv);
    }
    return 0;
}
