// The settings file through KERNEL32's private-profile functions, and the
// program's path and the computer's name.
#include "settings/profile.h"

#include <windows.h>

int profile_read_text(const char* section, const char* key, const char* fallback,
                      char* out, int size, const char* path) {
    if (size <= 0) return 0;
    DWORD n = GetPrivateProfileStringA(section, key, fallback, out, static_cast<DWORD>(size), path);
    out[size - 1] = 0;
    return static_cast<int>(n);
}

int32_t profile_read_int(const char* section, const char* key, int32_t fallback, const char* path) {
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, fallback, path));
}

int profile_write_text(const char* section, const char* key, const char* value, const char* path) {
    return WritePrivateProfileStringA(section, key, value, path) ? 1 : 0;
}

int program_path(char* out, int size) {
    if (size <= 1) return 0;
    DWORD n = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
    // Windows 9x and NT differ in how they report a name that does not fit
    // (cut and terminated, or cut without the terminator); either way a
    // name that fills the buffer may have been cut and is not used.
    if (n == 0 || n >= static_cast<DWORD>(size - 1)) {
        out[0] = 0;
        return 0;
    }
    out[n] = 0;
    return static_cast<int>(n);
}

int computer_name(char* out, int size) {
    if (size <= 0) return 0;
    DWORD length = static_cast<DWORD>(size);
    if (!GetComputerNameA(out, &length)) {
        out[0] = 0;
        return 0;
    }
    out[size - 1] = 0;
    return out[0] != 0 ? static_cast<int>(length) : 0;
}
