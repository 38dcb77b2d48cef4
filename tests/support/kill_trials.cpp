#include "kill_trials.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Saves until killed; tells the parent once it has started. Ends by itself
// only if the parent dies or after a bound.
[[noreturn]] void saveUntilKilled(const KillTrials::Save& save, int run, int readyFd) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    char go = 'g';
    (void)!::write(readyFd, &go, 1);
    try {
        for (int i = 0; i < 100000; ++i) save(run, i);
    } catch (...) {
        ::_exit(2);
    }
    ::_exit(3);
}

}  // namespace

KillTrials::Figures KillTrials::run(const Save& save, const Inspect& inspect, Options options) {
    Figures figures;
    auto start = Clock::now();
    for (int i = 0; i < 4; ++i) save(-1, i);
    figures.microsPerSave = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count() / 4;

    std::mt19937 random(options.seed);
    std::uniform_int_distribution<long> delay(0, std::max<long>(1, 3 * figures.microsPerSave));
    const auto deadline = Clock::now() + options.budget;
    for (; figures.runs < options.maxRuns && Clock::now() < deadline; ++figures.runs) {
        int ready[2];
        if (::pipe(ready) != 0) {
            ADD_FAILURE() << "pipe failed";
            break;
        }
        pid_t pid = ::fork();
        if (pid < 0) {
            ADD_FAILURE() << "fork failed";
            break;
        }
        if (pid == 0) saveUntilKilled(save, figures.runs, ready[1]);
        char go = 0;
        (void)!::read(ready[0], &go, 1);
        ::close(ready[0]);
        ::close(ready[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        if (!WIFSIGNALED(status)) {
            ADD_FAILURE() << "the child stopped by itself: " << status;
            break;
        }
        ++figures.kills;

        int left = inspect(figures.runs);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "after run " << figures.runs;
            break;
        }
        EXPECT_LE(left, 1) << "temporary files pile up after run " << figures.runs;
        if (left > 1) break;
        figures.killsLeavingTemporary += left > 0;
        figures.maxTemporaries = std::max(figures.maxTemporaries, left);
    }
    return figures;
}
