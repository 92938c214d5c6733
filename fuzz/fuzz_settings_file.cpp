// Fuzz target: the settings file. Any bytes are written to a file, read
// with load_settings_from (the second half of load_settings, through the
// native profile reader), and the record must then hold what every user of
// it relies on. The record is then saved into that same file, as the
// settings dialog would, and read back: it must come back unchanged, and
// a file without our section must keep every byte it had, the section
// being added after them.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "settings/settings.h"

namespace {

std::string folder;
std::string file;

bool terminated_within(const char* text, size_t size) { return std::memchr(text, 0, size) != nullptr; }

void check_record(const Settings& s) {
    FUZZ_CHECK(s.bredd >= 160 && s.bredd <= 1024);
    FUZZ_CHECK(s.hojd >= 120 && s.hojd <= 768);
    FUZZ_CHECK(s.fps >= 5 && s.fps <= 60);
    FUZZ_CHECK(s.stereo == 1 || s.stereo == 2);
    FUZZ_CHECK(terminated_within(s.host, HOST_SIZE));
    FUZZ_CHECK(terminated_within(s.namn, NAME_SIZE));
    FUZZ_CHECK(terminated_within(s.nyckel, NAME_SIZE));
    FUZZ_CHECK(s.namn[0] != 0);  // the computer's name or the fallback
    FUZZ_CHECK(terminated_within(settings_path, SETTINGS_PATH_SIZE));
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Whether a text read from the file is written back in a form that reads
// back the same. Values are trimmed and lose surrounding quotes when read,
// and a line break ends a saved value: a text that starts or ends with a
// blank (a long value cut in the middle), that is itself in quotes, or that
// holds a carriage return cannot come back as it was, on Windows neither.
bool survives_save(const char* text) {
    size_t n = std::strlen(text);
    if (n == 0) return true;
    if (is_blank(text[0]) || is_blank(text[n - 1])) return false;
    if (std::strchr(text, '\r') != nullptr) return false;
    if (n >= 2 && (text[0] == '"' || text[0] == '\'') && text[n - 1] == text[0]) return false;
    return true;
}

// Whether the bytes hold the section's name in any letter case (a file
// without it can only have the section added at its end).
bool mentions_section(const uint8_t* data, size_t size) {
    static const char name[] = "quorvane";
    const size_t n = sizeof name - 1;
    for (size_t i = 0; i + n <= size; i++) {
        size_t k = 0;
        while (k < n && (data[i + k] | 0x20) == name[k]) k++;
        if (k == n) return true;
    }
    return false;
}

std::string read_file(const std::string& path) {
    std::string bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    std::fclose(f);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In memory where the machine has such a folder: the target writes the
    // file some thirty times per input.
    char in_memory[] = "/dev/shm/qvfuzz-settings-XXXXXX";
    char on_disk[] = "/tmp/qvfuzz-settings-XXXXXX";
    char* pattern = mkdtemp(in_memory);
    if (pattern == nullptr) pattern = mkdtemp(on_disk);
    if (pattern == nullptr) std::abort();
    folder = pattern;
    file = folder + "/QUORVANE.INI";
    std::atexit([] {
        std::remove(file.c_str());
        std::remove((file + ".qvtmp").c_str());
        rmdir(folder.c_str());
    });
    return 0;
}

// The same bytes, up to their first zero, taken as the program's own file
// name: the settings file's name made from it must fit its 260 bytes (the
// destination is exactly that large) and name QUORVANE.INI, in the
// program's folder when that leaves room, else in the current folder.
static void check_settings_path(const uint8_t* data, size_t size) {
    std::string program(reinterpret_cast<const char*>(data), size);
    program.resize(std::strlen(program.c_str()));
    char* out = static_cast<char*>(std::malloc(SETTINGS_PATH_SIZE));
    FUZZ_CHECK(out != nullptr);
    make_settings_path(program.c_str(), out);
    FUZZ_CHECK(terminated_within(out, SETTINGS_PATH_SIZE));
    std::string path(out);
    std::free(out);
    size_t folder_end = program.rfind('\\');
    std::string folder_part = folder_end == std::string::npos ? "" : program.substr(0, folder_end + 1);
    if (folder_part.empty() || folder_part.size() + 12 >= SETTINGS_PATH_SIZE) folder_part = ".\\";
    FUZZ_CHECK(path == folder_part + "QUORVANE.INI");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (folder.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    check_settings_path(data, size);
    FILE* f = std::fopen(file.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
    FUZZ_CHECK(std::fclose(f) == 0);

    settings_reset_defaults();
    load_settings_from(file.c_str());
    Settings loaded;
    settings_snapshot(&loaded);
    check_record(loaded);
    FUZZ_CHECK(std::strcmp(settings_path, file.c_str()) == 0);

    // Saved as the dialog saves it, then read again.
    save_settings();
    if (!mentions_section(data, size)) {
        std::string saved = read_file(file);
        FUZZ_CHECK(saved.size() > size);
        FUZZ_CHECK(size == 0 || std::memcmp(saved.data(), data, size) == 0);
    }
    settings_reset_defaults();
    load_settings_from(file.c_str());
    Settings again;
    settings_snapshot(&again);
    check_record(again);
    FUZZ_CHECK(again.port == loaded.port);
    FUZZ_CHECK(again.bredd == loaded.bredd);
    FUZZ_CHECK(again.hojd == loaded.hojd);
    FUZZ_CHECK(again.fps == loaded.fps);
    FUZZ_CHECK(again.fullskarm == loaded.fullskarm);
    FUZZ_CHECK(again.ljud == loaded.ljud);
    FUZZ_CHECK(again.ljudfrekvens == loaded.ljudfrekvens);
    FUZZ_CHECK(again.stereo == loaded.stereo);
    FUZZ_CHECK(again.muskanslighet == loaded.muskanslighet);
    FUZZ_CHECK(again.joystick == loaded.joystick);
    if (survives_save(loaded.host)) FUZZ_CHECK(std::strcmp(again.host, loaded.host) == 0);
    if (survives_save(loaded.namn)) FUZZ_CHECK(std::strcmp(again.namn, loaded.namn) == 0);
    if (survives_save(loaded.nyckel)) FUZZ_CHECK(std::strcmp(again.nyckel, loaded.nyckel) == 0);
    return 0;
}
