#include "platform/browser_launcher.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/atomic_file.h"
#include "scoped_env.h"
#include "temp_home.h"

namespace fs = std::filesystem;

namespace {

// An xdg-open of our own on PATH, which notes the address it was given and
// then does what the test asks of it.
void writeOpener(const std::string& folder, const std::string& then) {
    fs::create_directories(folder);
    std::ofstream(folder + "/xdg-open") << "#!/bin/sh\nprintf '%s' \"$1\" > \"" << folder << "/given\"\n"
                                        << then << "\n";
    fs::permissions(folder + "/xdg-open", fs::perms::owner_all);
}

std::string given(const std::string& folder) {
    for (int i = 0; i < 200; ++i) {
        if (auto text = AtomicFile::read(folder + "/given")) return *text;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return "<never given>";
}

// An opener that fails is told apart from one that works or keeps running
// with the browser; the address reaches it whole, unquoted by any shell.
TEST(BrowserLauncher, AnOpenerThatFailsIsToldApartFromOneThatOpens) {
    TempHome home;
    const std::string url = "http://127.0.0.1:1/oauth/authorize?a=1&b=$(x)'\"";
    struct Case {
        const char* then;
        bool opened;
    };
    for (Case c : {Case{"exit 4", false}, Case{"exit 3", false}, Case{"exit 0", true},
                   Case{"echo $$ > \"$(dirname \"$0\")/pid\"; exec sleep 30", true}}) {
        SCOPED_TRACE(c.then);
        const std::string folder = home.path() + "/bin-" + std::to_string(std::hash<std::string>{}(c.then));
        writeOpener(folder, c.then);
        ScopedEnv path("PATH", folder + ":/usr/bin:/bin");
        EXPECT_EQ(BrowserLauncher::open(url), c.opened);
        EXPECT_EQ(given(folder), url);
        if (auto pid = AtomicFile::read(folder + "/pid")) ::kill(std::atoi(pid->c_str()), SIGKILL);
    }
    ScopedEnv nowhere("PATH", home.path() + "/empty");
    EXPECT_FALSE(BrowserLauncher::open(url)) << "no xdg-open at all";
}

}  // namespace
