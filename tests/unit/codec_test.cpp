// The block decoder on the documented examples.
#include <gtest/gtest.h>

#include <vector>

#include "media/codec.h"
#include "tests/support/client_fixture.h"

TEST(Codec, MixesChannelByChannel) {
    const uint16_t cases[][5] = {
        {0x7C00, 0x001F, 2, 1, 0x540A}, {0x7C00, 0x001F, 1, 2, 0x2815}, {0x7FFF, 0x0000, 2, 1, 0x56B5},
        {0x7FFF, 0x0000, 1, 2, 0x294A}, {0x0421, 0x0000, 2, 1, 0x0421}, {0x0421, 0x0000, 1, 2, 0x0000},
        {0xFC00, 0x801F, 2, 1, 0x540A}, {0xFFFF, 0xFFFF, 2, 1, 0x7FFF},
    };
    for (const auto& c : cases) EXPECT_EQ(mix_rgb555(c[0], c[1], c[2], c[3]), c[4]) << c[0] << "," << c[1];
}

TEST(Codec, WorkedExamples) {
    // 16 x 8 in rows of 17: red FILL, then TWO_COLOR black/white with mask 0F.
    std::vector<uint16_t> p(17 * 8, 0xABCD);
    Bytes stream = hx("01 02 00 7c 00 00 ff 7f 0f 0f 0f 0f 0f 0f 0f 0f ee");
    EXPECT_EQ(decode_blocks(stream.data(), 17, p.data(), 16, 8, 17), 0);  // trailing bytes are ignored
    for (int x = 0; x < 17; x++) EXPECT_EQ(p[7 * 17 + x], x < 8 ? 0x7C00 : x < 12 ? 0x7FFF : x < 16 ? 0 : 0xABCD) << x;
    // QUAD: quadrant 0 red to blue with indices 3 2 1 0 along its top row.
    stream = hx("05 00 7c 1f 00 1b 00 00 00 11") + Bytes(24, 0);
    EXPECT_EQ(decode_blocks(stream.data(), 33, p.data(), 8, 8, 8), 0);
    EXPECT_EQ(std::vector<uint16_t>(p.begin(), p.begin() + 9),
              (std::vector<uint16_t>{0x2815, 0x540A, 0x001F, 0x7C00, 0x0011, 0x0011, 0x0011, 0x0011, 0x7C00}));
    stream = hx("03 01 00 20 00 00 04 ff 7f e4 e4") + Bytes(14, 0);  // FOUR_COLOR: P0 P1 P2 P3 P0 ...
    EXPECT_EQ(decode_blocks(stream.data(), 25, p.data(), 8, 8, 8), 0);
    EXPECT_EQ(std::vector<uint16_t>(p.begin(), p.begin() + 9),
              (std::vector<uint16_t>{1, 0x20, 0x400, 0x7FFF, 1, 0x20, 0x400, 0x7FFF, 1}));
    // -1 for a stream one byte short, fewer bytes than blocks, a pitch below the width, no such type; 0 for no blocks.
    EXPECT_EQ(decode_blocks(stream.data(), 24, p.data(), 8, 8, 8) + decode_blocks(stream.data(), 1, p.data(), 16, 8, 17) +
              decode_blocks(stream.data(), 25, p.data(), 8, 8, 7) + decode_blocks(hx("06").data(), 1, p.data(), 8, 8, 8) +
              decode_blocks(nullptr, 0, nullptr, 0, 0, 0), -4);
    std::vector<uint16_t> two(17 * 8, 0xABCD);  // two FILLs: the byte after the types is a colour, not a third block
    EXPECT_EQ(decode_blocks(hx("01 01 01 00 02 00").data(), 6, two.data(), 16, 8, 17), 0);
    EXPECT_EQ(two[15] * 0x10000u + two[16], 0x0002ABCDu);
    std::vector<uint16_t> wide(65535 * 8, 0xABCD);  // the widest picture: 8191 unchanged blocks, then a changed one
    Bytes most = hx("ff") + Bytes(8191, 0) + hx("01 07 00");  // 7 pixels wide; a byte before the stream
    EXPECT_EQ(decode_blocks(most.data() + 1, 8194, wide.data(), 65535, 8, 65535), 0);
    EXPECT_EQ(wide[7 * 65535 + 65527] * 0x10000u + wide.back(), 0xABCD0007u);
}
