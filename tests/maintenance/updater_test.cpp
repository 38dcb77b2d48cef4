// The updater's pure helpers: version order, file digest, running a program.
#include "maintenance/updater.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/version.h"
#include "sha256_hex.h"
#include "temp_home.h"

namespace {

TEST(UpdaterIsNewer, OrdersVersionsPartByPart) {
    struct Case {
        const char* a;
        const char* b;
        bool newer;
    };
    const Case cases[] = {
        {"1.2", "1.1.4", true},          {"1.1.10", "1.1.9", true},   {"1.1.4.0", "1.1.4", false},
        {"1.2-beta", "1.1.4", false},    {"1.1.4", "1.1.4", false},   {"1.1.3", "1.1.4", false},
        {"1.1.4", "1.1.4.0", false},     {"1.1.4.1", "1.1.4", true},  {"2", "1.99.99", true},
        {"1..2", "1.2", false},          {"1.2", "1..2", false},      {"1..3", "1.2", true},
        {"+3", "2.9", true},             {"-1", "0", false},          {"0", "-1", true},
        {"", "0", false},                {"...", "0", false},         {"0.0.1", "...", true},
        {"", "", false},                 {"x.y", "0.0", false},       {"1.x", "1.0", false},
        {"1.1.5", "1.1.4", true},        {" 1.2", "1.1.4", false},    {"1.2 ", "1.1.4", false},
        {"1.+2", "1.1", true},           {"1.-2", "1.1", false},      {"1.2.", "1.2", false},
        // Beyond the integer range a part reads as 0, never as a wrapped value.
        {"99999999999999999999999", "1", false}, {"1.99999999999999999999", "1.0", false},
        {"9223372036854775807", "1", true},
    };
    for (const auto& c : cases) EXPECT_EQ(Updater::isNewer(c.a, c.b), c.newer) << c.a << " vs " << c.b;
}

TEST(UpdaterIsNewer, NoVersionIsNewerThanItself) {
    for (const char* v : {"1.1.4", "", "...", "1..2", "+3", "-1", "2-beta"}) EXPECT_FALSE(Updater::isNewer(v, v)) << v;
    EXPECT_FALSE(Updater::isNewer(kAppVersion, kAppVersion));
}

TEST(UpdaterSha256, DigestsAFileInChunksAndNothingForAMissingOne) {
    TempHome home;
    // Larger than one read chunk and not a multiple of it.
    std::string bytes((1 << 20) * 2 + 12345, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + 7);
    std::string path = home.write("big.bin", bytes);
    EXPECT_EQ(Updater::sha256(path), sha256Hex(bytes));
    EXPECT_EQ(Updater::sha256(home.write("empty", "")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Updater::sha256(home.path() + "/missing"), std::nullopt);
}

TEST(UpdaterRun, GivesTheExitStatusWithoutAShell) {
    EXPECT_EQ(Updater::run("/bin/true", {}), 0);
    EXPECT_EQ(Updater::run("/bin/sh", {"-c", "exit 7"}), 7);
    EXPECT_EQ(Updater::run("/nonexistent/program", {}), -1);
    // Arguments are passed as they are: nothing in them is interpreted.
    TempHome home;
    std::string marker = home.path() + "/$(touch pwned) 'quoted' \"x\"";
    EXPECT_EQ(Updater::run("/usr/bin/touch", {marker}), 0);
    EXPECT_TRUE(std::ifstream(marker).good());
    EXPECT_FALSE(std::ifstream("pwned").good());
}

}  // namespace
