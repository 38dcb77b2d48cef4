// The configuration file followed message by message: parsed again exactly
// when it may have changed.
#include "service/config_follower.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "config/config_store.h"
#include "temp_home.h"

namespace {

timespec changeTimeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ctim;
}

timespec later(timespec t, long milliseconds) {
    long long ns = t.tv_nsec + milliseconds * 1'000'000LL;
    return timespec{t.tv_sec + static_cast<time_t>(ns / 1'000'000'000LL), static_cast<long>(ns % 1'000'000'000LL)};
}

TEST(ConfigFollower, ParsesAgainOnlyWhenTheFileMayHaveChanged) {
    TempHome home;
    ConfigStore::save(AgentConfig{.baseUrl = "https://a.test", .token = "a"});
    // Seen long after every write of this test.
    ConfigFollower follower(ConfigStore::file(), [] {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return later(now, 60'000);
    });
    auto first = follower.changed();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->token, "a");
    EXPECT_FALSE(follower.changed());
    EXPECT_FALSE(follower.changed());
    EXPECT_EQ(follower.parses(), 1u);

    ConfigStore::save(AgentConfig{.baseUrl = "https://a.test", .token = "b"});  // the tray's login: a new file
    auto login = follower.changed();
    ASSERT_TRUE(login);
    EXPECT_EQ(login->token, "b");

    ConfigStore::clear();  // logout
    auto logout = follower.changed();
    ASSERT_TRUE(logout);
    EXPECT_FALSE(logout->isLoggedIn());
    EXPECT_FALSE(follower.changed()) << "still no file: nothing to parse";

    // Written in place by hand, same size: the times tell (set apart here,
    // since two writes within one step of the file clock share their times).
    ConfigStore::save(AgentConfig{.token = "c"});
    ASSERT_TRUE(follower.changed());
    std::string text = ConfigStore::encode(AgentConfig{.token = "d"});
    std::ofstream(ConfigStore::file(), std::ios::binary | std::ios::trunc) << text;
    const timespec stamps[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, ConfigStore::file().c_str(), stamps, 0), 0);
    auto edited = follower.changed();
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->token, "d");
    EXPECT_EQ(follower.parses(), 5u);
}

// The folder is watched by the kernel: taken away with the file and made again
// by the next login, it is still followed, message by message.
TEST(ConfigFollower, AFolderRemovedAndMadeAgainIsStillFollowed) {
    TempHome home;
    ConfigStore::save(AgentConfig{.token = "a"});
    ConfigFollower follower(ConfigStore::file(), [] {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        return later(now, 60'000);
    });
    ASSERT_TRUE(follower.changed());
    EXPECT_FALSE(follower.changed());

    std::filesystem::remove_all(ConfigStore::dir());
    auto gone = follower.changed();
    ASSERT_TRUE(gone);
    EXPECT_FALSE(gone->isLoggedIn());
    for (const char* token : {"b", "c"}) {
        ConfigStore::save(AgentConfig{.token = token});
        auto seen = follower.changed();
        ASSERT_TRUE(seen) << token;
        EXPECT_EQ(seen->token, token);
        EXPECT_FALSE(follower.changed()) << token;
    }
    // Another file of the folder (the manifest cache) proves nothing new.
    std::ofstream(ConfigStore::dir() + "/manifest.json") << "{}";
    EXPECT_FALSE(follower.changed());
    EXPECT_EQ(follower.parses(), 4u);
}

// File times come from a clock that moves in steps: a file stamped within
// the last step may still change without its times changing, so it is
// parsed at every message until its times are safely in the past.
TEST(ConfigFollower, AFileWrittenJustNowIsParsedEveryTime) {
    TempHome home;
    ConfigStore::save(AgentConfig{.token = "a"});
    timespec stamped = changeTimeOf(ConfigStore::file());
    timespec now = later(stamped, 1);
    ConfigFollower follower(ConfigStore::file(), [&] { return now; });
    EXPECT_TRUE(follower.changed());
    EXPECT_TRUE(follower.changed());
    now = later(stamped, 1'000);
    EXPECT_TRUE(follower.changed()) << "the parse that proves the file settled";
    EXPECT_FALSE(follower.changed());
    EXPECT_EQ(follower.parses(), 3u);
}

}  // namespace
