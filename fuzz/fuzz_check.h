// What the fuzz targets share: a check that stops the target with a message
// (a fault for libFuzzer and for the replay driver alike), and where
// libFuzzer leaves the input of a fault.
#ifndef QV_FUZZ_FUZZ_CHECK_H
#define QV_FUZZ_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#define FUZZ_CHECK(c) \
    ((c) ? (void)0 : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #c), std::abort()))

// Called from LLVMFuzzerInitialize, before libFuzzer reads its flags: unless
// the command line names an -artifact_prefix, crash and leak inputs go to
// the build folder (QV_FUZZ_ARTIFACTS), never into the working directory.
inline void fuzz_default_artifacts(int* argc, char*** argv) {
#if defined(QV_LIBFUZZER) && defined(QV_FUZZ_ARTIFACTS)
    if (argc == nullptr) return;
    for (int i = 1; i < *argc; i++)
        if (std::strncmp((*argv)[i], "-artifact_prefix=", 17) == 0) return;
    std::error_code error;
    std::filesystem::create_directories(QV_FUZZ_ARTIFACTS, error);
    static char prefix[] = "-artifact_prefix=" QV_FUZZ_ARTIFACTS;
    char** with = new char*[*argc + 2];
    for (int i = 0; i < *argc; i++) with[i] = (*argv)[i];
    with[*argc] = prefix;
    with[++*argc] = nullptr;
    *argv = with;
#else
    (void)argc, (void)argv;
#endif
}

#endif
