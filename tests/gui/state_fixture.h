#pragma once

#include <QApplication>

#include <memory>
#include <string>
#include <vector>

#include "config/agent_config.h"
#include "manual_background.h"
#include "platform/manual_main_queue.h"
#include "ui/core/agent_state.h"
#include "ui/core/login_flow.h"

// A login attempt that only records what the state asks of it.
class RecordedLogin : public LoginFlow {
public:
    explicit RecordedLogin(std::vector<std::string>& calls) : m_calls(calls) {}
    void setCallbacks(StatusCallback onStatus, DoneCallback onDone) override {
        this->onStatus = std::move(onStatus);
        this->onDone = std::move(onDone);
    }
    void setBrowserFailedCallback(AddressCallback onBrowserFailed) override {
        this->onBrowserFailed = std::move(onBrowserFailed);
    }
    void start() override { m_calls.push_back("login:start"); }
    void cancel() override { m_calls.push_back("login:cancel"); }
    StatusCallback onStatus;
    DoneCallback onDone;
    AddressCallback onBrowserFailed;

private:
    std::vector<std::string>& m_calls;
};

// An AgentState on a manual queue whose outside services record what they
// are asked, with a stored configuration in memory and two assistants:
// Claude Desktop (installed) and Cursor (not found).
struct StateFixture {
    ManualMainQueue main;
    ManualBackground background;
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
    std::shared_ptr<RecordedLogin> lastLogin;

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
            auto flow = std::make_shared<RecordedLogin>(calls);
            lastLogin = flow;
            return std::shared_ptr<LoginFlow>(flow);
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

    // Lets a view's deferred rendering happen, then drains the state's queue.
    void settle() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents();
            main.runUntilIdle();
        }
        QCoreApplication::processEvents();
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
