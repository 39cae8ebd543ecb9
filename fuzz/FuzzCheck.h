// A failed property stops the run with a message and a core libFuzzer keeps as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#define P2_FUZZ_CHECK(condition)                                                                  \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)
