#include "service/service_session.h"

#include <algorithm>

#include "core/http.h"
#include "core/tool_error.h"
#include "core/version.h"

// The service's own tools, reached through its MCP endpoint with the agent
// token.

namespace {

constexpr const char* kRemoteFallbackMessage = "erreur distante";

Json rpcRequest(const char* method) { return Json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}}; }

const Json* member(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

// The "text" of the first content item when "content" is a non-empty array of
// objects whose first one carries a string "text".
std::optional<std::string> firstText(const Json& result) {
    const Json* content = member(result, "content");
    if (!content || !content->is_array() || content->empty()) return std::nullopt;
    for (const auto& item : *content)
        if (!item.is_object()) return std::nullopt;
    const Json* text = member(content->front(), "text");
    if (!text || !text->is_string()) return std::nullopt;
    return text->get<std::string>();
}

}  // namespace

ServiceSession::ServiceSession(AgentConfig config) : cfg(std::move(config)) {}

void ServiceSession::update(AgentConfig fresh) {
    if (fresh.token != cfg.token || fresh.baseUrl != cfg.baseUrl) remoteToolsCache.reset();
    cfg = std::move(fresh);
}

std::map<std::string, std::string> ServiceSession::authHeaders() const {
    if (!cfg.isLoggedIn())
        throw ToolError("not_logged_in",
                        "Kestro Agent n'est pas connecté : ouvre l'app (barre de menus) → Se connecter à Kestro.");
    return {{"Authorization", "Bearer " + cfg.token}, {"MCP-Protocol-Version", kProtocolVersion}};
}

Json ServiceSession::remoteTools() {
    if (remoteToolsCache) return *remoteToolsCache;
    HTTP::Headers headers;
    try {
        headers = authHeaders();
    } catch (const ToolError&) {
        return Json::array();  // logged out: nothing cached, the next list asks again
    }
    HTTPResult reply = HTTP::postJSON(cfg.baseUrl + "/mcp", rpcRequest("tools/list"), headers);
    Json tools = Json::array();
    if (auto body = reply.json()) {
        const Json* result = member(*body, "result");
        const Json* list = result && result->is_object() ? member(*result, "tools") : nullptr;
        if (list && list->is_array() &&
            std::all_of(list->begin(), list->end(), [](const Json& tool) { return tool.is_object(); }))
            tools = *list;
    }
    // Only an answer of the service fixes the list; a failed exchange is
    // tried again at the next "tools/list".
    if (reply.status == 200) remoteToolsCache = tools;
    return tools;
}

Json ServiceSession::remoteCallRaw(const std::string& name, const Json& args) {
    HTTP::Headers headers = authHeaders();
    Json call = rpcRequest("tools/call");
    call["params"] = Json{{"name", name}, {"arguments", args}};
    HTTPResult reply = HTTP::postJSON(cfg.baseUrl + "/mcp", call, headers);
    if (reply.status == 401)
        throw ToolError("invalid_token", "Token Kestro refusé (révoqué ?) : reconnecte l'app Kestro Agent.");
    auto body = reply.json();
    if (!body)
        throw ToolError("remote_error",
                        "Réponse illisible du serveur Kestro (HTTP " + std::to_string(reply.status) + ").");
    if (const Json* error = member(*body, "error"); error && error->is_object()) {
        const Json* message = member(*error, "message");
        throw ToolError("remote_error",
                        message && message->is_string() ? message->get<std::string>() : kRemoteFallbackMessage);
    }
    const Json* result = member(*body, "result");
    return result && result->is_object() ? *result : Json::object();
}

Json ServiceSession::remoteData(const std::string& name, const Json& args) {
    Json result = remoteCallRaw(name, args);
    if (const Json* isError = member(result, "isError"); isError && isError->is_boolean() && isError->get<bool>())
        throw ToolError("remote_tool_error", firstText(result).value_or(kRemoteFallbackMessage));
    if (const Json* structured = member(result, "structuredContent"); structured && structured->is_object())
        return *structured;
    if (auto text = firstText(result)) {
        auto decoded = JSON::decode(*text);
        if (decoded && decoded->is_object()) return *decoded;
    }
    return Json::object();
}
