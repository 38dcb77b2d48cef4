#include "ui/core/oauth_login_flow.h"

OAuthLoginFlow::OAuthLoginFlow(std::shared_ptr<OAuthFlow> flow) : m_flow(std::move(flow)) {}

void OAuthLoginFlow::setCallbacks(StatusCallback onStatus, DoneCallback onDone) {
    m_flow->onStatus = std::move(onStatus);
    m_flow->onDone = std::move(onDone);
}

void OAuthLoginFlow::setBrowserFailedCallback(AddressCallback onBrowserFailed) {
    m_flow->onBrowserFailed = std::move(onBrowserFailed);
}

void OAuthLoginFlow::start() { m_flow->start(); }

void OAuthLoginFlow::cancel() { m_flow->cancel(); }
