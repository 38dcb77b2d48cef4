#include "platform/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <thread>

#include "temp_home.h"

namespace {

TEST(InstanceLock, OneHolderAndProbesThatNeverCreateOrKeepIt) {
    TempHome home;
    std::string path = InstanceLock::defaultPath();
    EXPECT_EQ(path, home.configDir() + "/io.kestro.agent.lock") << "no session runtime folder";
    EXPECT_FALSE(InstanceLock::heldByAnother(path));
    EXPECT_EQ(::access(path.c_str(), F_OK), -1) << "probing creates nothing";
    {
        InstanceLock first(path);
        ASSERT_TRUE(first.tryAcquire());
        EXPECT_TRUE(InstanceLock::heldByAnother(path));
        EXPECT_TRUE(InstanceLock::heldByAnother(path)) << "a probe leaves the lock where it was";
        InstanceLock second(path);
        EXPECT_FALSE(second.tryAcquire());
    }
    EXPECT_FALSE(InstanceLock::heldByAnother(path)) << "released with its holder";
}

// A server probing at the very moment the application starts must not make
// the application believe another copy of it runs.
TEST(InstanceLock, AProbeInProgressDoesNotTurnTheApplicationAway) {
    TempHome home;
    std::string path = InstanceLock::defaultPath();
    InstanceLock(path).tryAcquire();  // creates the file, then releases it
    int probe = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(probe, LOCK_SH | LOCK_NB), 0);
    std::thread release([probe] {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        ::close(probe);
    });
    InstanceLock app(path);
    EXPECT_TRUE(app.tryAcquire());
    release.join();
}

// Assistants start their servers with a handful of variables; the lock must be
// where the application put it whatever a process inherited.
TEST(InstanceLock, ItsPlaceComesFromTheUidNotFromTheEnvironment) {
    TempHome home;
    const std::string session = home.makeSessionFolder();
    const std::string expected = session + "/io.kestro.agent.lock";
    EXPECT_EQ(InstanceLock::defaultPath(), expected);
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceLock::defaultPath(), expected);
    ::setenv("XDG_RUNTIME_DIR", "/somewhere/else", 1);
    EXPECT_EQ(InstanceLock::defaultPath(), expected);

    // A link in place of the session folder is not trusted with the lock.
    std::filesystem::remove(session);
    std::filesystem::create_directory_symlink(home.path() + "/run", session);
    EXPECT_EQ(InstanceLock::defaultPath(), home.configDir() + "/io.kestro.agent.lock");
}

// The copy relaunched by an update starts while the old one is still ending.
TEST(InstanceLock, AcquireWithinTakesTheLockOnceItsHolderLetsGo) {
    TempHome home;
    const std::string path = InstanceLock::defaultPath();
    auto old = std::make_unique<InstanceLock>(path);
    ASSERT_TRUE(old->tryAcquire());
    InstanceLock relaunched(path);
    EXPECT_FALSE(relaunched.acquireWithin(std::chrono::milliseconds(100))) << "held all along";
    std::thread ending([&old] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        old.reset();
    });
    EXPECT_TRUE(relaunched.acquireWithin(std::chrono::seconds(20)));
    ending.join();
}

}  // namespace
