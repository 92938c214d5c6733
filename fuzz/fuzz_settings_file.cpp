// Fuzz target: any settings file read, checked, saved and read back unchanged;
// the same bytes as the program's file name give the settings file's name.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "settings/settings.h"

namespace {

std::string folder, file;

void check_record(const Settings& s) {
    FUZZ_CHECK(s.bredd >= 160 && s.bredd <= 1024 && s.hojd >= 120 && s.hojd <= 768 && s.fps >= 5 && s.fps <= 60);
    FUZZ_CHECK((s.stereo == 1 || s.stereo == 2) && s.namn[0] != 0);
    FUZZ_CHECK(terminated(s.host, HOST_SIZE) && terminated(s.namn, NAME_SIZE) && terminated(s.nyckel, NAME_SIZE));
}

// Trimmed, quoted or line-broken values cannot come back as they were.
bool survives_save(const std::string& t) {
    const char* blanks = " \t\r\n\v\f";
    return t.empty() || (!std::strchr(blanks, t.front()) && !std::strchr(blanks, t.back()) &&
                         t.find('\r') == std::string::npos &&
                         !(t.size() >= 2 && (t[0] == '"' || t[0] == '\'') && t.back() == t[0]));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_default_artifacts(argc, argv);
    char in_memory[] = "/dev/shm/qvfuzz-XXXXXX", on_disk[] = "/tmp/qvfuzz-XXXXXX";
    char* made = mkdtemp(in_memory);
    folder = made != nullptr ? made : mkdtemp(on_disk) != nullptr ? on_disk : "";
    FUZZ_CHECK(!folder.empty());
    file = folder + "/QUORVANE.INI";
    std::atexit([] { std::remove(file.c_str()), std::remove((file + ".qvtmp").c_str()), rmdir(folder.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (folder.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    std::string bytes(reinterpret_cast<const char*>(data), size), program(bytes.c_str());
    char* path = static_cast<char*>(std::malloc(SETTINGS_PATH_SIZE));
    make_settings_path(program.c_str(), path);
    size_t cut = program.rfind('\\');
    std::string place = cut == std::string::npos || cut + 13 >= SETTINGS_PATH_SIZE ? ".\\" : program.substr(0, cut + 1);
    FUZZ_CHECK(terminated(path, SETTINGS_PATH_SIZE) && path == place + "QUORVANE.INI");
    std::free(path);

    FILE* f = std::fopen(file.c_str(), "wb");
    FUZZ_CHECK(f != nullptr && std::fwrite(bytes.data(), 1, size, f) == size && std::fclose(f) == 0);
    settings_reset_defaults();
    load_settings_from(file.c_str());
    Settings loaded;
    settings_snapshot(&loaded);
    check_record(loaded);
    FUZZ_CHECK(file == settings_path);
    save_settings();
    std::string lower = bytes;
    for (char& c : lower) c = char(c | 0x20);
    if (lower.find("quorvane") == std::string::npos) {
        char saved[1 << 16];
        f = std::fopen(file.c_str(), "rb");
        size_t n = std::fread(saved, 1, sizeof saved, f);
        std::fclose(f);
        FUZZ_CHECK(n > size && (size == 0 || std::memcmp(saved, data, size < n ? size : n) == 0));
    }
    settings_reset_defaults();
    load_settings_from(file.c_str());
    Settings again;
    settings_snapshot(&again);
    check_record(again);
    FUZZ_CHECK(std::memcmp(&again.port, &loaded.port, sizeof(int32_t) * 10) == 0);
    const char* texts[][2] = {{again.host, loaded.host}, {again.namn, loaded.namn}, {again.nyckel, loaded.nyckel}};
    for (const auto& t : texts) FUZZ_CHECK(!survives_save(t[1]) || std::strcmp(t[0], t[1]) == 0);
    return 0;
}
