// The stand-in's OAuth side keeps a real authorization server's rules, so a
// login that passes against it is a correct one.
#include "oauth_service.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include "core/http.h"
#include "dev_service.h"
#include "scripted_browser.h"

namespace {

using devservice::OAuthService;

struct Rig {
    devservice::DevService service;
    std::string base;
    std::string redirect = "http://127.0.0.1:40123/callback";
    std::string verifier = std::string(64, 'v');
    std::string clientId;
    int port = 0;

    Rig() {
        port = service.start();
        base = service.baseUrl();
    }

    HTTPResult registerClient(Json body) { return HTTP::postJSON(base + "/oauth/register", body); }

    Json validClient() {
        return {{"client_name", "Kestro Agent (test)"},
                {"redirect_uris", {redirect}},
                {"token_endpoint_auth_method", "none"},
                {"grant_types", {"authorization_code", "refresh_token"}},
                {"response_types", {"code"}},
                {"scope", "read write"}};
    }

    std::map<std::string, std::string> authorizeQuery() {
        return {{"response_type", "code"},        {"client_id", clientId},
                {"redirect_uri", redirect},       {"state", "st"},
                {"code_challenge", OAuthService::challengeOf(verifier)},
                {"code_challenge_method", "S256"}, {"scope", "read write"},
                {"resource", base + "/mcp"}};
    }

    // The authorization answer, not followed: status and Location.
    // Read raw, so the Location is seen exactly as sent.
    std::pair<int, std::string> authorize(const std::map<std::string, std::string>& query) {
        std::string target = "/oauth/authorize?";
        for (const auto& [name, value] : query) target += name + "=" + httplib::detail::encode_query_param(value) + "&";
        std::string raw = rawExchange(port, "GET " + target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
                                      std::chrono::milliseconds(10000), false);
        if (!raw.starts_with("HTTP/1.1 ")) return {0, ""};
        int status = std::atoi(raw.c_str() + 9);
        auto at = raw.find("\r\nLocation: ");
        if (at == std::string::npos || at > raw.find("\r\n\r\n")) return {status, ""};
        at += 12;
        return {status, raw.substr(at, raw.find("\r\n", at) - at)};
    }

    std::map<std::string, std::string> redirectQuery(const std::string& location) {
        EXPECT_TRUE(location.starts_with(redirect + "?")) << location;
        return OAuthService::parseForm(location.substr(location.find('?') + 1));
    }

    std::string code() {
        auto [status, location] = authorize(authorizeQuery());
        EXPECT_EQ(status, 302);
        return redirectQuery(location)["code"];
    }

    std::map<std::string, std::string> tokenForm(const std::string& code) {
        return {{"grant_type", "authorization_code"}, {"code", code},         {"client_id", clientId},
                {"redirect_uri", redirect},          {"code_verifier", verifier}, {"resource", base + "/mcp"}};
    }

    HTTPResult token(const std::map<std::string, std::string>& form) { return HTTP::postForm(base + "/oauth/token", form); }
};

std::string errorDescription(const HTTPResult& r) {
    return r.json() ? r.json()->value("error_description", "") : "";
}

TEST(OAuthService, RegistrationAcceptsOnlyPublicClientsWithRedirects) {
    Rig rig;
    HTTPResult ok = rig.registerClient(rig.validClient());
    EXPECT_EQ(ok.status, 201);
    ASSERT_TRUE(ok.json());
    EXPECT_TRUE((*ok.json())["client_id"].is_string());

    Json secret = rig.validClient();
    secret["token_endpoint_auth_method"] = "client_secret_basic";
    EXPECT_EQ(rig.registerClient(secret).status, 400);
    Json noRedirect = rig.validClient();
    noRedirect.erase("redirect_uris");
    EXPECT_EQ(rig.registerClient(noRedirect).status, 400);
    EXPECT_EQ(HTTP::request("POST", rig.base + "/oauth/register", {}, std::string("not json")).status, 400);
    EXPECT_EQ(rig.service.oauth().clients().size(), 1u);
}

TEST(OAuthService, AuthorizationRedirectsOnlyToARegisteredUriAndChecksPkceAndResource) {
    Rig rig;
    rig.clientId = (*rig.registerClient(rig.validClient()).json())["client_id"];

    auto q = rig.authorizeQuery();
    q["client_id"] = "unknown";
    EXPECT_EQ(rig.authorize(q), (std::pair<int, std::string>{400, ""})) << "no redirect for an unknown client";
    q = rig.authorizeQuery();
    q["redirect_uri"] = "http://127.0.0.1:40124/callback";
    EXPECT_EQ(rig.authorize(q), (std::pair<int, std::string>{400, ""})) << "nor to an address not registered";

    auto refused = [&](const std::string& key, const std::string& value) {
        auto query = rig.authorizeQuery();
        if (value.empty()) query.erase(key);
        else query[key] = value;
        auto [status, location] = rig.authorize(query);
        EXPECT_EQ(status, 302);
        auto back = rig.redirectQuery(location);
        EXPECT_EQ(back["state"], "st");
        EXPECT_EQ(back.count("code"), 0u);
        return back["error"];
    };
    EXPECT_EQ(refused("code_challenge_method", "plain"), "invalid_request");
    EXPECT_EQ(refused("code_challenge", ""), "invalid_request");
    EXPECT_EQ(refused("resource", "https://elsewhere.example/mcp"), "invalid_target");
    EXPECT_EQ(refused("response_type", "token"), "unsupported_response_type");

    rig.service.oauth().refuseAuthorization("access_denied", "Accès refusé");
    auto [status, location] = rig.authorize(rig.authorizeQuery());
    EXPECT_EQ(status, 302);
    EXPECT_NE(location.find("error_description=Acc%C3%A8s+refus%C3%A9"), std::string::npos)
        << "form-encoded, a space as \"+\": " << location;
    rig.service.oauth().refuseAuthorization("");

    auto [okStatus, okLocation] = rig.authorize(rig.authorizeQuery());
    EXPECT_EQ(okStatus, 302);
    auto back = rig.redirectQuery(okLocation);
    EXPECT_FALSE(back["code"].empty());
    EXPECT_EQ(back["state"], "st");
}

TEST(OAuthService, TheCodeIsRedeemedOnceWithTheRightVerifierClientAndRedirect) {
    Rig rig;
    rig.clientId = (*rig.registerClient(rig.validClient()).json())["client_id"];
    std::string code = rig.code();

    auto wrong = [&](const std::string& key, const std::string& value) {
        auto form = rig.tokenForm(code);
        form[key] = value;
        HTTPResult r = rig.token(form);
        EXPECT_EQ(r.status, 400) << key;
        return errorDescription(r);
    };
    EXPECT_EQ(wrong("code_verifier", std::string(64, 'w')), "Vérificateur PKCE invalide.");
    EXPECT_EQ(wrong("client_id", "other"), "Client différent.");
    EXPECT_EQ(wrong("redirect_uri", "http://127.0.0.1:1/callback"), "Adresse de retour différente.");
    EXPECT_EQ(wrong("code", "nope"), "Code inconnu.");
    EXPECT_EQ(wrong("grant_type", "password"), "Seul authorization_code est accepté.");

    HTTPResult ok = rig.token(rig.tokenForm(code));
    ASSERT_EQ(ok.status, 200);
    EXPECT_TRUE((*ok.json())["access_token"].is_string());
    EXPECT_TRUE((*ok.json())["refresh_token"].is_string());
    HTTPResult again = rig.token(rig.tokenForm(code));
    EXPECT_EQ(again.status, 400);
    EXPECT_EQ(errorDescription(again), "Code déjà utilisé.");
}

TEST(OAuthService, MintingNeedsTheAccessTokenAndItsTokenThenWorksOnMcp) {
    Rig rig;
    rig.clientId = (*rig.registerClient(rig.validClient()).json())["client_id"];
    Json tokens = *rig.token(rig.tokenForm(rig.code())).json();
    const std::string access = tokens["access_token"];
    const Json list{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/list"}};

    EXPECT_EQ(HTTP::postJSON(rig.base + "/api/v1/pat_mint.php", {{"label", "x"}}).status, 401);
    EXPECT_EQ(HTTP::postJSON(rig.base + "/api/v1/pat_mint.php", {{"label", "x"}}, {{"Authorization", "Bearer nope"}})
                  .status,
              401);
    EXPECT_EQ(HTTP::postJSON(rig.base + "/mcp", list, {{"Authorization", "Bearer " + access}}).status, 401)
        << "the OAuth access token is not an agent token";

    HTTPResult minted = HTTP::postJSON(rig.base + "/api/v1/pat_mint.php", {{"label", "Kestro Agent · test"}},
                                       {{"Authorization", "Bearer " + access}});
    ASSERT_EQ(minted.status, 200);
    Json reply = *minted.json();
    EXPECT_EQ(reply["user"], (Json{{"name", "Camille Dev"}, {"email", "camille@example.test"}}));
    EXPECT_EQ(rig.service.oauth().minted().at(0).label, "Kestro Agent · test");
    EXPECT_EQ(HTTP::postJSON(rig.base + "/mcp", list, {{"Authorization", "Bearer " + reply["token"].get<std::string>()}})
                  .status,
              200);

    // Revocation: the refresh token goes, an unknown one is no error.
    EXPECT_EQ(HTTP::postForm(rig.base + "/oauth/revoke", {{"token", tokens["refresh_token"]}, {"client_id", rig.clientId}})
                  .status,
              200);
    EXPECT_EQ(rig.service.oauth().revoked(), std::vector<std::string>{tokens["refresh_token"]});
    EXPECT_EQ(HTTP::postForm(rig.base + "/oauth/revoke", {{"token", "unknown"}, {"client_id", rig.clientId}}).status,
              200);
    EXPECT_EQ(rig.service.oauth().revoked().size(), 1u);
}

TEST(OAuthService, FaultsApplyToEachEndpoint) {
    Rig rig;
    devservice::Fault fault;
    fault.pathPrefix = "/oauth/register";
    fault.status = 503;
    fault.body = "down";
    fault.remaining = 1;
    rig.service.addFault(fault);
    HTTPResult r = rig.registerClient(rig.validClient());
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.data, "down");
    EXPECT_EQ(rig.registerClient(rig.validClient()).status, 201) << "one request only";
    EXPECT_EQ(rig.service.count("POST", "/oauth/register"), 2u) << "both recorded";
}

}  // namespace
