// The agent's own implementations behind the state's seams. Kept apart from
// the state itself so that code using only the state does not link the login
// flow, the updater and start-at-login.
#include <iostream>
#include <memory>

#include "clients/clients.h"
#include "config/config_store.h"
#include "login/oauth_flow.h"
#include "maintenance/login_item.h"
#include "maintenance/updater.h"
#include "ui/core/agent_state.h"
#include "ui/core/oauth_login_flow.h"

AgentState::Services AgentState::Services::real(MainQueue& main, Background& background) {
    Services s;
    s.loadConfig = [] { return ConfigStore::load(); };
    s.saveConfig = [](const AgentConfig& config) { ConfigStore::save(config); };
    s.clearConfig = [] { ConfigStore::clear(); };
    s.executablePath = [] { return currentExecutablePath(); };
    s.clients = [] { return Clients::all(); };
    s.clientStatus = [](const ClientApp& app) { return Clients::status(app); };
    s.configureClient = [](const ClientApp& app) { Clients::configure(app); };
    s.removeClient = [](const ClientApp& app) { Clients::remove(app); };
    s.makeFlow = [&main, &background](const std::string& baseUrl) -> std::shared_ptr<LoginFlow> {
        return std::make_shared<OAuthLoginFlow>(OAuthFlow::create(baseUrl, main, background));
    };
    s.availableVersion = [](const std::string& baseUrl) { return Updater::available(baseUrl); };
    s.checkAndInstall = [](const std::string& baseUrl, const Updater::StatusReporter& status) {
        return Updater::checkAndInstall(baseUrl, status);
    };
    s.loginItemEnabled = [] { return LoginItem::isEnabled(); };
    s.setLoginItem = [](bool enabled) { LoginItem::set(enabled); };
    s.report = [](const std::string& text) { std::cerr << "[kestro-agent] " << text << std::endl; };
    return s;
}
