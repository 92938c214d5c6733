// The settings record and the settings file QUORVANE.INI.
//
// One process-wide record, statically initialised to the defaults, loaded
// once at start-up and saved only when the settings dialog is confirmed.
#ifndef QV_SETTINGS_SETTINGS_H
#define QV_SETTINGS_SETTINGS_H

#include <cstdint>

#include "core/sys.h"

enum {
    HOST_SIZE = 128,           // at most 127 characters
    NAME_SIZE = 33,            // namn, nyckel: at most 32 characters
    SETTINGS_PATH_SIZE = 260,  // MAX_PATH
};

struct Settings {
    char host[HOST_SIZE];      // server address or name; empty: none known
    int32_t port;              // 3300
    int32_t bredd;             // requested picture width, 160..1024, 640
    int32_t hojd;              // requested picture height, 120..768, 480
    int32_t fps;               // requested frame rate, 5..60, 30
    int32_t fullskarm;         // nonzero: full screen
    int32_t ljud;              // nonzero: sound wanted
    int32_t ljudfrekvens;      // requested sample rate, 22050
    int32_t stereo;            // channel count: 2 when the file says nonzero, else 1
    int32_t muskanslighet;     // percent applied to locked-mouse motion, 100
    int32_t joystick;          // nonzero: joystick wanted
    char namn[NAME_SIZE];      // the name given in the Hello
    char nyckel[NAME_SIZE];    // the key given in the Hello
};

extern Settings settings;
extern char settings_path[SETTINGS_PATH_SIZE];

// Guards `settings` while the settings dialog writes it on the window
// thread, so the network thread never reads a half-written host or name.
// Held only for a copy; never together with another lock. Made by the first
// load_settings, settings_snapshot or settings_reset_defaults, which
// start-up reaches on the window thread before the network thread exists.
extern Lock settings_lock;

// Finds QUORVANE.INI beside the program, reads it and applies the bounds.
void load_settings();
// The same for a given file (load_settings's second half; tests use it).
// An empty path, or one that does not fit settings_path, means
// .\QUORVANE.INI (the current folder).
void load_settings_from(const char* path);
// The settings file's name for a program file name: its folder (up to the
// last backslash) and QUORVANE.INI; .\QUORVANE.INI (the current folder)
// when there is no backslash or when the folder is too long to leave room
// for the name.
void make_settings_path(const char* program_file, char out[SETTINGS_PATH_SIZE]);
void save_settings();
void write_int_setting(const char* key, int32_t value);

// Copies the whole record under settings_lock (the network thread reads its
// settings this way at every connection attempt).
void settings_snapshot(Settings* copy);

// Restores the defaults (for program start and tests).
void settings_reset_defaults();

#endif
