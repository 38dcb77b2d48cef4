#include "ui/core/agent_state.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "clients/clients.h"
#include "config/config_store.h"
#include "core/atomic_file.h"
#include "dev_service.h"
#include "oauth_service.h"
#include "platform/manual_main_queue.h"
#include "platform/thread_background.h"
#include "scripted_browser.h"
#include "temp_home.h"
#include "test_http_server.h"
#include "ui/core/oauth_login_flow.h"

namespace fs = std::filesystem;

namespace {

// The whole login as the panel starts it: the state's real services, the real
// flow against the stand-in service over loopback, a scripted browser, and
// the assistants' real files in a temporary HOME. Only the main thread is
// the test's own, drained until the login has ended.
TEST(AgentStateLogin, LoginThroughTheServiceConfiguresTheInstalledAssistants) {
    TempHome home;
    devservice::DevService service;
    service.start();
    ManualMainQueue main;
    ThreadBackground background;
    ScriptedBrowser browser;
    ConfigStore::save(AgentConfig{.baseUrl = service.baseUrl()});
    fs::create_directories(home.path() + "/.config/Claude");
    fs::create_directories(home.path() + "/.cursor");

    auto services = AgentState::Services::real(main, background);
    // Installed means present in this HOME, whatever this machine has elsewhere.
    services.clients = [&] {
        std::vector<ClientApp> apps;
        for (auto app : Clients::catalogue(home.path())) {
            std::erase_if(app.appPaths, [&](const std::string& p) { return !p.starts_with(home.path()); });
            apps.push_back(app);
        }
        return apps;
    };
    const auto port = static_cast<std::uint16_t>(TestHttpServer::unusedPort());
    services.makeFlow = [&](const std::string& baseUrl) -> std::shared_ptr<LoginFlow> {
        auto flow = OAuthFlow::create(baseUrl, main, background, port);
        flow->openUrl = browser.opener();
        return std::make_shared<OAuthLoginFlow>(flow);
    };
    auto state = AgentState::create(main, background, services);
    // Each announcement comes while the old value stands, so the values seen
    // at announcements, and the last one, are the whole history.
    std::vector<std::string> statuses;
    auto note = [&] {
        if (statuses.empty() || statuses.back() != state->status()) statuses.push_back(state->status());
    };
    state->observe(note);

    state->login();
    ASSERT_TRUE(main.runUntil([&] { return !state->busy(); })) << "the login never ended";
    EXPECT_EQ(state->error(), "");
    EXPECT_EQ(state->status(), "");
    note();
    EXPECT_EQ(statuses, (std::vector<std::string>{"", "Connexion à " + service.baseUrl() + "…",
                                                  "Autorise Kestro Agent dans le navigateur…", "Finalisation…", ""}));
    EXPECT_EQ(browser.waitPage().status, 200);

    const std::string exe = currentExecutablePath();
    const AgentConfig saved = ConfigStore::load();
    ASSERT_TRUE(saved.isLoggedIn());
    ASSERT_EQ(service.oauth().minted().size(), 1u);
    EXPECT_EQ(saved.token, service.oauth().minted()[0].token);
    EXPECT_EQ(saved.configuredPath, exe);
    EXPECT_EQ(state->cfg(), saved);
    EXPECT_EQ(state->notice(), "✓ Configuré : Claude Desktop, Cursor. Relance les apps.");
    EXPECT_TRUE(state->configured().at("claude"));
    EXPECT_TRUE(state->configured().at("cursor"));
    EXPECT_FALSE(state->configured().at("claudecode"));
    const std::string cursor = AtomicFile::read(home.path() + "/.cursor/mcp.json").value_or("");
    EXPECT_NE(cursor.find("\"command\": \"" + exe + "\""), std::string::npos) << cursor;
    EXPECT_NE(AtomicFile::read(home.path() + "/.config/Claude/claude_desktop_config.json").value_or("").find(exe),
              std::string::npos);

    state->logout();
    EXPECT_FALSE(state->cfg().isLoggedIn());
    EXPECT_EQ(AtomicFile::read(home.path() + "/.cursor/mcp.json").value_or("").find(exe), std::string::npos);

    state.reset();
    background.waitIdle();
    main.runUntilIdle();
}

}  // namespace
