// The release path with the real programs: the build's bundle installed by
// scripts/install into a temporary folder standing for "/opt/", the archive
// made by scripts/package announced by the stand-in service as a newer
// version, the update run, and the relaunched program proving that it
// started from the new files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "core/atomic_file.h"
#include "core/version.h"
#include "dev_service.h"
#include "maintenance/login_item.h"
#include "maintenance/updater.h"
#include "scoped_env.h"
#include "temp_home.h"

namespace fs = std::filesystem;

namespace {

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    return names;
}

TEST(SelfUpdateProcess, InstalledBundleUpdatesItselfAndRestartsFromTheNewFiles) {
    const char* source = ::getenv("KESTRO_SOURCE_DIR");
    const char* built = ::getenv("KESTRO_BUNDLE_DIR");
    ASSERT_TRUE(source && built) << "run through ctest";
    TempHome home;
    // A prefix that would break any shell command built from it.
    const std::string prefix = home.path() + "/opt $HOME \"q\" `x`";
    const std::string target = prefix + "/Kestro Agent.app";
    const std::string program = target + "/bin/kestro-agent";
    ScopedEnv prefixEnv("KESTRO_INSTALL_PREFIX", prefix);
    ScopedEnv dataEnv("XDG_DATA_HOME", home.path() + "/.local/share");
    ScopedEnv manifestEnv("KESTRO_AGENT_MANIFEST_URL", std::nullopt);

    ASSERT_EQ(Updater::run(std::string(source) + "/scripts/install", {built}), 0);
    ASSERT_TRUE(fs::exists(program));
    auto entry = AtomicFile::read(home.path() + "/.local/share/applications/io.kestro.agent.desktop");
    ASSERT_TRUE(entry);
    EXPECT_NE(entry->find("\nExec=" + LoginItem::execArgument(program) + "\n"), std::string::npos) << *entry;
    EXPECT_TRUE(fs::exists(home.path() + "/.local/share/icons/hicolor/scalable/apps/io.kestro.agent.svg"));
    const ino_t before = inodeOf(program);

    // The release: this build's bundle, packaged, announced as newer.
    const std::string buildDir = fs::path(built).parent_path().parent_path().string();
    {
        ScopedEnv buildEnv("BUILD_DIR", buildDir);
        ScopedEnv distEnv("DIST_DIR", home.path() + "/dist");
        ASSERT_EQ(Updater::run(std::string(source) + "/scripts/package", {}), 0);
    }
    const std::string zip = home.path() + "/dist/kestro-agent-" + kAppVersion + ".zip";
    auto archive = AtomicFile::read(zip);
    ASSERT_TRUE(archive);
    auto digestFile = AtomicFile::read(zip + ".sha256");
    ASSERT_TRUE(digestFile);
    EXPECT_EQ(digestFile->substr(0, 64), Updater::sha256(zip).value_or(""));

    devservice::DevService service;
    ASSERT_GT(service.start(), 0);
    service.releases().publish("99.0.0", *archive);

    const std::string probe = home.path() + "/started.txt";
    ScopedEnv probeEnv("KESTRO_AGENT_START_PROBE", probe);
    fs::create_directories(home.path() + "/tmp");
    Updater::InstallOptions options;
    options.executable = program;
    options.tempDir = home.path() + "/tmp";
    int quits = 0;
    options.quit = [&](std::chrono::milliseconds) { ++quits; };
    std::vector<std::string> texts;
    ASSERT_TRUE(Updater::checkAndInstall(
        service.baseUrl(), [&](const std::string& t) { texts.push_back(t); }, options))
        << (texts.empty() ? "" : texts.back());
    EXPECT_EQ(texts.back(), "Mis à jour en 99.0.0, redémarrage…");
    EXPECT_EQ(quits, 1);

    // The relaunch waits a second before it starts the program.
    std::string started;
    for (int i = 0; i < 300 && started.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        started = AtomicFile::read(probe).value_or("");
    }
    ASSERT_FALSE(started.empty()) << "the new bundle's program never started";
    std::istringstream line(started);
    std::string version, path;
    ino_t inode = 0;
    line >> version >> inode;
    std::getline(line >> std::ws, path);
    EXPECT_EQ(version, kAppVersion);
    EXPECT_EQ(path, program + " --after-update");  // so it waits for the old copy's lock
    EXPECT_EQ(inode, inodeOf(program));  // the file the update put there...
    EXPECT_NE(inode, before);            // ...not the one installed first

    EXPECT_EQ(namesIn(prefix), std::vector<std::string>{"Kestro Agent.app"});
    EXPECT_TRUE(namesIn(home.path() + "/tmp").empty());
}

}  // namespace
