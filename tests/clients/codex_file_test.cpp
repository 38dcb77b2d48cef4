// The Codex file as the assistant itself writes it (approvals, env tables,
// several servers, comments), edited by configure and logout and read back by
// a strict TOML parser: the assistant must always be able to load the result.
#include <gtest/gtest.h>

#include <toml++/toml.h>

#include <filesystem>

#include "clients/clients.h"
#include "core/atomic_file.h"
#include "temp_home.h"
#include "thrown.h"

namespace fs = std::filesystem;

namespace {

const std::string kExe = "/opt/kestro/bin/kestro-agent";
const auto kT1 = std::chrono::system_clock::from_time_t(1796732394);

const std::string kBefore =
    "# Codex configuration\n"
    "model = \"gpt-5-codex\"\n"
    "model_reasoning_effort = \"high\"  # set by /model\n"
    "\n"
    "[projects.\"/home/me/src/app\"]\n"
    "trust_level = \"trusted\"\n"
    "\n"
    "[mcp_servers.github]\n"
    "command = \"npx\"\n"
    "args = [\"-y\", \"github-mcp\"]\n"
    "\n"
    "[mcp_servers.github.env]\n"
    "GITHUB_TOKEN = \"ghp_x\"\n"
    "\n";
const std::string kAgent =
    "[mcp_servers.kestro-agent]\n"
    "command = \"/old/kestro-agent\"\n"
    "args = [\"--mcp\"]\n"
    "\n"
    "[mcp_servers.kestro-agent.env]\n"
    "KESTRO_TRACE = \"1\"\n"
    "\n";
const std::string kApprovals =
    "[mcp_servers.kestro-agent.tools.upload_file_to_plan]\n"
    "approval_mode = \"approve\"\n"
    "\n"
    "[mcp_servers.\"kestro-agent\".tools.list_local_files] # always allow\n"
    "approval_mode = \"approve\"\n"
    "\n";
const std::string kAfter =
    "[mcp_servers.docs]\n"
    "url = \"http://127.0.0.1:8123/mcp\"\n"
    "\n"
    "[mcp_servers.docs.tools.search]\n"
    "approval_mode = \"approve\"\n"
    "\n"
    "[tui]\n"
    "notifications = true\n";

std::string withCrLf(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

ClientApp codexApp(const TempHome& home) {
    for (auto& a : Clients::catalogue(home.path(), AssistantLocations::System::linuxDesktop))
        if (a.kind == ClientApp::Kind::codexToml) return a;
    throw std::runtime_error("no Codex entry");
}

std::string slurp(const std::string& path) { return AtomicFile::read(path).value_or("<missing>"); }

toml::table parsed(const std::string& text) {
    try {
        return toml::parse(text);
    } catch (const toml::parse_error& e) {
        ADD_FAILURE() << "not TOML: " << e.description() << "\n" << text;
        return {};
    }
}

toml::table& agentOf(toml::table& root) { return *root["mcp_servers"]["kestro-agent"].as_table(); }

TEST(CodexFile, LogoutLeavesNoTableOfTheAgentAndEveryOtherValue) {
    TempHome home;
    auto codex = codexApp(home);
    for (bool crLf : {false, true}) {
        auto lines = [&](const std::string& s) { return crLf ? withCrLf(s) : s; };
        std::string original = lines(kBefore + kAgent + kApprovals + kAfter);
        home.write(".codex/config.toml", original);
        Clients::remove(codex);

        std::string after = slurp(codex.configPath);
        EXPECT_EQ(after, lines(kBefore + kAfter));  // comments and layout byte for byte
        toml::table expected = parsed(original);
        expected["mcp_servers"].as_table()->erase("kestro-agent");
        EXPECT_EQ(parsed(after), expected);
        EXPECT_FALSE(Clients::status(codex, "/old/kestro-agent"));
    }
    // Tables an earlier logout left without their server go too.
    home.write(".codex/config.toml", kBefore + kApprovals + kAfter);
    Clients::remove(codex);
    EXPECT_EQ(slurp(codex.configPath), kBefore + kAfter);
}

TEST(CodexFile, ConfigureKeepsTheApprovalsAndDropsTheOldEnvAndOurOlderEntry) {
    TempHome home;
    auto codex = codexApp(home);
    const std::string entry = Clients::tomlEntry(kExe);
    for (bool crLf : {false, true}) {
        auto lines = [&](const std::string& s) { return crLf ? withCrLf(s) : s; };
        std::string original = lines(kBefore + kAgent + kApprovals + kAfter);
        home.write(".codex/config.toml", original);
        Clients::configure(codex, kExe, kT1);

        std::string after = slurp(codex.configPath);
        EXPECT_EQ(after, lines(kBefore + kApprovals + kAfter) + entry);
        toml::table expected = parsed(original);
        agentOf(expected).insert_or_assign("command", kExe);
        agentOf(expected).erase("env");
        toml::table got = parsed(after);
        EXPECT_EQ(got, expected);
        EXPECT_EQ(agentOf(got)["tools"]["upload_file_to_plan"]["approval_mode"].value_or(""), std::string("approve"));
        EXPECT_TRUE(Clients::status(codex, kExe));

        // The logout that follows takes the approvals with it.
        Clients::remove(codex);
        EXPECT_EQ(slurp(codex.configPath), lines(kBefore + kAfter));
        fs::remove(Clients::backupPath(codex.configPath, kT1));
    }

    // An older entry of this application goes whole, sub-tables included.
    const std::string older =
        "[mcp_servers.kestro]\n# Kestro Agent 1.0\ncommand = \"/Applications/Kestro Agent.app/k\"\n\n"
        "[[mcp_servers.kestro.hooks]]\nname = \"h\"\n\n[mcp_servers.kestro.tools.upload_file_to_plan]\n"
        "approval_mode = \"approve\"\n\n";
    home.write(".codex/config.toml", kBefore + older + kAfter);
    Clients::configure(codex, kExe, kT1);
    EXPECT_EQ(slurp(codex.configPath), kBefore + kAfter + entry);
    EXPECT_FALSE(parsed(slurp(codex.configPath))["mcp_servers"]["kestro"]);
}

TEST(CodexFile, AnEditTheAssistantCouldNotLoadIsNeverWritten) {
    TempHome home;
    auto codex = codexApp(home);
    // Valid as it stands, but a sub-table named "command" clashes with the
    // command the fresh entry writes.
    const std::string clash = kBefore + "[mcp_servers.kestro-agent.command]\nx = 1\n" + kAfter;
    ASSERT_NO_THROW((void)toml::parse(clash));
    home.write(".codex/config.toml", clash);
    ToolError e = thrown([&] { Clients::configure(codex, kExe, kT1); });
    EXPECT_EQ(e.code, "config_invalid");
    EXPECT_EQ(e.message, codex.configPath +
                             " ne serait plus un TOML valide après l'ajout de l'agent : l'agent ne l'a pas modifié ; "
                             "corrige-le ou renomme-le.");
    EXPECT_EQ(slurp(codex.configPath), clash);
    // Logout removes the whole server, so the same file can lose it.
    Clients::remove(codex);
    EXPECT_EQ(slurp(codex.configPath), kBefore + kAfter);

    // A file no strict parser reads (a key given twice) is edited line by line.
    const std::string invalid = "model = \"a\"\nmodel = \"b\"\n\n" + kAgent + kApprovals + kAfter;
    home.write(".codex/config.toml", invalid);
    Clients::remove(codex);
    EXPECT_EQ(slurp(codex.configPath), "model = \"a\"\nmodel = \"b\"\n\n" + kAfter);
    Clients::configure(codex, kExe, kT1);
    EXPECT_EQ(slurp(codex.configPath), "model = \"a\"\nmodel = \"b\"\n\n" + kAfter + Clients::tomlEntry(kExe));
}

}  // namespace
