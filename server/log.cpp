#include "server/log.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "server/protocol.h"

namespace qvs {

namespace {

// As a systemd service, standard error is the journal's stream (it says so
// in JOURNAL_STREAM), and the journal stamps each line with the time and
// the program itself.
bool to_journal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    unsigned long long device = 0, inode = 0;
    struct stat st;
    return stream && std::sscanf(stream, "%llu:%llu", &device, &inode) == 2 && fstat(2, &st) == 0 &&
           st.st_dev == device && st.st_ino == inode;
}

}  // namespace

void log_line(const char* format, ...) {
    static const bool journal = to_journal();
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
    if (journal)
        std::fprintf(stderr, "%s\n", text);
    else
        std::fprintf(stderr, "%s quorvane-server: %s\n", when, text);
}

std::string loggable(const std::string& text) {
    std::string out;
    for (char ch : utf8_cut(text, 200)) out += (uint8_t(ch) < 0x20 || ch == 0x7F) ? '?' : ch;
    return out;
}

}  // namespace qvs
