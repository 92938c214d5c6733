// Fuzz target: the two text conversions of the wire, from_wire_text (every
// text a server sends) and to_wire_text (the Hello's name and key, the web
// address). Destinations are allocated at exactly the size the contract
// allows, so a byte written past it is caught by AddressSanitizer; the
// results are compared with a plain restatement of the conversion rules.
//
// Input: byte 0 picks the capacity and the limit, the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "link/wire_text.h"

namespace {

// UTF-8 to 8-bit, one character per step, as the wire's rules say.
uint32_t expected_from_wire(const uint8_t* b, uint32_t count, std::vector<char>& out, int capacity) {
    out.clear();
    if (capacity <= 0) return 0;
    uint32_t i = 0;
    while (i < count && static_cast<int>(out.size()) < capacity - 1) {
        uint32_t c = b[i];
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            i += 1;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < count) {
            uint32_t code = ((c & 0x1F) << 6) | (b[i + 1] & 0x3F);
            out.push_back(code < 0x100 ? static_cast<char>(code) : '?');
            i += 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < count) {
            uint32_t code = ((c & 0x0F) << 12) | ((b[i + 1] & 0x3Fu) << 6) | (b[i + 2] & 0x3Fu);
            if (code == 0x20AC) out.push_back(static_cast<char>(0x80));
            else out.push_back(code < 0x100 ? static_cast<char>(code) : '?');
            i += 3;
        } else {
            out.push_back('?');
            i += 1;
            while (i < count && (b[i] & 0xC0) == 0x80) i++;
        }
    }
    out.push_back(0);
    return i;
}

// The UTF-8 form of one 8-bit character.
int utf8_size(uint8_t c) { return c < 0x80 ? 1 : c == 0x80 ? 3 : 2; }

void check_from_wire(const uint8_t* bytes, uint32_t count, int capacity) {
    // Exactly `capacity` bytes: the terminator must land inside them.
    char* destination = static_cast<char*>(std::malloc(capacity > 0 ? capacity : 1));
    FUZZ_CHECK(destination != nullptr);
    const char poison = 0x5A;
    std::memset(destination, poison, capacity > 0 ? capacity : 1);
    uint32_t consumed = from_wire_text(bytes, count, destination, capacity);

    std::vector<char> expected;
    uint32_t expected_consumed = expected_from_wire(bytes, count, expected, capacity);
    FUZZ_CHECK(consumed == expected_consumed);
    FUZZ_CHECK(consumed <= count);
    if (capacity <= 0) {
        FUZZ_CHECK(destination[0] == poison);  // nothing written
    } else {
        // At most capacity - 1 characters and the terminator, exactly as the
        // rules give them; the rest of the destination is untouched.
        FUZZ_CHECK(expected.size() <= static_cast<size_t>(capacity));
        FUZZ_CHECK(std::memcmp(destination, expected.data(), expected.size()) == 0);
        for (size_t k = expected.size(); k < static_cast<size_t>(capacity); k++)
            FUZZ_CHECK(destination[k] == poison);
    }
    std::free(destination);
}

void check_to_wire(const char* text, int limit) {
    // limit - 1 bytes is all the conversion may write.
    size_t room = limit > 1 ? static_cast<size_t>(limit - 1) : 0;
    uint8_t* destination = static_cast<uint8_t*>(std::malloc(room > 0 ? room : 1));
    FUZZ_CHECK(destination != nullptr);
    int written = to_wire_text(text, destination, limit);
    FUZZ_CHECK(written >= 0);
    FUZZ_CHECK(static_cast<size_t>(written) <= room);

    // Whole characters only, and as many as may be begun: a character is
    // begun while fewer than limit - 3 bytes are written.
    size_t characters = 0;
    int expected = 0;
    while (text[characters] != 0 && expected < limit - 3) {
        expected += utf8_size(static_cast<uint8_t>(text[characters]));
        characters++;
    }
    FUZZ_CHECK(written == expected);

    // Back through from_wire_text the text comes out as it went in.
    std::vector<char> back(characters + 1);
    uint32_t consumed = from_wire_text(destination, static_cast<uint32_t>(written), back.data(),
                                       static_cast<int>(back.size()));
    FUZZ_CHECK(consumed == static_cast<uint32_t>(written));
    FUZZ_CHECK(std::memcmp(back.data(), text, characters) == 0);
    FUZZ_CHECK(back[characters] == 0);
    std::free(destination);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // Capacities 0..299 cover every field of the client (32 to 256 bytes)
    // and the edges around them; limits up to 600 cover the web address.
    int capacity = data[0] % 300;
    int limit = data[0] * 600 / 255;
    const uint8_t* bytes = data + 1;
    uint32_t count = static_cast<uint32_t>(size - 1);

    check_from_wire(bytes, count, capacity);
    check_from_wire(bytes, count, 256);

    // The 8-bit side is a terminated text: the input up to its first zero.
    char* text = static_cast<char*>(std::malloc(count + 1));
    FUZZ_CHECK(text != nullptr);
    if (count > 0) std::memcpy(text, bytes, count);
    text[count] = 0;
    check_to_wire(text, limit);
    check_to_wire(text, 32);
    check_to_wire(text, 510);
    std::free(text);
    return 0;
}
