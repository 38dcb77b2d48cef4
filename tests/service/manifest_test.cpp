// The manifest: its reading rules, the fetch with its bounded wait, the cache.
#include "service/manifest.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "core/atomic_file.h"
#include "temp_home.h"
#include "test_http_server.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kVariable = "KESTRO_AGENT_MANIFEST_URL";

// Sets or unsets the override for one test and puts the old state back.
struct ScopedOverride {
    std::optional<std::string> saved;
    explicit ScopedOverride(const std::optional<std::string>& value) {
        if (const char* old = ::getenv(kVariable)) saved = old;
        if (value) ::setenv(kVariable, value->c_str(), 1);
        else ::unsetenv(kVariable);
    }
    ~ScopedOverride() {
        if (saved) ::setenv(kVariable, saved->c_str(), 1);
        else ::unsetenv(kVariable);
    }
};

// Serves the manifest endpoint (and another address for the override) with a
// scripted answer, counting the requests.
struct ManifestService {
    std::mutex mutex;
    int status = 200;
    std::string body = "{}";
    std::chrono::milliseconds delay{0};
    std::atomic<int> requests{0};
    std::atomic<int> otherRequests{0};
    TestHttpServer server{[this](httplib::Server& s) {
        s.Get("/api/v1/agent_manifest.php", [this](const httplib::Request&, httplib::Response& res) {
            ++requests;
            std::chrono::milliseconds wait;
            {
                std::lock_guard lock(mutex);
                res.status = status;
                res.set_content(body, "application/json");
                wait = delay;
            }
            std::this_thread::sleep_for(wait);
        });
        s.Get("/elsewhere.json", [this](const httplib::Request&, httplib::Response& res) {
            ++otherRequests;
            res.set_content("{\"instructions\":\"from elsewhere\"}", "application/json");
        });
    }};

    void answer(int newStatus, std::string newBody, std::chrono::milliseconds newDelay = 0ms) {
        std::lock_guard lock(mutex);
        status = newStatus;
        body = std::move(newBody);
        delay = newDelay;
    }
};

std::string cached() { return AtomicFile::read(Manifest::cacheFile()).value_or("<none>"); }

TEST(ManifestParse, OnlyAnObjectIsAManifest) {
    using namespace std::string_literals;
    for (std::string bad : {""s, "not json"s, "[]"s, "[{\"instructions\":\"x\"}]"s, "\"text\""s, "{\"a\":"s, "{}\0{}"s})
        EXPECT_FALSE(Manifest::parse(bad)) << bad;
    auto empty = Manifest::parse("{}");
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->instructions);
    EXPECT_TRUE(empty->tools.empty());
    EXPECT_FALSE(empty->latest);
}

TEST(ManifestParse, MembersOfTheWrongTypeAreLeftOut) {
    auto m = Manifest::parse(R"({"instructions": 12, "tools": {"name": "x"}, "latest": "1.2.0", "other": 1})");
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->instructions);
    EXPECT_TRUE(m->tools.empty()) << "tools given as an object";
    EXPECT_FALSE(m->latest);

    m = Manifest::parse(R"({"instructions": "Texte", "tools": [{"name": "a"}, 3],
                            "latest": {"version": "1.2.0", "zip_url": "https://x/a.zip"}})");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->instructions, "Texte") << "the rest stands when one member is wrong";
    EXPECT_TRUE(m->tools.empty()) << "one element that is not an object voids the whole list";
    ASSERT_TRUE(m->latest);
    EXPECT_EQ((*m->latest)["version"], "1.2.0");
}

TEST(ManifestParse, ToolEntriesAreKeyedByNameAndTheLastWins) {
    auto m = Manifest::parse(R"({"tools": [
        {"name": "list_local_files", "title": "Premier"},
        {"title": "sans nom"},
        {"name": 7, "title": "nom numérique"},
        {"name": "upload_file_to_plan", "readOnly": false},
        {"name": "list_local_files", "title": "Second", "description": "d"}]})");
    ASSERT_TRUE(m);
    ASSERT_EQ(m->tools.size(), 2u);
    EXPECT_EQ(m->tools["list_local_files"],
              (Json{{"name", "list_local_files"}, {"title", "Second"}, {"description", "d"}}));
    EXPECT_EQ(m->tools["upload_file_to_plan"]["readOnly"], false);
}

// Every load starts in an empty HOME with no address in the environment.
class ManifestLoad : public ::testing::Test {
  protected:
    TempHome home;
    ScopedOverride none{std::nullopt};
};

TEST_F(ManifestLoad, AGoodAnswerIsUsedAndCachedAsReceived) {
    ManifestService service;
    const std::string bytes = "{ \"instructions\" : \"Du service\",\n \"tools\": [] }";
    service.answer(200, bytes);
    auto m = Manifest::load(service.server.url(), 2);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->instructions, "Du service");
    EXPECT_EQ(cached(), bytes) << "the cache holds the exact bytes";

    // An empty object is a manifest too, and replaces the cache.
    service.answer(200, "{}");
    m = Manifest::load(service.server.url(), 2);
    ASSERT_TRUE(m);
    EXPECT_FALSE(m->instructions);
    EXPECT_EQ(cached(), "{}");
}

TEST_F(ManifestLoad, BadAnswersFallBackToTheCacheAndNeverReplaceIt) {
    ManifestService service;
    const std::string good = "{\"instructions\":\"En cache\"}";
    service.answer(200, good);
    ASSERT_TRUE(Manifest::load(service.server.url(), 2));

    struct Case {
        int status;
        std::string body;
    } cases[] = {{404, "{\"instructions\":\"404\"}"},
                 {500, "<html>down</html>"},
                 {200, "not json"},
                 {200, "[{\"instructions\":\"array\"}]"},
                 {200, ""},
                 {200, "{\"instructions\":\"" + std::string(5 << 20, 'x') + "\"}"}};
    for (const auto& c : cases) {
        service.answer(c.status, c.body);
        auto m = Manifest::load(service.server.url(), 2);
        ASSERT_TRUE(m) << c.status << " " << c.body.substr(0, 40);
        EXPECT_EQ(m->instructions, "En cache") << c.status << " " << c.body.substr(0, 40);
        EXPECT_EQ(cached(), good) << c.status << " " << c.body.substr(0, 40);
    }
    EXPECT_EQ(service.requests, 1 + static_cast<int>(std::size(cases)));
}

TEST_F(ManifestLoad, ASlowServiceIsNotWaitedForAndCannotTouchTheCacheLater) {
    const std::string good = "{\"instructions\":\"En cache\"}";
    ASSERT_TRUE(AtomicFile::makeDirs(home.configDir(), 0700));
    ASSERT_TRUE(AtomicFile::write(Manifest::cacheFile(), good, 0644));
    {
        ManifestService service;
        service.answer(200, "{\"instructions\":\"Trop tard\"}", 1500ms);
        auto m = Manifest::load(service.server.url(), 0.3);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->instructions, "En cache");
    }  // the service has answered and stopped by now
    EXPECT_EQ(cached(), good) << "a late answer replaced the cache";
}

TEST_F(ManifestLoad, NoServiceAndNoCacheGivesNothing) {
    EXPECT_FALSE(Manifest::load("http://127.0.0.1:" + std::to_string(TestHttpServer::unusedPort()), 1));
    EXPECT_FALSE(Manifest::load("", 1));
    // An unreadable cache is no manifest either.
    ASSERT_TRUE(AtomicFile::makeDirs(home.configDir(), 0700));
    ASSERT_TRUE(AtomicFile::write(Manifest::cacheFile(), "{broken", 0644));
    EXPECT_FALSE(Manifest::load("", 1));
}

TEST_F(ManifestLoad, TheEnvironmentNamesTheSource) {
    ManifestService service;
    service.answer(200, "{\"instructions\":\"base\"}");
    {
        ScopedOverride elsewhere(service.server.url("/elsewhere.json"));
        auto m = Manifest::load("http://127.0.0.1:" + std::to_string(TestHttpServer::unusedPort()), 2);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->instructions, "from elsewhere");
        EXPECT_EQ(cached(), "{\"instructions\":\"from elsewhere\"}");
    }
    {
        ScopedOverride empty{std::string()};
        auto m = Manifest::load(service.server.url(), 2);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->instructions, "from elsewhere") << "an empty address asks nobody and reads the cache";
    }
    EXPECT_EQ(service.requests, 0) << "the base URL was never asked";
    EXPECT_EQ(service.otherRequests, 1);
}

}  // namespace
