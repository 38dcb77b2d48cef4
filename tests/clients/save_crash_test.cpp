// Regression: a process killed while it configured an assistant left cut or
// empty backups (a user restoring the newest one lost the file) and a
// temporary file per kill. Here a child configures a Codex file over and over
// and is killed with SIGKILL at random moments, a few hundred times.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "clients/clients.h"
#include "core/atomic_file.h"
#include "temp_home.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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

// Configures forever, switching between two executables so that every save
// changes the file, each with a backup of a new second; tells the parent once
// it has started. Ends itself only if the parent dies or after a bound.
[[noreturn]] void configureUntilKilled(const ClientApp& codex, int run, int readyFd) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    char go = 'g';
    (void)!::write(readyFd, &go, 1);
    try {
        for (int i = 0; i < 100000; ++i)
            Clients::configure(codex, i % 2 ? kExeB : kExeA, kT0 + std::chrono::seconds(run * 100000 + i));
    } catch (...) {
        ::_exit(2);
    }
    ::_exit(3);
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

    // The kills are spread over about three saves, however fast this machine is.
    auto start = Clock::now();
    for (int i = 0; i < 4; ++i) Clients::configure(codex, kExeA, kT0 - std::chrono::seconds(10 + i));
    auto perSave = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start) / 4;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().find(".bak-kestro-") != std::string::npos) fs::remove(e.path());

    std::mt19937 random(20261208);
    std::uniform_int_distribution<long> delay(0, std::max<long>(1, 3 * perSave.count()));
    int runs = 0, killed = 0, backupsChecked = 0, runsLeavingTemporary = 0, maxLeft = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(25);
    for (; runs < 300 && Clock::now() < deadline; ++runs) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) configureUntilKilled(codex, runs, ready[1]);
        char go = 0;
        (void)!::read(ready[0], &go, 1);
        ::close(ready[0]);
        ::close(ready[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself: " << status;
        ++killed;

        std::string saved = AtomicFile::read(codex.configPath).value_or("<missing>");
        ASSERT_TRUE(saved == withA || saved == withB || saved == original)
            << "run " << runs << ": a saved file of " << saved.size() << " bytes";
        int left = 0;
        for (const auto& e : fs::directory_iterator(dir)) {
            std::string name = e.path().filename().string();
            if (name.starts_with(temporaryName)) {
                ++left;
            } else if (name.find(".bak-kestro-") != std::string::npos) {
                std::string backup = AtomicFile::read(e.path().string()).value_or("<missing>");
                ASSERT_TRUE(backup == withA || backup == withB || backup == original)
                    << "run " << runs << ": a backup of " << backup.size() << " bytes";
                ++backupsChecked;
                fs::remove(e.path());  // keeps the disk use to one run's backups
            }
        }
        ASSERT_LE(left, 1) << "run " << runs;
        runsLeavingTemporary += left;
        maxLeft = std::max(maxLeft, left);
    }
    std::cout << "[ figures  ] " << runs << " runs, " << killed << " kills, " << backupsChecked
              << " whole backups, " << runsLeavingTemporary << " kills mid-write, at most " << maxLeft
              << " temporary file left; about " << perSave.count() << " µs per save\n";
    EXPECT_GE(runs, 50);

    // The next save clears what the last kill left.
    Clients::configure(codex, kExeA, kT0 - std::chrono::seconds(1));
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_FALSE(e.path().filename().string().starts_with(temporaryName)) << e.path();
    EXPECT_EQ(AtomicFile::read(codex.configPath), withA);
}

}  // namespace
