#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clients/client_app.h"
#include "config/agent_config.h"
#include "login/oauth_flow.h"
#include "ui/core/login_flow.h"
#include "maintenance/updater.h"
#include "platform/main_queue.h"

class Background;

// Everything the tray application shows, and every user action turned into
// work. Lives on the main thread; the panel only reads the fields and calls
// the operations. Each published field change is announced to the observers
// just before it is made (the panel re-renders on each announcement, reading
// the values once the main thread is free again).
//
//   logged out ──login──▶ logging in (busy) ──onDone ok──▶ logged in ──logout──▶ logged out
//                            │  └──onDone error / cancelLogin──▶ logged out
//
// No toolkit here: the queue, the background executor and the outside
// services are handed in, so tests drive it with a manual queue and fakes.
class AgentState : public std::enable_shared_from_this<AgentState> {
public:
    // What the state uses outside itself. `real()` wires the agent's own
    // implementations; tests replace single members.
    struct Services {
        std::function<AgentConfig()> loadConfig;
        std::function<void(const AgentConfig&)> saveConfig;
        std::function<void()> clearConfig;
        std::function<std::string()> executablePath;
        std::function<std::vector<ClientApp>()> clients;         // the catalogue, in its order
        std::function<bool(const ClientApp&)> clientStatus;      // configured for this executable
        std::function<void(const ClientApp&)> configureClient;   // may throw
        std::function<void(const ClientApp&)> removeClient;      // never throws
        // A fresh login attempt against `baseUrl` (the real one wraps an OAuthFlow).
        std::function<std::shared_ptr<LoginFlow>(const std::string& baseUrl)> makeFlow;
        std::function<std::optional<std::string>(const std::string& baseUrl)> availableVersion;
        std::function<bool(const std::string& baseUrl, const Updater::StatusReporter&)> checkAndInstall;
        std::function<bool()> loginItemEnabled;
        std::function<void(bool)> setLoginItem;
        // A problem the panel shows, also written where a session keeps its
        // programs' messages, so a failed login can be looked into later.
        std::function<void(const std::string&)> report;

        static Services real(MainQueue& main, Background& background);
    };

    static std::shared_ptr<AgentState> create(MainQueue& main, Background& background, Services services);

    // Published fields (read only from outside; main thread).
    const AgentConfig& cfg() const { return m_cfg; }
    const std::string& status() const { return m_status; }
    // The login's authorization address when no browser could be opened for
    // it; empty otherwise.
    const std::string& manualLoginAddress() const { return m_manualLoginAddress; }
    bool busy() const { return m_busy; }
    const std::string& error() const { return m_error; }
    const std::map<std::string, bool>& configured() const { return m_configured; }
    const std::string& notice() const { return m_notice; }
    const std::string& updateStatus() const { return m_updateStatus; }
    const std::optional<std::string>& availableVersion() const { return m_availableVersion; }
    bool loginItem() const { return m_loginItem; }
    bool updating() const { return m_updating; }

    // The running executable is installed under the install root ("/opt/").
    bool inApplications() const;
    // The catalogue the state works on, as the panel lists it.
    std::vector<ClientApp> clients() const;

    // Called before every change of a published field. Returns a handle;
    // dropping it does not unsubscribe, `unobserve` does.
    int observe(std::function<void()> willChange);
    void unobserve(int handle);

    void refresh();
    void login();
    void cancelLogin();
    void logout();
    void configure(const ClientApp& app);
    void configureAll();
    void flash(const std::string& text);
    void refreshAvailable();
    void checkUpdates(bool silent);
    void setLoginItem(bool enabled);

private:
    AgentState(MainQueue& main, Background& background, Services services);
    void willChange();
    // Announces, then assigns: every published field changes only through here.
    template <typename T>
    void set(T& field, T value) {
        willChange();
        field = std::move(value);
    }
    void loginEnded(const LoginResult& result);
    void closeAttempt();
    void loginSavedAnyway(const AgentConfig& saved);
    void report(const std::string& text) const;

    MainQueue& m_main;
    Background& m_background;
    Services m_services;
    std::map<int, std::function<void()>> m_observers;
    int m_nextObserver = 0;

    AgentConfig m_cfg;
    std::string m_status;
    std::string m_manualLoginAddress;
    bool m_busy = false;
    std::string m_error;
    std::map<std::string, bool> m_configured;
    std::string m_notice;
    std::shared_ptr<LoginFlow> m_flow;
    std::shared_ptr<MainQueue::Timer> m_noticeTimer;
    // Which login attempt is current: a callback of a flow that was
    // cancelled, replaced or has already ended is recognised as stale by its
    // number and changes nothing.
    std::uint64_t m_loginAttempt = 0;
    std::string m_updateStatus;
    std::optional<std::string> m_availableVersion;
    bool m_loginItem = false;
    bool m_updating = false;
};
