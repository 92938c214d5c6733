// Fuzz target: the block decoder on any block stream and picture size.
//
// Input:
//   byte 0-1  u16 LE  width  (0..520)
//   byte 2-3  u16 LE  height (0..520)
//   byte 4    u8      extra pitch: 0..7 pixels beyond the width
//   byte 5..          the block stream
//
// The pixel memory is exactly pitch * height pixels, so a write past the
// picture is caught by AddressSanitizer, and it starts filled with a marker
// so that writes outside the visible part (the pitch's spare columns) show.
// The result is compared pixel for pixel with a plain, per-pixel
// restatement of the block rules.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "media/codec.h"

namespace {

// What the pixel memory holds before decoding; the restatement starts from
// the same, so a pixel written where it must not be shows as a difference.
const uint16_t MARKER = 0xBEEF;
const int SIDE_LIMIT = 521;

uint16_t u16_at(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint16_t mixed(uint16_t a, uint16_t b, int wa, int wb) {
    int out = 0;
    for (int shift = 10; shift >= 0; shift -= 5) {
        int channel = (wa * ((a >> shift) & 31) + wb * ((b >> shift) & 31) + 1) / 3;
        out |= channel << shift;
    }
    return static_cast<uint16_t>(out);
}

// The colour of pixel (r, k) of a block of type t with payload p.
uint16_t block_pixel(int t, const uint8_t* p, int r, int k) {
    switch (t) {
    case 1: return u16_at(p);
    case 2: return (p[4 + r] >> k) & 1 ? u16_at(p + 2) : u16_at(p);
    case 3: {
        int j = 8 * r + k;
        int index = (p[8 + j / 4] >> (2 * (j % 4))) & 3;
        return u16_at(p + 2 * index);
    }
    case 4: return u16_at(p + 16 * r + 2 * k);
    case 5: {
        int q = (r / 4) * 2 + k / 4;
        const uint8_t* quadrant = p + 8 * q;
        uint16_t e0 = u16_at(quadrant), e1 = u16_at(quadrant + 2);
        uint32_t m = static_cast<uint32_t>(quadrant[4]) | (static_cast<uint32_t>(quadrant[5]) << 8) |
                     (static_cast<uint32_t>(quadrant[6]) << 16) | (static_cast<uint32_t>(quadrant[7]) << 24);
        int s = (r % 4) * 4 + k % 4;
        uint16_t palette[4] = {e0, e1, mixed(e0, e1, 2, 1), mixed(e0, e1, 1, 2)};
        return palette[(m >> (2 * s)) & 3];
    }
    default: return 0;
    }
}

// Decodes into `pixels` the plain way; returns 0 or -1 like decode_blocks.
int expected_decode(const uint8_t* d, uint32_t length, std::vector<uint16_t>& pixels,
                    int width, int height, int pitch) {
    static const uint32_t sizes[6] = {0, 2, 12, 24, 128, 32};
    if (width <= 0 || height <= 0) return 0;
    uint32_t bx = (width + 7) / 8, by = (height + 7) / 8, n = bx * by;
    if (length < n) return -1;
    uint32_t c = n;
    for (uint32_t i = 0; i < n; i++) {
        int t = d[i];
        if (t > 5) return -1;
        if (c + sizes[t] > length) return -1;
        int x0 = 8 * (i % bx), y0 = 8 * (i / bx);
        if (t != 0) {
            for (int r = 0; r < 8 && y0 + r < height; r++)
                for (int k = 0; k < 8 && x0 + k < width; k++)
                    pixels[(y0 + r) * pitch + x0 + k] = block_pixel(t, d + c, r, k);
        }
        c += sizes[t];
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    int width = u16_at(data) % SIDE_LIMIT;
    int height = u16_at(data + 2) % SIDE_LIMIT;
    int pitch = width + data[4] % 8;
    const uint8_t* stream = data + 5;
    uint32_t length = static_cast<uint32_t>(size - 5);

    size_t count = static_cast<size_t>(pitch) * static_cast<size_t>(height);
    // Exactly the picture's pixels (malloc(0) is a valid, untouchable block).
    uint16_t* pixels = static_cast<uint16_t*>(std::malloc(count * 2));
    FUZZ_CHECK(pixels != nullptr || count == 0);
    for (size_t i = 0; i < count; i++) pixels[i] = MARKER;

    int result = decode_blocks(stream, length, pixels, width, height, pitch);

    std::vector<uint16_t> expected(count, MARKER);
    int expected_result = expected_decode(stream, length, expected, width, height, pitch);
    FUZZ_CHECK(result == expected_result);
    // Pixel for pixel, including the spare columns of the pitch (untouched)
    // and the blocks after a failing one (untouched).
    FUZZ_CHECK(count == 0 || std::memcmp(pixels, expected.data(), count * 2) == 0);
    std::free(pixels);
    return 0;
}
