// The watch that lets a server skip the stat of its configuration: quiet only
// when nothing happened in the folder, and back to quiet once the folder was
// removed and made again.
#include "platform/folder_watch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "temp_home.h"

namespace fs = std::filesystem;

namespace {

TEST(FolderWatch, QuietOnlyWhenNothingHappenedAndFollowsAFolderMadeAgain) {
    TempHome home;
    std::string folder = home.path() + "/watched";
    FolderWatch watch(folder);
    EXPECT_TRUE(watch.mayHaveChanged()) << "no folder: no watch, every question is a doubt";
    fs::create_directories(folder);
    EXPECT_TRUE(watch.mayHaveChanged()) << "the watch placed now knows nothing of before";
    EXPECT_FALSE(watch.mayHaveChanged());

    std::ofstream(folder + "/config.json") << "{}";
    EXPECT_TRUE(watch.mayHaveChanged());
    EXPECT_FALSE(watch.mayHaveChanged());
    fs::rename(folder + "/config.json", folder + "/old.json");
    EXPECT_TRUE(watch.mayHaveChanged());

    for (int round = 0; round < 4; ++round) {
        // Taken away for good, or moved aside (whose watch we end ourselves).
        if (round % 2) fs::rename(folder, folder + "-" + std::to_string(round));
        else fs::remove_all(folder);
        EXPECT_TRUE(watch.mayHaveChanged()) << round;
        fs::create_directories(folder);
        EXPECT_TRUE(watch.mayHaveChanged()) << round << ": a new folder, a new watch";
        EXPECT_FALSE(watch.mayHaveChanged()) << round << ": quiet again, the old watch's end notwithstanding";
        std::ofstream(folder + "/config.json") << "{}";
        EXPECT_TRUE(watch.mayHaveChanged()) << round;
        EXPECT_FALSE(watch.mayHaveChanged()) << round;
    }
}

}  // namespace
