#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dev_service.h"
#include "login/oauth_flow.h"
#include "oauth_service.h"
#include "platform/manual_main_queue.h"
#include "platform/thread_background.h"
#include "scripted_browser.h"
#include "temp_home.h"
#include "test_http_server.h"

// One login against the in-process stand-in service, with everything real but
// the main thread: a manual main queue the test drains, real worker threads,
// a real loopback listener on a free port and a scripted browser.
struct LoginRig {
    TempHome home;
    devservice::DevService service;
    ManualMainQueue main;
    ThreadBackground background;
    ScriptedBrowser browser;
    std::uint16_t port;
    std::shared_ptr<OAuthFlow> flow;
    std::vector<std::string> statuses;
    std::vector<LoginResult> results;

    explicit LoginRig(std::optional<std::uint16_t> fixedPort = std::nullopt) {
        service.start();
        port = fixedPort ? *fixedPort : std::uint16_t(TestHttpServer::unusedPort());
        flow = makeFlow();
    }

    std::shared_ptr<OAuthFlow> makeFlow() {
        auto f = OAuthFlow::create(service.baseUrl(), main, background, port);
        f->openUrl = browser.opener();
        f->onStatus = [this](const std::string& s) { statuses.push_back(s); };
        f->onDone = [this](const LoginResult& r) { results.push_back(r); };
        return f;
    }

    // Starts the login and runs the main queue until it has ended.
    bool login() {
        flow->start();
        return finish();
    }
    bool finish() { return main.runUntil([&] { return !results.empty(); }); }

    // The error the login ended with; a test failure when it succeeded.
    LoginError error() const {
        if (results.size() == 1 && std::holds_alternative<LoginError>(results[0]))
            return std::get<LoginError>(results[0]);
        ADD_FAILURE() << "the login did not end with exactly one failure (" << results.size() << " results)";
        return {};
    }
    AgentConfig config() const {
        if (results.size() == 1 && std::holds_alternative<AgentConfig>(results[0]))
            return std::get<AgentConfig>(results[0]);
        if (!results.empty() && std::holds_alternative<LoginError>(results[0]))
            ADD_FAILURE() << "login failed: " << std::get<LoginError>(results[0]).code << " "
                          << std::get<LoginError>(results[0]).message;
        else
            ADD_FAILURE() << "the login did not end with exactly one success";
        return {};
    }

    // Everything the flow started has ended: no thread, no listener left.
    bool quiet() { return background.waitIdleFor(std::chrono::seconds(20)); }

    ~LoginRig() {
        if (flow) flow->cancel();
        main.runUntilIdle();
        flow.reset();
        EXPECT_TRUE(quiet()) << "a background task outlived the login";
        main.runUntilIdle();
    }
};
