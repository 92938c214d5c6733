// The block decoder on the documented examples, on streams cut at every
// length and on invalid types. (fuzz/fuzz_decode_blocks.cpp compares it
// pixel for pixel with a per-pixel restatement on the seed streams.)
#include <gtest/gtest.h>

#include <vector>

#include "media/codec.h"
#include "tests/support/client_fixture.h"

namespace {

const uint16_t SENTINEL = 0xABCD;

// Decodes from a copy of exactly `length` bytes into a picture whose rows
// have one spare pixel, all of it starting as SENTINEL.
std::vector<uint16_t> decode(const Bytes& stream, size_t length, int w, int h, int* result) {
    Bytes exact(stream.begin(), stream.begin() + long(length));
    std::vector<uint16_t> pixels(size_t(w + 1) * h, SENTINEL);
    *result = decode_blocks(exact.data(), uint32_t(length), pixels.data(), w, h, w + 1);
    return pixels;
}

}  // namespace

TEST(Codec, MixesChannelByChannel) {
    const uint16_t cases[][5] = {
        {0x7C00, 0x001F, 2, 1, 0x540A}, {0x7C00, 0x001F, 1, 2, 0x2815}, {0x7FFF, 0x0000, 2, 1, 0x56B5},
        {0x7FFF, 0x0000, 1, 2, 0x294A}, {0x0421, 0x0000, 2, 1, 0x0421}, {0x0421, 0x0000, 1, 2, 0x0000},
        {0xFC00, 0x801F, 2, 1, 0x540A}, {0xFFFF, 0xFFFF, 2, 1, 0x7FFF},
    };
    for (const auto& c : cases) EXPECT_EQ(mix_rgb555(c[0], c[1], c[2], c[3]), c[4]) << c[0] << "," << c[1];
}

TEST(Codec, EveryBlockLayout) {
    Bytes quad(32, 0);
    quad[1] = 0x7C, quad[2] = 0x1F, quad[4] = 0x1B;  // quadrant 0: red, blue, indices 3 2 1 0 on top
    quad[8] = 0x11;                                  // quadrant 1: E0 0011, all index 0
    const struct {
        const char* stream;
        int x, y;
        uint16_t colour;
    } cases[] = {
        {"01 34 12", 7, 7, 0x1234},
        {"02 11 11 22 22 01 01 01 01 01 01 01 01", 0, 5, 0x2222},  // mask bit 0 is column 0
        {"02 11 11 22 22 01 01 01 01 01 01 01 01", 1, 5, 0x1111},
        {"03 01 00 20 00 00 04 ff 7f e4 e4 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 2, 0, 0x0400},
        {"03 01 00 20 00 00 04 ff 7f e4 e4 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 7, 0, 0x7FFF},
        {"03 01 00 20 00 00 04 ff 7f e4 e4 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 5, 1, 0x0001},
        {"00", 3, 3, SENTINEL},
    };
    for (const auto& c : cases) {
        int result;
        Bytes stream = hx(c.stream);
        EXPECT_EQ(decode(stream, stream.size(), 8, 8, &result)[c.y * 9 + c.x], c.colour) << c.stream;
        EXPECT_EQ(result, 0);
    }
    Bytes raw = {BLOCK_RAW};
    for (int i = 0; i < 128; i++) raw.push_back(uint8_t(i));
    int result;
    EXPECT_EQ(decode(raw, raw.size(), 8, 8, &result)[2 * 9 + 3], 0x2726);  // row 2, column 3
    Bytes q = {BLOCK_QUAD};
    q.insert(q.end(), quad.begin(), quad.end());
    std::vector<uint16_t> p = decode(q, q.size(), 8, 8, &result);
    EXPECT_EQ(std::vector<uint16_t>(p.begin(), p.begin() + 5), (std::vector<uint16_t>{0x2815, 0x540A, 0x001F, 0x7C00, 0x0011}));
    EXPECT_EQ(p[9], 0x7C00);
}

TEST(Codec, WorkedExampleAndEdges) {
    int result;
    std::vector<uint16_t> p = decode(hx("01 02 00 7c 00 00 ff 7f 0f 0f 0f 0f 0f 0f 0f 0f"), 16, 16, 8, &result);
    EXPECT_EQ(result, 0);
    for (int x = 0; x < 16; x++) EXPECT_EQ(p[7 * 17 + x], x < 8 ? 0x7C00 : x < 12 ? 0x7FFF : 0) << x;
    EXPECT_EQ(p[7 * 17 + 16], SENTINEL);  // the spare pixel of the row stays
    // 10 x 10: four RAW blocks with full payloads, the last one 2 x 2.
    Bytes raw(4, BLOCK_RAW);
    for (int i = 0; i < 4 * 128; i++) raw.push_back(uint8_t(i / 128 + 1));
    p = decode(raw, raw.size(), 10, 10, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(p[9 * 11 + 9], 0x0404);
    EXPECT_EQ(p[9 * 11 + 10], SENTINEL);
    EXPECT_EQ(decode_blocks(nullptr, 0, nullptr, 0, 0, 0), 0);
    EXPECT_EQ(decode(hx("01 34 12 ee ee"), 5, 8, 8, &result)[0], 0x1234);  // trailing bytes ignored
    EXPECT_EQ(result, 0);
}

TEST(Codec, CutStreamsAndInvalidTypesKeepTheBlocksBefore) {
    // 3 x 2 blocks of every type, the last column 5 pixels wide.
    const uint8_t types[] = {1, 2, 3, 4, 5, 0};
    Bytes stream(types, types + 6);
    for (uint8_t t : types)
        for (int i = 0; i < block_payload_size[t]; i++) stream.push_back(uint8_t(i * 37 + t));
    std::vector<uint16_t> whole;
    for (size_t length = 0; length <= stream.size(); length++) {
        int result;
        std::vector<uint16_t> p = decode(stream, length, 21, 13, &result);
        ASSERT_EQ(result, length == stream.size() ? 0 : -1) << length;
        if (length == stream.size()) whole = p;
        // Block 0 (FILL) is whole from 6 + 2 bytes on, nothing before that.
        ASSERT_EQ(p[0], length >= 8 ? 0x2601 : SENTINEL) << length;
    }
    // Block 2 starts at column 16; nothing is drawn into the spare pixel.
    for (int bad = 6; bad <= 255; bad += 7) {
        Bytes broken = stream;
        broken[2] = uint8_t(bad);
        int result;
        std::vector<uint16_t> p = decode(broken, broken.size(), 21, 13, &result);
        EXPECT_EQ(result, -1);
        EXPECT_EQ(p[0], whole[0]);
        EXPECT_EQ(p[9], whole[9]);
        EXPECT_EQ(p[16], SENTINEL) << bad;
    }
    int result;
    EXPECT_EQ(decode(Bytes(6, 0), 5, 24, 16, &result)[0], SENTINEL);
    EXPECT_EQ(result, -1);
}
