// Crash trials for the other files the agent replaces: the configuration,
// the manifest cache and the autostart entry. A child saves one of them over
// and over and is killed with SIGKILL at random moments, a few hundred times
// (KillTrials): the file is always the whole old or the whole new content,
// and the temporary files of killed saves never pile up.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <set>

#include "config/config_store.h"
#include "core/atomic_file.h"
#include "kill_trials.h"
#include "maintenance/login_item.h"
#include "service/manifest.h"
#include "temp_home.h"
#include "test_http_server.h"

namespace fs = std::filesystem;

namespace {

// The temporary files beside `path` that belong to it.
int temporariesOf(const std::string& path) {
    std::string prefix = fs::path(AtomicFile::temporaryPrefix(path)).filename().string();
    int count = 0;
    for (const auto& e : fs::directory_iterator(fs::path(path).parent_path()))
        count += e.path().filename().string().starts_with(prefix);
    return count;
}

void report(const char* what, const KillTrials::Figures& f) {
    std::cout << "[ figures  ] " << what << ": " << f.runs << " runs, " << f.kills << " kills, "
              << f.killsLeavingTemporary << " kills mid-write, at most " << f.maxTemporaries
              << " temporary file left; about " << f.microsPerSave << " µs per save\n";
}

// Big enough that a kill often lands inside a write.
AgentConfig config(char fill) {
    return AgentConfig{.baseUrl = "https://kestro.io", .token = std::string(200000, fill), .userName = "Zoé",
                       .userEmail = "z@x.fr", .clientId = "c", .configuredPath = "/opt/Kestro Agent/kestro-agent"};
}

TEST(KilledSaves, TheConfigurationIsAlwaysWhole) {
    TempHome home;
    const AgentConfig original = config('o'), a = config('a'), b = config('b');
    ConfigStore::save(original);
    const std::string file = ConfigStore::file();
    const std::set<std::string> whole{ConfigStore::encode(original), ConfigStore::encode(a), ConfigStore::encode(b)};

    auto save = [&](int, int i) { ConfigStore::save(i % 2 ? b : a); };
    auto inspect = [&](int run) {
        std::string saved = AtomicFile::read(file).value_or("<missing>");
        EXPECT_TRUE(whole.count(saved)) << "run " << run << ": a configuration of " << saved.size() << " bytes";
        EXPECT_TRUE(ConfigStore::load() == a || ConfigStore::load() == b || ConfigStore::load() == original);
        return temporariesOf(file);
    };
    KillTrials::Figures f = KillTrials::run(save, inspect);
    report("configuration", f);
    EXPECT_GE(f.runs, 50);

    ConfigStore::save(a);
    EXPECT_EQ(temporariesOf(file), 0) << "the next save clears what the last kill left";
    EXPECT_EQ(ConfigStore::load(), a);
}

TEST(KilledSaves, TheManifestCacheIsAlwaysWhole) {
    TempHome home;
    auto body = [](char fill) { return R"({"instructions":")" + std::string(300000, fill) + R"("})"; };
    const std::string original = body('o'), a = body('a'), b = body('b');
    AtomicFile::makeDirs(ConfigStore::dir(), 0700);
    ASSERT_TRUE(AtomicFile::write(Manifest::cacheFile(), original, 0644));
    // Each fetch gets the other of two manifests, so every save changes the cache.
    std::atomic<int> served{0};
    TestHttpServer server([&](httplib::Server& s) {
        s.Get("/manifest", [&](const httplib::Request&, httplib::Response& res) {
            res.set_content(served++ % 2 ? b : a, "application/json");
        });
    });
    ::setenv("KESTRO_AGENT_MANIFEST_URL", server.url("/manifest").c_str(), 1);

    auto save = [&](int, int) { Manifest::load("http://127.0.0.1:9", 5); };
    auto inspect = [&](int run) {
        std::string cached = AtomicFile::read(Manifest::cacheFile()).value_or("<missing>");
        EXPECT_TRUE(cached == original || cached == a || cached == b)
            << "run " << run << ": a cache of " << cached.size() << " bytes";
        return temporariesOf(Manifest::cacheFile());
    };
    KillTrials::Figures f = KillTrials::run(save, inspect);
    report("manifest cache", f);
    EXPECT_GE(f.runs, 50);

    Manifest::load("http://127.0.0.1:9", 5);
    EXPECT_EQ(temporariesOf(Manifest::cacheFile()), 0) << "the next save clears what the last kill left";
    ::setenv("KESTRO_AGENT_MANIFEST_URL", "", 1);
}

TEST(KilledSaves, TheAutostartEntryIsAlwaysWholeOrAbsent) {
    TempHome home;
    // Turned on with one executable, then the other, then off: the entry is
    // one of the two whole texts or no file at all, never a cut one.
    const std::string exeA = "/opt/Kestro Agent.app/kestro-agent", exeB = "/opt/Kestro Agent 2.app/kestro-agent";
    const std::string file = LoginItem::path();
    auto save = [&](int, int i) {
        if (i % 3 == 2)
            LoginItem::set(false, exeA);
        else
            LoginItem::set(true, i % 3 ? exeB : exeA);
    };
    auto inspect = [&](int run) {
        auto entry = AtomicFile::read(file);
        EXPECT_TRUE(!entry || *entry == LoginItem::entryText(exeA) || *entry == LoginItem::entryText(exeB))
            << "run " << run << ": an entry of " << entry->size() << " bytes";
        return fs::exists(fs::path(file).parent_path()) ? temporariesOf(file) : 0;
    };
    KillTrials::Figures f = KillTrials::run(save, inspect);
    report("autostart entry", f);
    EXPECT_GE(f.runs, 50);

    LoginItem::set(true, exeA);
    EXPECT_EQ(temporariesOf(file), 0) << "the next save clears what the last kill left";
    EXPECT_EQ(AtomicFile::read(file), LoginItem::entryText(exeA));
}

}  // namespace
