// Text conversion between the client's 8-bit Windows-1252 strings and the
// UTF-8 texts of the wire. Both directions work in one pass without
// allocation and never write past the limit they are given.
//
// 8-bit side: bytes below 0x80 are ASCII, 0x80 is the euro sign, 0x81..0xFF
// are the Latin-1 characters U+0081..U+00FF (0x81..0x9F get no special
// meaning). Anything else on the wire side becomes '?'.
#include "link/wire_text.h"

int to_wire_text(const char* text, uint8_t* destination, int limit) {
    int written = 0;
    // A character is begun only while fewer than limit - 3 bytes are
    // written, so even a 3-byte euro sign ends at limit - 1 at most.
    for (const char* p = text; *p != 0 && written < limit - 3; p++) {
        uint8_t b = static_cast<uint8_t>(*p);
        if (b < 0x80) {
            destination[written++] = b;
        } else if (b == 0x80) {
            destination[written++] = 0xE2;
            destination[written++] = 0x82;
            destination[written++] = 0xAC;
        } else {
            destination[written++] = static_cast<uint8_t>(0xC0 | (b >> 6));
            destination[written++] = static_cast<uint8_t>(0x80 | (b & 0x3F));
        }
    }
    return written;
}

uint32_t from_wire_text(const uint8_t* bytes, uint32_t count, char* destination, int capacity) {
    if (capacity <= 0) return 0;
    uint32_t i = 0;
    int j = 0;
    while (i < count && j < capacity - 1) {
        uint8_t b = bytes[i];
        if (b < 0x80) {
            // A zero byte is copied too: the text then ends there.
            destination[j++] = static_cast<char>(b);
            i += 1;
        } else if ((b & 0xE0) == 0xC0 && i + 1 < count) {
            // The second byte is taken as it comes, continuation or not.
            uint32_t code = (static_cast<uint32_t>(b & 0x1F) << 6) | (bytes[i + 1] & 0x3Fu);
            destination[j++] = code < 0x100 ? static_cast<char>(code) : '?';
            i += 2;
        } else if ((b & 0xF0) == 0xE0 && i + 2 < count) {
            uint32_t code = (static_cast<uint32_t>(b & 0x0F) << 12) |
                            (static_cast<uint32_t>(bytes[i + 1] & 0x3F) << 6) |
                            (bytes[i + 2] & 0x3Fu);
            if (code == 0x20AC) {
                destination[j++] = static_cast<char>(0x80);
            } else {
                destination[j++] = code < 0x100 ? static_cast<char>(code) : '?';
            }
            i += 3;
        } else {
            // A four-byte lead, a stray continuation byte or a sequence cut
            // off by the end: one '?' and the continuation bytes after it.
            destination[j++] = '?';
            i += 1;
            while (i < count && (bytes[i] & 0xC0) == 0x80) i++;
        }
    }
    destination[j] = 0;
    return i;
}
