// Fuzz target: the block decoder against a per-pixel restatement of the rules.
// Input: u16 width, u16 height (mod 521), u8 spare pitch (mod 8), the stream.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "media/codec.h"

namespace {

uint16_t u16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

uint16_t mixed(uint16_t a, uint16_t b, int wa, int wb) {
    int out = 0;
    for (int shift = 10; shift >= 0; shift -= 5) out |= ((wa * ((a >> shift) & 31) + wb * ((b >> shift) & 31) + 1) / 3) << shift;
    return uint16_t(out);
}

// Pixel (row r, column k) of a block of type t with payload p.
uint16_t block_pixel(int t, const uint8_t* p, int r, int k) {
    int j = 8 * r + k, s = (r % 4) * 4 + k % 4;
    const uint8_t* quad = p + 8 * ((r / 4) * 2 + k / 4);
    switch (t) {
    case 1: return u16(p);
    case 2: return u16(p + ((p[4 + r] >> k) & 1) * 2);
    case 3: return u16(p + 2 * ((p[8 + j / 4] >> (2 * (j % 4))) & 3));
    case 4: return u16(p + 2 * j);
    }
    uint32_t m = quad[4] | quad[5] << 8 | quad[6] << 16 | uint32_t(quad[7]) << 24;
    uint16_t e0 = u16(quad), e1 = u16(quad + 2), palette[4] = {e0, e1, mixed(e0, e1, 2, 1), mixed(e0, e1, 1, 2)};
    return palette[(m >> (2 * s)) & 3];
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) { return fuzz_default_artifacts(argc, argv), 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    int width = u16(data) % 521, height = u16(data + 2) % 521, pitch = width + data[4] % 8;
    const uint8_t* d = data + 5;
    uint32_t length = uint32_t(size - 5);
    size_t count = size_t(pitch) * height;
    uint16_t* pixels = static_cast<uint16_t*>(std::malloc(count * 2));  // exactly the picture
    for (size_t i = 0; i < count; i++) pixels[i] = 0xBEEF;
    std::vector<uint16_t> expected(count, 0xBEEF);
    int result = decode_blocks(d, length, pixels, width, height, pitch);

    static const uint32_t sizes[6] = {0, 2, 12, 24, 128, 32};
    uint32_t bx = (width + 7) / 8, n = bx * ((height + 7) / 8), c = n;
    int want = width > 0 && height > 0 && length < n ? -1 : 0;
    for (uint32_t i = 0; i < n && want == 0; i++) {
        if (d[i] > 5 || c + sizes[d[i]] > length) {
            want = -1;
            break;
        }
        for (int r = 0; d[i] != 0 && r < 8 && int(8 * (i / bx)) + r < height; r++)
            for (int k = 0; k < 8 && int(8 * (i % bx)) + k < width; k++)
                expected[(8 * (i / bx) + r) * pitch + 8 * (i % bx) + k] = block_pixel(d[i], d + c, r, k);
        c += sizes[d[i]];
    }
    FUZZ_CHECK(result == want);
    FUZZ_CHECK(count == 0 || std::memcmp(pixels, expected.data(), count * 2) == 0);
    std::free(pixels);
    return 0;
}
