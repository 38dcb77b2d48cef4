#include "codex_toml_case.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <vector>

#include "clients/clients.h"
#include "clients/toml_line_scanner.h"

namespace {

// The agent's tables in the forms the writer must recognise. Each one is
// whole (no value left open) and ends with a line feed.
constexpr std::array<const char*, 9> kAgentTables{
    "[mcp_servers.kestro-agent]\ncommand = \"/old/kestro-agent\"\nargs = [\"--mcp\"]\n",
    "[mcp_servers.\"kestro-agent\"]  # written by an older version\r\ncommand = '/old/k'\r\n\r\n",
    "[ mcp_servers . 'kestro-agent' ]\ncommand = \"\"\"\n[mcp_servers.fake]\n\"\"\"\n",
    "[mcp_servers.kestro-agent.env]\nTOKEN = \"x\"\n",
    "[mcp_servers.kestro-agent]\nargs = [\n  \"--mcp\",\n  [\"[nested]\"],\n]\n",
    "[mcp_servers.kestro]\ncommand = \"/opt/Kestro Agent/kestro-agent\"\n",
    "[mcp_servers.\"kestro\\u002Dagent\"]\ncommand = \"/u\"\n",
    "[mcp_servers.kestro-agent]\n",
    "[mcp_servers.kestro-agent]\n# a comment of ours\nstartup_timeout_sec = 10\n",
};

constexpr std::array<const char*, 6> kExes{
    "/opt/Kestro Agent/kestro-agent",
    "/home/user/bin/kestro-agent",
    "/tmp/with \"quotes\" and \\backslash\\/kestro-agent",
    "/tmp/né à Paris/kestro-agent",
    "/tmp/tab\there/kestro-agent",
    "/tmp/line\nfeed/kestro-agent",
};

bool writerRefuses(const TomlLineScanner& scanner) {
    if (scanner.endsOpen()) return true;
    for (const auto& line : scanner.lines()) {
        if (line.kind == TomlLineScanner::Kind::header) break;
        if (line.kind == TomlLineScanner::Kind::statement && line.path &&
            *line.path == std::vector<std::string>{"mcp_servers"})
            return true;
    }
    return false;
}

// Offsets of the user's header lines, where a whole table can be slipped in
// without taking any of the user's lines into it, and the end of the text.
std::vector<size_t> boundaries(const std::string& text) {
    std::vector<size_t> out;
    TomlLineScanner scanner(text);
    size_t offset = 0;
    // A byte order mark only counts at the very start: nothing goes before it.
    bool mark = text.starts_with("\xEF\xBB\xBF");
    for (const auto& line : scanner.lines()) {
        if (line.kind == TomlLineScanner::Kind::header && !(mark && offset == 0)) out.push_back(offset);
        offset += line.text.size() + 1;
    }
    out.push_back(text.size());
    return out;
}

}  // namespace

std::optional<std::string> CodexTomlCase::edited(const std::string& text, const std::string& exe) {
    if (writerRefuses(TomlLineScanner(text))) return std::nullopt;
    // As the writer does: an older entry of this application goes whole; ours
    // is written again, so its sub-tables other than ".env" stay.
    std::string out = text;
    auto old = Clients::tomlBlock(text, "kestro");
    if (old && old->find("Kestro Agent") != std::string::npos) out = Clients::tomlRemoving(out, {"kestro"});
    out = Clients::tomlRemoving(out, {Clients::serverKey}, Clients::TomlScope::entry);
    if (!out.empty() && !out.ends_with('\n')) out += '\n';
    return out + Clients::tomlEntry(exe);
}

CodexTomlCase CodexTomlCase::from(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    CodexTomlCase c;
    c.exe = kExes[fdp.ConsumeIntegralInRange<size_t>(0, kExes.size() - 1)];
    struct Insertion {
        size_t table, where;
    };
    std::vector<Insertion> insertions;
    for (int n = fdp.ConsumeIntegralInRange(0, 3); n > 0; --n)
        insertions.push_back({fdp.ConsumeIntegralInRange<size_t>(0, kAgentTables.size() - 1),
                              fdp.ConsumeIntegral<uint16_t>()});
    c.user = fdp.ConsumeRemainingBytesAsString();
    c.userIsForeign = c.user.find("kestro") == std::string::npos && c.user.find("\\u") == std::string::npos &&
                      c.user.find("\\U") == std::string::npos && !TomlLineScanner(c.user).endsOpen();

    c.before = c.user;
    if (c.userIsForeign && !insertions.empty()) {
        // Slipped in from the last boundary to the first, so earlier offsets stay right.
        std::vector<size_t> at = boundaries(c.user);
        std::vector<std::pair<size_t, const char*>> places;
        for (const auto& i : insertions) places.emplace_back(at[i.where % at.size()], kAgentTables[i.table]);
        std::sort(places.begin(), places.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [offset, table] : places) {
            std::string piece = table;
            // At the end of a last line without a line feed, a table starts on a line of its own.
            if (offset == c.user.size() && !c.user.empty() && !c.user.ends_with('\n')) piece = "\n" + piece;
            c.before.insert(offset, piece);
        }
    }
    c.after = edited(c.before, c.exe);
    return c;
}
