#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "config/agent_config.h"
#include "core/tool_error.h"

class MainQueue;
class Background;

// The error a login ends with: a ToolError with its code and French message,
// or a system failure (a listener the system refused) described by its text.
struct LoginError {
    // "register_failed", "listen_failed", "denied", "token_failed", "pat_failed";
    // "save_failed" when the configuration could not be written; "" for a system error.
    std::string code;
    std::string message;  // what the panel shows
};

// Success: the configuration as saved; failure: why.
using LoginResult = std::variant<AgentConfig, LoginError>;

// One login attempt: OAuth 2.0 authorization code with PKCE (S256), a client
// registered anew at each login, a loopback redirect, and the minting of the
// agent token that the configuration keeps.
//
//   start ─(main)─ onStatus "Connexion à …"
//     └─(background)─ register ─ listen ─ openBrowser ─(main)─ onStatus "Autorise …"
//   browser ─ GET /callback?code&state ─ handle ─(background)─ exchange
//     └─ token ─ mint ─ revoke ─ save ─(main)─ onStatus "Finalisation…", onDone
//
// Callbacks always arrive on the main queue (the first status synchronously
// inside `start`). `onDone` is called at most once; never after `cancel`
// stops the listener before the browser came back, and never for a login
// abandoned in the browser.
class OAuthFlow : public std::enable_shared_from_this<OAuthFlow> {
public:
    static constexpr std::uint16_t kDefaultPort = 51734;

    // Hands a URL to the user's browser (by default `xdg-open URL`); false
    // when no browser could be opened. Called on a background thread.
    using BrowserOpener = std::function<bool(const std::string& url)>;

    static std::shared_ptr<OAuthFlow> create(std::string baseUrl, MainQueue& main, Background& background,
                                             std::uint16_t port = kDefaultPort);

    std::function<void(const std::string&)> onStatus = [](const std::string&) {};
    std::function<void(const LoginResult&)> onDone = [](const LoginResult&) {};
    // With the authorization address, when no browser could be opened: the
    // login goes on waiting for the user to open it by hand. Main thread.
    std::function<void(const std::string& url)> onBrowserFailed = [](const std::string&) {};
    // Replaced by tests with a scripted browser; set before `start`.
    BrowserOpener openUrl;

    void start();
    void cancel();

    const std::string& baseUrl() const;
    std::uint16_t port() const;
    std::string redirectUri() const;

    static std::vector<unsigned char> random(std::size_t count);
    static std::string b64url(const std::vector<unsigned char>& bytes);

    ~OAuthFlow();

private:
    OAuthFlow(std::string baseUrl, MainQueue& main, Background& background, std::uint16_t port);
    struct Impl;
    std::unique_ptr<Impl> m;
};
