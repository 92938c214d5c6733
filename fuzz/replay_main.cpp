// A driver for the fuzz targets without libFuzzer: runs the target once on
// every file named on the command line (folders are read file by file).
// A target reports a fault by aborting, so reaching the end is a pass. An
// empty folder is a failure: a replay that saw nothing proves nothing.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

static bool run_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.string().c_str());
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exact-size copy, so that a read past the input is caught by the
    // sanitizer builds just as under libFuzzer.
    std::vector<uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.empty() ? nullptr : input.data(), input.size());
    return true;
}

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    size_t count = 0;
    for (int i = 1; i < argc; i++) {
        std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(path, error))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const auto& f : files) count += run_file(f) ? 1 : 0;
        } else {
            if (!run_file(path)) return 1;
            count++;
        }
    }
    std::printf("replay: %zu inputs ran without a fault\n", count);
    return count > 0 ? 0 : 1;
}
