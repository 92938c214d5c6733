// The server's log: one line on stderr per event, the time of day in front.
#ifndef QV_SERVER_LOG_H
#define QV_SERVER_LOG_H

#include <string>

namespace qvs {

void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Printable form of a client-supplied text, cut to 200 bytes.
std::string loggable(const std::string& text);

}  // namespace qvs

#endif
