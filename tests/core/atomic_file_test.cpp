#include "core/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "config/config_store.h"
#include "temp_home.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// A child process that holds an exclusive flock on `path` until killed, the
// way a live writer holds its temporary file.
pid_t holdLock(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        int fd = ::open(path.c_str(), O_RDONLY);
        char ok = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        for (int i = 0; i < 600; ++i) ::sleep(1);  // bounded even if the test never kills it
        ::_exit(0);
    }
    char ok = 'n';
    (void)!::read(ready[0], &ok, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    if (ok != 'y') {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

TEST(AtomicFile, ASaveRemovesTheTemporariesOfDeadWritersOnly) {
    TempHome home;
    const std::string dir = home.path() + "/d";
    const std::string target = home.write("d/config.json", "old");
    const std::string prefix = AtomicFile::temporaryPrefix(target);
    ASSERT_EQ(prefix, dir + "/.config.json.kestro-tmp.");
    const std::string stale = home.write("d/.config.json.kestro-tmp.Ab3xYz", "cut");
    const std::string held = home.write("d/.config.json.kestro-tmp.HELD01", "in progress");
    // Names a user or another program may have: never ours to remove.
    const std::set<std::string> lookAlikes = {".config.json.kestro-tmp.abc", ".config.json.kestro-tmp.abc-12",
                                              ".config.json.backup", ".other.json.kestro-tmp.abcdef",
                                              "config.json.kestro-tmp.abcdef"};
    for (const auto& name : lookAlikes) home.write("d/" + name, "mine");
    fs::create_directory(dir + "/.config.json.kestro-tmp.folder");
    fs::create_symlink(target, dir + "/.config.json.kestro-tmp.link01");

    pid_t holder = holdLock(held);
    ASSERT_GT(holder, 0);
    ASSERT_TRUE(AtomicFile::write(target, "new", 0600));
    auto names = namesIn(dir);
    EXPECT_FALSE(names.contains(".config.json.kestro-tmp.Ab3xYz"));
    EXPECT_TRUE(names.contains(".config.json.kestro-tmp.HELD01"));  // its writer is alive
    for (const auto& name : lookAlikes) EXPECT_TRUE(names.contains(name)) << name;
    EXPECT_TRUE(names.contains(".config.json.kestro-tmp.folder"));
    EXPECT_TRUE(names.contains(".config.json.kestro-tmp.link01"));
    EXPECT_EQ(AtomicFile::read(target), "new");

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ASSERT_TRUE(AtomicFile::write(target, "newer", 0600));
    EXPECT_FALSE(fs::exists(held));
    EXPECT_EQ(namesIn(dir).size(), 1 + lookAlikes.size() + 2);
    EXPECT_FALSE(fs::exists(stale));

    // The agent's own configuration save clears its file's leftovers the same way.
    const std::string leftover = ConfigStore::dir() + "/.config.json.kestro-tmp.q1w2e3";
    home.write(leftover.substr(home.path().size() + 1), "{");
    ConfigStore::save(AgentConfig{.baseUrl = "http://127.0.0.1:1", .token = "t"});
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_EQ(ConfigStore::load().token, "t");
}

TEST(AtomicFile, WriteNewNeverReplacesAndLeavesNoTemporary) {
    TempHome home;
    const std::string dir = home.path() + "/d";
    const std::string owner = home.write("d/config.toml", "x");
    const std::string path = dir + "/config.toml.bak";
    home.write("d/.config.toml.kestro-tmp.zzzzzz", "left by a killed save");

    ASSERT_TRUE(AtomicFile::writeNew(path, "first", 0640, owner));
    EXPECT_EQ(AtomicFile::read(path), "first");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_FALSE(AtomicFile::writeNew(path, "second", 0600, owner));
    EXPECT_EQ(AtomicFile::read(path), "first");
    EXPECT_EQ(namesIn(dir), (std::set<std::string>{"config.toml", "config.toml.bak"}));

    fs::create_symlink(dir + "/nowhere", dir + "/dangling");  // an existing name, even a dangling link, stays
    EXPECT_FALSE(AtomicFile::writeNew(dir + "/dangling", "x", 0600));
    EXPECT_TRUE(fs::is_symlink(dir + "/dangling"));
    EXPECT_FALSE(AtomicFile::writeNew(dir + "/missing/f", "x", 0600));
}

}  // namespace
