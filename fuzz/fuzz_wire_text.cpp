// Fuzz target: both wire text conversions against a restatement of their rules.
// Input: byte 0 picks the capacity and the limit, the rest is the text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "link/wire_text.h"

namespace {

// UTF-8 to 8-bit, one character per step; returns the bytes consumed.
uint32_t expected_from_wire(const uint8_t* b, uint32_t count, std::string& out, int capacity) {
    uint32_t i = 0;
    for (out.clear(); i < count && int(out.size()) < capacity - 1;) {
        uint32_t c = b[i], code = '?';
        if (c < 0x80) code = c, i += 1;
        else if ((c & 0xE0) == 0xC0 && i + 1 < count) code = (c & 0x1F) << 6 | (b[i + 1] & 0x3F), i += 2;
        else if ((c & 0xF0) == 0xE0 && i + 2 < count)
            code = (c & 0x0F) << 12 | (b[i + 1] & 0x3Fu) << 6 | (b[i + 2] & 0x3Fu), i += 3;
        else for (i++; i < count && (b[i] & 0xC0) == 0x80;) i++;
        out.push_back(code == 0x20AC ? '\x80' : code < 0x100 ? char(code) : '?');
    }
    return i;
}

void check_from_wire(const uint8_t* bytes, uint32_t count, int capacity) {
    char* out = static_cast<char*>(std::malloc(capacity > 0 ? capacity : 1));
    std::memset(out, 0x5A, capacity > 0 ? capacity : 1);
    uint32_t consumed = from_wire_text(bytes, count, out, capacity);
    std::string expected;
    FUZZ_CHECK(consumed == (capacity > 0 ? expected_from_wire(bytes, count, expected, capacity) : 0));
    if (capacity > 0) expected.push_back(0);  // then the terminator, and the rest untouched
    FUZZ_CHECK(std::memcmp(out, expected.data(), expected.size()) == 0);
    for (int k = int(expected.size()); k < (capacity > 0 ? capacity : 1); k++) FUZZ_CHECK(out[k] == 0x5A);
    std::free(out);
}

void check_to_wire(const char* text, int limit) {
    size_t room = limit > 1 ? size_t(limit - 1) : 0;
    uint8_t* out = static_cast<uint8_t*>(std::malloc(room > 0 ? room : 1));
    int written = to_wire_text(text, out, limit);
    // Whole characters only, begun while fewer than limit - 3 bytes are written.
    size_t characters = 0;
    int expected = 0;
    for (; text[characters] != 0 && expected < limit - 3; characters++) {
        uint8_t c = uint8_t(text[characters]);
        expected += c < 0x80 ? 1 : c == 0x80 ? 3 : 2;
    }
    FUZZ_CHECK(written == expected);
    // Back through from_wire_text the text comes out as it went in.
    std::string back(characters + 1, '#');
    FUZZ_CHECK(from_wire_text(out, uint32_t(written), &back[0], int(back.size())) == uint32_t(written));
    FUZZ_CHECK(std::memcmp(back.data(), text, characters) == 0 && back[characters] == 0);
    std::free(out);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) { return fuzz_default_artifacts(argc, argv), 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint32_t count = uint32_t(size - 1);
    check_from_wire(data + 1, count, data[0] % 300);
    check_from_wire(data + 1, count, 256);
    std::string text(reinterpret_cast<const char*>(data + 1), count);  // up to its first zero
    for (int limit : {data[0] * 600 / 255, 32, 510}) check_to_wire(text.c_str(), limit);
    return 0;
}
