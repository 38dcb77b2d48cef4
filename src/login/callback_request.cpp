#include "login/callback_request.h"

#include "core/unicode_text.h"

namespace {

constexpr std::string_view kUnexpectedBody = "<h2>Kestro Agent</h2><p>Requête inattendue.</p>";
constexpr std::string_view kConnectedBody =
    "<h2>✅ Kestro Agent est connecté</h2><p>Tu peux fermer cet onglet et revenir à l'application.</p>";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The characters a URL's path and query may hold as they stand (RFC 3986
// unreserved, sub-delimiters, ":", "@", "/", "?"), plus "%" which must start
// an escape. Anything else (a control byte, a quote, a non-ASCII byte) means
// the target is not a URL at all.
bool isUrlCharacter(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("-._~!$&'()*+,;=:@/?%").find(c) != std::string_view::npos;
}

// Form decoding: the redirect's query is form-encoded, so a "+" is a space
// (a real service writes "access+denied"); "%2B" is how a plus arrives.
std::optional<std::string> decodeComponent(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size()) return std::nullopt;
            int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    if (!UnicodeText::isUtf8(out)) return std::nullopt;
    return out;
}

const std::string* first(const std::multimap<std::string, std::string>& items, const std::string& name) {
    auto it = items.find(name);
    return it == items.end() ? nullptr : &it->second;
}

}  // namespace

std::string_view CallbackRequest::requestLine(std::string_view text) {
    auto end = text.find("\r\n");
    return end == std::string_view::npos ? text : text.substr(0, end);
}

std::string_view CallbackRequest::target(std::string_view line) {
    auto firstSpace = line.find(' ');
    if (firstSpace == std::string_view::npos) return "/";
    std::string_view rest = line.substr(firstSpace + 1);
    return rest.substr(0, rest.find(' '));
}

std::optional<std::multimap<std::string, std::string>> CallbackRequest::queryItems(std::string_view target) {
    if (target.empty() || target.front() != '/') return std::nullopt;
    for (std::size_t i = 0; i < target.size(); ++i) {
        char c = target[i];
        if (c == '#') break;  // the fragment is not the query's
        if (!isUrlCharacter(c)) return std::nullopt;
        if (c == '%' && (i + 2 >= target.size() || hexValue(target[i + 1]) < 0 || hexValue(target[i + 2]) < 0))
            return std::nullopt;
    }
    std::multimap<std::string, std::string> items;
    std::string_view query = target.substr(0, target.find('#'));
    auto mark = query.find('?');
    if (mark == std::string_view::npos) return items;
    query.remove_prefix(mark + 1);
    while (!query.empty()) {
        std::string_view item = query.substr(0, query.find('&'));
        query.remove_prefix(std::min(query.size(), item.size() + 1));
        if (item.empty()) continue;
        auto equals = item.find('=');
        auto name = decodeComponent(item.substr(0, equals));
        auto value = equals == std::string_view::npos ? std::optional<std::string>("")
                                                      : decodeComponent(item.substr(equals + 1));
        if (!name || !value) return std::nullopt;
        items.emplace(std::move(*name), std::move(*value));
    }
    return items;
}

std::string CallbackRequest::escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

CallbackRequest CallbackRequest::parse(std::string_view bytes, std::string_view expectedState) {
    CallbackRequest r;
    if (bytes.empty() || !UnicodeText::isUtf8(bytes)) return r;
    r.m_kind = Kind::Unexpected;
    std::string_view path = target(requestLine(bytes));
    if (!path.starts_with("/callback")) return r;
    auto items = queryItems(path);
    if (!items) return r;
    // Two "state" or two "code" items leave it open which one the service
    // meant; such a request is not a callback, and the login keeps waiting
    // for the real one.
    if (items->count("state") > 1 || items->count("code") > 1) return r;

    const std::string* state = first(*items, "state");
    if (!state || expectedState.empty() || *state != expectedState) {
        r.m_kind = Kind::Refused;
        r.m_reason = "state inattendu";
        return r;
    }
    const std::string* code = first(*items, "code");
    if (code && !code->empty()) {
        r.m_kind = Kind::Code;
        r.m_code = *code;
        return r;
    }
    r.m_kind = Kind::Refused;
    if (const std::string* description = first(*items, "error_description")) r.m_reason = *description;
    else if (const std::string* error = first(*items, "error")) r.m_reason = *error;
    else r.m_reason = "refusé";
    return r;
}

std::string CallbackRequest::page() const {
    std::string body;
    switch (m_kind) {
        case Kind::Ignore: return "";
        case Kind::Unexpected: body = kUnexpectedBody; break;
        case Kind::Code: body = kConnectedBody; break;
        // The reason comes from the query, which anyone can write: unescaped,
        // it would run script in the user's browser on 127.0.0.1.
        case Kind::Refused: body = "<h2>❌ Connexion refusée</h2><p>" + escapeHtml(m_reason) + "</p>"; break;
    }
    return "<!doctype html><meta charset=\"utf-8\"><title>Kestro Agent</title>"
           "<body style=\"font-family:system-ui;text-align:center;padding:60px;color:#222\">" +
           body + "</body>";
}

std::string CallbackRequest::response() const {
    if (m_kind == Kind::Ignore) return "";
    std::string html = page();
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
           std::to_string(html.size()) + "\r\nConnection: close\r\n\r\n" + html;
}
