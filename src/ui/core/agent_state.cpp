#include "ui/core/agent_state.h"

#include <chrono>
#include <exception>
#include <utility>

#include "core/tool_error.h"
#include "platform/background.h"
#include "platform/computer_words.h"
#include "platform/platform_paths.h"

namespace {

using namespace std::chrono_literals;

constexpr MainQueue::Duration kNoticeLifetime = 4000ms;

// What the panel shows for a failed action: a ToolError's French sentence as
// it stands, any other error by its own description. None when `work` succeeded.
template <typename Work>
std::optional<std::string> failureOf(Work&& work) {
    try {
        work();
        return std::nullopt;
    } catch (const ToolError& e) {
        return e.message;
    } catch (const std::exception& e) {
        return std::string(e.what());
    } catch (...) {
        return std::string("Erreur inconnue.");
    }
}

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// A check the user did not ask for only speaks up once an installation is
// under way; "up to date" and failures before that stay silent.
bool shownWhenSilent(const std::string& text) {
    return startsWith(text, "Mise à jour vers") || startsWith(text, "Mis à jour");
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

}  // namespace

std::shared_ptr<AgentState> AgentState::create(MainQueue& main, Background& background, Services services) {
    std::shared_ptr<AgentState> state(new AgentState(main, background, std::move(services)));
    state->refresh();
    return state;
}

AgentState::AgentState(MainQueue& main, Background& background, Services services)
    : m_main(main), m_background(background), m_services(std::move(services)) {
    m_cfg = m_services.loadConfig();
    m_loginItem = m_services.loginItemEnabled();
}

bool AgentState::inApplications() const {
    return startsWith(m_services.executablePath(), PlatformPaths::kInstallRoot);
}

std::vector<ClientApp> AgentState::clients() const { return m_services.clients(); }

int AgentState::observe(std::function<void()> willChange) {
    const int handle = ++m_nextObserver;
    m_observers.emplace(handle, std::move(willChange));
    return handle;
}

void AgentState::unobserve(int handle) { m_observers.erase(handle); }

// An observer may unsubscribe itself or others while being told: those
// removed before their turn are skipped, and the one running is kept alive
// by its own copy.
void AgentState::willChange() {
    std::vector<int> handles;
    handles.reserve(m_observers.size());
    for (const auto& [handle, observer] : m_observers) handles.push_back(handle);
    for (int handle : handles) {
        auto it = m_observers.find(handle);
        if (it == m_observers.end()) continue;
        auto observer = it->second;
        observer();
    }
}

// The file is the truth: another process may have logged in, logged out or
// edited an assistant since the last look.
void AgentState::refresh() {
    set(m_cfg, m_services.loadConfig());
    std::map<std::string, bool> configured;
    for (const auto& app : m_services.clients()) configured[app.key] = m_services.clientStatus(app);
    set(m_configured, std::move(configured));
}

void AgentState::login() {
    set(m_error, std::string());
    set(m_manualLoginAddress, std::string());
    set(m_busy, true);
    auto flow = m_services.makeFlow(m_cfg.baseUrl);
    const std::uint64_t attempt = ++m_loginAttempt;
    // Weak: a flow outliving the state (its background work still running)
    // must not keep it alive nor write into it. The attempt number keeps a
    // cancelled or superseded flow from writing over the current one.
    std::weak_ptr<AgentState> weak = weak_from_this();
    flow->setCallbacks(
        [weak, attempt](const std::string& text) {
            auto self = weak.lock();
            if (!self || self->m_loginAttempt != attempt) return;
            self->set(self->m_status, text);
        },
        [weak, attempt](const LoginResult& result) {
            auto self = weak.lock();
            if (!self) return;
            if (self->m_loginAttempt == attempt) self->loginEnded(result);
            else if (const auto* saved = std::get_if<AgentConfig>(&result)) self->loginSavedAnyway(*saved);
        });
    flow->setBrowserFailedCallback([weak, attempt](const std::string& url) {
        auto self = weak.lock();
        if (!self || self->m_loginAttempt != attempt) return;
        self->report("aucun navigateur ne s'est ouvert pour la connexion : adresse affichée dans le panneau");
        self->set(self->m_manualLoginAddress, url);
    });
    m_flow = flow;  // the previous flow is released, not cancelled
    flow->start();
}

void AgentState::loginEnded(const LoginResult& result) {
    // The attempt is over: a progress text the flow still delivers after its
    // result (a listener failure can overtake it) must not reappear.
    closeAttempt();
    if (const auto* failure = std::get_if<LoginError>(&result)) {
        report("connexion échouée (" + failure->code + ") : " + failure->message);
        set(m_error, failure->message);
        return;
    }
    set(m_cfg, std::get<AgentConfig>(result));
    configureAll();
}

// A login cancelled (or superseded) while its exchange was already under way
// still saves the agent token before it reports, and every MCP server uses
// it from then on: the panel must say so, and the assistants be configured,
// rather than show a logged-out user whom the servers treat as logged in.
void AgentState::loginSavedAnyway(const AgentConfig& saved) {
    set(m_cfg, saved);
    configureAll();
}

void AgentState::report(const std::string& text) const {
    if (m_services.report) m_services.report(text);
}

void AgentState::cancelLogin() {
    if (m_flow) m_flow->cancel();
    m_flow.reset();
    closeAttempt();
}

// Whatever ended the attempt, its callbacks are stale from now on and the
// panel shows no login under way.
void AgentState::closeAttempt() {
    ++m_loginAttempt;
    set(m_busy, false);
    set(m_status, std::string());
    set(m_manualLoginAddress, std::string());
}

// Only the assistants seen configured at the last refresh lose their entry:
// one configured by hand since then is the user's doing and stays.
void AgentState::logout() {
    for (const auto& app : m_services.clients()) {
        auto it = m_configured.find(app.key);
        if (it != m_configured.end() && it->second) m_services.removeClient(app);
    }
    m_services.clearConfig();
    refresh();
}

void AgentState::configure(const ClientApp& app) {
    if (auto failure = failureOf([&] { m_services.configureClient(app); })) {
        set(m_error, *failure);
    } else {
        set(m_error, std::string());
        flash("✓ " + app.name + " : configuration écrite. " + app.hint + ".");
    }
    refresh();
}

void AgentState::configureAll() {
    std::vector<std::string> names;
    for (const auto& app : m_services.clients()) {
        if (!app.installed()) continue;
        if (!failureOf([&] { m_services.configureClient(app); })) names.push_back(app.name);
    }
    // Recorded even when nothing was configured: it is what a later start
    // compares with to notice that the executable has moved.
    AgentConfig saved = m_cfg;
    saved.configuredPath = m_services.executablePath();
    m_services.saveConfig(saved);
    refresh();
    if (names.empty()) flash(ComputerWords::here("Aucun assistant détecté sur ce Mac."));
    else flash("✓ Configuré : " + joined(names, ", ") + ". Relance les apps.");
}

void AgentState::flash(const std::string& text) {
    set(m_notice, text);
    if (m_noticeTimer) m_noticeTimer->invalidate();
    // The timer already fires on the main thread, so it clears the text
    // itself: a clearing queued behind it could run after a newer flash
    // and wipe the newer text before its time.
    std::weak_ptr<AgentState> weak = weak_from_this();
    m_noticeTimer = m_main.schedule(kNoticeLifetime, false, [weak] {
        if (auto self = weak.lock()) self->set(self->m_notice, std::string());
    });
}

void AgentState::refreshAvailable() {
    auto self = shared_from_this();
    std::string baseUrl = m_cfg.baseUrl;
    m_background.run([self, baseUrl] {
        std::optional<std::string> version;
        try {
            version = self->m_services.availableVersion(baseUrl);
        } catch (...) {
            // An unreadable announcement is no announcement.
        }
        self->m_main.post([self, version] { self->set(self->m_availableVersion, version); });
    });
}

void AgentState::checkUpdates(bool silent) {
    const bool installable = inApplications();
    if (m_updating || !installable) {
        if (!silent && !installable)
            set(m_updateStatus, ComputerWords::here("Installe l'app dans Applications pour les mises à jour automatiques."));
        return;
    }
    set(m_updating, true);
    if (!silent) set(m_updateStatus, std::string("Recherche de mise à jour…"));
    auto self = shared_from_this();
    std::string baseUrl = m_cfg.baseUrl;
    m_background.run([self, baseUrl, silent] {
        const Updater::StatusReporter report = [self, silent](const std::string& text) {
            self->m_main.post([self, silent, text] {
                if (silent && !shownWhenSilent(text)) return;
                self->set(self->m_updateStatus, text);
            });
        };
        bool installed = false;
        try {
            installed = self->m_services.checkAndInstall(baseUrl, report);
        } catch (...) {
            // A failure the updater did not put into words still ends the check.
        }
        // Once installed the application is about to restart: `updating`
        // stays set so no second check starts meanwhile.
        self->m_main.post([self, installed] {
            if (!installed) self->set(self->m_updating, false);
        });
    });
}

void AgentState::setLoginItem(bool enabled) {
    m_services.setLoginItem(enabled);
    set(m_loginItem, m_services.loginItemEnabled());
}
