// Saves on a full disk: with the file-size limit lowered in a child process,
// every save fails without harm. The old file stays whole, no temporary file
// is left behind, and where the user is told about a failure the message
// says so. Each trial also runs once with room enough, so a trial that
// cannot write at all would not pass for a sound one.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "clients/clients.h"
#include "config/config_store.h"
#include "core/atomic_file.h"
#include "core/tool_error.h"
#include "file_size_limit.h"
#include "maintenance/login_item.h"
#include "service/manifest.h"
#include "temp_home.h"
#include "test_http_server.h"

namespace fs = std::filesystem;

namespace {

const auto kNow = std::chrono::system_clock::from_time_t(1796732394);
const std::string kExe = "/opt/Kestro Agent/kestro-agent";

std::string slurp(const std::string& path) { return AtomicFile::read(path).value_or("<missing>"); }

// The names in `dir` that are neither `keep` nor a dated backup of one of them.
std::set<std::string> strays(const std::string& dir, const std::set<std::string>& keep) {
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        bool backup = false;
        for (const auto& k : keep) backup = backup || name.starts_with(k + ".bak-kestro-");
        if (!keep.count(name) && !backup) out.insert(name);
    }
    return out;
}

// Limits from nothing at all to one byte short of the new content.
std::vector<rlim_t> limitsBelow(size_t newSize, size_t oldSize) {
    std::vector<rlim_t> limits{0, 1, newSize / 2, newSize - 1};
    if (oldSize < newSize) limits.push_back(oldSize);  // room for a backup of the old file, not for the new one
    return limits;
}

AgentConfig loggedIn(const std::string& token) {
    return AgentConfig{.baseUrl = "https://kestro.io", .token = token, .userName = "Zoé", .userEmail = "z@x.fr",
                       .clientId = "client-1", .configuredPath = kExe};
}

TEST(FullDisk, ConfigurationSaveKeepsTheOldFile) {
    TempHome home;
    ConfigStore::save(loggedIn("old-token"));
    const std::string old = slurp(ConfigStore::file());
    const AgentConfig next = loggedIn(std::string(300, 'n'));
    const size_t newSize = ConfigStore::encode(next).size();
    for (rlim_t limit : limitsBelow(newSize, old.size())) {
        LimitedRun run = runWithFileSizeLimit(limit, [&] {
            ConfigStore::save(next);
            return std::string("saved");
        });
        EXPECT_TRUE(run.exited && run.status == 0 && run.report == "saved") << "limit " << limit << ": " << run.report;
        EXPECT_EQ(slurp(ConfigStore::file()), old) << "limit " << limit;
        EXPECT_EQ(strays(ConfigStore::dir(), {"config.json"}), std::set<std::string>()) << "limit " << limit;
    }
    runWithFileSizeLimit(newSize, [&] {
        ConfigStore::save(next);
        return std::string();
    });
    EXPECT_EQ(ConfigStore::load(), next) << "the exact size fits";
}

TEST(FullDisk, ManifestCacheKeepsTheOldCopyAndTheFetchedManifestIsStillUsed) {
    TempHome home;
    const std::string oldBody = R"({"instructions":"ancienne"})";
    const std::string newBody = R"({"instructions":"nouvelle consigne, plus longue que l'ancienne"})";
    AtomicFile::makeDirs(ConfigStore::dir(), 0700);
    ASSERT_TRUE(AtomicFile::write(Manifest::cacheFile(), oldBody, 0644));
    TestHttpServer server([&](httplib::Server& s) {
        s.Get("/api/v1/agent_manifest.php",
              [&](const httplib::Request&, httplib::Response& res) { res.set_content(newBody, "application/json"); });
    });
    ::unsetenv("KESTRO_AGENT_MANIFEST_URL");
    auto load = [&] {
        auto manifest = Manifest::load(server.url(), 5);
        return manifest && manifest->instructions ? *manifest->instructions : std::string("<none>");
    };
    for (rlim_t limit : limitsBelow(newBody.size(), oldBody.size())) {
        LimitedRun run = runWithFileSizeLimit(limit, load);
        EXPECT_TRUE(run.exited && run.status == 0) << "limit " << limit;
        EXPECT_EQ(run.report, "nouvelle consigne, plus longue que l'ancienne") << "limit " << limit;
        EXPECT_EQ(slurp(Manifest::cacheFile()), oldBody) << "limit " << limit;
        EXPECT_EQ(strays(ConfigStore::dir(), {"manifest.json"}), std::set<std::string>()) << "limit " << limit;
    }
    runWithFileSizeLimit(newBody.size(), load);
    EXPECT_EQ(slurp(Manifest::cacheFile()), newBody) << "the exact size fits";
    ::setenv("KESTRO_AGENT_MANIFEST_URL", "", 1);
}

ClientApp assistant(const TempHome& home, const std::string& key) {
    for (auto& a : Clients::catalogue(home.path(), AssistantLocations::System::linuxDesktop))
        if (a.key == key) return a;
    throw std::runtime_error("no assistant " + key);
}

std::string configureReport(const ClientApp& app) {
    try {
        Clients::configure(app, kExe, kNow);
        return "configured";
    } catch (const ToolError& e) {
        return e.code + "|" + e.message;
    }
}

// configure says the write failed and names the file; the file, and any
// backup that was made, hold the old text whole.
void expectConfigureFailsCleanly(const ClientApp& app, const std::string& old) {
    std::string dir = fs::path(app.configPath).parent_path().string();
    std::string name = fs::path(app.configPath).filename().string();
    Clients::configure(app, kExe, kNow);
    const size_t newSize = slurp(app.configPath).size();
    ASSERT_TRUE(AtomicFile::write(app.configPath, old, 0600));
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string() != name) fs::remove(e.path());

    for (rlim_t limit : limitsBelow(newSize, old.size())) {
        LimitedRun run = runWithFileSizeLimit(limit, [&] { return configureReport(app); });
        EXPECT_TRUE(run.exited && run.status == 0) << "limit " << limit;
        EXPECT_TRUE(run.report.starts_with("config_write_failed|Impossible d'écrire " + app.configPath))
            << "limit " << limit << ": " << run.report;
        EXPECT_EQ(slurp(app.configPath), old) << app.key << ", limit " << limit;
        EXPECT_EQ(strays(dir, {name}), std::set<std::string>()) << app.key << ", limit " << limit;
        for (const auto& e : fs::directory_iterator(dir)) {
            if (e.path().filename().string() == name) continue;
            EXPECT_EQ(slurp(e.path().string()), old) << "a cut backup";
        }
    }
    LimitedRun fits = runWithFileSizeLimit(newSize, [&] { return configureReport(app); });
    EXPECT_EQ(fits.report, "configured") << app.key << ": the exact size fits";
}

TEST(FullDisk, AssistantFilesAreLeftAsTheyWereAndTheFailureIsTold) {
    TempHome home;
    ClientApp claude = assistant(home, "claude");
    home.write(".config/Claude/claude_desktop_config.json", R"({"mcpServers":{"x":{"command":"x"}},"theme":"dark"})");
    expectConfigureFailsCleanly(claude, slurp(claude.configPath));

    ClientApp codex = assistant(home, "chatgpt");
    home.write(".codex/config.toml", "model = \"m\"  # mine\n\n[mcp_servers.x]\ncommand = \"x\"\n");
    expectConfigureFailsCleanly(codex, slurp(codex.configPath));
}

TEST(FullDisk, RemovingTheEntryLeavesTheFileAsItWas) {
    TempHome home;
    home.write(".cursor/mcp.json", R"({"mcpServers":{"x":{"command":"/usr/bin/x"}},"theme":"dark"})");
    home.write(".codex/config.toml", "model = \"m\"\n");
    for (const char* key : {"cursor", "chatgpt"}) {
        ClientApp app = assistant(home, key);
        Clients::configure(app, kExe, kNow);
        const std::string configured = slurp(app.configPath);
        for (rlim_t limit : {rlim_t(0), rlim_t(1)}) {
            LimitedRun run = runWithFileSizeLimit(limit, [&] {
                Clients::remove(app);
                return std::string("done");
            });
            EXPECT_EQ(run.report, "done") << key;
            EXPECT_EQ(slurp(app.configPath), configured) << key << ", limit " << limit;
            std::string dir = fs::path(app.configPath).parent_path().string();
            auto left = strays(dir, {fs::path(app.configPath).filename().string()});
            EXPECT_EQ(left, std::set<std::string>()) << key;
        }
        runWithFileSizeLimit(RLIM_INFINITY, [&] {
            Clients::remove(app);
            return std::string();
        });
        EXPECT_FALSE(Clients::status(app, kExe)) << key << ": removed once there is room";
    }
}

TEST(FullDisk, AutostartEntryKeepsTheOldOne) {
    TempHome home;
    const std::string exeA = "/opt/Kestro Agent.app/kestro-agent";
    const std::string exeB = "/opt/Kestro Agent, version suivante.app/kestro-agent";
    LoginItem::set(true, exeA);
    const std::string old = slurp(LoginItem::path());
    ASSERT_EQ(old, LoginItem::entryText(exeA));
    const size_t newSize = LoginItem::entryText(exeB).size();
    std::string dir = fs::path(LoginItem::path()).parent_path().string();
    for (rlim_t limit : limitsBelow(newSize, old.size())) {
        LimitedRun run = runWithFileSizeLimit(limit, [&] {
            LoginItem::set(true, exeB);
            return std::string(LoginItem::isEnabled() ? "on" : "off");
        });
        EXPECT_EQ(run.report, "on") << "limit " << limit;
        EXPECT_EQ(slurp(LoginItem::path()), old) << "limit " << limit;
        EXPECT_EQ(strays(dir, {"io.kestro.agent.desktop"}), std::set<std::string>()) << "limit " << limit;
    }
    runWithFileSizeLimit(newSize, [&] {
        LoginItem::set(true, exeB);
        return std::string();
    });
    EXPECT_EQ(slurp(LoginItem::path()), LoginItem::entryText(exeB)) << "the exact size fits";
}

}  // namespace
