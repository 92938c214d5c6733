#include "server/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

#include "server/protocol.h"

namespace qvs {

void log_line(const char* format, ...) {
    char when[32];
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    std::strftime(when, sizeof when, "%H:%M:%S", &local);
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    // One call, so that lines of several connections never interleave.
    std::fprintf(stderr, "%s quorvane-server: %s\n", when, text);
}

std::string loggable(const std::string& text) {
    std::string out;
    for (char ch : utf8_cut(text, 200)) out += (uint8_t(ch) < 0x20 || ch == 0x7F) ? '?' : ch;
    return out;
}

}  // namespace qvs
