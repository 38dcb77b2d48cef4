#include <gtest/gtest.h>

#include <fstream>

#include "clients/clients.h"
#include "foreign_parsers.h"
#include "temp_home.h"

namespace {

using Clients::tomlBlock;
using Clients::tomlRemoving;

struct BlockCase {
    const char* what;
    std::string text;
    std::optional<std::string> body;
};

TEST(TomlBlock, FindsTheBodyOfOneServerTable) {
    const BlockCase cases[] = {
        {"absent", "[mcp_servers.other]\ncommand = \"x\"\n", std::nullopt},
        {"empty text", "", std::nullopt},
        {"followed at once by a header", "[mcp_servers.kestro-agent]\n[mcp_servers.other]\nx = 1", ""},
        {"blanks around the header", " \t[mcp_servers.kestro-agent]\t \na = 1\n", "a = 1\n"},
        {"env sub-table ends the body", "[mcp_servers.kestro-agent]\na = 1\n[mcp_servers.kestro-agent.env]\nb = 2",
         "a = 1"},
        {"same header twice", "[mcp_servers.kestro-agent]\na = 1\n[x]\n[mcp_servers.kestro-agent]\nb = 2",
         "a = 1\nb = 2"},
        {"after a byte order mark", "\xEF\xBB\xBF[mcp_servers.kestro-agent]\na = 1", "a = 1"},
        {"case-sensitive", "[MCP_servers.kestro-agent]\na = 1", std::nullopt},
        {"CR LF line ends", "[mcp_servers.kestro-agent]\r\na = 1\r\n[x]\r\n", "a = 1\r"},
        {"quoted keys", "[mcp_servers.\"kestro-agent\"]\na = 1\n['mcp_servers'.\"kestro\\u002Dagent\"]\nb = 2",
         "a = 1\nb = 2"},
        {"blanks in the brackets and a comment", "[ mcp_servers . kestro-agent ] # ours\na = 1", "a = 1"},
        {"unspaced command line kept as it is", "[mcp_servers.kestro-agent]\ncommand=\"/k\"", "command=\"/k\""},
        {"array of arrays stays in the body", "[mcp_servers.kestro-agent]\nargs = [\n  [\"a\"],\n]\nb = 1",
         "args = [\n  [\"a\"],\n]\nb = 1"},
        {"header text inside a multi-line string", "[mcp_servers.kestro-agent]\nd = \"\"\"\n[x]\n\"\"\"\nb = 1",
         "d = \"\"\"\n[x]\n\"\"\"\nb = 1"},
        {"comment after a value holds no header", "[mcp_servers.kestro-agent]\na = [1] # [x\n[y]\nb = 1",
         "a = [1] # [x"},
    };
    for (const auto& c : cases) EXPECT_EQ(tomlBlock(c.text, "kestro-agent"), c.body) << c.what;
}

struct RemoveCase {
    const char* what;
    std::string text;
    std::string expected;
};

TEST(TomlRemoving, DropsServerTablesAndKeepsEveryOtherByte) {
    const std::string other = "[mcp_servers.other]\ncommand = \"o\"\n";
    const RemoveCase cases[] = {
        {"preamble, table, env, other",
         "# mine\nmodel = \"m\"\n\n[mcp_servers.kestro-agent]\ncommand = \"k\"\n\n"
         "[mcp_servers.kestro-agent.env]\nX = \"1\"\n" +
             other,
         "# mine\nmodel = \"m\"\n\n" + other},
        {"absent key: only the final line feeds shrink", "a = 1\n\n\n", "a = 1\n"},
        {"no final line feed stays without", "a = 1", "a = 1"},
        {"only removed tables", "[mcp_servers.kestro-agent]\na = 1\n[mcp_servers.kestro-agent.env]\n", ""},
        {"three line feeds after the last kept line", other + "\n\n[mcp_servers.kestro-agent]\na = 1\n", other},
        {"CR LF header",
         "a = 1\r\n[mcp_servers.kestro-agent]\r\ncommand = \"k\"\r\n"
         "[b]\r\n",
         "a = 1\r\n[b]\r\n"},
        {"quoted key with a comment", "[mcp_servers.\"kestro-agent\"] # x\na = 1\n" + other, other},
        {"multi-line array leaves nothing behind", "[mcp_servers.kestro-agent]\nargs = [\n  [\"--mcp\"],\n]\n" + other,
         other},
        {"inline table under [mcp_servers]",
         "[mcp_servers]\nkestro-agent = { command = \"k\" }\nother = { command = \"o\" }\n",
         "[mcp_servers]\nother = { command = \"o\" }\n"},
        {"dotted keys at the root, spanning lines",
         "mcp_servers.kestro-agent.args = [\n  \"--mcp\",\n]\nmodel = \"m\"\n", "model = \"m\"\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(tomlRemoving(c.text, {"kestro-agent"}), c.expected) << c.what;
    EXPECT_EQ(tomlRemoving("[mcp_servers.a]\nx=1\n[mcp_servers.b]\ny=2\n[c]\n", {"a", "b"}), "[c]\n");
}

// Regression: a logout that kept "[mcp_servers.kestro-agent.tools.…]" left an
// entry without a command, and the assistant refused to start at all.
TEST(TomlRemoving, AGoneServerTakesEveryTableBelowItInEveryHeaderForm) {
    const std::string other = "[mcp_servers.other]\ncommand = \"o\"\n";
    const std::string below[] = {
        "[mcp_servers.kestro-agent.tools.upload_file_to_plan]\napproval_mode = \"approve\"\n",
        "[[mcp_servers.kestro-agent.hooks]]\nname = \"a\"\n",
        "  [ mcp_servers . \"kestro-agent\" . tools ]  # chosen in the assistant\nx = 1\n",
        "['mcp_servers'.'kestro-agent'.tools.x]\r\napproval_mode = \"approve\"\r\n",
        "[mcp_servers.\"kestro\\u002Dagent\".tools]\nx = [\n  [1],\n]\n",
        "[[ mcp_servers.kestro-agent.tools.\"a.b\" ]]\n",
        "[mcp_servers.kestro-agent.tools.\"bad\\q\"]\nx = 1\n",  // unreadable key, plain text prefix
        "[mcp_servers.kestro-agent.env.more]\nY = \"2\"\n",
    };
    const std::string server = "[mcp_servers.kestro-agent]\ncommand = \"k\"\n";
    for (const auto& table : below) {
        // With its server, and alone at the end, as an earlier logout left it
        // (a removed last table takes the final line feed with it).
        EXPECT_EQ(tomlRemoving("# top\n" + server + table + other, {"kestro-agent"}), "# top\n" + other) << table;
        EXPECT_EQ(tomlRemoving(other + "\n" + table, {"kestro-agent"}), other) << table;
    }
    const std::string notBelow[] = {
        "[mcp_servers.kestro-agent-2.tools]\nx = 1\n",
        "[mcp_servers.kestro.tools]\nx = 1\n",
        "[other.mcp_servers.kestro-agent.tools]\nx = 1\n",
        "[mcp_servers.other]\nd = \"\"\"\n[mcp_servers.kestro-agent.tools]\n\"\"\"\n",
    };
    for (const auto& table : notBelow) EXPECT_EQ(tomlRemoving(server + table, {"kestro-agent"}), table) << table;
}

TEST(TomlRemoving, AnEntryAboutToBeWrittenAgainKeepsItsSubTablesButEnv) {
    const std::string approvals = "[mcp_servers.kestro-agent.tools.list_local_files]\napproval_mode = \"approve\"\n";
    const std::string text = "[mcp_servers.kestro-agent]\ncommand = \"k\"\n[mcp_servers.kestro-agent.env]\nX = \"1\"\n" +
                             approvals + "[mcp_servers.kestro-agent.env.more]\nY = \"2\"\n[[mcp_servers.kestro-agent.x]]\n";
    EXPECT_EQ(tomlRemoving(text, {"kestro-agent"}, Clients::TomlScope::entry), approvals + "[[mcp_servers.kestro-agent.x]]\n");
    EXPECT_EQ(tomlRemoving(text, {"kestro-agent"}), "");
    // A statement of a kept sub-table is that table's own.
    const std::string tools = "[mcp_servers.kestro-agent.tools]\nkestro-agent = 1\n";
    EXPECT_EQ(tomlRemoving(tools, {"kestro-agent"}, Clients::TomlScope::entry), tools);
}

TEST(TomlString, EscapesWhatABasicStringCannotHoldAndTomllibReadsItBack) {
    EXPECT_EQ(Clients::tomlString("/opt/Kestro Agent/kestro-agent"), "\"/opt/Kestro Agent/kestro-agent\"");
    EXPECT_EQ(Clients::tomlString("a\"b\\c\td\x01"), "\"a\\\"b\\\\c\\td\\u0001\"");
    TempHome home;
    const std::string paths[] = {"/opt/a \"b\"/k", "/opt/c\\d/k", "/opt/e\nf\x7f/k", "/opt/été ✓/k"};
    std::string text;
    for (size_t i = 0; i < std::size(paths); ++i)
        text += "p" + std::to_string(i) + " = " + Clients::tomlString(paths[i]) + "\n";
    std::string file = home.write("strings.toml", text);
    auto parsed = readWithPython("toml", file);
    ASSERT_TRUE(parsed) << text;
    for (size_t i = 0; i < std::size(paths); ++i) EXPECT_EQ((*parsed)["p" + std::to_string(i)], paths[i]);
}

}  // namespace
