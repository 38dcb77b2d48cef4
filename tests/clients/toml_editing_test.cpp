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
        {"other sub-tables of the key stay", "[mcp_servers.kestro-agent.tools]\nx = 1\n",
         "[mcp_servers.kestro-agent.tools]\nx = 1\n"},
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
        {"a statement of a kept sub-table stays", "[mcp_servers.kestro-agent.tools]\nkestro-agent = 1\n",
         "[mcp_servers.kestro-agent.tools]\nkestro-agent = 1\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(tomlRemoving(c.text, {"kestro-agent"}), c.expected) << c.what;
    EXPECT_EQ(tomlRemoving("[mcp_servers.a]\nx=1\n[mcp_servers.b]\ny=2\n[c]\n", {"a", "b"}), "[c]\n");
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
