// The server's log: one line on stderr per event, the time of day in front.
#ifndef QV_SERVER_LOG_H
#define QV_SERVER_LOG_H

#include <chrono>
#include <cstdint>
#include <string>

namespace qvs {

void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Printable form of a client-supplied text, cut to 200 bytes.
std::string loggable(const std::string& text);

// Milliseconds of the steady clock: deadlines and ages, never the time of day.
inline int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace qvs

#endif
