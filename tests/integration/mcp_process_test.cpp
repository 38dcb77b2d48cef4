// The real kestro-agent binary, run over pipes the way an assistant runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "agent_process.h"
#include "config/config_store.h"
#include "core/json.h"
#include "platform/instance_lock.h"
#include "platform/platform_paths.h"
#include "running_programs.h"
#include "temp_home.h"

namespace fs = std::filesystem;
using Ms = std::chrono::milliseconds;

namespace {

Json reply(const std::string& line) {
    auto v = JSON::decode(line);
    EXPECT_TRUE(v && v->is_object()) << line;
    return v ? *v : Json();
}

TEST(AgentModes, VersionPrintsExactlyTheVersion) {
    TempHome home;
    AgentProcess agent({"--version"});
    EXPECT_EQ(agent.finish(), 0);
    EXPECT_EQ(agent.pendingStdout(), "1.1.4\n");
    EXPECT_EQ(agent.stderrText(), "");
}

TEST(AgentModes, McpWinsOverVersionWherePlaced) {
    TempHome home;
    for (auto args : {std::vector<std::string>{"--version", "--mcp"}, {"--mcp", "--version"}, {"x", "--mcp", "y"}}) {
        AgentProcess agent(args);
        agent.writeLine(R"({"jsonrpc":"2.0","id":1,"method":"ping"})");
        EXPECT_EQ(agent.finish(), 0);
        EXPECT_EQ(agent.pendingStdout(), "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n");
        EXPECT_NE(agent.stderrText().find("[kestro-agent] démarré v1.1.4"), std::string::npos);
    }
}

TEST(McpProcess, ProtocolSessionOverPipes) {
    TempHome home;
    McpSession s = runMcpSession({
        R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"1999-01-01"}})",
        R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
        "   ",
        "",
        "not json",
        R"([{"jsonrpc":"2.0","id":"a","method":"ping"},{"jsonrpc":"2.0","id":"b","method":"tools/list"}])",
        R"({"jsonrpc":"2.0","id":7,"method":"nope"})",
        R"({"jsonrpc":"2.0","id":8,"method":"tools/call","params":{"name":"whatever"}})",
    });
    EXPECT_EQ(s.exitStatus, 0);
    ASSERT_EQ(s.replies.size(), 6u);
    EXPECT_EQ(reply(s.replies[0])["result"]["protocolVersion"], "2025-06-18");
    EXPECT_EQ(reply(s.replies[1])["error"]["code"], -32700);
    EXPECT_EQ(reply(s.replies[2])["id"], "a");
    EXPECT_EQ(reply(s.replies[3])["id"], "b");
    EXPECT_TRUE(reply(s.replies[3])["result"]["tools"].is_array());
    EXPECT_EQ(reply(s.replies[4])["error"]["code"], -32601);
    Json call = reply(s.replies[5]);
    EXPECT_EQ(call["id"], 8);
    EXPECT_EQ(call["result"]["isError"], true) << "tool failures are tool results, never JSON-RPC errors";
    EXPECT_EQ(std::count(s.stderrText.begin(), s.stderrText.end(), '\n'), 1) << "one start line, nothing else";
}

// Regression: quick replies are held while more input waits, and a reply held
// for a line that needed no answer (a notification) was never sent, leaving
// the assistant waiting forever.
TEST(McpProcess, AReplyHeldForANotificationStillGoesOut) {
    TempHome home;
    AgentProcess agent({"--mcp"});
    for (const char* after : {R"({"jsonrpc":"2.0","method":"notifications/initialized"})", "   ", "{\"id\":3,"}) {
        agent.write(std::string(R"({"jsonrpc":"2.0","id":1,"method":"ping"})") + "\n" + after + "\n");
        auto line = agent.readLine(Ms(5000));
        ASSERT_TRUE(line) << "no reply to the ping sent before: " << after;
        EXPECT_EQ(reply(*line)["id"], 1);
        if (std::string(after).starts_with("{\"id\"")) {
            auto parseError = agent.readLine(Ms(5000));
            ASSERT_TRUE(parseError);
            EXPECT_EQ(reply(*parseError)["error"]["code"], -32700);
        }
    }
    EXPECT_EQ(agent.finish(), 0);
}

TEST(McpProcess, HostileLinesNeverCrashOrLeakOutput) {
    TempHome home;
    std::string huge = "{\"id\":1,\"method\":\"ping\",\"pad\":\"" + std::string(50 * 1024 * 1024, 'x') + "\"}";
    McpSession s = runMcpSession({
        std::string(100000, '[') + std::string(100000, ']'),
        "{\"id\":{\"deep\":" + std::string(100000, '[') + std::string(100000, ']') + "},\"method\":\"ping\"}",
        std::string("{\"id\":2,\"method\":\"ping\"}\0garbage", 33),
        "{\"id\":3,\"method\":\"p\xffing\"}",
        "\xff\xfe\xfd",
        huge,
        R"({"id":4,"method":"ping"})",
    });
    EXPECT_EQ(s.exitStatus, 0) << s.stderrText;
    ASSERT_EQ(s.replies.size(), 7u) << ::testing::PrintToString(s.replies);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(reply(s.replies[i])["error"]["code"], -32700) << i;
    EXPECT_EQ(reply(s.replies[5])["id"], 1) << "the 50 MB line is a valid ping";
    EXPECT_EQ(reply(s.replies[6])["id"], 4);
}

TEST(McpProcess, ConfigurationWrittenByAnotherProcessIsSeenAtTheNextMessage) {
    TempHome home;
    AgentProcess agent({"--mcp"});
    auto instructions = [&](int id) {
        agent.writeLine(R"({"jsonrpc":"2.0","id":)" + std::to_string(id) + R"(,"method":"initialize"})");
        auto line = agent.readLine();
        EXPECT_TRUE(line);
        return line ? reply(*line)["result"]["instructions"].get<std::string>() : std::string();
    };
    EXPECT_NE(instructions(1).find("Non connecté"), std::string::npos);
    ConfigStore::save(AgentConfig{.token = "agent-token"});  // as the menu-bar application does at login
    EXPECT_EQ(instructions(2).find("Non connecté"), std::string::npos);
    ConfigStore::clear();  // logout
    EXPECT_NE(instructions(3).find("Non connecté"), std::string::npos);

    // A message begun before the login and ended after it was sent after it:
    // the read of its end counts, not the one of its start.
    agent.write(R"({"jsonrpc":"2.0","id":4,)");
    std::this_thread::sleep_for(Ms(200));  // the server reads the first half
    ConfigStore::save(AgentConfig{.token = "agent-token"});
    agent.writeLine(R"("method":"initialize"})");
    auto line = agent.readLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(reply(*line)["result"]["instructions"].get<std::string>().find("Non connecté"), std::string::npos);
    EXPECT_EQ(agent.finish(), 0);
}

TEST(McpProcess, StopsCleanlyWhenTheAssistantStopsReading) {
    TempHome home;
    AgentProcess agent({"--mcp"});
    agent.writeLine(R"({"id":1,"method":"ping"})");
    ASSERT_TRUE(agent.readLine());
    agent.closeStdoutReader();  // the assistant went away without closing our input
    for (int i = 0; i < 2000; ++i) agent.writeLine(R"({"id":2,"method":"ping"})");
    EXPECT_EQ(agent.finish(), 0) << "exited normally, not killed by SIGPIPE";
}

TEST(McpProcess, NoMenuBarLaunchFromABuildFolder) {
    TempHome home;
    McpSession s = runMcpSession({R"({"id":1,"method":"ping"})"});
    EXPECT_EQ(s.exitStatus, 0);
    std::this_thread::sleep_for(Ms(300));
    EXPECT_FALSE(fs::exists(InstanceLock::defaultPath())) << "nothing was launched";
}

// The agent and the tray application's own program, which a launch runs,
// copied into a bundle's layout under `home`; the folder of the programs.
std::string bundleIn(const TempHome& home) {
    std::string bundle = home.path() + "/Kestro Agent.app/bin";
    fs::create_directories(bundle);
    fs::copy_file(AgentProcess::agentBinary(), bundle + "/kestro-agent");
    fs::copy_file(fs::path(AgentProcess::agentBinary()).parent_path() / PlatformPaths::kGuiExecutableName,
                  bundle + "/" + PlatformPaths::kGuiExecutableName);
    return bundle;
}

// Without a display the application could only abort: an assistant that
// drops the display variables must not get one such failure per server.
TEST(McpProcess, NoMenuBarLaunchWithoutADisplay) {
    if (!AgentProcess::guiProgramBuilt()) GTEST_SKIP() << "built without the tray application";
    TempHome home;
    std::string bundle = bundleIn(home);
    AgentProcess agent({"--mcp"}, {{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", kUnsetVariable},
                                   {"WAYLAND_DISPLAY", kUnsetVariable}},
                       bundle + "/kestro-agent");
    agent.writeLine(R"({"id":1,"method":"ping"})");
    EXPECT_EQ(agent.finish(), 0);
    // The launch would come before the answer; a started application takes
    // its lock (creating the file) within moments.
    std::this_thread::sleep_for(Ms(1500));
    EXPECT_FALSE(fs::exists(InstanceLock::defaultPath())) << "nothing was launched";
    endProcesses(processesRunning(bundle + "/" + PlatformPaths::kGuiExecutableName));
}

TEST(McpProcess, StartsTheMenuBarApplicationFromABundleWhenNoneRuns) {
    if (!AgentProcess::guiProgramBuilt()) GTEST_SKIP() << "built without the tray application";
    TempHome home;
    std::string bundle = bundleIn(home);
    {
        // A display named (the application draws offscreen all the same).
        AgentProcess agent({"--mcp"}, {{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", ":99"}},
                           bundle + "/kestro-agent");
        agent.writeLine(R"({"id":1,"method":"ping"})");
        EXPECT_EQ(agent.finish(), 0);
        EXPECT_EQ(agent.pendingStdout(), "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{}}\n")
            << "the background launch never writes into the protocol stream";
    }
    // The menu-bar mode takes the per-user lock, which creates its file.
    bool launched = false;
    for (int i = 0; i < 200 && !launched; ++i) {
        launched = fs::exists(InstanceLock::defaultPath());
        std::this_thread::sleep_for(Ms(25));
    }
    EXPECT_TRUE(launched);
    // It detached itself: end it by its PID.
    std::vector<pid_t> started;
    for (int i = 0; i < 200 && started.empty(); ++i) {
        started = processesRunning(bundle + "/" + PlatformPaths::kGuiExecutableName);
        if (started.empty()) std::this_thread::sleep_for(Ms(25));
    }
    EXPECT_EQ(started.size(), 1u) << "one tray application";
    endProcesses(started);
}

}  // namespace
