#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant is a finding: stop loudly so libFuzzer keeps the input and
// the replay test fails.
#define WL_FUZZ_CHECK(condition)                                                                                       \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition);                     \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)
