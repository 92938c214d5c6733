// Non-portable access to the settings file and the machine.
// settings/profile_win32.cpp uses the private-profile functions of KERNEL32;
// settings/profile_posix.cpp reads and writes the same file form itself,
// with the same rules: a missing file, section or key reads as the default;
// section and key names match without regard to case; a written key
// replaces its value where it stands or is added to its section, creating
// section and file when missing; every other line is kept.
#ifndef QV_SETTINGS_PROFILE_H
#define QV_SETTINGS_PROFILE_H

#include <cstdint>

// Reads a text value into out (size bytes), cut to fit and terminated;
// `fallback` when the key is missing. Returns the number of characters.
int profile_read_text(const char* section, const char* key, const char* fallback,
                      char* out, int size, const char* path);
// Reads an integer value the way GetPrivateProfileIntA does; `fallback`
// when the key is missing.
int32_t profile_read_int(const char* section, const char* key, int32_t fallback, const char* path);
// Writes one key. Returns 1 on success (callers may ignore it).
int profile_write_text(const char* section, const char* key, const char* value, const char* path);

// The full path of the running program into out (size bytes, more than 1);
// returns its length, or 0 with out empty when it fails or may be cut.
int program_path(char* out, int size);
// The computer's name into out (size bytes); returns 0 when it does not fit
// or cannot be had.
int computer_name(char* out, int size);

#endif
