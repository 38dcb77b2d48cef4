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

// A header of the table `path` or of any table below it, in every form the
// scanner reads (quoted keys, blanks, a comment, "[[…]]"). A header whose key
// the scanner cannot read still counts when its text begins with the plain
// dotted path.
bool isAtOrBelow(const Line& line, const std::vector<std::string>& path) {
    if (line.kind != Kind::header) return false;
    if (line.path) return line.path->size() >= path.size() && std::equal(path.begin(), path.end(), line.path->begin());
    std::string dotted;
    for (const auto& part : path) dotted += (dotted.empty() ? "" : ".") + part;
    std::string_view bare = line.trimmed;
    if (bare.ends_with('\r')) bare.remove_suffix(1);
    for (const char* open : {"[", "[["}) {
        std::string start = open + dotted;
        if (bare.starts_with(start + ".") || bare.starts_with(start + "]")) return true;
    }
    return false;
}

bool isRemoved(const Line& line, const std::string& key, TomlScope scope) {
    if (scope == TomlScope::wholeServer) return isAtOrBelow(line, {"mcp_servers", key});
    return isServerHeader(line, key) || isAtOrBelow(line, {"mcp_servers", key, "env"});
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

std::string tomlRemoving(std::string_view text, const std::vector<std::string>& keys, TomlScope scope) {
    TomlLineScanner scanner(text);
    bool skipping = false;  // inside a removed table
    bool dropping = false;  // inside a removed statement
    std::optional<std::vector<std::string>> table = std::vector<std::string>{};
    std::vector<std::string_view> kept;
    for (const auto& line : scanner.lines()) {
        switch (line.kind) {
            case Kind::header:
                skipping =
                    std::any_of(keys.begin(), keys.end(), [&](const auto& k) { return isRemoved(line, k, scope); });
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
