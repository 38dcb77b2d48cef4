#include "platform/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <thread>

#include "temp_home.h"

namespace {

TEST(InstanceLock, OneHolderAndProbesThatNeverCreateOrKeepIt) {
    TempHome home;
    std::string path = InstanceLock::defaultPath();
    EXPECT_EQ(path, home.path() + "/run/io.kestro.agent.lock");
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

}  // namespace
