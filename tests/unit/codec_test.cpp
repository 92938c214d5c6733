// The block decoder and the colour mixing, checked against a per-pixel
// reference written straight from the block layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "media/codec.h"

namespace {

const uint16_t SENTINEL = 0xABCD;  // never a value the tests decode

struct Block {
    uint8_t type;
    std::vector<uint8_t> payload;
};

size_t payload_size_of(uint8_t type) {
    static const size_t sizes[6] = {0, 2, 12, 24, 128, 32};
    return type < 6 ? sizes[type] : 0;
}

std::vector<uint8_t> stream_of(const std::vector<Block>& blocks) {
    std::vector<uint8_t> s;
    for (const Block& b : blocks) s.push_back(b.type);
    for (const Block& b : blocks) s.insert(s.end(), b.payload.begin(), b.payload.end());
    return s;
}

uint16_t colour_at(const std::vector<uint8_t>& p, size_t offset) {
    return static_cast<uint16_t>(p[offset] | (p[offset + 1] << 8));
}

// Channel-wise (wa * a + wb * b + 1) / 3 the long way round.
uint16_t reference_mix(uint16_t a, uint16_t b, int wa, int wb) {
    int out[3];
    for (int channel = 0; channel < 3; channel++) {
        int shift = 10 - 5 * channel;
        int ca = (a >> shift) % 32;
        int cb = (b >> shift) % 32;
        out[channel] = (wa * ca + wb * cb + 1) / 3;
    }
    return static_cast<uint16_t>(out[0] * 1024 + out[1] * 32 + out[2]);
}

// The colour of pixel (row r, column k) of a block, read from its payload
// by the written rules. Returns false for SKIP (the pixel keeps its value).
bool reference_pixel(const Block& b, int r, int k, uint16_t* colour) {
    const std::vector<uint8_t>& p = b.payload;
    switch (b.type) {
    case BLOCK_FILL: *colour = colour_at(p, 0); return true;
    case BLOCK_TWO_COLOR: {
        bool one = (p[4 + r] >> k) & 1;
        *colour = colour_at(p, one ? 2 : 0);
        return true;
    }
    case BLOCK_FOUR_COLOR: {
        int j = 8 * r + k;
        int index = (p[8 + j / 4] >> (2 * (j % 4))) & 3;
        *colour = colour_at(p, 2 * index);
        return true;
    }
    case BLOCK_RAW: *colour = colour_at(p, 16 * r + 2 * k); return true;
    case BLOCK_QUAD: {
        int q = (r / 4) * 2 + (k / 4);
        int s = (r % 4) * 4 + (k % 4);
        uint16_t e0 = colour_at(p, 8 * q);
        uint16_t e1 = colour_at(p, 8 * q + 2);
        uint32_t m = p[8 * q + 4] | (p[8 * q + 5] << 8) | (p[8 * q + 6] << 16) |
                     (static_cast<uint32_t>(p[8 * q + 7]) << 24);
        int index = (m >> (2 * s)) & 3;
        uint16_t palette[4] = {e0, e1, reference_mix(e0, e1, 2, 1), reference_mix(e0, e1, 1, 2)};
        *colour = palette[index];
        return true;
    }
    default: return false;
    }
}

// A picture with a pitch wider than the picture and sentinel memory all
// round, so that writes outside the visible pixels show.
struct Picture {
    int width, height, pitch;
    std::vector<uint16_t> memory;
    Picture(int w, int h, int p) : width(w), height(h), pitch(p), memory(size_t(p) * h, SENTINEL) {}
    uint16_t* pixels() { return memory.data(); }
    uint16_t at(int x, int y) const { return memory[size_t(y) * pitch + x]; }
};

// Applies the first `drawn` blocks to `expected` with the reference.
void reference_decode(Picture* expected, const std::vector<Block>& blocks, size_t drawn) {
    int columns = (expected->width + 7) / 8;
    for (size_t i = 0; i < drawn; i++) {
        int x0 = int(i % columns) * 8, y0 = int(i / columns) * 8;
        for (int r = 0; r < 8; r++)
            for (int k = 0; k < 8; k++) {
                int x = x0 + k, y = y0 + r;
                uint16_t colour;
                if (x < expected->width && y < expected->height &&
                    reference_pixel(blocks[i], r, k, &colour))
                    expected->memory[size_t(y) * expected->pitch + x] = colour;
            }
    }
}

Block random_block(std::mt19937* random, uint8_t type) {
    Block b{type, std::vector<uint8_t>(payload_size_of(type))};
    for (uint8_t& byte : b.payload) byte = static_cast<uint8_t>((*random)());
    return b;
}

std::vector<Block> random_blocks(std::mt19937* random, size_t count, int only_type) {
    std::vector<Block> blocks;
    for (size_t i = 0; i < count; i++) {
        uint8_t type = only_type >= 0 ? uint8_t(only_type) : uint8_t((*random)() % 6);
        blocks.push_back(random_block(random, type));
    }
    return blocks;
}

size_t block_count(int w, int h) { return size_t((w + 7) / 8) * ((h + 7) / 8); }

// Decodes from a heap copy of exactly `length` bytes, so that a read past
// the stream is a read past an allocation.
int decode(const std::vector<uint8_t>& stream, size_t length, Picture* picture) {
    std::vector<uint8_t> exact(stream.begin(), stream.begin() + length);
    return decode_blocks(exact.data(), uint32_t(length), picture->pixels(), picture->width,
                         picture->height, picture->pitch);
}

void expect_same(const Picture& expected, const Picture& actual) {
    for (int y = 0; y < expected.height; y++)
        for (int x = 0; x < expected.pitch; x++)
            ASSERT_EQ(expected.at(x, y), actual.at(x, y)) << "pixel " << x << "," << y;
}

TEST(MixRgb555, WorkedExamples) {
    EXPECT_EQ(0x540A, mix_rgb555(0x7C00, 0x001F, 2, 1));
    EXPECT_EQ(0x2815, mix_rgb555(0x7C00, 0x001F, 1, 2));
    EXPECT_EQ(0x56B5, mix_rgb555(0x7FFF, 0x0000, 2, 1));
    EXPECT_EQ(0x294A, mix_rgb555(0x7FFF, 0x0000, 1, 2));
    EXPECT_EQ(0x0421, mix_rgb555(0x0421, 0x0000, 2, 1));
    EXPECT_EQ(0x0000, mix_rgb555(0x0421, 0x0000, 1, 2));
}

TEST(MixRgb555, TopBitPlaysNoPartAndIsClear) {
    EXPECT_EQ(mix_rgb555(0x7C00, 0x001F, 2, 1), mix_rgb555(0xFC00, 0x801F, 2, 1));
    EXPECT_EQ(0x7FFF, mix_rgb555(0xFFFF, 0xFFFF, 2, 1));
}

TEST(DecodeBlocks, WorkedExampleSixteenByEight) {
    const uint8_t stream[] = {0x01, 0x02, 0x00, 0x7C, 0x00, 0x00, 0xFF, 0x7F,
                              0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F};
    Picture picture(16, 8, 16);
    ASSERT_EQ(0, decode_blocks(stream, sizeof stream, picture.pixels(), 16, 8, 16));
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++) {
            uint16_t want = x < 8 ? 0x7C00 : x < 12 ? 0x7FFF : 0x0000;
            ASSERT_EQ(want, picture.at(x, y)) << x << "," << y;
        }
}

TEST(DecodeBlocks, EachTypeMatchesTheReference) {
    std::mt19937 random(1234);
    for (int type = BLOCK_SKIP; type <= BLOCK_QUAD; type++) {
        SCOPED_TRACE(type);
        // 40 x 24 pixels in rows of 46: 5 x 3 full blocks.
        Picture actual(40, 24, 46), expected(40, 24, 46);
        std::vector<Block> blocks = random_blocks(&random, block_count(40, 24), type);
        std::vector<uint8_t> stream = stream_of(blocks);
        reference_decode(&expected, blocks, blocks.size());
        ASSERT_EQ(0, decode(stream, stream.size(), &actual));
        expect_same(expected, actual);
    }
}

TEST(DecodeBlocks, LayoutExamples) {
    Picture picture(8, 8, 8);
    // Mask 01 in every row: only column 0 is C1.
    Block two{BLOCK_TWO_COLOR, {0x11, 0x11, 0x22, 0x22, 1, 1, 1, 1, 1, 1, 1, 1}};
    ASSERT_EQ(0, decode(stream_of({two}), 13, &picture));
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++) ASSERT_EQ(x == 0 ? 0x2222 : 0x1111, picture.at(x, y));

    // Index bytes E4 E4: P0, P1, P2, P3, P0, P1, P2, P3 along the row.
    Block four{BLOCK_FOUR_COLOR, std::vector<uint8_t>(24, 0)};
    const uint16_t palette[4] = {0x0001, 0x0020, 0x0400, 0x7FFF};
    for (int i = 0; i < 4; i++) {
        four.payload[2 * i] = uint8_t(palette[i]);
        four.payload[2 * i + 1] = uint8_t(palette[i] >> 8);
    }
    four.payload[8] = 0xE4;
    four.payload[9] = 0xE4;
    ASSERT_EQ(0, decode(stream_of({four}), 25, &picture));
    for (int x = 0; x < 8; x++) EXPECT_EQ(palette[x % 4], picture.at(x, 0));
    for (int x = 0; x < 8; x++) EXPECT_EQ(palette[0], picture.at(x, 1));

    // M = 0000001B in quadrant 0: its top row has indices 3, 2, 1, 0.
    Block quad{BLOCK_QUAD, std::vector<uint8_t>(32, 0)};
    quad.payload[0] = 0x00, quad.payload[1] = 0x7C;  // E0 red
    quad.payload[2] = 0x1F, quad.payload[3] = 0x00;  // E1 blue
    quad.payload[4] = 0x1B;
    ASSERT_EQ(0, decode(stream_of({quad}), 33, &picture));
    EXPECT_EQ(0x2815, picture.at(0, 0));
    EXPECT_EQ(0x540A, picture.at(1, 0));
    EXPECT_EQ(0x001F, picture.at(2, 0));
    EXPECT_EQ(0x7C00, picture.at(3, 0));
    EXPECT_EQ(0x7C00, picture.at(0, 1));
    EXPECT_EQ(0x0000, picture.at(4, 0));  // quadrant 1: E0 0000, all index 0
}

TEST(DecodeBlocks, QuadMixesEveryPairOfChannelValues) {
    // Quadrants whose end colours have equal channels a and b, for all
    // 32 x 32 pairs, using every index so that both mixed colours show.
    std::vector<Block> blocks;
    for (int a = 0; a < 32; a++)
        for (int b = 0; b < 32; b += 4) {
            Block quad{BLOCK_QUAD, std::vector<uint8_t>(32, 0)};
            for (int q = 0; q < 4; q++) {
                uint16_t e0 = uint16_t(a * 0x0421), e1 = uint16_t((b + q) * 0x0421 | (q & 1) << 15);
                quad.payload[8 * q] = uint8_t(e0), quad.payload[8 * q + 1] = uint8_t(e0 >> 8);
                quad.payload[8 * q + 2] = uint8_t(e1), quad.payload[8 * q + 3] = uint8_t(e1 >> 8);
                for (int i = 4; i < 8; i++) quad.payload[8 * q + i] = 0xE4;
            }
            blocks.push_back(quad);
        }
    Picture actual(8 * 32, 8 * 8, 8 * 32), expected(8 * 32, 8 * 8, 8 * 32);
    std::vector<uint8_t> stream = stream_of(blocks);
    reference_decode(&expected, blocks, blocks.size());
    ASSERT_EQ(0, decode(stream, stream.size(), &actual));
    expect_same(expected, actual);
}

TEST(DecodeBlocks, EdgeBlocksOfTenByTen) {
    // 2 x 2 blocks: block 1 is 2 x 8, block 2 is 8 x 2, block 3 is 2 x 2. RAW
    // payloads still take 128 bytes each: the last block must get its own.
    std::mt19937 random(10);
    std::vector<Block> blocks = random_blocks(&random, 4, BLOCK_RAW);
    std::vector<uint8_t> stream = stream_of(blocks);
    ASSERT_EQ(4u + 4 * 128, stream.size());
    Picture actual(10, 10, 12), expected(10, 10, 12);
    reference_decode(&expected, blocks, 4);
    ASSERT_EQ(0, decode(stream, stream.size(), &actual));
    expect_same(expected, actual);
    EXPECT_EQ(SENTINEL, actual.at(10, 9));  // the padding of the rows stays
    EXPECT_EQ(SENTINEL, actual.at(11, 0));
    uint16_t last;
    reference_pixel(blocks[3], 1, 1, &last);
    EXPECT_EQ(last, actual.at(9, 9));
}

TEST(DecodeBlocks, EdgeBlocksOfEveryTypeAtOddSizes) {
    std::mt19937 random(641);
    const int sizes[][3] = {{641, 17, 642}, {10, 10, 10}, {1, 1, 2}, {7, 9, 8}, {15, 3, 16}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(size[0]);
        Picture actual(size[0], size[1], size[2]), expected(size[0], size[1], size[2]);
        std::vector<Block> blocks = random_blocks(&random, block_count(size[0], size[1]), -1);
        std::vector<uint8_t> stream = stream_of(blocks);
        reference_decode(&expected, blocks, blocks.size());
        ASSERT_EQ(0, decode(stream, stream.size(), &actual));
        expect_same(expected, actual);
    }
}

TEST(DecodeBlocks, StreamCutAtEveryLength) {
    std::mt19937 random(77);
    struct Layout {
        int width, height;
        std::vector<uint8_t> types;
    } layouts[] = {
        // 3 x 2 blocks of every type, the last column 5 pixels wide.
        {21, 13, {1, 2, 3, 4, 5, 0}},
        // Whole blocks in runs of one type, as flat areas and text come.
        {48, 16, {1, 1, 4, 4, 4, 0, 2, 2, 5, 5, 3, 3}},
    };
    for (const Layout& layout : layouts) {
        std::vector<Block> blocks;
        for (uint8_t type : layout.types) blocks.push_back(random_block(&random, type));
        std::vector<uint8_t> stream = stream_of(blocks);
        for (size_t length = 0; length <= stream.size(); length++) {
            SCOPED_TRACE(length);
            Picture actual(layout.width, layout.height, layout.width + 1);
            Picture expected(layout.width, layout.height, layout.width + 1);
            // Blocks whose payload lies wholly inside the cut are drawn, in order.
            size_t drawn = 0, end = blocks.size();
            if (length >= blocks.size())
                while (drawn < blocks.size() && end + payload_size_of(blocks[drawn].type) <= length)
                    end += payload_size_of(blocks[drawn++].type);
            reference_decode(&expected, blocks, drawn);
            int result = decode(stream, length, &actual);
            EXPECT_EQ(length == stream.size() ? 0 : -1, result);
            expect_same(expected, actual);
        }
    }
}

TEST(DecodeBlocks, TypeBytesOnly) {
    Picture picture(24, 16, 24);
    std::vector<uint8_t> zeros(6, 0);
    EXPECT_EQ(0, decode(zeros, 6, &picture));   // N bytes, all SKIP: nothing changes
    EXPECT_EQ(-1, decode(zeros, 5, &picture));  // N - 1 bytes
    for (uint16_t p : picture.memory) ASSERT_EQ(SENTINEL, p);
}

TEST(DecodeBlocks, InvalidTypeStopsWithEarlierBlocksDrawn) {
    std::mt19937 random(6);
    for (int bad = 6; bad <= 255; bad++) {
        std::vector<Block> blocks = random_blocks(&random, 6, BLOCK_FILL);
        blocks[3] = Block{uint8_t(bad), {}};
        std::vector<uint8_t> stream = stream_of(blocks);
        stream.resize(stream.size() + 64, 0x11);  // plenty left to read
        Picture actual(24, 16, 24), expected(24, 16, 24);
        reference_decode(&expected, blocks, 3);
        ASSERT_EQ(-1, decode(stream, stream.size(), &actual)) << bad;
        expect_same(expected, actual);
    }
}

TEST(DecodeBlocks, SkipKeepsEarlierPixels) {
    std::mt19937 random(3);
    Picture actual(32, 16, 32), expected(32, 16, 32);
    std::vector<Block> first = random_blocks(&random, 8, BLOCK_RAW);
    std::vector<Block> second = random_blocks(&random, 8, -1);
    for (size_t i = 0; i < second.size(); i += 2) second[i] = Block{BLOCK_SKIP, {}};
    reference_decode(&expected, first, first.size());
    reference_decode(&expected, second, second.size());
    std::vector<uint8_t> s1 = stream_of(first), s2 = stream_of(second);
    ASSERT_EQ(0, decode(s1, s1.size(), &actual));
    ASSERT_EQ(0, decode(s2, s2.size(), &actual));
    expect_same(expected, actual);
}

TEST(DecodeBlocks, TrailingBytesAreIgnoredAndEmptyPicturesDecodeNothing) {
    std::vector<uint8_t> stream = {BLOCK_FILL, 0x34, 0x12, 0xEE, 0xEE, 0xEE};
    Picture picture(8, 8, 8);
    EXPECT_EQ(0, decode(stream, stream.size(), &picture));
    EXPECT_EQ(0x1234, picture.at(7, 7));
    EXPECT_EQ(0, decode_blocks(nullptr, 0, nullptr, 0, 0, 0));
    EXPECT_EQ(0, decode_blocks(stream.data(), 0, nullptr, 0, 480, 0));
}

}  // namespace
