#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "dev_service.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace devservice {

// The stand-in's OAuth side and its token minting, held to the rules a real
// authorization server keeps, so a login that passes here is a correct one:
//
//   POST /oauth/register      dynamic registration of a public client (201, client_id)
//   GET  /oauth/authorize     checks client, redirect URI, S256 challenge, resource;
//                             302 to the redirect URI with code and state (or error, error_description)
//   POST /oauth/token         authorization_code grant: client, redirect URI, verifier, single-use code
//   POST /oauth/revoke        revokes a refresh or access token (always 200)
//   POST /api/v1/pat_mint.php bearer access token + {"label"} → agent token and user
//
// A minted agent token is then accepted on /mcp. Faults (DevService::addFault
// with the endpoint's path) and request recording work as for every endpoint.
class OAuthService {
public:
    struct Client {
        std::string id;
        Json metadata;  // the registration body as received
        std::vector<std::string> redirectUris;
    };
    struct Grant {
        std::string code;
        std::string clientId, redirectUri, challenge, resource, scope;
        bool used = false;
    };
    struct Minted {
        std::string token;
        std::string label;
        std::string accessToken;  // the access token that asked for it
    };
    // What the endpoints need of the service around them.
    struct Hooks {
        std::function<std::optional<Fault>(const std::string& path)> takeFault;
        std::function<bool(const Fault&, httplib::Response&)> applyFault;  // true when the answer is settled
        std::function<void(const httplib::Request&, const std::string& body)> record;
        std::function<void(const std::string& token)> acceptToken;  // a minted token, now good on /mcp
        std::function<std::string()> baseUrl;
    };

    void install(httplib::Server& server, Hooks hooks);

    // The user the minted tokens belong to; nothing omits "user" from the
    // minting reply.
    void setUser(std::optional<Json> user);
    // Every authorization is answered with this error (the user said no)
    // until cleared with an empty `error`.
    void refuseAuthorization(std::string error, std::string description = "");
    // Whether the token reply carries a refresh token (it does by default).
    void setIssueRefreshToken(bool issue);

    std::vector<Client> clients() const;
    std::vector<Grant> grants() const;
    std::vector<Minted> minted() const;
    std::vector<std::string> revoked() const;
    // The query of every authorization request, in order.
    std::vector<std::map<std::string, std::string>> authorizations() const;

    // The fields of a form body ("a=1&b=x+y"), decoded.
    static std::map<std::string, std::string> parseForm(const std::string& body);
    // The base64url SHA-256 of `verifier`: the S256 challenge.
    static std::string challengeOf(const std::string& verifier);

private:
    void handleRegister(const httplib::Request& req, httplib::Response& res);
    void handleAuthorize(const httplib::Request& req, httplib::Response& res);
    void handleToken(const httplib::Request& req, httplib::Response& res);
    void handleRevoke(const httplib::Request& req, httplib::Response& res);
    void handleMint(const httplib::Request& req, httplib::Response& res);
    bool faulted(const httplib::Request& req, httplib::Response& res, const std::string& body);
    std::string newSecret(const std::string& prefix);

    Hooks m_hooks;
    mutable std::mutex m_mutex;
    std::vector<Client> m_clients;
    std::vector<Grant> m_grants;
    std::map<std::string, std::string> m_accessTokens;   // token → client id
    std::map<std::string, std::string> m_refreshTokens;  // token → client id
    std::vector<std::string> m_revoked;
    std::vector<Minted> m_minted;
    std::vector<std::map<std::string, std::string>> m_authorizations;
    std::optional<Json> m_user = Json{{"name", "Camille Dev"}, {"email", "camille@example.test"}};
    std::string m_refuseError, m_refuseDescription;
    bool m_issueRefresh = true;
    int m_serial = 0;
};

}  // namespace devservice
