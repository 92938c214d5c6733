// What the fuzz targets share: a check that stops the run with a message
// (a fault for libFuzzer and for the replay driver alike).
#ifndef QV_FUZZ_FUZZ_CHECK_H
#define QV_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                        \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

#endif
