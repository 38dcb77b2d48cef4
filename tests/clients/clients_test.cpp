#include "clients/clients.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/atomic_file.h"
#include "core/tool_error.h"
#include "foreign_parsers.h"
#include "temp_home.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Kind = ClientApp::Kind;

namespace {

const std::string kExe = "/opt/kestro/bin/kestro-agent";
const auto kT1 = std::chrono::system_clock::from_time_t(1796732394);  // 2026-12-08T12:19:54Z

ClientApp app(const TempHome& home, const std::string& key) {
    for (auto& a : Clients::catalogue(home.path(), AssistantLocations::System::linuxDesktop))
        if (a.key == key) return a;
    throw std::runtime_error("no " + key);
}

std::string slurp(const std::string& path) { return AtomicFile::read(path).value_or("<missing>"); }

mode_t modeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::vector<std::string> backups(const std::string& configPath) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(fs::path(configPath).parent_path()))
        if (e.path().string().starts_with(configPath + ".bak-kestro-")) found.push_back(e.path().string());
    return found;
}

// configure must throw `code`, leaving the file's bytes as they were.
void expectRefused(const ClientApp& a, const std::string& code) {
    std::string before = slurp(a.configPath);
    try {
        Clients::configure(a, kExe, kT1);
        ADD_FAILURE() << "configure succeeded on " << before.substr(0, 80);
    } catch (const ToolError& e) {
        EXPECT_EQ(e.code, code) << e.message;
    }
    EXPECT_EQ(slurp(a.configPath), before);
}

const Json kEntry = {{"command", kExe}, {"args", {"--mcp"}}};

TEST(ClientsCatalogue, LinuxAndMacTablesInTheirOrder) {
    auto linux_ = Clients::catalogue("/h", AssistantLocations::System::linuxDesktop);
    auto mac = Clients::catalogue("/h", AssistantLocations::System::macOS);
    ASSERT_EQ(linux_.size(), 4u);
    ASSERT_EQ(mac.size(), 4u);
    const char* keys[] = {"claude", "chatgpt", "cursor", "claudecode"};
    const char* linuxFiles[] = {"/h/.config/Claude/claude_desktop_config.json", "/h/.codex/config.toml",
                                "/h/.cursor/mcp.json", "/h/.claude.json"};
    const char* macFiles[] = {"/h/Library/Application Support/Claude/claude_desktop_config.json",
                              "/h/.codex/config.toml", "/h/.cursor/mcp.json", "/h/.claude.json"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(linux_[i].key, keys[i]);
        EXPECT_EQ(linux_[i].configPath, linuxFiles[i]);
        EXPECT_EQ(mac[i].configPath, macFiles[i]);
        EXPECT_EQ(mac[i].name, linux_[i].name);
        EXPECT_EQ(mac[i].hint, linux_[i].hint);
        EXPECT_EQ(mac[i].kind, linux_[i].kind);
        EXPECT_EQ(mac[i].kind, i == 1 ? Kind::codexToml : Kind::jsonMcpServers);
    }
    EXPECT_EQ(linux_[1].name, "ChatGPT (app) \u00b7 Codex");
    EXPECT_EQ(linux_[1].hint, "Plugins \u2192 MCP dans l'app");
    EXPECT_EQ(mac[0].appPaths, (std::vector<std::string>{"/Applications/Claude.app", "/h/Applications/Claude.app"}));
    EXPECT_EQ(mac[1].appPaths.back(), "/h/.codex");
    EXPECT_EQ(Clients::all(), Clients::catalogue(Clients::home()));
    EXPECT_EQ(Clients::exe(), fs::canonical("/proc/self/exe").string());
}

TEST(ClientsDetection, InstalledWhenOneOfItsPathsExists) {
    TempHome home;
    EXPECT_TRUE(ClientApp{}.installed());
    EXPECT_FALSE(app(home, "claudecode").installed());
    fs::create_symlink(home.path() + "/gone", home.path() + "/.claude");  // a dangling link is no install
    EXPECT_FALSE(app(home, "claudecode").installed());
    fs::create_directories(home.path() + "/gone");
    EXPECT_TRUE(app(home, "claudecode").installed());
    fs::create_directories(home.path() + "/.codex");  // no ChatGPT application, only the Codex folder
    EXPECT_TRUE(app(home, "chatgpt").installed());
}

// Codex is a command-line program: found in any folder of PATH, or in one
// user's npm folders when the desktop started us with a short PATH.
TEST(ClientsDetection, CodexOnPathOrInTheUsersNpmFolders) {
    TempHome home;
    const char* saved = std::getenv("PATH");
    std::string savedPath = saved ? saved : "";
    auto installedWith = [&](const std::string& searchPath) {
        ::setenv("PATH", searchPath.c_str(), 1);
        bool found = app(home, "chatgpt").installed();
        ::setenv("PATH", savedPath.c_str(), 1);
        return found;
    };
    auto place = [&](const std::string& folder) {
        fs::create_directories(folder);
        std::ofstream(folder + "/codex") << "#!/bin/sh\n";
    };
    std::string tools = home.path() + "/tools";
    EXPECT_FALSE(installedWith("relative:" + tools));
    place(tools + "/bin");
    EXPECT_TRUE(installedWith("relative::" + tools + "/bin/"));
    EXPECT_FALSE(installedWith("bin")) << "a relative PATH entry is not looked at";
    place(home.path() + "/.nvm/versions/node/v20.11.0/bin");
    EXPECT_TRUE(installedWith("/nowhere"));
    fs::remove_all(home.path() + "/.nvm");
    place(home.path() + "/.npm-global/bin");
    EXPECT_TRUE(installedWith(""));
    fs::remove_all(home.path() + "/.npm-global");
    place(home.path() + "/.local/bin");
    EXPECT_TRUE(installedWith(""));
    EXPECT_EQ(AssistantLocations::commandPaths("codex", "/h", ":/usr/bin::x:/opt/b/"),
              (std::vector<std::string>{"/usr/bin/codex", "/opt/b/codex", "/h/.local/bin/codex",
                                        "/h/.npm-global/bin/codex"}));
}

TEST(ClientsDetection, ConfiguredOnlyWhenTheEntryStartsThisExecutable) {
    TempHome home;
    auto cursor = app(home, "cursor");
    auto codex = app(home, "chatgpt");
    EXPECT_FALSE(Clients::status(cursor, kExe));  // missing file
    const std::pair<std::string, bool> json[] = {
        {R"({"mcpServers":{"kestro-agent":{"command":"/opt/kestro/bin/kestro-agent"}}})", true},
        {R"({"mcpServers":{"kestro-agent":{"command":"/opt/kestro/bin/kestro-agent/"}}})", false},
        {R"({"mcpServers":{"kestro-agent":{"command":"/opt/kestro/bin/../bin/kestro-agent"}}})", false},
        {R"({"mcpServers":{"kestro":{"command":"/opt/kestro/bin/kestro-agent"}}})", false},
        {R"({"mcpServers":{"kestro-agent":"/opt/kestro/bin/kestro-agent"}})", false},
        {R"({"mcpServers":[]})", false},
        {"{\"mcpServers\":{\"kestro-agent\":{\"command\":\"/opt/kestro/bin/kestro-agent\"}}} \xff", false},
    };
    for (const auto& [text, configured] : json) {
        home.write(".cursor/mcp.json", text);
        EXPECT_EQ(Clients::status(cursor, kExe), configured) << text;
    }
    const std::pair<std::string, bool> toml[] = {
        {"[mcp_servers.kestro-agent]\ncommand = \"/opt/kestro/bin/kestro-agent\"\n", true},
        {"[mcp_servers.kestro-agent]\ncommand=\"/opt/kestro/bin/kestro-agent\"\n", false},
        {"[mcp_servers.kestro-agent]\n[mcp_servers.kestro-agent.env]\ncommand = \"/opt/kestro/bin/kestro-agent\"\n",
         false},
        {"[mcp_servers.kestro-agent]\r\ncommand = \"/opt/kestro/bin/kestro-agent\"\r\n", true},
    };
    for (const auto& [text, configured] : toml) {
        home.write(".codex/config.toml", text);
        EXPECT_EQ(Clients::status(codex, kExe), configured) << text;
    }
}

TEST(ClientsConfigure, MissingJsonFileGetsItsFolderAndOnlyTheEntry) {
    TempHome home;
    auto cursor = app(home, "cursor");
    Clients::configure(cursor, kExe, kT1);
    EXPECT_EQ(readWithPython("json", cursor.configPath), Json({{"mcpServers", {{"kestro-agent", kEntry}}}}));
    EXPECT_TRUE(backups(cursor.configPath).empty());
    EXPECT_EQ(modeOf(cursor.configPath), 0600u);
    EXPECT_EQ(slurp(cursor.configPath).find("\\/"), std::string::npos);  // slashes not escaped
    EXPECT_TRUE(Clients::status(cursor, kExe));
}

TEST(ClientsConfigure, JsonKeepsEveryOtherValueAndBacksUpOncePerSecond) {
    TempHome home;
    auto claude = app(home, "claude");
    Json before = Json::parse(R"({"z": {"deep": [1, 2.5, null, "a/b"], "big": 18446744073709551615},
        "mcpServers": {"other": {"command": "/x"}, "kestro-agent": {"command": "/old", "env": {"T": "1"}},
                       "kestro": {"command": "/Applications/Kestro Agent.app/k"}}})");
    std::string original = before.dump(4) + "\r\n";
    home.write(".config/Claude/claude_desktop_config.json", original);
    ::chmod(claude.configPath.c_str(), 0640);
    Clients::configure(claude, kExe, kT1);
    Json expected = before;
    expected["mcpServers"].erase("kestro");
    expected["mcpServers"]["kestro-agent"] = kEntry;
    EXPECT_EQ(readWithPython("json", claude.configPath), expected);
    EXPECT_EQ(modeOf(claude.configPath), 0640u);
    std::string first = slurp(claude.configPath);
    EXPECT_LT(first.find("\"mcpServers\""), first.find("\"z\""));  // sorted keys, at every level
    EXPECT_LT(first.find("\"big\""), first.find("\"deep\""));

    auto expectedBackup = claude.configPath + ".bak-kestro-2026-12-08T12-19-54Z";
    EXPECT_EQ(backups(claude.configPath), std::vector<std::string>{expectedBackup});
    EXPECT_EQ(slurp(expectedBackup), original);
    EXPECT_EQ(modeOf(expectedBackup), 0640u);
    Clients::configure(claude, kExe, kT1);  // the same second keeps the first backup
    EXPECT_EQ(slurp(expectedBackup), original);
    Clients::configure(claude, kExe, kT1 + 1s);
    EXPECT_EQ(slurp(claude.configPath), first);
    EXPECT_EQ(backups(claude.configPath).size(), 2u);

    // An older "kestro" entry that is not this application's stays.
    home.write(".config/Claude/claude_desktop_config.json", R"({"mcpServers":{"kestro":{"command":"/other"}}})");
    Clients::configure(claude, kExe, kT1);
    EXPECT_EQ(readWithPython("json", claude.configPath),
              Json({{"mcpServers", {{"kestro", {{"command", "/other"}}}, {"kestro-agent", kEntry}}}}));
}

TEST(ClientsConfigure, RefusesFilesItCannotReadOrUnderstandAndLeavesThemAsTheyWere) {
    TempHome home;
    auto cursor = app(home, "cursor");
    for (std::string text : {"[1, 2]", "not json", "{\"a\": 1 // why\n}", "{\"a\": 1e999}", "\"text\""}) {
        home.write(".cursor/mcp.json", text);
        expectRefused(cursor, "config_invalid");
    }
    try {
        Clients::configure(cursor, kExe, kT1);
    } catch (const ToolError& e) {
        EXPECT_EQ(e.message, cursor.configPath + " n'est pas un JSON valide : corrige-le ou renomme-le.");
    }
    EXPECT_FALSE(backups(cursor.configPath).empty());
    home.write(".cursor/mcp.json", " \r\n\t\n");  // white space only reads as empty
    Clients::configure(cursor, kExe, kT1 + 1s);
    EXPECT_TRUE(Clients::status(cursor, kExe));

    auto codex = app(home, "chatgpt");
    for (std::string text : {"model = \"\xe9t\xe9\"\n", "\xff\xfe[\0m\0"}) {  // Latin-1, UTF-16
        home.write(".codex/config.toml", text);
        expectRefused(codex, "config_unreadable");
        Clients::remove(codex);
        EXPECT_EQ(slurp(codex.configPath), text);
    }
    for (std::string text : {"mcp_servers = { other = { command = \"o\" } }\n", "d = \"\"\"\nopen\n"}) {
        home.write(".codex/config.toml", text);
        expectRefused(codex, "config_invalid");
    }
    fs::remove(codex.configPath);
    fs::create_directories(codex.configPath);  // cannot be read at all
    expectRefused(codex, "config_unreadable");
    fs::remove(codex.configPath);
    {
        std::ofstream big(codex.configPath);  // sparse: too large without taking the disk
    }
    fs::resize_file(codex.configPath, (size_t(64) << 20) + 1);
    expectRefused(codex, "config_unreadable");

    auto claudeCode = app(home, "claudecode");
    home.write("blocker", "a file where a folder should be");
    claudeCode.configPath = home.path() + "/blocker/.claude.json";
    expectRefused(claudeCode, "config_write_failed");
    for (std::string bad : {"", "relative/k", "/opt/\xff/k"}) {
        try {
            Clients::configure(app(home, "cursor"), bad, kT1);
            ADD_FAILURE() << bad;
        } catch (const ToolError& e) {
            EXPECT_EQ(e.code, "exe_path_invalid");
        }
    }
}

TEST(ClientsConfigure, CodexTableIsReplacedAtTheEndAndReadByTomllib) {
    TempHome home;
    auto codex = app(home, "chatgpt");
    Clients::configure(codex, kExe, kT1);
    const std::string entry =
        "\n[mcp_servers.kestro-agent]\ncommand = \"/opt/kestro/bin/kestro-agent\"\nargs = [\"--mcp\"]\n";
    EXPECT_EQ(slurp(codex.configPath), entry);
    EXPECT_TRUE(backups(codex.configPath).empty());

    const std::string keep =
        "# my settings\r\nmodel = \"o3\"\r\n\r\n[mcp_servers.\"other\"] # hand written\r\ncommand = "
        "\"/o\"\r\nargs = [\r\n  [\"x\"],\r\n]\r\n";
    const std::string texts[] = {
        "# my settings\r\nmodel = \"o3\"\r\n\r\n[mcp_servers.kestro-agent]\r\ncommand = \"/old\"\r\n"
        "[mcp_servers.kestro-agent.env]\r\nT = \"1\"\r\n[mcp_servers.\"other\"] # hand written\r\ncommand = \"/o\"\r\n"
        "args = [\r\n  [\"x\"],\r\n]\r\n\n\n\n",
        keep + "[mcp_servers.kestro]\r\n# Kestro Agent 1.0\r\ncommand = \"/k\"\r\n",
        "# my settings\r\nmodel = \"o3\"\r\nmcp_servers.kestro-agent = { command = \"/old\" }\r\n\r\n"
        "[mcp_servers.\"other\"] # hand written\r\ncommand = \"/o\"\r\nargs = [\r\n  [\"x\"],\r\n]\r\n",
    };
    for (const auto& text : texts) {
        home.write(".codex/config.toml", text);
        Clients::configure(codex, kExe, kT1);
        EXPECT_EQ(slurp(codex.configPath), keep + entry) << text;
        Clients::configure(codex, kExe, kT1);
        EXPECT_EQ(slurp(codex.configPath), keep + entry);
        auto parsed = readWithPython("toml", codex.configPath);
        ASSERT_TRUE(parsed) << slurp(codex.configPath);
        EXPECT_EQ((*parsed)["mcp_servers"],
                  Json({{"kestro-agent", kEntry}, {"other", {{"command", "/o"}, {"args", {{"x"}}}}}}));
        EXPECT_TRUE(Clients::status(codex, kExe));
    }
    // The file the exact line rules alone would have produced is one tomllib refuses.
    home.write("naive.toml", texts[0] + entry);
    EXPECT_FALSE(readWithPython("toml", home.path() + "/naive.toml"));

    // A "kestro" table that is not this application's stays; so does a huge preamble, byte for byte.
    std::string huge;
    for (int i = 0; i < 100000; ++i) huge += "k" + std::to_string(i) + " = \"" + std::string(40, 'v') + "\"\n";
    std::string other = huge + "[mcp_servers.kestro]\ncommand = \"/another\"\n";
    home.write(".codex/config.toml", other);
    Clients::configure(codex, kExe, kT1 + 1s);
    EXPECT_EQ(slurp(codex.configPath), other + entry);

    for (std::string weird : {"/opt/a \"b\"/kestro-agent", "/opt/c\\d/kestro-agent"}) {
        Clients::configure(codex, weird, kT1);
        auto parsed = readWithPython("toml", codex.configPath);
        ASSERT_TRUE(parsed);
        EXPECT_EQ((*parsed)["mcp_servers"]["kestro-agent"]["command"], weird);
        EXPECT_TRUE(Clients::status(codex, weird));
        EXPECT_FALSE(Clients::status(codex, kExe));
    }
}

TEST(ClientsRemove, TakesOutOnlyTheEntryAndNeverCreatesAFile) {
    TempHome home;
    auto codex = app(home, "chatgpt");
    auto cursor = app(home, "cursor");
    Clients::remove(codex);
    Clients::remove(cursor);
    EXPECT_FALSE(fs::exists(codex.configPath));
    EXPECT_FALSE(fs::exists(cursor.configPath));

    home.write(".codex/config.toml",
               "a = 1\n\n[mcp_servers.kestro-agent]\ncommand = \"k\"\n[mcp_servers.kestro]\nx = 1\n");
    ::chmod(codex.configPath.c_str(), 0604);
    Clients::remove(codex);
    EXPECT_EQ(slurp(codex.configPath), "a = 1\n\n[mcp_servers.kestro]\nx = 1\n");
    EXPECT_EQ(modeOf(codex.configPath), 0604u);

    const std::string noServers = "{ \"a\" : [ 1 ,2 ] }";
    home.write(".cursor/mcp.json", noServers);
    Clients::remove(cursor);
    EXPECT_EQ(slurp(cursor.configPath), noServers);
    // Through a link: the link stays and its target loses the entry.
    fs::remove(cursor.configPath);
    std::string target = home.write("dotfiles/mcp.json", R"({"mcpServers":{"kestro-agent":{},"o":{"command":"/o"}}})");
    fs::create_symlink(target, cursor.configPath);
    Clients::remove(cursor);
    EXPECT_TRUE(fs::is_symlink(cursor.configPath));
    EXPECT_EQ(readWithPython("json", target), Json({{"mcpServers", {{"o", {{"command", "/o"}}}}}}));
    Clients::configure(cursor, kExe, kT1);
    EXPECT_TRUE(fs::is_symlink(cursor.configPath));
    EXPECT_TRUE(Clients::status(cursor, kExe));
    EXPECT_TRUE(backups(codex.configPath).empty());
}

}  // namespace
