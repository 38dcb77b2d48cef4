#include "config/config_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "core/atomic_file.h"
#include "core/json.h"
#include "temp_home.h"

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

const char* kSixKeys =
    R"({"baseUrl":"https://svc.test","token":"%s","userName":"Ana","userEmail":"ana@x.fr","clientId":"c1","configuredPath":"/opt/k"})";

std::string sixKeys(const std::string& token) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, kSixKeys, token.c_str());
    return buffer;
}

TEST(ConfigStore, LivesInTheXdgConfigFolder) {
    TempHome home;
    EXPECT_EQ(ConfigStore::dir(), home.configDir());
    EXPECT_EQ(ConfigStore::file(), home.configFile());
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(ConfigStore::file(), home.path() + "/.config/Kestro Agent/config.json");
    ::setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(ConfigStore::dir(), home.path() + "/.config/Kestro Agent");
}

TEST(ConfigStore, MissingOrDamagedFilesReadAsLoggedOutDefaults) {
    TempHome home;
    AgentConfig none = ConfigStore::load();
    EXPECT_EQ(none.baseUrl, kDefaultBaseUrl);
    EXPECT_FALSE(none.isLoggedIn());
    for (std::string bad : {std::string("not json"), std::string("[1,2]"), std::string("{\"token\":\"t\"}"),
                            std::string(R"({"baseUrl":"b","token":7,"userName":"","userEmail":"","clientId":"","configuredPath":""})"),
                            sixKeys("tok").substr(0, 40), std::string("\xff\xfe{")}) {
        home.write(".config/Kestro Agent/config.json", bad);
        EXPECT_EQ(ConfigStore::load(), AgentConfig()) << bad;
    }
}

TEST(ConfigStore, EmptyTokenIsLoggedOutButKeepsTheOtherFields) {
    TempHome home;
    home.write(".config/Kestro Agent/config.json", sixKeys(""));
    AgentConfig c = ConfigStore::load();
    EXPECT_FALSE(c.isLoggedIn());
    EXPECT_EQ(c.baseUrl, "https://svc.test");
    EXPECT_EQ(c.userName, "Ana");
    EXPECT_EQ(c.configuredPath, "/opt/k");
}

TEST(ConfigStore, SaveWritesSixSortedKeysPrivateFileAndDropsExtras) {
    TempHome home;
    std::string withExtra = sixKeys("tok");
    withExtra.insert(1, "\"seventh\":\"x\",");
    home.write(".config/Kestro Agent/config.json", withExtra);
    AgentConfig c = ConfigStore::load();
    EXPECT_EQ(c.token, "tok");
    ConfigStore::save(c);

    std::string text = *AtomicFile::read(home.configFile());
    Json saved = *JSON::decode(text);
    EXPECT_EQ(saved.size(), 6u);
    EXPECT_FALSE(saved.contains("seventh"));
    EXPECT_NE(text.find("https:\\/\\/svc.test"), std::string::npos) << "slashes are written escaped";
    EXPECT_NE(text.find('\n'), std::string::npos) << "indented";
    std::vector<size_t> positions;
    for (const char* key : {"baseUrl", "clientId", "configuredPath", "token", "userEmail", "userName"})
        positions.push_back(text.find(std::string("\"") + key + "\""));
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(modeOf(home.configFile()), 0600u);
    EXPECT_EQ(ConfigStore::load(), c);
}

TEST(ConfigStore, NewFolderIsPrivateAndExistingFolderIsLeftAlone) {
    {
        TempHome home;
        ::umask(022);
        ConfigStore::save(AgentConfig{.token = "t"});
        EXPECT_EQ(modeOf(home.configDir()), 0700u);
    }
    {
        TempHome home;
        std::filesystem::create_directories(home.configDir());
        ::chmod(home.configDir().c_str(), 0750);
        ConfigStore::save(AgentConfig{.token = "t"});
        EXPECT_EQ(modeOf(home.configDir()), 0750u);
    }
}

// The file holds the agent token: it must never exist, even for a moment, with
// wider permissions than 0600, and no temporary file may be left behind.
TEST(ConfigStore, SaveLeavesNoTemporaryFileAndNeverWidensThePermissions) {
    TempHome home;
    ::umask(0);
    for (int i = 0; i < 3; ++i) ConfigStore::save(AgentConfig{.token = "secret" + std::to_string(i)});
    size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(home.configDir())) {
        ++entries;
        EXPECT_EQ(modeOf(e.path().string()), 0600u) << e.path();
    }
    EXPECT_EQ(entries, 1u);
    ::umask(022);
}

TEST(ConfigStore, FailedWriteKeepsThePreviousFile) {
    TempHome home;
    ConfigStore::save(AgentConfig{.token = "old"});
    ::chmod(home.configDir().c_str(), 0500);  // no new file can be created beside it
    if (::access(home.configDir().c_str(), W_OK) == 0) GTEST_SKIP() << "running with permission overrides (root)";
    ConfigStore::save(AgentConfig{.token = "new"});
    ::chmod(home.configDir().c_str(), 0700);
    EXPECT_EQ(ConfigStore::load().token, "old");
}

TEST(ConfigStore, ClearRemovesOnlyTheFile) {
    TempHome home;
    ConfigStore::clear();  // missing: nothing happens
    ConfigStore::save(AgentConfig{.baseUrl = "https://other.test", .token = "t"});
    home.write(".config/Kestro Agent/manifest.json", "{}");
    ConfigStore::clear();
    EXPECT_FALSE(std::filesystem::exists(home.configFile()));
    EXPECT_TRUE(std::filesystem::exists(home.configDir() + "/manifest.json"));
    EXPECT_EQ(ConfigStore::load().baseUrl, kDefaultBaseUrl);
}

TEST(ConfigStore, ReadsEitherSlashForm) {
    TempHome home;
    AgentConfig c{.baseUrl = "https://a.test/x", .token = "t/u", .configuredPath = "/opt/Kestro Agent.app/k"};
    EXPECT_EQ(ConfigStore::decode(ConfigStore::encode(c)), c);
    std::string plain = JSON::encode(Json{{"baseUrl", "https://a.test/x"}, {"token", "t/u"}, {"userName", ""},
                                          {"userEmail", ""}, {"clientId", ""},
                                          {"configuredPath", "/opt/Kestro Agent.app/k"}});
    EXPECT_EQ(ConfigStore::decode(plain), c);
}

TEST(CurrentExecutablePath, IsAbsoluteAndResolved) {
    std::string path = currentExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path[0], '/');
    EXPECT_EQ(std::filesystem::canonical(path).string(), path);
}

}  // namespace
