#include "app/kestro_agent_main.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <iostream>

#include "config/config_store.h"
#include "core/version.h"
#include "mcp/mcp_server.h"
#include "platform/detached_launch.h"
#include "platform/instance_lock.h"
#include "platform/platform_paths.h"

namespace {

void launchMenuBarIfAbsent() {
    std::string exe = currentExecutablePath();
    if (!KestroAgentMain::shouldLaunchMenuBar(InstanceLock::heldByAnother(), PlatformPaths::bundlePath(exe))) return;
    DetachedLaunch::start({exe});  // a failed launch must not keep the server from starting
}

int runMcp() {
    // Replies must reach the assistant as soon as each line is complete.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::ios::sync_with_stdio(false);
    // An assistant that goes away closes our stdout; the write then fails and
    // the server stops instead of being killed by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    launchMenuBarIfAbsent();
    MCPServer server(ConfigStore::load(), std::cin, std::cout, std::cerr);
    return server.run();
}

int runMenuBar() {
    InstanceLock lock;
    if (!lock.tryAcquire()) return 0;  // the menu-bar application already runs
    std::cerr << "[kestro-agent] l'application de barre de menus n'est pas incluse dans cette version ; "
                 "utilise --mcp ou --version.\n";
    return 0;
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

KestroAgentMain::Mode KestroAgentMain::modeFor(const std::vector<std::string>& args) {
    for (const auto& a : args)
        if (a == "--mcp") return Mode::mcp;
    for (const auto& a : args)
        if (a == "--version") return Mode::version;
    return Mode::menuBar;
}

bool KestroAgentMain::shouldLaunchMenuBar(bool anotherInstanceRuns, const std::string& bundlePath) {
    return !anotherInstanceRuns && bundlePath.ends_with(".app");
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
            return runMenuBar();
    }
    return 0;
}
