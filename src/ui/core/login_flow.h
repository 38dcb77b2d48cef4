#pragma once

#include <functional>
#include <string>

#include "login/oauth_flow.h"

// One login attempt as the application state drives it: callbacks installed,
// then started, possibly cancelled. OAuthFlow is the real one (through
// OAuthLoginFlow); tests hand the state scripted attempts instead, so every
// ending of a login can be replayed without a service or a browser.
class LoginFlow {
public:
    using StatusCallback = std::function<void(const std::string&)>;
    using DoneCallback = std::function<void(const LoginResult&)>;

    virtual ~LoginFlow() = default;

    // Installed before `start`. Both are called on the main thread only;
    // `onDone` at most once.
    virtual void setCallbacks(StatusCallback onStatus, DoneCallback onDone) = 0;
    // With the address to open by hand when no browser could be opened.
    using AddressCallback = std::function<void(const std::string& url)>;
    virtual void setBrowserFailedCallback(AddressCallback onBrowserFailed) = 0;
    virtual void start() = 0;
    virtual void cancel() = 0;
};
