// A fresh temporary folder per test, and whole files in bytes.
#ifndef QV_TESTS_SUPPORT_TEMP_FILES_H
#define QV_TESTS_SUPPORT_TEMP_FILES_H

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

struct TempFolder {
    std::filesystem::path folder;
    TempFolder() {
        static unsigned counter = 0;
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007;
        std::error_code error;
        folder = std::filesystem::temp_directory_path(error) /
                 ("qvtest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        if (!std::filesystem::create_directory(folder, error)) folder.clear();
    }
    ~TempFolder() {
        std::error_code error;
        if (!folder.empty()) std::filesystem::remove_all(folder, error);
    }
    bool ok() const { return !folder.empty(); }
    std::string path(const std::string& name) const { return (folder / name).string(); }
};

inline bool write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    return bool(f.write(bytes.data(), std::streamsize(bytes.size())).flush());
}

// The file's bytes, or "<missing>".
inline std::string read_bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return f ? std::string(std::istreambuf_iterator<char>(f), {}) : "<missing>";
}

#endif
