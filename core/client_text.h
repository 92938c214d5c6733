// The four shared texts of ClientState and safe text formatting.
//
// The network thread rewrites status_text, pin_text and the others while the
// window thread paints them. Both sides go through these functions, which
// hold state.text_lock for the length of one copy, so a painter never reads
// a half-written text. No other lock is ever held together with text_lock.
#ifndef QV_CORE_CLIENT_TEXT_H
#define QV_CORE_CLIENT_TEXT_H

#include <cstdarg>
#include <cstdint>

// Copies the NUL-terminated `text` into `destination` (capacity bytes with
// the terminator), cut to fit, under text_lock.
void text_store(char* destination, int capacity, const char* text);

// Copies the shared text `source` into the caller's `destination`
// (capacity bytes) under text_lock; the result is always terminated.
void text_load(char* destination, int capacity, const char* source);

// Formats into destination (capacity bytes including the NUL), cutting the
// result to fit and always terminating it when capacity > 0. Knows %s, %d,
// %u, %lu, %x and %%; anything else is copied as it stands. Returns the
// number of characters written. Does not lock: format into a local buffer,
// then text_store it. (The C runtime of Windows 98 has no snprintf that
// always terminates, so the client carries its own.)
int format_text(char* destination, int capacity, const char* format, ...);
int format_text_v(char* destination, int capacity, const char* format, va_list arguments);

#endif
