#include "platform/thread_background.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <set>

namespace {

using namespace std::chrono_literals;

TEST(ThreadBackground, RunsTasksConcurrentlyOffTheCallingThread) {
    ThreadBackground background;
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::mutex m;
    std::set<std::thread::id> ids;
    std::vector<std::promise<void>> started(3);
    for (int i = 0; i < 3; ++i)
        background.run([&, gate, i] {
            {
                std::lock_guard lock(m);
                ids.insert(std::this_thread::get_id());
            }
            started[std::size_t(i)].set_value();
            gate.wait();
        });
    // All three wait on the gate at once: they cannot be run one by one.
    for (auto& s : started) ASSERT_EQ(s.get_future().wait_for(20s), std::future_status::ready);
    EXPECT_EQ(background.running(), 3);
    EXPECT_FALSE(background.waitIdleFor(10ms));
    release.set_value();
    EXPECT_TRUE(background.waitIdleFor(20s));
    EXPECT_EQ(background.running(), 0);
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(ids.count(std::this_thread::get_id()), 0u);
}

TEST(ThreadBackground, TasksMayStartTasksAndTheDestructorWaitsForAll) {
    std::atomic<int> done{0};
    {
        std::function<void(int)> chain;  // outlives the background, whose destructor waits for it
        ThreadBackground background;
        chain = [&](int left) {
            if (left > 0) background.run([&, left] { chain(left - 1); });
            ++done;
        };
        background.run([&] { chain(20); });
    }
    EXPECT_EQ(done.load(), 21) << "no task was still running after the destructor";
}

int threadsOfThisProcess() {
    return int(std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                             std::filesystem::directory_iterator()));
}

// A long-lived application runs thousands of tasks: their threads must not
// pile up, finished but never joined.
TEST(ThreadBackground, FinishedThreadsAreJoined) {
    const int before = threadsOfThisProcess();
    ThreadBackground background;
    for (int i = 0; i < 200; ++i) background.run([] {});
    EXPECT_TRUE(background.waitIdleFor(20s));
    EXPECT_EQ(threadsOfThisProcess(), before);
}

}  // namespace
