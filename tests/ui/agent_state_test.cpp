#include "ui/core/agent_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "clients/clients.h"
#include "config/config_store.h"
#include "core/atomic_file.h"
#include "manual_background.h"
#include "platform/manual_main_queue.h"
#include "temp_home.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kInstalledExe = "/opt/kestro-agent/bin/kestro-agent";
const auto kNow = std::chrono::system_clock::from_time_t(1796732394);

// A login attempt the test plays by hand: it delivers whatever status texts
// and result the test chooses, in the order a real flow could.
class ScriptedFlow : public LoginFlow {
public:
    explicit ScriptedFlow(std::string baseUrl) : baseUrl(std::move(baseUrl)) {}

    void setCallbacks(StatusCallback status, DoneCallback done) override {
        onStatus = std::move(status);
        onDone = std::move(done);
    }
    // Like the real flow, the first text comes synchronously from start.
    void start() override {
        ++starts;
        onStatus("Connexion à " + baseUrl + "…");
    }
    void setBrowserFailedCallback(AddressCallback browserFailed) override { onBrowserFailed = std::move(browserFailed); }
    void cancel() override { ++cancels; }

    std::string baseUrl;
    StatusCallback onStatus;
    DoneCallback onDone;
    AddressCallback onBrowserFailed;
    int starts = 0;
    int cancels = 0;
};

AgentConfig loggedIn(const std::string& baseUrl = "https://kestro.test") {
    return AgentConfig{.baseUrl = baseUrl, .token = "kat_123", .userName = "Léa", .userEmail = "lea@example.com",
                       .clientId = "client-1"};
}

// The state on real configuration and assistant files in a temporary HOME;
// only the network-facing services (login, updater, start at login) are fakes.
class AgentStateTest : public testing::Test {
protected:
    AgentStateTest() {
        // Only the assistants' home folders decide what is installed, so the
        // test does not depend on what this machine has under /usr or /opt.
        for (auto app : Clients::catalogue(home.path())) {
            std::erase_if(app.appPaths, [&](const std::string& p) { return !p.starts_with(home.path()); });
            catalogue.push_back(app);
        }
    }

    AgentState::Services services() {
        AgentState::Services s;
        s.loadConfig = [] { return ConfigStore::load(); };
        s.saveConfig = [](const AgentConfig& c) { ConfigStore::save(c); };
        s.clearConfig = [] { ConfigStore::clear(); };
        s.executablePath = [this] { return exe; };
        s.clients = [this] { return catalogue; };
        s.clientStatus = [this](const ClientApp& app) { return Clients::status(app, exe); };
        s.configureClient = [this](const ClientApp& app) { Clients::configure(app, exe, kNow); };
        s.removeClient = [](const ClientApp& app) { Clients::remove(app); };
        s.makeFlow = [this](const std::string& baseUrl) {
            flows.push_back(std::make_shared<ScriptedFlow>(baseUrl));
            return flows.back();
        };
        s.availableVersion = [this](const std::string& baseUrl) {
            availableAsked.push_back(baseUrl);
            if (!announced) throw std::runtime_error("manifest unreadable");
            return *announced;
        };
        s.checkAndInstall = [this](const std::string& baseUrl, const Updater::StatusReporter& report) {
            updateAsked.push_back(baseUrl);
            for (const auto& text : updaterTexts) report(text);
            return updaterInstalls;
        };
        s.report = [this](const std::string& text) { reports.push_back(text); };
        s.loginItemEnabled = [this] { return loginItemOnDisk; };
        s.setLoginItem = [this](bool on) {
            loginItemRequests.push_back(on);
            if (loginItemWritable) loginItemOnDisk = on;
        };
        return s;
    }

    std::shared_ptr<AgentState> make() {
        state = AgentState::create(main, background, services());
        announcements = 0;
        state->observe([this] { ++announcements; });
        return state;
    }

    const ClientApp& app(const std::string& key) const {
        for (const auto& a : catalogue)
            if (a.key == key) return a;
        throw std::runtime_error("no " + key);
    }
    void install(const std::string& key) const { fs::create_directories(app(key).appPaths.back()); }
    std::string file(const std::string& key) const {
        return AtomicFile::read(app(key).configPath).value_or("<missing>");
    }
    ScriptedFlow& flow() { return *flows.back(); }
    void settle() {
        background.runAll();
        main.runUntilIdle();
    }

    TempHome home;
    ManualMainQueue main;
    ManualBackground background;
    std::vector<ClientApp> catalogue;
    std::string exe = kInstalledExe;
    std::vector<std::shared_ptr<ScriptedFlow>> flows;
    std::optional<std::optional<std::string>> announced = std::optional<std::string>();
    std::vector<std::string> availableAsked, updateAsked;
    std::vector<std::string> updaterTexts;
    bool updaterInstalls = false;
    bool loginItemOnDisk = false, loginItemWritable = true;
    std::vector<bool> loginItemRequests;
    std::vector<std::string> reports;
    std::shared_ptr<AgentState> state;
    int announcements = 0;
};

TEST_F(AgentStateTest, StartsFromTheFilesAndSeesWhatOtherProcessesWriteAtTheNextRefresh) {
    ConfigStore::save(loggedIn());
    Clients::configure(app("cursor"), exe, kNow);
    loginItemOnDisk = true;
    make();
    EXPECT_TRUE(state->cfg().isLoggedIn());
    EXPECT_EQ(state->cfg().userName, "Léa");
    EXPECT_TRUE(state->loginItem());
    EXPECT_EQ(state->configured(),
              (std::map<std::string, bool>{{"chatgpt", false}, {"claude", false}, {"claudecode", false}, {"cursor", true}}));
    EXPECT_FALSE(state->busy());
    EXPECT_EQ(state->notice(), "");
    EXPECT_EQ(state->availableVersion(), std::nullopt);

    // Another process logs out and a hand edit points Cursor at another copy.
    ConfigStore::clear();
    Clients::configure(app("cursor"), "/elsewhere/kestro-agent", kNow);
    EXPECT_TRUE(state->cfg().isLoggedIn()) << "nothing is re-read before a refresh";
    state->refresh();
    EXPECT_FALSE(state->cfg().isLoggedIn());
    EXPECT_FALSE(state->configured().at("cursor"));
    EXPECT_GT(announcements, 0);

    // And logs in again.
    ConfigStore::save(loggedIn("https://other.test"));
    state->refresh();
    EXPECT_EQ(state->cfg().baseUrl, "https://other.test");
}

TEST_F(AgentStateTest, ObserversHearEachChangeBeforeItIsMade) {
    make();
    std::vector<std::string> seen;
    int second = state->observe([&] { seen.push_back(state->notice()); });
    state->flash("un");
    state->flash("deux");
    EXPECT_EQ(seen, (std::vector<std::string>{"", "un"})) << "the announcement comes while the old value stands";
    EXPECT_EQ(state->notice(), "deux");

    // An observer that leaves during an announcement, taking another with it.
    int third = 0;
    int thirdHandle = 0;
    int selfHandle = 0;
    selfHandle = state->observe([&] {
        state->unobserve(selfHandle);
        state->unobserve(thirdHandle);
    });
    thirdHandle = state->observe([&] { ++third; });
    state->unobserve(second);
    state->flash("trois");
    state->flash("quatre");
    EXPECT_EQ(third, 0);
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(AgentStateTest, SuccessfulLoginConfiguresTheInstalledAssistantsAndRecordsTheExecutable) {
    ConfigStore::save(AgentConfig{.baseUrl = "https://kestro.test"});
    install("claude");
    install("cursor");
    make();
    state->login();
    ASSERT_EQ(flows.size(), 1u);
    EXPECT_EQ(flow().baseUrl, "https://kestro.test");
    EXPECT_TRUE(state->busy());
    EXPECT_EQ(state->status(), "Connexion à https://kestro.test…");
    flow().onStatus("Autorise Kestro Agent dans le navigateur…");
    EXPECT_EQ(state->status(), "Autorise Kestro Agent dans le navigateur…");
    flow().onStatus("Finalisation…");

    // The flow has saved the configuration before it reports success.
    ConfigStore::save(loggedIn());
    flow().onDone(loggedIn());
    EXPECT_FALSE(state->busy());
    EXPECT_EQ(state->status(), "");
    EXPECT_EQ(state->error(), "");
    EXPECT_EQ(state->notice(), "✓ Configuré : Claude Desktop, Cursor. Relance les apps.");
    EXPECT_EQ(ConfigStore::load().configuredPath, exe);
    EXPECT_EQ(ConfigStore::load().token, "kat_123");
    EXPECT_EQ(state->cfg().configuredPath, exe) << "reloaded from the saved file";
    EXPECT_TRUE(state->configured().at("claude"));
    EXPECT_TRUE(state->configured().at("cursor"));
    EXPECT_FALSE(state->configured().at("claudecode"));
    EXPECT_NE(file("cursor").find(exe), std::string::npos);
}

TEST_F(AgentStateTest, LoginWithNoAssistantInstalledStillRecordsTheExecutable) {
    make();
    state->login();
    ConfigStore::save(loggedIn());
    flow().onDone(loggedIn());
    EXPECT_EQ(state->notice(), "Aucun assistant détecté sur cet ordinateur.");
    EXPECT_EQ(ConfigStore::load().configuredPath, exe);
    EXPECT_EQ(file("claude"), "<missing>");
}

TEST_F(AgentStateTest, FailedLoginAtEachStepShowsItsMessageAndChangesNothingElse) {
    struct Case {
        std::vector<std::string> statuses;  // delivered before the failure
        LoginError error;
    };
    const std::vector<Case> cases = {
        {{}, {"register_failed", "Enregistrement auprès de Kestro impossible (HTTP 500). Vérifie l'adresse du site."}},
        {{}, {"listen_failed", "Port 51734 occupé."}},
        {{}, {"", "Address already in use"}},
        {{"Autorise Kestro Agent dans le navigateur…"}, {"denied", "Connexion refusée dans le navigateur."}},
        {{"Autorise Kestro Agent dans le navigateur…", "Finalisation…"}, {"token_failed", "Échange du code refusé."}},
        {{"Autorise Kestro Agent dans le navigateur…", "Finalisation…"}, {"pat_failed", "Jeton agent refusé."}},
    };
    install("cursor");
    ConfigStore::save(AgentConfig{.baseUrl = "https://kestro.test"});
    make();
    const AgentConfig before = state->cfg();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error.message);
        state->login();
        for (const auto& s : c.statuses) flow().onStatus(s);
        flow().onDone(c.error);
        EXPECT_EQ(state->error(), c.error.message);
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back(), "connexion échouée (" + c.error.code + ") : " + c.error.message);
        EXPECT_FALSE(state->busy());
        EXPECT_EQ(state->status(), "");
        EXPECT_EQ(state->cfg(), before);
        EXPECT_EQ(state->notice(), "");
        EXPECT_EQ(file("cursor"), "<missing>");
        EXPECT_EQ(ConfigStore::load(), before);

        // The next attempt starts with a clean error line.
        state->login();
        EXPECT_EQ(state->error(), "");
        state->cancelLogin();
    }

    // A browser that did not open leaves the login waiting, and is reported
    // as well: the panel is not the only place to find out why.
    reports.clear();
    state->login();
    flow().onBrowserFailed("http://kestro.test/oauth/authorize?state=s");
    EXPECT_TRUE(state->busy());
    EXPECT_EQ(reports, std::vector<std::string>{
                           "aucun navigateur ne s'est ouvert pour la connexion : adresse affichée dans le panneau"});
}

TEST_F(AgentStateTest, ACancelledLoginIgnoresLateFailuresButNotASavedSuccess) {
    install("cursor");
    make();
    for (bool browserCameBack : {false, true}) {
        SCOPED_TRACE(browserCameBack ? "after the browser came back" : "while waiting for the browser");
        state->login();
        auto& cancelled = flow();
        cancelled.onStatus("Autorise Kestro Agent dans le navigateur…");
        if (browserCameBack) cancelled.onStatus("Finalisation…");
        state->cancelLogin();
        EXPECT_EQ(cancelled.cancels, 1);
        EXPECT_FALSE(state->busy());
        EXPECT_EQ(state->status(), "");
        EXPECT_EQ(state->error(), "");

        // Work already under way still reports. A failure is the cancelled
        // login's and shows nothing; a success was saved before it was
        // reported (every server already uses its token), so it is the
        // user's login and the assistants are configured for it.
        cancelled.onStatus("Finalisation…");
        if (browserCameBack) {
            ConfigStore::save(loggedIn());
            cancelled.onDone(loggedIn());
        } else {
            cancelled.onDone(LoginError{"listen_failed", "Port occupé."});
        }
        EXPECT_EQ(state->status(), "");
        EXPECT_EQ(state->error(), "");
        EXPECT_FALSE(state->busy());
        EXPECT_EQ(state->cfg().isLoggedIn(), browserCameBack);
        if (browserCameBack) {
            EXPECT_NE(file("cursor").find("kestro"), std::string::npos) << file("cursor");
            EXPECT_FALSE(ConfigStore::load().configuredPath.empty()) << "recorded like any login's";
        } else {
            EXPECT_EQ(file("cursor"), "<missing>");
        }
    }
    state->cancelLogin();  // with no flow at all
    EXPECT_EQ(flows.back()->cancels, 1);
}

TEST_F(AgentStateTest, ANewLoginSupersedesTheOldFlowWithoutCancellingIt) {
    make();
    state->login();
    auto& first = flow();
    state->login();
    auto& second = flow();
    EXPECT_EQ(first.cancels, 0);
    first.onStatus("Autorise Kestro Agent dans le navigateur…");
    first.onDone(LoginError{"listen_failed", "Port occupé."});
    EXPECT_TRUE(state->busy());
    EXPECT_EQ(state->status(), "Connexion à https://kestro.io…");
    EXPECT_EQ(state->error(), "");

    // A listener failure can overtake the flow's last progress text.
    second.onDone(LoginError{"listen_failed", "Port occupé."});
    second.onStatus("Autorise Kestro Agent dans le navigateur…");
    EXPECT_EQ(state->status(), "");
    EXPECT_EQ(state->error(), "Port occupé.");
}

TEST_F(AgentStateTest, LateCallbacksAfterTheStateIsGoneDoNothing) {
    make();
    std::weak_ptr<AgentState> weak = state;
    state->login();
    state->flash("bientôt effacé");
    auto flow = flows.back();
    state.reset();
    EXPECT_TRUE(weak.expired()) << "neither the flow nor the notice timer keeps the state alive";
    flow->onStatus("Finalisation…");
    flow->onDone(loggedIn());
    main.advance(5s);
    EXPECT_FALSE(ConfigStore::load().isLoggedIn());
}

TEST_F(AgentStateTest, VersionLookupKeepsTheStateUntilItHasWrittenItsResult) {
    ConfigStore::save(loggedIn("https://kestro.test"));
    announced = std::optional<std::string>("2.0.0");
    make();
    std::weak_ptr<AgentState> weak = state;
    state->refreshAvailable();
    std::optional<std::string> seen;
    state->observe([&] { seen = weak.lock()->availableVersion(); });
    state.reset();
    EXPECT_FALSE(weak.expired());
    background.runAll();
    main.runUntilIdle();
    EXPECT_EQ(availableAsked, (std::vector<std::string>{"https://kestro.test"}));
    EXPECT_TRUE(weak.expired()) << "released once the result is written";
    EXPECT_EQ(seen, std::nullopt) << "announced before the version was set";
}

TEST_F(AgentStateTest, VersionLookupWritesTheAnnouncementOrNone) {
    announced = std::optional<std::string>("2.0.0");
    make();
    state->refreshAvailable();
    settle();
    EXPECT_EQ(state->availableVersion(), "2.0.0");
    announced.reset();  // the manifest cannot be read
    state->refreshAvailable();
    settle();
    EXPECT_EQ(state->availableVersion(), std::nullopt);
}

TEST_F(AgentStateTest, LogoutRemovesOnlyTheEntriesSeenAtTheLastRefresh) {
    ConfigStore::save(loggedIn());
    install("claude");
    install("cursor");
    make();
    state->configureAll();
    state->flash("garde-moi");
    ASSERT_TRUE(state->configured().at("claude"));
    // Configured by hand after the last refresh.
    Clients::configure(app("claudecode"), exe, kNow);
    state->logout();
    EXPECT_FALSE(state->cfg().isLoggedIn());
    EXPECT_FALSE(fs::exists(home.configFile()));
    EXPECT_EQ(file("claude").find(exe), std::string::npos);
    EXPECT_EQ(file("cursor").find(exe), std::string::npos);
    EXPECT_EQ(state->configured(),
              (std::map<std::string, bool>{{"chatgpt", false}, {"claude", false}, {"claudecode", true}, {"cursor", false}}));
    EXPECT_EQ(state->notice(), "garde-moi");
}

TEST_F(AgentStateTest, OneAssistantFailingLeavesTheOthersConfigured) {
    install("claude");
    install("cursor");
    install("claudecode");
    home.write(".cursor/mcp.json", "[1, 2]");
    make();
    const std::string invalid = app("cursor").configPath + " n'est pas un JSON valide : corrige-le ou renomme-le.";

    state->configure(app("cursor"));
    EXPECT_EQ(state->error(), invalid);
    EXPECT_EQ(state->notice(), "");
    EXPECT_EQ(file("cursor"), "[1, 2]");

    state->configure(app("claude"));
    EXPECT_EQ(state->error(), "");
    EXPECT_EQ(state->notice(), "✓ Claude Desktop : configuration écrite. Relance Claude après configuration.");
    EXPECT_TRUE(state->configured().at("claude"));
    EXPECT_EQ(state->cfg().configuredPath, "") << "only configuring all records the executable";

    state->configure(app("cursor"));
    state->configureAll();
    EXPECT_EQ(state->error(), invalid) << "configuring all neither clears nor sets the error line";
    EXPECT_EQ(state->notice(), "✓ Configuré : Claude Desktop, Claude Code (terminal). Relance les apps.");
    EXPECT_TRUE(state->configured().at("claudecode"));
    EXPECT_FALSE(state->configured().at("cursor"));
    EXPECT_EQ(ConfigStore::load().configuredPath, exe);
}

TEST_F(AgentStateTest, TheNoticeLastsFourSecondsAfterTheLatestFlash) {
    make();
    state->flash("premier");
    main.advance(2s);
    state->flash("second");
    main.advance(3s);
    EXPECT_EQ(state->notice(), "second") << "the first timer must not clear the newer text";
    main.advance(999ms);
    EXPECT_EQ(state->notice(), "second");
    main.advance(1ms);
    EXPECT_EQ(state->notice(), "");
    EXPECT_EQ(main.pendingTimers(), 0);
}

TEST_F(AgentStateTest, InstallRootIsAnExactPrefix) {
    make();
    for (const auto& [path, inside] : std::vector<std::pair<std::string, bool>>{
             {"/opt/kestro-agent/bin/kestro-agent", true},
             {"/opt/kestro-agent", true},
             {"/optional/kestro-agent", false},
             {"/home/lea/opt/kestro-agent", false},
             {"/Opt/kestro-agent", false},
             {"opt/kestro-agent", false}}) {
        exe = path;
        EXPECT_EQ(state->inApplications(), inside) << path;
    }
}

TEST_F(AgentStateTest, UpdateCheckOutsideTheInstallRoot) {
    exe = "/home/lea/bin/kestro-agent";
    make();
    state->checkUpdates(true);
    EXPECT_EQ(announcements, 0) << "a scheduled check says nothing";
    state->checkUpdates(false);
    EXPECT_EQ(state->updateStatus(), "Installe l'app dans /opt pour les mises à jour automatiques.");
    EXPECT_FALSE(state->updating());
    EXPECT_EQ(background.pending(), 0);
}

TEST_F(AgentStateTest, UpdateCheckRunsOneAtATime) {
    ConfigStore::save(loggedIn("https://kestro.test"));
    updaterTexts = {"À jour (v1.1.4)."};
    make();
    state->checkUpdates(false);
    EXPECT_TRUE(state->updating());
    EXPECT_EQ(state->updateStatus(), "Recherche de mise à jour…");
    const int before = announcements;
    state->checkUpdates(false);
    state->checkUpdates(true);
    EXPECT_EQ(announcements, before);
    EXPECT_EQ(background.pending(), 1);
    settle();
    EXPECT_EQ(updateAsked, (std::vector<std::string>{"https://kestro.test"}));
    EXPECT_EQ(state->updateStatus(), "À jour (v1.1.4).");
    EXPECT_FALSE(state->updating());

    // Installed: the application is about to restart and no check starts again.
    updaterTexts = {"Mise à jour vers 2.0.0…", "Mis à jour en 2.0.0, redémarrage…"};
    updaterInstalls = true;
    state->checkUpdates(true);
    settle();
    EXPECT_EQ(state->updateStatus(), "Mis à jour en 2.0.0, redémarrage…");
    EXPECT_TRUE(state->updating());
    state->checkUpdates(false);
    EXPECT_EQ(background.pending(), 0);
}

TEST_F(AgentStateTest, SilentChecksOnlyShowAnInstallationUnderWay) {
    const std::vector<std::pair<std::vector<std::string>, bool>> runs = {
        {{"Impossible de vérifier les mises à jour."}, false},
        {{"À jour (v1.1.4)."}, false},
        {{"Mise à jour 2.0.0 incomplète côté serveur."}, false},
        {{"Mise à jour vers 2.0.0…"}, true},
        {{"Téléchargement de la mise à jour impossible."}, false},
        {{"Mise à jour rejetée (empreinte invalide)."}, false},
        {{"Archive de mise à jour illisible."}, false},
        {{"Installation impossible : disque plein"}, false},
        {{"Mis à jour en 2.0.0, redémarrage…"}, true},
    };
    make();
    for (const auto& [texts, shown] : runs) {
        for (bool silent : {false, true}) {
            SCOPED_TRACE(texts.front() + (silent ? " (silent)" : ""));
            updaterTexts = {"Mise à jour vers 9.9.9…"};
            state->checkUpdates(false);
            settle();
            updaterTexts = texts;
            state->checkUpdates(silent);
            settle();
            EXPECT_EQ(state->updateStatus(), !silent || shown ? texts.back() : "Mise à jour vers 9.9.9…");
            EXPECT_FALSE(state->updating());
        }
    }
    // A silent check that started downloading and then failed.
    updaterTexts = {"Mise à jour vers 2.0.0…", "Téléchargement de la mise à jour impossible."};
    state->checkUpdates(true);
    settle();
    EXPECT_EQ(state->updateStatus(), "Mise à jour vers 2.0.0…");
    EXPECT_FALSE(state->updating());
}

TEST_F(AgentStateTest, LoginItemShowsWhatIsReallyOnDisk) {
    make();
    state->setLoginItem(true);
    EXPECT_TRUE(state->loginItem());
    loginItemWritable = false;
    state->setLoginItem(false);
    EXPECT_TRUE(state->loginItem()) << "the entry could not be removed";
    EXPECT_EQ(loginItemRequests, (std::vector<bool>{true, false}));
}

}  // namespace
