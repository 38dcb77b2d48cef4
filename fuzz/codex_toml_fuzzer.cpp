// The Codex file editing held to what the user relies on, not only "no
// crash": after the agent's tables are removed and its entry appended, every
// line that was not the agent's is still there byte for byte and in order,
// the file holds exactly one agent table naming this executable, and editing
// the result again changes nothing. Whether a text a TOML parser accepted
// stays acceptable is checked offline over the corpus (check_codex_toml.py).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "clients/clients.h"
#include "clients/toml_line_scanner.h"
#include "codex_toml_case.h"
#include "finding.h"

namespace {

std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> out;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        out.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return out;
        start = end + 1;
    }
}

std::string_view withoutFinalLineFeeds(std::string_view text) {
    while (text.ends_with('\n')) text.remove_suffix(1);
    return text;
}

// `kept`'s lines, all found in `original` in the same order.
bool isSubsequence(std::string_view kept, std::string_view original) {
    if (kept.empty()) return true;  // nothing kept: no line to look for
    auto want = linesOf(kept);
    auto have = linesOf(original);
    size_t j = 0;
    for (auto line : want) {
        while (j < have.size() && have[j] != line) ++j;
        if (j == have.size()) return false;
        ++j;
    }
    return true;
}

// Lines that define the agent's table itself or its environment: their
// headers, and statements that reach it from the root or from [mcp_servers].
// Sub-tables of other kinds (the user's approvals) are the user's own.
size_t agentTables(std::string_view text) {
    const std::vector<std::string> table{"mcp_servers", Clients::serverKey};
    const std::vector<std::string> env{"mcp_servers", Clients::serverKey, "env"};
    size_t count = 0;
    std::vector<std::string> current;
    TomlLineScanner scanner(text);
    for (const auto& line : scanner.lines()) {
        if (line.kind == TomlLineScanner::Kind::header) {
            current = line.path.value_or(std::vector<std::string>{"?"});
            bool belowEnv = current.size() >= env.size() && std::equal(env.begin(), env.end(), current.begin());
            if (current == table || belowEnv) ++count;
        } else if (line.kind == TomlLineScanner::Kind::statement && line.path && current.size() < 2) {
            std::vector<std::string> full = current;
            full.insert(full.end(), line.path->begin(), line.path->end());
            if (full.size() >= 2 && full[0] == table[0] && full[1] == table[1]) ++count;
        }
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CodexTomlCase c = CodexTomlCase::from(data, size);
    if (!c.after) return 0;
    const std::string& after = *c.after;
    std::string entry = Clients::tomlEntry(c.exe);
    FUZZ_CHECK(after.ends_with(entry), "the agent's entry is not at the end");
    std::string_view kept(after.data(), after.size() - entry.size());

    // The line feed the writer adds after a last line that had none is not a line of its own.
    FUZZ_CHECK(isSubsequence(withoutFinalLineFeeds(kept), c.before), "a line was changed or moved");
    if (c.userIsForeign)
        FUZZ_CHECK(withoutFinalLineFeeds(kept) == withoutFinalLineFeeds(c.user), "a line of the user's was lost");

    FUZZ_CHECK(!TomlLineScanner(after).endsOpen(), "the result ends inside a value");
    FUZZ_CHECK(agentTables(after) == 1, "not exactly one agent table");
    auto body = Clients::tomlBlock(after, Clients::serverKey);
    FUZZ_CHECK(body && body->find("command = " + Clients::tomlString(c.exe)) != std::string::npos,
               "the agent's table does not name this executable");

    auto again = CodexTomlCase::edited(after, c.exe);
    FUZZ_CHECK(again && *again == after, "a second edit changed the file");
    return 0;
}
