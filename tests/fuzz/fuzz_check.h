// The one assertion of the fuzz targets: a broken property aborts, which libFuzzer reports as a
// finding with the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define QUELBY_FUZZ_CHECK(condition)                                                              \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)
