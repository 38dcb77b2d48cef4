#include "ui/qt/qt_main_queue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Runs the event loop until `done` or 5 s have passed.
template <typename F>
bool spinUntil(F done, int timeoutMs = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class QtMainQueueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "qt_main_queue_test";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    }
};

}  // namespace

TEST_F(QtMainQueueTest, TasksPostedFromWorkersRunOnTheMainThreadInOrder) {
    QtMainQueue queue;
    std::vector<int> seen;
    std::atomic<bool> offMain{false};
    const auto mainThread = std::this_thread::get_id();
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i)
            queue.post([&, i] {
                if (std::this_thread::get_id() != mainThread) offMain = true;
                seen.push_back(i);
            });
    });
    worker.join();
    ASSERT_TRUE(spinUntil([&] { return seen.size() == 200; }));
    EXPECT_FALSE(offMain);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(seen[i], i);
}

TEST_F(QtMainQueueTest, DelayedTaskFromAWorkerRunsOnTheMainThread) {
    QtMainQueue queue;
    std::atomic<bool> ran{false}, onMain{false};
    const auto mainThread = std::this_thread::get_id();
    std::thread worker([&] {
        queue.postAfter(std::chrono::milliseconds(30), [&] {
            onMain = std::this_thread::get_id() == mainThread;
            ran = true;
        });
    });
    worker.join();
    ASSERT_TRUE(spinUntil([&] { return ran.load(); }));
    EXPECT_TRUE(onMain);
}

TEST_F(QtMainQueueTest, RepeatingTimerFiresUntilInvalidated) {
    QtMainQueue queue;
    int fired = 0;
    auto timer = queue.schedule(std::chrono::milliseconds(10), true, [&] { ++fired; });
    ASSERT_TRUE(spinUntil([&] { return fired >= 3; }));
    timer->invalidate();
    int atInvalidate = fired;
    spinUntil([] { return false; }, 100);
    EXPECT_EQ(fired, atInvalidate);
}

TEST_F(QtMainQueueTest, OneShotTimerFiresOnceAndAnInvalidatedOneNever) {
    QtMainQueue queue;
    int once = 0, never = 0;
    auto kept = queue.schedule(std::chrono::milliseconds(10), false, [&] { ++once; });
    auto stopped = queue.schedule(std::chrono::milliseconds(10), false, [&] { ++never; });
    stopped->invalidate();
    spinUntil([] { return false; }, 150);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(never, 0);
    kept->invalidate();  // after its firing: harmless
}
