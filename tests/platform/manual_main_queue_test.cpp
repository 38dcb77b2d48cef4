#include "platform/manual_main_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(ManualMainQueue, TasksRunInOrderOnlyWhenDrainedTheirOwnPostsIncluded) {
    ManualMainQueue q;
    std::vector<int> ran;
    q.post([&] {
        ran.push_back(1);
        q.post([&] { ran.push_back(3); });
    });
    q.post([&] { ran.push_back(2); });
    EXPECT_TRUE(ran.empty());
    EXPECT_EQ(q.runUntilIdle(), 3);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(q.runUntilIdle(), 0);
}

TEST(ManualMainQueue, RunUntilIdleStopsAtItsBound) {
    ManualMainQueue q;
    int n = 0;
    std::function<void()> again = [&] {
        ++n;
        q.post(again);
    };
    q.post(again);
    EXPECT_EQ(q.runUntilIdle(50), 50) << "a task that reposts itself cannot hang the test";
    EXPECT_EQ(n, 50);
}

TEST(ManualMainQueue, DelaysAndTimersFollowTheFakeClock) {
    ManualMainQueue q;
    std::vector<std::string> log;
    q.postAfter(350ms, [&] { log.push_back("after350@" + std::to_string(q.now().count())); });
    auto repeating = q.schedule(100ms, true, [&] { log.push_back("tick@" + std::to_string(q.now().count())); });
    auto once = q.schedule(250ms, false, [&] {
        log.push_back("once@" + std::to_string(q.now().count()));
        q.post([&] { log.push_back("posted by once"); });
    });
    EXPECT_EQ(q.pendingTimers(), 3);
    q.advance(99ms);
    EXPECT_TRUE(log.empty());
    q.advance(251ms);
    EXPECT_EQ(log, (std::vector<std::string>{"tick@100", "tick@200", "once@250", "posted by once", "tick@300",
                                             "after350@350"}));
    EXPECT_EQ(q.now(), 350ms);
    EXPECT_EQ(q.pendingTimers(), 1) << "only the repeating one is left";
    repeating->invalidate();
    EXPECT_EQ(q.pendingTimers(), 0);
    log.clear();
    q.advance(1000ms);
    EXPECT_TRUE(log.empty());
    once->invalidate();  // after its firing: harmless
}

TEST(ManualMainQueue, ATimerInvalidatedByItsOwnTaskStops) {
    ManualMainQueue q;
    int fired = 0;
    std::shared_ptr<MainQueue::Timer> timer;
    timer = q.schedule(10ms, true, [&] {
        if (++fired == 3) timer->invalidate();
    });
    q.advance(1000ms);
    EXPECT_EQ(fired, 3);
}

TEST(ManualMainQueue, ADroppedHandleKeepsTheTimerRunning) {
    ManualMainQueue q;
    int fired = 0;
    q.schedule(10ms, true, [&] { ++fired; });
    q.advance(50ms);
    EXPECT_EQ(fired, 5);
}

TEST(ManualMainQueue, PostsFromOtherThreadsAllArriveAndRunUntilWaitsForThem) {
    ManualMainQueue q;
    int count = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 250; ++i) q.post([&] { ++count; });
        });
    EXPECT_TRUE(q.runUntil([&] { return count == 1000; }));
    for (auto& t : threads) t.join();
    EXPECT_EQ(count, 1000);
    EXPECT_FALSE(q.runUntil([] { return false; }, 20ms)) << "gives up when nothing comes";
}

}  // namespace
