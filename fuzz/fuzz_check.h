// FUZZ_CHECK: stops the target with a message, a fault for libFuzzer and the replay driver.
#ifndef QV_FUZZ_FUZZ_CHECK_H
#define QV_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#define FUZZ_CHECK(c) \
    ((c) ? (void)0 : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #c), std::abort()))

inline bool terminated(const char* text, size_t size) { return std::memchr(text, 0, size) != nullptr; }

// Called first by each target's LLVMFuzzerInitialize: unless -artifact_prefix
// is given, libFuzzer leaves a fault's input in the build folder
// (QV_FUZZ_ARTIFACTS), never in the folder it was started from.
inline void fuzz_default_artifacts(int* argc, char*** argv) {
#ifdef QV_FUZZ_ARTIFACTS
    if (argc == nullptr) return;
    for (int i = 1; i < *argc; i++)
        if (std::strncmp((*argv)[i], "-artifact_prefix=", 17) == 0) return;
    std::error_code error;
    std::filesystem::create_directories(QV_FUZZ_ARTIFACTS, error);
    static char prefix[] = "-artifact_prefix=" QV_FUZZ_ARTIFACTS;
    char** with = new char*[*argc + 2];
    std::memcpy(with, *argv, sizeof(char*) * size_t(*argc));
    with[(*argc)++] = prefix;
    with[*argc] = nullptr;
    *argv = with;
#else
    (void)argc, (void)argv;
#endif
}

#endif
