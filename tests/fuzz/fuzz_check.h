// What every harness shares: a broken promise aborts with a message naming
// it, so libFuzzer keeps the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                 \
    do {                                                                            \
        if (!(condition)) {                                                         \
            std::fprintf(stderr, "fuzz check failed: %s (%s)\n", what, #condition); \
            std::abort();                                                           \
        }                                                                           \
    } while (0)
