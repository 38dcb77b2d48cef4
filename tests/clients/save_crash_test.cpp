// Regression: a process killed while it configured an assistant left cut or
// empty backups (a user restoring the newest one lost the file) and a
// temporary file per kill. Here a child configures a Codex file over and over
// and is killed with SIGKILL at random moments, a few hundred times.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iostream>

#include "clients/clients.h"
#include "core/atomic_file.h"
#include "kill_trials.h"
#include "temp_home.h"

namespace fs = std::filesystem;

namespace {

const std::string kExeA = "/opt/kestro-a/kestro-agent";
const std::string kExeB = "/opt/kestro-b/kestro-agent";
const auto kT0 = std::chrono::system_clock::from_time_t(1796732394);

// Shaped as Codex writes it for a user with many trusted projects: large
// enough that a kill often lands inside a write.
std::string codexText() {
    std::string text = "# Codex configuration\nmodel = \"gpt-5-codex\"\n\n";
    for (int i = 0; i < 800; ++i)
        text += "[projects.\"/home/me/src/project-" + std::to_string(i) + "\"]\ntrust_level = \"trusted\"\n\n";
    return text + "[mcp_servers.other]\ncommand = \"/o\"\nargs = []\n";
}

ClientApp codexApp(const TempHome& home) {
    for (auto& a : Clients::catalogue(home.path(), AssistantLocations::System::linuxDesktop))
        if (a.kind == ClientApp::Kind::codexToml) return a;
    throw std::runtime_error("no Codex entry");
}

TEST(SaveCrash, KilledSavesLeaveWholeFilesWholeBackupsAndOneTemporaryAtMost) {
    TempHome home;
    auto codex = codexApp(home);
    const std::string original = codexText();
    const std::string withA = original + Clients::tomlEntry(kExeA);
    const std::string withB = original + Clients::tomlEntry(kExeB);
    const std::string dir = fs::path(codex.configPath).parent_path().string();
    const std::string temporaryName = fs::path(AtomicFile::temporaryPrefix(codex.configPath)).filename().string();
    home.write(".codex/config.toml", original);

    // Each save switches between two executables, so that every save changes
    // the file, each with a backup of a new second.
    auto save = [&](int run, int i) {
        Clients::configure(codex, i % 2 ? kExeB : kExeA, kT0 + std::chrono::seconds(run * 100000 + i));
    };
    int backupsChecked = 0;
    auto inspect = [&](int run) {
        std::string saved = AtomicFile::read(codex.configPath).value_or("<missing>");
        EXPECT_TRUE(saved == withA || saved == withB || saved == original)
            << "run " << run << ": a saved file of " << saved.size() << " bytes";
        int left = 0;
        for (const auto& e : fs::directory_iterator(dir)) {
            std::string name = e.path().filename().string();
            if (name.starts_with(temporaryName)) {
                ++left;
            } else if (name.find(".bak-kestro-") != std::string::npos) {
                std::string backup = AtomicFile::read(e.path().string()).value_or("<missing>");
                EXPECT_TRUE(backup == withA || backup == withB || backup == original)
                    << "run " << run << ": a backup of " << backup.size() << " bytes";
                ++backupsChecked;
                fs::remove(e.path());  // keeps the disk use to one run's backups
            }
        }
        return left;
    };
    KillTrials::Figures f = KillTrials::run(save, inspect, {.budget = std::chrono::seconds(25)});
    std::cout << "[ figures  ] " << f.runs << " runs, " << f.kills << " kills, " << backupsChecked
              << " whole backups, " << f.killsLeavingTemporary << " kills mid-write, at most " << f.maxTemporaries
              << " temporary file left; about " << f.microsPerSave << " µs per save\n";
    EXPECT_GE(f.runs, 50);

    // The next save clears what the last kill left.
    Clients::configure(codex, kExeA, kT0 - std::chrono::seconds(1));
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_FALSE(e.path().filename().string().starts_with(temporaryName)) << e.path();
    EXPECT_EQ(AtomicFile::read(codex.configPath), withA);
}

}  // namespace
