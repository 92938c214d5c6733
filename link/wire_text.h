// Texts between the client's 8-bit Windows-1252 strings and the wire's UTF-8.
#ifndef QV_LINK_WIRE_TEXT_H
#define QV_LINK_WIRE_TEXT_H

#include <cstdint>

// Writes the UTF-8 form of the zero-terminated 8-bit `text` (0x80 is the
// euro sign) into destination, never more than limit - 1 bytes, cut at a
// character boundary, without terminator. Returns the bytes written.
int to_wire_text(const char* text, uint8_t* destination, int limit);

// Decodes count bytes of UTF-8 into a zero-terminated 8-bit text of at most
// capacity - 1 characters; what cannot be shown becomes '?'. Returns the
// number of source bytes consumed.
uint32_t from_wire_text(const uint8_t* bytes, uint32_t count, char* destination, int capacity);

#endif
