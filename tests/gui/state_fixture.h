#pragma once

#include <QApplication>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "config/agent_config.h"
#include "platform/background.h"
#include "platform/manual_main_queue.h"
#include "ui/core/agent_state.h"

// Background work held until the test runs it, so nothing happens off the
// test's thread unless the test says so.
class HeldBackground : public Background {
public:
    void run(Task task) override { m_tasks.push_back(std::move(task)); }
    int runAll() {
        int n = 0;
        while (!m_tasks.empty() && n < 1000) {
            Task t = std::move(m_tasks.front());
            m_tasks.pop_front();
            t();
            ++n;
        }
        return n;
    }
    size_t pending() const { return m_tasks.size(); }

private:
    std::deque<Task> m_tasks;
};

// An AgentState on a manual queue whose outside services record what they
// are asked, with a stored configuration in memory and two assistants:
// Claude Desktop (installed) and Cursor (not found).
struct StateFixture {
    ManualMainQueue main;
    HeldBackground background;
    std::vector<std::string> calls;
    AgentConfig stored;
    std::vector<ClientApp> catalogue{
        ClientApp{.key = "claude", .name = "Claude Desktop", .hint = "Relance Claude après configuration"},
        ClientApp{.key = "cursor", .name = "Cursor", .hint = "Relance Cursor",
                  .appPaths = {"/nonexistent/kestro-test/Cursor"}},
    };
    std::map<std::string, bool> configuredOnDisk;
    std::string executable = "/home/ada/build/kestro-agent";
    bool loginItemOnDisk = false;
    std::optional<std::string> announced;
    std::shared_ptr<AgentState> state;

    explicit StateFixture(bool loggedIn = false) {
        stored.baseUrl = "http://127.0.0.1:9";
        if (loggedIn) {
            stored.token = "tok";
            stored.userName = "ada lovelace";
            stored.userEmail = "ada@example.com";
        }
    }

    AgentState::Services services() {
        AgentState::Services s;
        s.loadConfig = [this] { return stored; };
        s.saveConfig = [this](const AgentConfig& c) {
            calls.push_back("save:" + c.configuredPath);
            stored = c;
        };
        s.clearConfig = [this] {
            calls.push_back("clear");
            stored = AgentConfig{.baseUrl = stored.baseUrl};
        };
        s.executablePath = [this] { return executable; };
        s.clients = [this] { return catalogue; };
        s.clientStatus = [this](const ClientApp& app) { return configuredOnDisk[app.key]; };
        s.configureClient = [this](const ClientApp& app) {
            calls.push_back("configure:" + app.key);
            configuredOnDisk[app.key] = true;
        };
        s.removeClient = [this](const ClientApp& app) {
            calls.push_back("remove:" + app.key);
            configuredOnDisk[app.key] = false;
        };
        s.makeFlow = [this](const std::string& baseUrl) {
            calls.push_back("login:" + baseUrl);
            auto flow = OAuthFlow::create(baseUrl, main, background, 0);
            flow->openUrl = [](const std::string&) {};
            return flow;
        };
        s.availableVersion = [this](const std::string&) {
            calls.push_back("available");
            return announced;
        };
        s.checkAndInstall = [this](const std::string&, const Updater::StatusReporter& status) {
            calls.push_back("checkAndInstall");
            status("À jour (v1.1.4).");
            return false;
        };
        s.loginItemEnabled = [this] { return loginItemOnDisk; };
        s.setLoginItem = [this](bool on) {
            calls.push_back(on ? "loginItem:on" : "loginItem:off");
            loginItemOnDisk = on;
        };
        return s;
    }

    std::shared_ptr<AgentState> make() {
        state = AgentState::create(main, background, services());
        main.runUntilIdle();
        return state;
    }

    bool called(const std::string& what) const {
        for (const auto& c : calls)
            if (c == what) return true;
        return false;
    }
};

// One QApplication for the test program, on the offscreen platform that the
// test environment selects.
inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "gui_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
}
