// Finding the arguments after the program's name (see command_line.h).
#include "app/command_line.h"

static bool is_blank(char c) { return c == ' ' || c == '\t'; }

const char* command_line_arguments(const char* command_line) {
    if (command_line == nullptr) return "";
    const char* p = command_line;
    if (*p == '"') {
        p++;
        while (*p != 0 && *p != '"') p++;
        if (*p == '"') p++;
    } else {
        // An unquoted name ends at the first blank. Control characters count
        // as part of it, as the system's own start-up code does.
        while (*p != 0 && !is_blank(*p)) p++;
    }
    while (is_blank(*p)) p++;
    return p;
}
