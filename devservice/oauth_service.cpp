#include "oauth_service.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>

namespace devservice {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string formDecoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Form encoding, as a real authorization server writes its redirects: a
// space becomes "+".
std::string formEncoded(const std::string& text) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') out += static_cast<char>(c);
        else if (c == ' ') out += '+';
        else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

std::string b64url(const unsigned char* bytes, std::size_t length) {
    std::string text(4 * ((length + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes, int(length));
    text.resize(std::size_t(n));
    std::string out;
    for (char c : text) {
        if (c == '+') out += '-';
        else if (c == '/') out += '_';
        else if (c != '=') out += c;
    }
    return out;
}

std::string textOf(const Json& object, const char* key) {
    auto it = object.find(key);
    return (it != object.end() && it->is_string()) ? it->get<std::string>() : std::string();
}

void jsonReply(httplib::Response& res, int status, const Json& body) {
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

void oauthError(httplib::Response& res, int status, const std::string& error, const std::string& description) {
    jsonReply(res, status, {{"error", error}, {"error_description", description}});
}

std::string field(const std::map<std::string, std::string>& form, const char* name) {
    auto it = form.find(name);
    return it == form.end() ? std::string() : it->second;
}

std::string queryOf(const std::string& target) {
    auto mark = target.find('?');
    return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

}  // namespace

std::map<std::string, std::string> OAuthService::parseForm(const std::string& body) {
    std::map<std::string, std::string> out;
    std::size_t begin = 0;
    while (begin < body.size()) {
        std::size_t end = body.find('&', begin);
        if (end == std::string::npos) end = body.size();
        std::string item = body.substr(begin, end - begin);
        auto equals = item.find('=');
        if (!item.empty())
            out[formDecoded(item.substr(0, equals))] =
                equals == std::string::npos ? std::string() : formDecoded(item.substr(equals + 1));
        begin = end + 1;
    }
    return out;
}

std::string OAuthService::challengeOf(const std::string& verifier) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(verifier.data(), verifier.size(), digest, &length, EVP_sha256(), nullptr);
    return b64url(digest, length);
}

std::string OAuthService::newSecret(const std::string& prefix) {
    unsigned char bytes[24];
    RAND_bytes(bytes, sizeof bytes);
    return prefix + b64url(bytes, sizeof bytes);
}

void OAuthService::install(httplib::Server& server, Hooks hooks) {
    m_hooks = std::move(hooks);
    server.Post("/oauth/register", [this](const httplib::Request& req, httplib::Response& res) { handleRegister(req, res); });
    server.Get("/oauth/authorize", [this](const httplib::Request& req, httplib::Response& res) { handleAuthorize(req, res); });
    server.Post("/oauth/token", [this](const httplib::Request& req, httplib::Response& res) { handleToken(req, res); });
    server.Post("/oauth/revoke", [this](const httplib::Request& req, httplib::Response& res) { handleRevoke(req, res); });
    server.Post("/api/v1/pat_mint.php", [this](const httplib::Request& req, httplib::Response& res) { handleMint(req, res); });
}

bool OAuthService::faulted(const httplib::Request& req, httplib::Response& res, const std::string& body) {
    m_hooks.record(req, body);
    auto fault = m_hooks.takeFault(req.path);
    return fault && m_hooks.applyFault(*fault, res);
}

void OAuthService::handleRegister(const httplib::Request& req, httplib::Response& res) {
    if (faulted(req, res, req.body)) return;
    Json body = Json::parse(req.body, nullptr, false);
    if (!body.is_object()) return oauthError(res, 400, "invalid_client_metadata", "Corps JSON attendu.");
    Client client;
    auto uris = body.find("redirect_uris");
    if (uris == body.end() || !uris->is_array() || uris->empty())
        return oauthError(res, 400, "invalid_redirect_uri", "redirect_uris manquant.");
    for (const auto& uri : *uris) {
        if (!uri.is_string()) return oauthError(res, 400, "invalid_redirect_uri", "redirect_uris invalide.");
        client.redirectUris.push_back(uri.get<std::string>());
    }
    // Only public clients: a desktop program cannot keep a secret.
    if (textOf(body, "token_endpoint_auth_method") != "none")
        return oauthError(res, 400, "invalid_client_metadata", "Seuls les clients publics sont acceptés.");
    if (body.contains("grant_types") &&
        !(body["grant_types"].is_array() &&
          std::find(body["grant_types"].begin(), body["grant_types"].end(), "authorization_code") !=
              body["grant_types"].end()))
        return oauthError(res, 400, "invalid_client_metadata", "authorization_code requis.");
    client.metadata = body;
    Json reply = body;
    {
        std::lock_guard lock(m_mutex);
        client.id = newSecret("cli_");
        m_clients.push_back(client);
    }
    reply["client_id"] = client.id;
    reply["client_id_issued_at"] = 1765000000;
    jsonReply(res, 201, reply);
}

void OAuthService::handleAuthorize(const httplib::Request& req, httplib::Response& res) {
    if (faulted(req, res, queryOf(req.target))) return;
    std::map<std::string, std::string> query = parseForm(queryOf(req.target));
    std::lock_guard lock(m_mutex);
    m_authorizations.push_back(query);
    std::string clientId = field(query, "client_id"), redirectUri = field(query, "redirect_uri");
    auto client = std::find_if(m_clients.begin(), m_clients.end(), [&](const Client& c) { return c.id == clientId; });
    // Never redirect to an address the client did not register: that would
    // hand codes to whoever names a URI.
    if (client == m_clients.end() ||
        std::find(client->redirectUris.begin(), client->redirectUris.end(), redirectUri) == client->redirectUris.end()) {
        res.status = 400;
        res.set_content("<h1>Requête d'autorisation invalide</h1><p>Client ou adresse de retour inconnus.</p>",
                        "text/html; charset=utf-8");
        return;
    }
    auto back = [&](const std::vector<std::pair<std::string, std::string>>& items) {
        std::string url = redirectUri + (redirectUri.find('?') == std::string::npos ? "?" : "&");
        bool first = true;
        for (const auto& [name, value] : items) {
            if (!first) url += '&';
            url += name + "=" + formEncoded(value);
            first = false;
        }
        if (query.count("state")) url += "&state=" + formEncoded(field(query, "state"));
        res.set_redirect(url, 302);
    };
    auto refuse = [&](const std::string& error, const std::string& description) {
        back({{"error", error}, {"error_description", description}});
    };
    if (field(query, "response_type") != "code") return refuse("unsupported_response_type", "response_type=code requis.");
    std::string challenge = field(query, "code_challenge");
    if (field(query, "code_challenge_method") != "S256" || challenge.size() != 43)
        return refuse("invalid_request", "PKCE S256 requis.");
    if (field(query, "resource") != m_hooks.baseUrl() + "/mcp")
        return refuse("invalid_target", "Ressource inconnue.");
    if (!m_refuseError.empty()) {
        if (m_refuseDescription.empty()) back({{"error", m_refuseError}});
        else refuse(m_refuseError, m_refuseDescription);
        return;
    }
    Grant grant{newSecret("code_"), clientId, redirectUri, challenge, field(query, "resource"), field(query, "scope")};
    m_grants.push_back(grant);
    back({{"code", grant.code}});
}

void OAuthService::handleToken(const httplib::Request& req, httplib::Response& res) {
    if (faulted(req, res, req.body)) return;
    auto form = parseForm(req.body);
    if (field(form, "grant_type") != "authorization_code")
        return oauthError(res, 400, "unsupported_grant_type", "Seul authorization_code est accepté.");
    std::lock_guard lock(m_mutex);
    auto grant = std::find_if(m_grants.begin(), m_grants.end(),
                              [&](const Grant& g) { return g.code == field(form, "code"); });
    if (grant == m_grants.end()) return oauthError(res, 400, "invalid_grant", "Code inconnu.");
    if (grant->used) return oauthError(res, 400, "invalid_grant", "Code déjà utilisé.");
    if (grant->clientId != field(form, "client_id")) return oauthError(res, 400, "invalid_grant", "Client différent.");
    if (grant->redirectUri != field(form, "redirect_uri"))
        return oauthError(res, 400, "invalid_grant", "Adresse de retour différente.");
    if (challengeOf(field(form, "code_verifier")) != grant->challenge)
        return oauthError(res, 400, "invalid_grant", "Vérificateur PKCE invalide.");
    if (form.count("resource") && field(form, "resource") != grant->resource)
        return oauthError(res, 400, "invalid_target", "Ressource différente.");
    grant->used = true;
    std::string access = newSecret("at_");
    m_accessTokens[access] = grant->clientId;
    Json reply{{"access_token", access}, {"token_type", "Bearer"}, {"expires_in", 3600}, {"scope", grant->scope}};
    if (m_issueRefresh) {
        std::string refresh = newSecret("rt_");
        m_refreshTokens[refresh] = grant->clientId;
        reply["refresh_token"] = refresh;
    }
    jsonReply(res, 200, reply);
}

void OAuthService::handleRevoke(const httplib::Request& req, httplib::Response& res) {
    if (faulted(req, res, req.body)) return;
    auto form = parseForm(req.body);
    std::string token = field(form, "token"), clientId = field(form, "client_id");
    std::lock_guard lock(m_mutex);
    for (auto* tokens : {&m_refreshTokens, &m_accessTokens}) {
        auto it = tokens->find(token);
        if (it != tokens->end() && it->second == clientId) {
            tokens->erase(it);
            m_revoked.push_back(token);
        }
    }
    // An unknown token is no error: the answer never tells what exists.
    res.status = 200;
}

void OAuthService::handleMint(const httplib::Request& req, httplib::Response& res) {
    if (faulted(req, res, req.body)) return;
    std::string header = req.get_header_value("Authorization");
    std::string access = header.starts_with("Bearer ") ? header.substr(7) : std::string();
    Json body = Json::parse(req.body, nullptr, false);
    Minted minted;
    std::optional<Json> user;
    {
        std::lock_guard lock(m_mutex);
        if (access.empty() || !m_accessTokens.count(access))
            return jsonReply(res, 401, {{"error", "invalid_token"}, {"message", "Jeton d'accès invalide ou expiré."}});
        if (!body.is_object() || textOf(body, "label").empty())
            return jsonReply(res, 400, {{"error", "invalid_request"}, {"message", "Libellé manquant."}});
        minted = {newSecret("kat_"), textOf(body, "label"), access};
        m_minted.push_back(minted);
        user = m_user;
    }
    m_hooks.acceptToken(minted.token);
    Json reply{{"token", minted.token}};
    if (user) reply["user"] = *user;
    jsonReply(res, 200, reply);
}

void OAuthService::setUser(std::optional<Json> user) {
    std::lock_guard lock(m_mutex);
    m_user = std::move(user);
}

void OAuthService::refuseAuthorization(std::string error, std::string description) {
    std::lock_guard lock(m_mutex);
    m_refuseError = std::move(error);
    m_refuseDescription = std::move(description);
}

void OAuthService::setIssueRefreshToken(bool issue) {
    std::lock_guard lock(m_mutex);
    m_issueRefresh = issue;
}

std::vector<OAuthService::Client> OAuthService::clients() const {
    std::lock_guard lock(m_mutex);
    return m_clients;
}

std::vector<OAuthService::Grant> OAuthService::grants() const {
    std::lock_guard lock(m_mutex);
    return m_grants;
}

std::vector<OAuthService::Minted> OAuthService::minted() const {
    std::lock_guard lock(m_mutex);
    return m_minted;
}

std::vector<std::string> OAuthService::revoked() const {
    std::lock_guard lock(m_mutex);
    return m_revoked;
}

std::vector<std::map<std::string, std::string>> OAuthService::authorizations() const {
    std::lock_guard lock(m_mutex);
    return m_authorizations;
}

}  // namespace devservice
