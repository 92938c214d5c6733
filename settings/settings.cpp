// The settings record and QUORVANE.INI: one table drives loading and saving.
//
// The file holds one section "Quorvane" with thirteen keys, written in the
// order of SETTING_KEYS below. Reading and writing go through profile.h
// (the private-profile functions on Windows, our own reader natively).
#include "settings/settings.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include "core/client_text.h"
#include "settings/profile.h"

static const char SECTION[] = "Quorvane";
static const char FILE_NAME[] = "QUORVANE.INI";
// The file without a folder of its own. The private-profile functions look
// for a bare file name in the Windows folder, not in the current one, so
// the current folder is named explicitly.
static const char CURRENT_FOLDER_FILE[] = ".\\QUORVANE.INI";

// The defaults, in field order. The global record is a constant-initialised
// copy (no constructor runs), so it is sane before load_settings.
static constexpr Settings SETTINGS_DEFAULTS = {
    "",     // host
    3300,   // port
    640,    // bredd
    480,    // hojd
    30,     // fps
    1,      // fullskarm
    1,      // ljud
    22050,  // ljudfrekvens
    2,      // stereo: two channels
    100,    // muskanslighet
    1,      // joystick
    "",     // namn: filled with the computer's name at load
    "",     // nyckel
};

Settings settings = SETTINGS_DEFAULTS;
char settings_path[SETTINGS_PATH_SIZE];
Lock settings_lock;

namespace {

enum SettingKind {
    SETTING_TEXT,    // a text field of `size` bytes
    SETTING_INT,     // a 32-bit integer, optionally bounded
    SETTING_STEREO,  // the channel count; the file holds 1 (two) or 0 (one)
};

struct SettingKey {
    const char* key;
    SettingKind kind;
    size_t offset;         // of the field in Settings
    int size = 0;          // text fields: bytes with the terminator
    bool bounded = false;  // integers: [low, high] applies after loading
    int32_t low = 0, high = 0;
};

// Key, type, field and bounds, in the order of the file and of saving.
// Defaults come from SETTINGS_DEFAULTS at the same offset.
const SettingKey SETTING_KEYS[] = {
    {"host", SETTING_TEXT, offsetof(Settings, host), HOST_SIZE},
    {"port", SETTING_INT, offsetof(Settings, port)},
    {"bredd", SETTING_INT, offsetof(Settings, bredd), 0, true, 160, 1024},
    {"hojd", SETTING_INT, offsetof(Settings, hojd), 0, true, 120, 768},
    {"fps", SETTING_INT, offsetof(Settings, fps), 0, true, 5, 60},
    {"fullskarm", SETTING_INT, offsetof(Settings, fullskarm)},
    {"ljud", SETTING_INT, offsetof(Settings, ljud)},
    {"ljudfrekvens", SETTING_INT, offsetof(Settings, ljudfrekvens)},
    {"stereo", SETTING_STEREO, offsetof(Settings, stereo)},
    {"muskanslighet", SETTING_INT, offsetof(Settings, muskanslighet)},
    {"joystick", SETTING_INT, offsetof(Settings, joystick)},
    {"namn", SETTING_TEXT, offsetof(Settings, namn), NAME_SIZE},
    {"nyckel", SETTING_TEXT, offsetof(Settings, nyckel), NAME_SIZE},
};
const int SETTING_KEY_COUNT = sizeof SETTING_KEYS / sizeof SETTING_KEYS[0];

}  // namespace

static int32_t* int_field(Settings* s, const SettingKey& k) {
    return reinterpret_cast<int32_t*>(reinterpret_cast<char*>(s) + k.offset);
}

static char* text_field(Settings* s, const SettingKey& k) {
    return reinterpret_cast<char*>(s) + k.offset;
}

static int32_t default_int(const SettingKey& k) {
    return *reinterpret_cast<const int32_t*>(reinterpret_cast<const char*>(&SETTINGS_DEFAULTS) +
                                             k.offset);
}

// The channel count and its form in the file.
static int32_t stereo_from_file(int32_t value) { return value != 0 ? 2 : 1; }
static int32_t stereo_to_file(int32_t channels) { return channels == 2 ? 1 : 0; }

// The lock is made on first use, which start-up reaches on the window
// thread before the network thread exists (load_settings). Should two
// threads still meet here first, one makes it and the other waits the few
// instructions that takes: 0 not made, 1 being made, 2 ready.
static std::atomic<int32_t> settings_lock_state;

static void ensure_settings_lock() {
    if (settings_lock_state.load() == 2) return;
    int32_t expected = 0;
    if (settings_lock_state.compare_exchange_strong(expected, 1)) {
        lock_init(&settings_lock);
        settings_lock_state.store(2);
        return;
    }
    while (settings_lock_state.load() != 2) {
    }
}

void make_settings_path(const char* program_file, char out[SETTINGS_PATH_SIZE]) {
    // Keep the folder: everything up to and including the last backslash.
    size_t folder = 0;
    for (size_t i = 0; program_file[i] != 0; i++) {
        if (program_file[i] == '\\') folder = i + 1;
    }
    // A folder too long for the file name to follow is not cut (a cut path
    // names some other folder or file): the file is then looked up in the
    // current folder, as for a program name without any folder.
    if (folder == 0 || folder + sizeof FILE_NAME > SETTINGS_PATH_SIZE) {
        std::memcpy(out, CURRENT_FOLDER_FILE, sizeof CURRENT_FOLDER_FILE);
        return;
    }
    std::memcpy(out, program_file, folder);
    std::memcpy(out + folder, FILE_NAME, sizeof FILE_NAME);
}

static void read_all_keys(const char* path) {
    for (int i = 0; i < SETTING_KEY_COUNT; i++) {
        const SettingKey& k = SETTING_KEYS[i];
        if (k.kind == SETTING_TEXT) {
            profile_read_text(SECTION, k.key, "", text_field(&settings, k), k.size, path);
        } else if (k.kind == SETTING_STEREO) {
            int32_t stored = profile_read_int(SECTION, k.key, stereo_to_file(default_int(k)), path);
            *int_field(&settings, k) = stereo_from_file(stored);
        } else {
            *int_field(&settings, k) = profile_read_int(SECTION, k.key, default_int(k), path);
        }
    }
}

static void apply_bounds() {
    for (int i = 0; i < SETTING_KEY_COUNT; i++) {
        const SettingKey& k = SETTING_KEYS[i];
        if (k.kind != SETTING_INT || !k.bounded) continue;
        int32_t* value = int_field(&settings, k);
        if (*value < k.low || *value > k.high) *value = default_int(k);
    }
}

void load_settings_from(const char* path) {
    ensure_settings_lock();
    size_t length = std::strlen(path);
    if (length >= SETTINGS_PATH_SIZE) length = 0;  // cannot hold it: the current folder's file
    if (length == 0) {
        std::memcpy(settings_path, CURRENT_FOLDER_FILE, sizeof CURRENT_FOLDER_FILE);
    } else {
        std::memcpy(settings_path, path, length);
        settings_path[length] = 0;
    }

    // Read into the record under the lock: start-up runs this alone, but
    // tests and a later reload must not hand a half-read record to a reader.
    lock_enter(&settings_lock);
    read_all_keys(settings_path);
    if (settings.namn[0] == 0 && !computer_name(settings.namn, NAME_SIZE)) {
        std::memcpy(settings.namn, "WIN98", 6);
    }
    settings.namn[NAME_SIZE - 1] = 0;
    apply_bounds();
    lock_leave(&settings_lock);
}

void load_settings() {
    char program[SETTINGS_PATH_SIZE];
    program_path(program, SETTINGS_PATH_SIZE);  // empty when it fails or may be cut
    char path[SETTINGS_PATH_SIZE];
    make_settings_path(program, path);
    load_settings_from(path);
}

void write_int_setting(const char* key, int32_t value) {
    char text[16];
    format_text(text, sizeof text, "%d", static_cast<int>(value));
    profile_write_text(SECTION, key, text, settings_path);
}

// A text value goes into the file as one line: it is cut at a line break,
// which a single-line edit field never gives but which would otherwise add
// lines of its own to the file.
static void write_text_setting(const char* key, const char* value, int size) {
    char line[HOST_SIZE];
    int i = 0;
    while (i < size - 1 && i < HOST_SIZE - 1 && value[i] != 0 && value[i] != '\r' &&
           value[i] != '\n') {
        line[i] = value[i];
        i++;
    }
    line[i] = 0;
    profile_write_text(SECTION, key, line, settings_path);
}

void save_settings() {
    if (settings_path[0] == 0) return;  // load_settings has not run
    Settings copy;
    settings_snapshot(&copy);
    for (int i = 0; i < SETTING_KEY_COUNT; i++) {
        const SettingKey& k = SETTING_KEYS[i];
        if (k.kind == SETTING_TEXT) {
            write_text_setting(k.key, text_field(&copy, k), k.size);
        } else if (k.kind == SETTING_STEREO) {
            write_int_setting(k.key, stereo_to_file(*int_field(&copy, k)));
        } else {
            write_int_setting(k.key, *int_field(&copy, k));
        }
    }
}

void settings_snapshot(Settings* copy) {
    ensure_settings_lock();
    lock_enter(&settings_lock);
    std::memcpy(copy, &settings, sizeof settings);
    lock_leave(&settings_lock);
}

void settings_reset_defaults() {
    ensure_settings_lock();
    lock_enter(&settings_lock);
    std::memcpy(&settings, &SETTINGS_DEFAULTS, sizeof settings);
    lock_leave(&settings_lock);
}
