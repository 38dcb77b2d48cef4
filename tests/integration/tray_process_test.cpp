// The modes of the real binary that concern the tray application: the server
// never loads Qt, the no-argument mode runs the GUI program, and one copy per
// user takes every later launch.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "agent_process.h"
#include "platform/instance_lock.h"
#include "platform/platform_paths.h"
#include "running_programs.h"
#include "temp_home.h"

namespace fs = std::filesystem;
using Ms = std::chrono::milliseconds;

namespace {

bool anyQt(const std::vector<std::string>& libs) { return anyNamed(libs, "libQt"); }

// Polls `done` every 25 ms for at most `timeout`.
template <typename F>
bool waitFor(F done, Ms timeout = Ms(15000)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(Ms(25));
    }
    return true;
}

std::string exeOf(pid_t pid) {
    std::error_code ec;
    return fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
}

const std::map<std::string, std::string> kOffscreen{{"QT_QPA_PLATFORM", "offscreen"}};

TEST(TrayProcess, McpServerMapsNoQtLibraryNorLibcurlBeforeItReachesTheService) {
    TempHome home;
    AgentProcess agent({"--mcp"});
    agent.writeLine(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{}})");
    ASSERT_TRUE(agent.readLine()) << "the server answered, so it is fully started";
    std::vector<std::string> libs = mappedLibraries(agent.pid());
    ASSERT_FALSE(libs.empty());
    EXPECT_FALSE(anyQt(libs));
    EXPECT_FALSE(anyNamed(libs, "libcurl")) << "no manifest to fetch, no tool call yet";
    EXPECT_EQ(agent.finish(), 0);
}

TEST(TrayProcess, VersionLoadsNeitherQtNorLibcurl) {
    TempHome home;
    // The dynamic loader names every object it loads when asked to.
    AgentProcess agent({"--version"}, {{"LD_DEBUG", "files"}});
    EXPECT_EQ(agent.finish(), 0);
    EXPECT_EQ(agent.pendingStdout(), "1.1.4\n");
    EXPECT_NE(agent.stderrText().find("libc.so"), std::string::npos) << "the loader did report";
    EXPECT_EQ(agent.stderrText().find("libQt"), std::string::npos);
    EXPECT_EQ(agent.stderrText().find("libcurl"), std::string::npos);
}

TEST(TrayProcess, NoArgumentRunsTheGuiProgramHoldingTheLock) {
    if (!AgentProcess::guiProgramBuilt()) GTEST_SKIP() << "built without the tray application";
    TempHome home;
    AgentProcess first({}, kOffscreen);
    ASSERT_TRUE(waitFor([] { return InstanceLock::heldByAnother(); }));
    EXPECT_EQ(fs::path(exeOf(first.pid())).filename(), PlatformPaths::kGuiExecutableName);
    EXPECT_TRUE(anyQt(mappedLibraries(first.pid())));

    // Later launches, by the user or in the background, hand over and end.
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"--background"}}) {
        AgentProcess second(args, kOffscreen);
        EXPECT_EQ(second.finish(Ms(15000)), 0);
        EXPECT_EQ(second.pendingStdout(), "");
    }
    EXPECT_EQ(::kill(first.pid(), 0), 0) << "the first copy still runs";
    EXPECT_TRUE(InstanceLock::heldByAnother());
}

TEST(TrayProcess, LookalikeArgumentsStartTheTrayApplication) {
    if (!AgentProcess::guiProgramBuilt()) GTEST_SKIP() << "built without the tray application";
    for (auto arg : {"-mcp", "--MCP", "--mcp=1", "--Version"}) {
        TempHome home;
        AgentProcess agent({arg}, kOffscreen);
        EXPECT_TRUE(waitFor([] { return InstanceLock::heldByAnother(); })) << arg;
        EXPECT_EQ(agent.pendingStdout(), "") << arg;
    }
}

// Assistants start their servers with a handful of variables: the lock must
// be found where the application took it whatever either process inherited.
TEST(TrayProcess, TheLockIsFoundWhateverEnvironmentEachProcessGot) {
    if (!AgentProcess::guiProgramBuilt()) GTEST_SKIP() << "built without the tray application";
    TempHome home;
    const std::string session = home.makeSessionFolder();
    std::map<std::string, std::string> env = kOffscreen;
    env["XDG_RUNTIME_DIR"] = home.path() + "/run";
    AgentProcess app({}, env);
    ::unsetenv("XDG_RUNTIME_DIR");  // as a server started by such an assistant sees it
    EXPECT_TRUE(waitFor([] { return InstanceLock::heldByAnother(); }));
    EXPECT_TRUE(fs::exists(session + "/io.kestro.agent.lock"));
}

}  // namespace
