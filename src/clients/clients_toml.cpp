// The Codex file is edited line by line rather than parsed and re-written, so
// that the user's comments, order and formatting survive every edit.
#include <algorithm>

#include "clients/clients.h"
#include "clients/toml_line_scanner.h"

namespace Clients {
namespace {

using Line = TomlLineScanner::Line;
using Kind = TomlLineScanner::Kind;

bool isServerHeader(const Line& line, const std::string& key) {
    return TomlLineScanner::isHeaderOf(line, "mcp_servers." + key, {"mcp_servers", key});
}

bool isEnvHeader(const Line& line, const std::string& key) {
    return TomlLineScanner::isHeaderOf(line, "mcp_servers." + key + ".env", {"mcp_servers", key, "env"});
}

// A statement under `table` that defines (part of) one of the servers in
// `keys` itself, as "kestro-agent = { … }" under [mcp_servers] or as
// "mcp_servers.kestro-agent.command = …" at the root. Statements in a table
// that already lies inside a server's table are that table's business.
bool definesServer(const std::vector<std::string>& table, const std::vector<std::string>& key,
                   const std::vector<std::string>& keys) {
    std::vector<std::string> full = table;
    full.insert(full.end(), key.begin(), key.end());
    if (table.size() >= 2 || full.size() < 2 || full[0] != "mcp_servers") return false;
    return std::find(keys.begin(), keys.end(), full[1]) != keys.end();
}

std::string joined(const std::vector<std::string_view>& lines) {
    std::string out;
    size_t size = lines.empty() ? 0 : lines.size() - 1;
    for (auto line : lines) size += line.size();
    out.reserve(size);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) out += '\n';
        out += lines[i];
    }
    return out;
}

}  // namespace

std::optional<std::string> tomlBlock(std::string_view text, const std::string& key) {
    TomlLineScanner scanner(text);
    bool inside = false, found = false;
    std::vector<std::string_view> body;
    for (const auto& line : scanner.lines()) {
        if (line.kind == Kind::header) {
            inside = isServerHeader(line, key);
            found = found || inside;
        } else if (inside) {
            body.push_back(line.text);
        }
    }
    if (!found) return std::nullopt;
    return joined(body);
}

std::string tomlRemoving(std::string_view text, const std::vector<std::string>& keys) {
    TomlLineScanner scanner(text);
    bool skipping = false;  // inside a removed table
    bool dropping = false;  // inside a removed statement
    std::optional<std::vector<std::string>> table = std::vector<std::string>{};
    std::vector<std::string_view> kept;
    for (const auto& line : scanner.lines()) {
        switch (line.kind) {
            case Kind::header:
                skipping = std::any_of(keys.begin(), keys.end(),
                                       [&](const auto& k) { return isServerHeader(line, k) || isEnvHeader(line, k); });
                table = line.path;
                dropping = false;
                break;
            case Kind::statement:
                dropping = !skipping && table && line.path && definesServer(*table, *line.path, keys);
                break;
            case Kind::continuation:
                break;
            case Kind::other:
                dropping = false;
                break;
        }
        if (!skipping && !dropping) kept.push_back(line.text);
    }
    std::string out = joined(kept);
    while (out.ends_with("\n\n")) out.pop_back();
    return out;
}

}  // namespace Clients
