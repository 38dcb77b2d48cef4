#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant: told on standard error, then an abort, which libFuzzer
// (and the replay driver under CTest) reports as a crash with its input.
#define FUZZ_CHECK(condition, why)                                                                  \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "invariant broken at %s:%d: %s (%s)\n", __FILE__, __LINE__, why, \
                         #condition);                                                               \
            std::abort();                                                                           \
        }                                                                                           \
    } while (0)
