#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

// Crash trials: a forked child saves a file over and over and is killed with
// SIGKILL at a random moment, many times; after each kill the test looks at
// what is on disk. Bounded in runs and in time. The delays before a kill are
// spread over about three saves, measured first, however fast the machine.
struct KillTrials {
    struct Options {
        int maxRuns = 300;
        std::chrono::seconds budget{20};
        uint32_t seed = 20261208;
    };

    struct Figures {
        int runs = 0;
        int kills = 0;
        int killsLeavingTemporary = 0;  // kills that landed inside a write
        int maxTemporaries = 0;         // most temporary files seen after one kill
        long microsPerSave = 0;
    };

    // One save, the `i`-th of run `run` (run -1: the measuring saves, made in
    // this process). Called in a loop in the child, so it must change the
    // file at each call to matter.
    using Save = std::function<void(int run, int i)>;

    // After each kill: checks the files (reporting with EXPECT/ADD_FAILURE)
    // and returns how many temporary files the killed saves left. The trials
    // stop at the first failure, and fail when more than one is left.
    using Inspect = std::function<int(int run)>;

    static Figures run(const Save& save, const Inspect& inspect, Options options);
    static Figures run(const Save& save, const Inspect& inspect) { return run(save, inspect, Options()); }
};
