#include "login/oauth_flow.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "config/config_store.h"
#include "core/http.h"
#include "login_rig.h"
#include "platform/host_label.h"

namespace {

using devservice::Fault;
using devservice::OAuthService;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const devservice::RecordedRequest* lastTo(const std::vector<devservice::RecordedRequest>& requests,
                                          const std::string& path) {
    const devservice::RecordedRequest* found = nullptr;
    for (const auto& r : requests)
        if (r.path == path) found = &r;
    return found;
}

std::map<std::string, std::string> queryOf(const std::string& url) {
    return OAuthService::parseForm(url.substr(url.find('?') + 1));
}

TEST(OAuthFlow, WholeLoginStoresTheMintedTokenWhichThenWorksOnMcp) {
    LoginRig rig;
    ASSERT_TRUE(rig.login());
    AgentConfig config = rig.config();

    EXPECT_EQ(rig.statuses, (std::vector<std::string>{"Connexion à " + rig.service.baseUrl() + "…",
                                                       "Autorise Kestro Agent dans le navigateur…",
                                                       "Finalisation…"}));
    auto minted = rig.service.oauth().minted();
    ASSERT_EQ(minted.size(), 1u);
    auto clients = rig.service.oauth().clients();
    ASSERT_EQ(clients.size(), 1u);
    EXPECT_EQ(config, (AgentConfig{rig.service.baseUrl(), minted[0].token, "Camille Dev", "camille@example.test",
                                   clients[0].id, ""}));
    EXPECT_EQ(ConfigStore::load(), config);
    struct stat info {};
    ASSERT_EQ(::stat(rig.home.configFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    auto page = rig.browser.waitPage();
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("Kestro Agent est connecté"), std::string::npos);
    ASSERT_EQ(page.redirects.size(), 1u);
    EXPECT_TRUE(page.redirects[0].starts_with(rig.flow->redirectUri() + "?code="));

    HTTPResult mcp = HTTP::postJSON(rig.service.baseUrl() + "/mcp",
                                    Json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/list"}},
                                    {{"Authorization", "Bearer " + config.token}});
    EXPECT_EQ(mcp.status, 200);
    ASSERT_TRUE(mcp.json());
    EXPECT_TRUE(mcp.json()->contains("result"));
    EXPECT_TRUE(rig.quiet()) << "the listener and the exchange have ended";
}

// What each request carried, as the service received it.
TEST(OAuthFlow, SendsExactlyWhatTheServiceExpects) {
    LoginRig rig;
    ASSERT_TRUE(rig.login());
    AgentConfig config = rig.config();
    auto requests = rig.service.requests();
    const std::string base = rig.service.baseUrl();
    const std::string host = HostLabel::current();

    auto reg = lastTo(requests, "/oauth/register");
    ASSERT_TRUE(reg);
    EXPECT_EQ(Json::parse(reg->body),
              (Json{{"client_name", "Kestro Agent (" + host + ")"},
                    {"redirect_uris", {rig.flow->redirectUri()}},
                    {"token_endpoint_auth_method", "none"},
                    {"grant_types", {"authorization_code", "refresh_token"}},
                    {"response_types", {"code"}},
                    {"scope", "read write"}}));
    EXPECT_EQ(reg->headers.count("authorization"), 0u);

    auto opened = rig.browser.openedUrls();
    ASSERT_EQ(opened.size(), 1u);
    const std::string& url = opened[0];
    ASSERT_TRUE(url.starts_with(base + "/oauth/authorize?response_type=code&client_id="));
    EXPECT_NE(url.find("&scope=read%20write&"), std::string::npos);
    auto query = queryOf(url);
    EXPECT_EQ(query.size(), 8u);
    EXPECT_EQ(query["client_id"], config.clientId);
    EXPECT_EQ(query["redirect_uri"], "http://127.0.0.1:" + std::to_string(rig.port) + "/callback");
    EXPECT_EQ(query["code_challenge_method"], "S256");
    EXPECT_EQ(query["resource"], base + "/mcp");
    EXPECT_EQ(query["state"].size(), 22u);
    EXPECT_EQ(query["code_challenge"].size(), 43u);

    auto token = lastTo(requests, "/oauth/token");
    ASSERT_TRUE(token);
    auto form = OAuthService::parseForm(token->body);
    auto grants = rig.service.oauth().grants();
    ASSERT_EQ(grants.size(), 1u);
    EXPECT_EQ(form.size(), 6u);
    EXPECT_EQ(form["grant_type"], "authorization_code");
    EXPECT_EQ(form["code"], grants[0].code);
    EXPECT_EQ(form["client_id"], config.clientId);
    EXPECT_EQ(form["redirect_uri"], rig.flow->redirectUri());
    EXPECT_EQ(form["code_verifier"].size(), 64u);
    EXPECT_EQ(OAuthService::challengeOf(form["code_verifier"]), query["code_challenge"]);
    EXPECT_EQ(form["resource"], base + "/mcp");
    EXPECT_EQ(token->headers.at("content-type"), "application/x-www-form-urlencoded");

    auto mint = lastTo(requests, "/api/v1/pat_mint.php");
    ASSERT_TRUE(mint);
    EXPECT_EQ(Json::parse(mint->body), (Json{{"label", "Kestro Agent · " + host}}));
    auto minted = rig.service.oauth().minted();
    ASSERT_EQ(minted.size(), 1u);
    EXPECT_EQ(mint->headers.at("authorization"), "Bearer " + minted[0].accessToken);

    auto revoke = lastTo(requests, "/oauth/revoke");
    ASSERT_TRUE(revoke);
    auto revokeForm = OAuthService::parseForm(revoke->body);
    EXPECT_EQ(revokeForm.size(), 2u);
    EXPECT_EQ(revokeForm["client_id"], config.clientId);
    EXPECT_EQ(rig.service.oauth().revoked(), std::vector<std::string>{revokeForm["token"]});
    EXPECT_TRUE(revokeForm["token"].starts_with("rt_")) << "the refresh token, not the access token";
}

TEST(OAuthFlow, ANewLoginKeepsConfiguredPathAndReplacesTokenAndClient) {
    LoginRig rig;
    ConfigStore::save({"https://old.example", "old-token", "Ancien", "old@example.test", "old-client", "/opt/Kestro"});
    ASSERT_TRUE(rig.login());
    AgentConfig stored = ConfigStore::load();
    EXPECT_EQ(stored.configuredPath, "/opt/Kestro");
    EXPECT_EQ(stored.baseUrl, rig.service.baseUrl());
    EXPECT_NE(stored.token, "old-token");
    EXPECT_NE(stored.clientId, "old-client");
    EXPECT_EQ(stored, rig.config());
}

TEST(OAuthFlow, MintingWithoutUserAndTokenWithoutRefreshStillLogIn) {
    LoginRig rig;
    rig.service.oauth().setUser(std::nullopt);
    rig.service.oauth().setIssueRefreshToken(false);
    ASSERT_TRUE(rig.login());
    EXPECT_EQ(rig.config().userName, "");
    EXPECT_EQ(rig.config().userEmail, "");
    EXPECT_FALSE(rig.config().token.empty());
    EXPECT_EQ(rig.service.count("POST", "/oauth/revoke"), 0u) << "nothing to revoke";
}

struct Refusal {
    std::string path;
    int status;
    std::string body;
    std::string code;
    std::string message;
};

class LoginRefusals : public ::testing::TestWithParam<Refusal> {};

// Each refusal ends the login with its message, stores nothing, and (for the
// registration) never sends the browser anywhere.
TEST_P(LoginRefusals, EndTheLoginWithTheirMessageAndStoreNothing) {
    const Refusal& r = GetParam();
    LoginRig rig;
    ConfigStore::save({"https://old.example", "old-token", "Ancien", "old@example.test", "old-client", "/opt/K"});
    const std::string before = readFile(rig.home.configFile());
    Fault fault;
    fault.pathPrefix = r.path;
    fault.status = r.status;
    fault.body = r.body;
    rig.service.addFault(fault);
    ASSERT_TRUE(rig.login());
    LoginError e = rig.error();
    EXPECT_EQ(e.code, r.code);
    EXPECT_EQ(e.message, r.message);
    EXPECT_EQ(readFile(rig.home.configFile()), before);
    if (r.code == "register_failed") {
        EXPECT_TRUE(rig.browser.openedUrls().empty());
        EXPECT_EQ(rig.statuses.size(), 1u);
    }
    EXPECT_TRUE(rig.quiet());
}

const std::string kRegister = "Enregistrement auprès de Kestro impossible (HTTP ";
const std::string kCheckSite = "). Vérifie l'adresse du site.";

INSTANTIATE_TEST_SUITE_P(
    All, LoginRefusals,
    ::testing::Values(
        Refusal{"/oauth/register", 200, R"({"client_id":"c1"})", "register_failed", kRegister + "200" + kCheckSite},
        Refusal{"/oauth/register", 201, R"({"client_name":"x"})", "register_failed", kRegister + "201" + kCheckSite},
        Refusal{"/oauth/register", 201, R"({"client_id":42})", "register_failed", kRegister + "201" + kCheckSite},
        Refusal{"/oauth/register", 500, "<html>", "register_failed", kRegister + "500" + kCheckSite},
        Refusal{"/oauth/token", 400, R"({"error":"invalid_grant","error_description":"Code expiré."})",
                "token_failed", "Échange du code refusé : Code expiré."},
        Refusal{"/oauth/token", 400, R"({"error":"invalid_grant"})", "token_failed",
                "Échange du code refusé : HTTP 400"},
        Refusal{"/oauth/token", 201, R"({"access_token":"at"})", "token_failed", "Échange du code refusé : HTTP 201"},
        Refusal{"/oauth/token", 200, R"({"access_token":7})", "token_failed", "Échange du code refusé : HTTP 200"},
        Refusal{"/api/v1/pat_mint.php", 403, R"({"error":"forbidden"})", "pat_failed",
                "Création du token de l'agent refusée : forbidden"},
        Refusal{"/api/v1/pat_mint.php", 403, R"({"error":"forbidden","message":"Compte suspendu."})", "pat_failed",
                "Création du token de l'agent refusée : Compte suspendu."},
        Refusal{"/api/v1/pat_mint.php", 200, R"({"user":{}})", "pat_failed",
                "Création du token de l'agent refusée : HTTP 200"},
        Refusal{"/api/v1/pat_mint.php", 502, "Bad gateway", "pat_failed",
                "Création du token de l'agent refusée : HTTP 502"}));

TEST(OAuthFlow, AServiceThatCannotBeReachedFailsTheRegistrationWithStatusZero) {
    LoginRig rig;
    rig.flow = OAuthFlow::create("http://127.0.0.1:" + std::to_string(TestHttpServer::unusedPort()), rig.main,
                                 rig.background, rig.port);
    rig.flow->onDone = [&](const LoginResult& r) { rig.results.push_back(r); };
    rig.flow->openUrl = rig.browser.opener();
    ASSERT_TRUE(rig.login());
    EXPECT_EQ(rig.error().message, kRegister + "0" + kCheckSite);
    EXPECT_TRUE(rig.browser.openedUrls().empty());
}

TEST(OAuthFlow, TheServiceRefusingShowsItsReasonDecodedAndEscaped) {
    LoginRig rig;
    rig.service.oauth().refuseAuthorization("access_denied", "Accès refusé <b>\"par\"</b> l'utilisateur & co");
    bool ended = rig.login();
    auto page = rig.browser.waitPage();
    ASSERT_TRUE(ended) << page.status << " " << page.url << " " << page.body;
    LoginError e = rig.error();
    EXPECT_EQ(e.code, "denied");
    EXPECT_EQ(e.message, "Accès refusé <b>\"par\"</b> l'utilisateur & co") << "\"+\" in the redirect is a space";
    EXPECT_NE(page.body.find("<h2>❌ Connexion refusée</h2><p>Accès refusé &lt;b&gt;&quot;par&quot;&lt;/b&gt; "
                             "l&#39;utilisateur &amp; co</p>"),
              std::string::npos)
        << page.body;
    EXPECT_EQ(rig.service.count("POST", "/oauth/token"), 0u);
}

TEST(OAuthFlow, TheServiceRefusingWithOnlyAnErrorGivesTheError) {
    LoginRig rig;
    rig.service.oauth().refuseAuthorization("access_denied");
    ASSERT_TRUE(rig.login());
    EXPECT_EQ(rig.error().message, "access_denied");
}

TEST(OAuthFlow, AnAbandonedLoginWaitsAndCancelEndsItSilently) {
    LoginRig rig;
    rig.browser.setBehaviour(ScriptedBrowser::Behaviour::Abandon);
    rig.flow->start();
    ASSERT_TRUE(rig.main.runUntil([&] { return rig.statuses.size() == 2; }));
    EXPECT_EQ(rig.browser.openedUrls().size(), 1u);
    EXPECT_NE(rawExchange(rig.port, "GET /favicon.ico HTTP/1.1\r\n\r\n").find("Requête inattendue."), std::string::npos)
        << "the listener waits";
    rig.flow->cancel();
    rig.flow->cancel();  // twice is harmless
    EXPECT_TRUE(rig.quiet());
    rig.main.runUntilIdle();
    EXPECT_TRUE(rig.results.empty()) << "cancel calls neither callback";
    EXPECT_EQ(rawExchange(rig.port, "GET /callback HTTP/1.1\r\n\r\n"), "") << "nothing listens any more";
}

// No browser could be opened (none installed, an opener that fails under an
// unknown desktop): the login still waits, and the address it hands over,
// opened by hand, logs the user in.
TEST(OAuthFlow, WithoutABrowserTheAddressIsGivenAndOpenedByHandLogsIn) {
    LoginRig rig;
    rig.browser.setBehaviour(ScriptedBrowser::Behaviour::Missing);
    std::vector<std::string> handed;
    rig.flow->onBrowserFailed = [&](const std::string& url) { handed.push_back(url); };
    rig.flow->start();
    ASSERT_TRUE(rig.main.runUntil([&] { return !handed.empty() && rig.statuses.size() == 2; }));
    ASSERT_EQ(rig.browser.openedUrls(), handed);
    EXPECT_EQ(rig.statuses.back(), "Autorise Kestro Agent dans le navigateur…");
    EXPECT_TRUE(rig.results.empty()) << "the login goes on waiting";

    ScriptedBrowser::Page page = rig.browser.visit(handed.front());
    EXPECT_NE(page.body.find("Kestro Agent est connecté"), std::string::npos) << page.body;
    ASSERT_TRUE(rig.finish());
    EXPECT_EQ(rig.config().token, ConfigStore::load().token);
    EXPECT_EQ(handed.size(), 1u);
}

TEST(OAuthFlow, CancelDuringRegistrationSendsNoBrowserAnywhere) {
    LoginRig rig;
    Fault slow;
    slow.pathPrefix = "/oauth/register";
    slow.delayMs = 300;
    rig.service.addFault(slow);
    rig.flow->start();
    rig.flow->cancel();
    EXPECT_TRUE(rig.quiet());
    rig.main.runUntilIdle();
    EXPECT_TRUE(rig.browser.openedUrls().empty());
    EXPECT_TRUE(rig.results.empty());
    EXPECT_EQ(rawExchange(rig.port, "GET / HTTP/1.1\r\n\r\n"), "");
}

TEST(OAuthFlow, DroppingTheFlowStopsItsListener) {
    LoginRig rig;
    rig.browser.setBehaviour(ScriptedBrowser::Behaviour::Abandon);
    rig.flow->start();
    ASSERT_TRUE(rig.main.runUntil([&] { return rig.statuses.size() == 2; }));
    rig.main.runUntilIdle();
    rig.flow.reset();
    EXPECT_TRUE(rig.quiet());
}

TEST(OAuthFlow, EachLoginRegistersItsOwnClientAndState) {
    LoginRig rig;
    ASSERT_TRUE(rig.login());
    rig.flow = rig.makeFlow();
    rig.results.clear();
    ASSERT_TRUE(rig.login());
    rig.config();
    auto clients = rig.service.oauth().clients();
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_NE(clients[0].id, clients[1].id);
    auto opened = rig.browser.openedUrls();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_NE(queryOf(opened[0])["state"], queryOf(opened[1])["state"]);
    EXPECT_EQ(ConfigStore::load().clientId, clients[1].id);
}

TEST(OAuthFlow, RandomAndB64url) {
    EXPECT_EQ(OAuthFlow::b64url({}), "");
    EXPECT_EQ(OAuthFlow::b64url({0xfb, 0xff}), "-_8");
    EXPECT_EQ(OAuthFlow::b64url({'f', 'o', 'o', 'b'}), "Zm9vYg");
    for (int i = 0; i < 20; ++i) {
        std::string verifier = OAuthFlow::b64url(OAuthFlow::random(48));
        std::string state = OAuthFlow::b64url(OAuthFlow::random(16));
        EXPECT_EQ(verifier.size(), 64u);
        EXPECT_EQ(state.size(), 22u);
        EXPECT_EQ((verifier + state).find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"),
                  std::string::npos);
    }
    EXPECT_NE(OAuthFlow::random(16), OAuthFlow::random(16));
}

}  // namespace
