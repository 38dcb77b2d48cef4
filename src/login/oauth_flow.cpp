#include "login/oauth_flow.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <mutex>
#include <system_error>

#include "config/config_store.h"
#include "core/http.h"
#include "login/callback_request.h"
#include "login/loopback_listener.h"
#include "platform/background.h"
#include "platform/browser_launcher.h"
#include "platform/host_label.h"
#include "platform/main_queue.h"

namespace {

const char* const kScope = "read write";

// Every byte outside the unreserved set escaped: always valid in a query,
// whatever the value holds (the space of the scope becomes %20).
std::string queryEscaped(const std::string& text) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string sha256(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}

std::optional<std::string> stringMember(const std::optional<Json>& object, const char* key) {
    if (!object) return std::nullopt;
    auto it = object->find(key);
    if (it == object->end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::string systemMessage(int errorNumber) { return std::system_category().message(errorNumber); }

}  // namespace

struct OAuthFlow::Impl {
    Impl(std::string baseUrl, MainQueue& main, Background& background, std::uint16_t port)
        : baseUrl(std::move(baseUrl)), port(port), main(main), background(background) {}

    ~Impl() {
        // The listener's handlers hold the flow only weakly: once it is gone
        // there is no one left to serve, so the loop is told to end.
        if (listener) listener->stop();
    }

    const std::string baseUrl;
    const std::uint16_t port;
    MainQueue& main;
    Background& background;

    // Written by the login task, read by the listener's loop and by the
    // exchange on other threads; the state in particular can be read by a
    // request that arrives before the browser was sent anywhere.
    std::mutex mutex;
    std::shared_ptr<LoopbackListener> listener;
    std::string verifier;
    std::string state;
    std::string clientId;
    bool cancelled = false;

    // The first callback (code or refusal) decides the login; any other
    // that slips in before the listener stopped gets its page and nothing
    // more, so the login never exchanges twice or ends twice.
    std::atomic<bool> callbackTaken{false};
    bool done = false;  // main thread only

    bool isCancelled() {
        std::lock_guard lock(mutex);
        return cancelled;
    }

    void post(const std::shared_ptr<OAuthFlow>& self, std::function<void(OAuthFlow&)> call) {
        main.post([self, call = std::move(call)] { call(*self); });
    }

    void status(const std::shared_ptr<OAuthFlow>& self, std::string text) {
        post(self, [text = std::move(text)](OAuthFlow& f) { f.onStatus(text); });
    }

    // Ends the login. A failure reached after `cancel` is not reported: the
    // caller has moved on. A success is, since the configuration is saved.
    void finish(const std::shared_ptr<OAuthFlow>& self, LoginResult result) {
        post(self, [result = std::move(result)](OAuthFlow& f) {
            if (f.m->done) return;
            if (std::holds_alternative<LoginError>(result) && f.m->isCancelled()) return;
            f.m->done = true;
            f.onDone(result);
        });
    }

    void run(const std::shared_ptr<OAuthFlow>& self) {
        try {
            registerClient();
            if (!listen(self)) return;
        } catch (const ToolError& e) {
            finish(self, LoginError{e.code, e.message});
            return;
        } catch (const LoginError& e) {
            finish(self, e);
            return;
        }
        // The text follows the browser's opening, which a browser started in
        // the opener's foreground can hold back a few seconds.
        openBrowser(self);
        status(self, "Autorise Kestro Agent dans le navigateur…");
    }

    void registerClient() {
        Json body = {{"client_name", "Kestro Agent (" + HostLabel::current() + ")"},
                     {"redirect_uris", Json::array({redirectUri()})},
                     {"token_endpoint_auth_method", "none"},
                     {"grant_types", Json::array({"authorization_code", "refresh_token"})},
                     {"response_types", Json::array({"code"})},
                     {"scope", kScope}};
        HTTPResult reply = HTTP::postJSON(baseUrl + "/oauth/register", body);
        auto id = stringMember(reply.json(), "client_id");
        if (reply.status != 201 || !id)
            throw ToolError("register_failed", "Enregistrement auprès de Kestro impossible (HTTP " +
                                                   std::to_string(reply.status) + "). Vérifie l'adresse du site.");
        std::lock_guard lock(mutex);
        clientId = *id;
    }

    // False when the login was cancelled meanwhile: nothing is then left
    // listening and no browser is sent anywhere.
    bool listen(const std::shared_ptr<OAuthFlow>& self) {
        LoopbackListener::OpenError error;
        auto opened = LoopbackListener::open(port, error);
        if (!opened) {
            if (!error.portTaken) throw LoginError{"", systemMessage(error.errorNumber)};
            throw ToolError("listen_failed",
                            "Port " + std::to_string(port) + " occupé : " + systemMessage(error.errorNumber));
        }
        {
            std::lock_guard lock(mutex);
            if (cancelled) return false;
            listener = opened;
        }
        std::weak_ptr<OAuthFlow> weak = self;
        background.run([opened, weak] {
            opened->serve([weak](std::string_view chunk) -> std::string {
                auto flow = weak.lock();
                if (!flow) return "";
                return flow->m->handle(flow, chunk);
            });
        });
        return true;
    }

    void openBrowser(const std::shared_ptr<OAuthFlow>& self) {
        std::string verifierNow = b64url(random(48));
        std::string stateNow = b64url(random(16));
        std::string id;
        {
            std::lock_guard lock(mutex);
            verifier = verifierNow;
            state = stateNow;
            id = clientId;
        }
        std::string digest = sha256(verifierNow);
        std::string challenge = b64url(std::vector<unsigned char>(digest.begin(), digest.end()));
        const std::pair<const char*, std::string> query[] = {
            {"response_type", "code"},     {"client_id", id},
            {"redirect_uri", redirectUri()}, {"state", stateNow},
            {"code_challenge", challenge}, {"code_challenge_method", "S256"},
            {"scope", kScope},             {"resource", baseUrl + "/mcp"},
        };
        std::string url = baseUrl + "/oauth/authorize";
        char separator = '?';
        for (const auto& [name, value] : query) {
            url += separator;
            url += name;
            url += '=';
            url += queryEscaped(value);
            separator = '&';
        }
        // On this thread: the opener may take a moment to tell a failure.
        if (self->openUrl ? self->openUrl(url) : BrowserLauncher::open(url)) return;
        post(self, [url](OAuthFlow& f) {
            if (!f.m->done && !f.m->isCancelled()) f.onBrowserFailed(url);
        });
    }

    std::string handle(const std::shared_ptr<OAuthFlow>& self, std::string_view chunk) {
        std::string expected;
        std::shared_ptr<LoopbackListener> current;
        {
            std::lock_guard lock(mutex);
            expected = state;
            current = listener;
        }
        CallbackRequest request = CallbackRequest::parse(chunk, expected);
        bool decides = request.kind() == CallbackRequest::Kind::Code || request.kind() == CallbackRequest::Kind::Refused;
        if (decides && !callbackTaken.exchange(true)) {
            if (current) current->stop();
            if (request.kind() == CallbackRequest::Kind::Code) {
                std::string code = request.code();
                background.run([self, code] { self->m->exchange(self, code); });
            } else {
                finish(self, LoginError{"denied", request.reason()});
            }
        }
        return request.response();
    }

    void exchange(const std::shared_ptr<OAuthFlow>& self, const std::string& code) {
        status(self, "Finalisation…");
        std::string id, verifierNow;
        {
            std::lock_guard lock(mutex);
            id = clientId;
            verifierNow = verifier;
        }
        HTTPResult tokenReply = HTTP::postForm(baseUrl + "/oauth/token", {{"grant_type", "authorization_code"},
                                                                          {"code", code},
                                                                          {"client_id", id},
                                                                          {"redirect_uri", redirectUri()},
                                                                          {"code_verifier", verifierNow},
                                                                          {"resource", baseUrl + "/mcp"}});
        auto tokenJson = tokenReply.json();
        auto accessToken = stringMember(tokenJson, "access_token");
        if (tokenReply.status != 200 || !accessToken) {
            std::string reason = stringMember(tokenJson, "error_description")
                                     .value_or("HTTP " + std::to_string(tokenReply.status));
            finish(self, LoginError{"token_failed", "Échange du code refusé : " + reason});
            return;
        }

        HTTPResult mintReply = HTTP::postJSON(baseUrl + "/api/v1/pat_mint.php",
                                              {{"label", "Kestro Agent · " + HostLabel::current()}},
                                              {{"Authorization", "Bearer " + *accessToken}});
        auto mintJson = mintReply.json();
        auto agentToken = stringMember(mintJson, "token");
        if (mintReply.status != 200 || !agentToken) {
            std::string reason = stringMember(mintJson, "message")
                                     .value_or(stringMember(mintJson, "error")
                                                   .value_or("HTTP " + std::to_string(mintReply.status)));
            finish(self, LoginError{"pat_failed", "Création du token de l'agent refusée : " + reason});
            return;
        }
        std::optional<Json> user;
        if (mintJson->contains("user") && (*mintJson)["user"].is_object()) user = (*mintJson)["user"];

        // The refresh token would outlive the login for nothing: the agent
        // token is all the agent keeps.
        if (auto refresh = stringMember(tokenJson, "refresh_token"))
            HTTP::postForm(baseUrl + "/oauth/revoke", {{"token", *refresh}, {"client_id", id}});

        AgentConfig config = ConfigStore::load();
        config.baseUrl = baseUrl;
        config.token = *agentToken;
        config.userName = stringMember(user, "name").value_or("");
        config.userEmail = stringMember(user, "email").value_or("");
        config.clientId = id;
        ConfigStore::save(config);
        // The store never reports a failed write; a login whose token did not
        // reach the disk must not look like a success, since no assistant
        // could use it.
        if (ConfigStore::load().token != config.token) {
            finish(self, LoginError{"save_failed", "Impossible d'enregistrer la configuration de l'agent."});
            return;
        }
        finish(self, config);
    }

    std::string redirectUri() const { return "http://127.0.0.1:" + std::to_string(port) + "/callback"; }
};

OAuthFlow::OAuthFlow(std::string baseUrl, MainQueue& main, Background& background, std::uint16_t port)
    : m(std::make_unique<Impl>(std::move(baseUrl), main, background, port)) {}

OAuthFlow::~OAuthFlow() = default;

std::shared_ptr<OAuthFlow> OAuthFlow::create(std::string baseUrl, MainQueue& main, Background& background,
                                             std::uint16_t port) {
    return std::shared_ptr<OAuthFlow>(new OAuthFlow(std::move(baseUrl), main, background, port));
}

void OAuthFlow::start() {
    onStatus("Connexion à " + m->baseUrl + "…");
    auto self = shared_from_this();
    m->background.run([self] { self->m->run(self); });
}

void OAuthFlow::cancel() {
    std::lock_guard lock(m->mutex);
    m->cancelled = true;
    if (m->listener) m->listener->stop();
}

const std::string& OAuthFlow::baseUrl() const { return m->baseUrl; }
std::uint16_t OAuthFlow::port() const { return m->port; }
std::string OAuthFlow::redirectUri() const { return m->redirectUri(); }

std::vector<unsigned char> OAuthFlow::random(std::size_t count) {
    std::vector<unsigned char> bytes(count);
    if (count == 0 || RAND_bytes(bytes.data(), int(count)) == 1) return bytes;
    // A failed generator would leave zeros, and a verifier or state anyone
    // can guess. Ask the kernel directly; with no secure bytes at all there
    // is no safe way on.
    std::size_t filled = 0;
    while (filled < count) {
        ssize_t n = ::getrandom(bytes.data() + filled, count - filled, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) std::abort();
        filled += std::size_t(n);
    }
    return bytes;
}

std::string OAuthFlow::b64url(const std::vector<unsigned char>& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(), int(bytes.size()));
    text.resize(std::size_t(length));
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '+') out += '-';
        else if (c == '/') out += '_';
        else if (c != '=') out += c;
    }
    return out;
}
