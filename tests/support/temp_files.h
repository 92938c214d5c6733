// Files for tests: a fresh folder per test under the system's temporary
// folder, and whole-file reading and writing in bytes. Works natively and
// under Wine.
#ifndef QV_TESTS_SUPPORT_TEMP_FILES_H
#define QV_TESTS_SUPPORT_TEMP_FILES_H

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

class TempFolder {
public:
    TempFolder() {
        static std::atomic<unsigned> counter{0};
        std::error_code error;
        auto base = std::filesystem::temp_directory_path(error);
        unsigned long long stamp = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        for (int attempt = 0; attempt < 1000; attempt++) {
            auto candidate = base / ("qvtest-" + std::to_string(stamp % 1000000007ull) + "-" +
                                     std::to_string(counter++));
            if (std::filesystem::create_directory(candidate, error)) {
                folder_ = candidate;
                return;
            }
        }
    }
    ~TempFolder() {
        std::error_code error;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, error);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool ok() const { return !folder_.empty(); }
    std::string path(const std::string& name) const { return (folder_ / name).string(); }
    std::string folder() const { return folder_.string(); }

private:
    std::filesystem::path folder_;
};

inline bool write_bytes(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// The file's bytes, or "<missing>" when it cannot be opened.
inline std::string read_bytes(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return "<missing>";
    std::string bytes;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    std::fclose(f);
    return bytes;
}

inline bool file_exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

#endif
