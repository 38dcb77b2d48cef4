#pragma once

#include <memory>

#include "login/oauth_flow.h"
#include "ui/core/login_flow.h"

// The real login attempt behind the state's LoginFlow seam. Holds the flow
// strongly, as the state holds its attempt; the flow's own callbacks are the
// ones the state installs.
class OAuthLoginFlow : public LoginFlow {
public:
    explicit OAuthLoginFlow(std::shared_ptr<OAuthFlow> flow);

    void setCallbacks(StatusCallback onStatus, DoneCallback onDone) override;
    void setBrowserFailedCallback(AddressCallback onBrowserFailed) override;
    void start() override;
    void cancel() override;

    OAuthFlow& flow() { return *m_flow; }

private:
    std::shared_ptr<OAuthFlow> m_flow;
};
