// FUZZ_CHECK: stops the target with a message, a fault for libFuzzer and the replay driver.
#ifndef QV_FUZZ_FUZZ_CHECK_H
#define QV_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(c) \
    ((c) ? (void)0 : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #c), std::abort()))

#endif
