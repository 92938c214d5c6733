// The server's encoder, proven through the client's own decoder: every
// picture comes back exactly (lossless), each block gets its smallest form,
// edge blocks and size changes are right, and lossy blocks stay close.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "media/codec.h"
#include "server/encoder.h"
#include "tests/support/server_decode.h"

namespace {

using qvs::EncoderOptions;
using qvs::FrameEncoder;

typedef std::vector<uint16_t> Picture;

uint16_t color(int r, int g, int b) { return uint16_t((r << 10) | (g << 5) | b); }

Picture noise(std::mt19937& rng, int w, int h) {
    Picture p(size_t(w) * size_t(h));
    for (uint16_t& px : p) px = uint16_t(rng() & 0x7FFF);
    return p;
}

// Flat areas, two- and four-coloured patterns and a gradient: a picture that
// needs every kind of block.
Picture mixed(std::mt19937& rng, int w, int h) {
    Picture p(size_t(w) * size_t(h), color(3, 5, 12));
    uint16_t pal[4] = {uint16_t(rng() & 0x7FFF), uint16_t(rng() & 0x7FFF), uint16_t(rng() & 0x7FFF),
                       uint16_t(rng() & 0x7FFF)};
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            uint16_t& px = p[size_t(y) * w + x];
            int zone = (x / 13 + y / 11) % 5;
            if (zone == 1) px = (x + y) % 3 ? pal[0] : pal[1];
            if (zone == 2) px = pal[(x * 7 + y * 3) % 4];
            if (zone == 3) px = color(x % 32, y % 32, (x + y) % 32);
            if (zone == 4 && rng() % 4 == 0) px = uint16_t(rng() & 0x7FFF);
        }
    }
    return p;
}

// Changes a few random rectangles, leaving the rest as it was.
void scribble(std::mt19937& rng, Picture& p, int w, int h) {
    for (int i = 0; i < 4; i++) {
        int x0 = int(rng() % unsigned(w)), y0 = int(rng() % unsigned(h));
        int x1 = x0 + 1 + int(rng() % 12), y1 = y0 + 1 + int(rng() % 12);
        uint16_t c = uint16_t(rng() & 0x7FFF);
        for (int y = y0; y < y1 && y < h; y++)
            for (int x = x0; x < x1 && x < w; x++) p[size_t(y) * w + x] = (x ^ y) & 1 ? c : uint16_t(rng() & 0x7FFF);
    }
}

// Sizes of the payloads in a block stream, from its type bytes.
size_t expected_stream_size(const std::vector<uint8_t>& stream, int w, int h) {
    size_t n = size_t((w + 7) / 8) * size_t((h + 7) / 8);
    size_t total = n;
    for (size_t i = 0; i < n; i++) total += block_payload_size[stream[i]];
    return total;
}

TEST(ServerEncoder, RandomPicturesOfManySizesComeBackExactly) {
    std::mt19937 rng(12345);
    const int sizes[][2] = {{1, 1}, {7, 5}, {8, 8}, {9, 1}, {10, 10}, {17, 9}, {64, 48}, {133, 77}, {320, 200}};
    for (auto& s : sizes) {
        int w = s[0], h = s[1];
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        FrameEncoder encoder;
        ClientPicture client;
        std::vector<uint8_t> body;
        Picture pic = noise(rng, w, h);
        for (int frame = 1; frame <= 6; frame++) {
            if (frame == 3) pic = mixed(rng, w, h);
            else if (frame > 1) scribble(rng, pic, w, h);
            encoder.encode(uint32_t(frame), pic.data(), w, h, body);
            ASSERT_EQ(body[0], frame);
            ASSERT_EQ(client.apply(body), 1) << "frame " << frame;
            ASSERT_EQ(client.stream.size(), expected_stream_size(client.stream, w, h));
            ASSERT_EQ(client.visible(), pic) << "frame " << frame;
            ASSERT_EQ(encoder.reference(), pic);
        }
    }
}

TEST(ServerEncoder, EachBlockGetsItsSmallestExactForm) {
    // Six blocks side by side: unchanged, one colour, two colours, three
    // colours, noise, and a gradient made of quadrant palettes.
    const int w = 48, h = 8;
    Picture first(w * h, color(1, 2, 3));
    std::mt19937 rng(7);
    FrameEncoder encoder;
    ClientPicture client;
    std::vector<uint8_t> body;
    encoder.encode(1, first.data(), w, h, body);
    ASSERT_EQ(client.apply(body), 1);

    Picture pic = first;
    auto at = [&](int block, int r, int k) -> uint16_t& { return pic[size_t(r) * w + block * 8 + k]; };
    for (int r = 0; r < 8; r++) {
        for (int k = 0; k < 8; k++) {
            at(1, r, k) = color(31, 0, 0);
            at(2, r, k) = (k + r) % 2 ? color(31, 31, 31) : color(0, 0, 0);
            at(3, r, k) = k < 3 ? color(1, 1, 1) : k < 6 ? color(9, 9, 9) : color(20, 0, 20);
            at(4, r, k) = uint16_t(rng() & 0x7FFF);
            // Each quadrant: E0, mix(2,1), mix(1,2), E1 across its columns.
            int q = (k / 4) + 2 * (r / 4);
            uint16_t e0 = color(4 * q, 31 - 5 * q, 3), e1 = color(31 - 3 * q, 2 * q, 30);
            uint16_t quad[4] = {e0, qvs::quad_mix(e0, e1, 2, 1), qvs::quad_mix(e0, e1, 1, 2), e1};
            at(5, r, k) = quad[k % 4];
        }
    }
    qvs::EncodeStats stats;
    encoder.encode(2, pic.data(), w, h, body, &stats);
    ASSERT_EQ(client.apply(body), 1);
    EXPECT_EQ(client.visible(), pic);
    ASSERT_GE(client.stream.size(), 6u);
    std::vector<uint8_t> types(client.stream.begin(), client.stream.begin() + 6);
    EXPECT_EQ(types, (std::vector<uint8_t>{BLOCK_SKIP, BLOCK_FILL, BLOCK_TWO_COLOR, BLOCK_FOUR_COLOR,
                                           BLOCK_RAW, BLOCK_QUAD}));
    EXPECT_EQ(client.stream.size(), 6u + 2 + 12 + 24 + 128 + 32);
    EXPECT_EQ(stats.raw_size, client.stream.size());
    EXPECT_EQ(stats.body_size, body.size());
    // The header: frame number, size, raw size.
    EXPECT_EQ(body[0] | (body[1] << 8), 2);
    EXPECT_EQ(body[4] | (body[5] << 8), w);
    EXPECT_EQ(body[6] | (body[7] << 8), h);
}

TEST(ServerEncoder, EdgeBlocksCarryFullPayloadsAndPaintOnlyTheirPixels) {
    // 10 x 10: block 1 is 2 wide, block 2 is 2 high, block 3 is 2 x 2. Noise
    // makes the first three RAW with full 128-byte payloads; the corner has
    // only four pixels, so four colours at most: FOUR_COLOR.
    std::mt19937 rng(99);
    Picture pic = noise(rng, 10, 10);
    FrameEncoder encoder;
    ClientPicture client;
    std::vector<uint8_t> body;
    encoder.encode(1, pic.data(), 10, 10, body);
    ASSERT_EQ(client.apply(body), 1);
    EXPECT_EQ(std::vector<uint8_t>(client.stream.begin(), client.stream.begin() + 4),
              (std::vector<uint8_t>{BLOCK_RAW, BLOCK_RAW, BLOCK_RAW, BLOCK_FOUR_COLOR}));
    EXPECT_EQ(client.stream.size(), 4u + 3 * 128 + 24);
    EXPECT_EQ(client.visible(), pic);
    // Pixels beyond the picture in the client's padded rows stay black.
    for (int y = 0; y < 10; y++)
        for (int x = 10; x < client.pitch; x++) EXPECT_EQ(client.pixels[size_t(y) * client.pitch + x], 0);

    // A 2 x 2 corner block of two colours is TWO_COLOR, however few pixels.
    Picture two(10 * 10, color(0, 0, 31));
    two[8 * 10 + 8] = color(31, 31, 0);
    FrameEncoder e2;
    ClientPicture c2;
    e2.encode(1, two.data(), 10, 10, body);
    ASSERT_EQ(c2.apply(body), 1);
    EXPECT_EQ(c2.stream[3], BLOCK_TWO_COLOR);
    EXPECT_EQ(c2.visible(), two);
}

TEST(ServerEncoder, UnchangedPicturesCostOneByteABlockAndForceFullRepaints) {
    std::mt19937 rng(3);
    const int w = 40, h = 24;
    Picture pic = mixed(rng, w, h);
    FrameEncoder encoder;
    ClientPicture client;
    std::vector<uint8_t> body;
    encoder.encode(1, pic.data(), w, h, body);
    ASSERT_EQ(client.apply(body), 1);
    encoder.encode(2, pic.data(), w, h, body);
    ASSERT_EQ(client.apply(body), 1);
    EXPECT_EQ(client.stream, std::vector<uint8_t>(15, BLOCK_SKIP));

    // After force_full every block is sent again: a client whose picture
    // is unknown (here: scribbled over) gets the whole picture back.
    std::fill(client.pixels.begin(), client.pixels.end(), 0x1234);
    encoder.force_full();
    encoder.encode(3, pic.data(), w, h, body);
    ASSERT_EQ(client.apply(body), 1);
    for (int i = 0; i < 15; i++) EXPECT_NE(client.stream[size_t(i)], BLOCK_SKIP);
    EXPECT_EQ(client.visible(), pic);
}

TEST(ServerEncoder, SizeChangesEncodeAgainstBlack) {
    std::mt19937 rng(5);
    FrameEncoder encoder;
    ClientPicture client;
    std::vector<uint8_t> body;
    Picture a = noise(rng, 16, 16);
    encoder.encode(1, a.data(), 16, 16, body);
    ASSERT_EQ(client.apply(body), 1);
    ASSERT_EQ(client.visible(), a);

    // 24 x 12, black but for one block: the client starts black, so only
    // that block is sent.
    Picture b(24 * 12, 0);
    for (int y = 8; y < 12; y++)
        for (int x = 16; x < 24; x++) b[size_t(y) * 24 + x] = uint16_t(rng() & 0x7FFF);
    encoder.encode(2, b.data(), 24, 12, body);
    ASSERT_EQ(client.apply(body), 1);
    EXPECT_EQ(client.visible(), b);
    EXPECT_EQ(std::vector<uint8_t>(client.stream.begin(), client.stream.begin() + 6),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, BLOCK_RAW}));

    // Back to the first size: again against black, not against frame 1.
    Picture c = a;
    c[0] = 0;
    encoder.encode(3, c.data(), 16, 16, body);
    ASSERT_EQ(client.apply(body), 1);
    EXPECT_EQ(client.visible(), c);
    for (int frame = 4; frame < 8; frame++) {
        int w = 1 + int(rng() % 70), h = 1 + int(rng() % 50);
        Picture d = mixed(rng, w, h);
        encoder.encode(uint32_t(frame), d.data(), w, h, body);
        ASSERT_EQ(client.apply(body), 1);
        ASSERT_EQ(client.visible(), d) << w << "x" << h;
    }
}

TEST(ServerEncoder, MixingMatchesTheClient) {
    std::mt19937 rng(11);
    for (int i = 0; i < 20000; i++) {
        uint16_t a = uint16_t(rng()), b = uint16_t(rng());
        ASSERT_EQ(qvs::quad_mix(a, b, 2, 1), mix_rgb555(a, b, 2, 1));
        ASSERT_EQ(qvs::quad_mix(a, b, 1, 2), mix_rgb555(a, b, 1, 2));
    }
}

// A camera-like picture: smooth colour fields with grain, many colours in
// every block.
Picture grainy(std::mt19937& rng, int w, int h, int phase) {
    Picture p(size_t(w) * size_t(h));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            p[size_t(y) * w + x] = color((x + phase) / 3 % 32, (y * 2 + x) / 5 % 32, int(12 + rng() % 3));
    return p;
}

// Squared 5-bit channel error of block (bx, by) and whether its source has
// at most four colours.
long block_sse(const Picture& a, const Picture& b, int w, int h, int bx, int by, bool* few_colors) {
    long total = 0;
    std::vector<uint16_t> seen;
    for (int y = by * 8; y < by * 8 + 8 && y < h; y++)
        for (int x = bx * 8; x < bx * 8 + 8 && x < w; x++) {
            size_t i = size_t(y) * w + x;
            if (std::find(seen.begin(), seen.end(), a[i]) == seen.end()) seen.push_back(a[i]);
            for (int shift : {0, 5, 10}) {
                int d = ((a[i] >> shift) & 31) - ((b[i] >> shift) & 31);
                total += d * d;
            }
        }
    *few_colors = seen.size() <= 4;
    return total;
}

TEST(ServerEncoder, LossyBlocksStayWithinTheQualitysBudgetAndFewColoursStayExact) {
    struct Case {
        const char* name;
        Picture (*make)(std::mt19937&, int, int);
    };
    const Case cases[] = {{"grainy", [](std::mt19937& r, int w, int h) { return grainy(r, w, h, 0); }},
                          {"mixed", mixed},
                          {"noise", noise}};
    const int w = 61, h = 43;  // edge blocks of 5 x 3 pixels
    for (const Case& c : cases) {
        for (int quality : {100, 90, 70, 40, 1}) {
            SCOPED_TRACE(testing::Message() << c.name << " at quality " << quality);
            std::mt19937 rng(17);
            Picture pic = c.make(rng, w, h);
            EncoderOptions options;
            options.quality = quality;
            FrameEncoder lossy(options), exact;
            ClientPicture client, exact_client;
            std::vector<uint8_t> body, exact_body;
            lossy.encode(1, pic.data(), w, h, body);
            exact.encode(1, pic.data(), w, h, exact_body);
            ASSERT_EQ(client.apply(body), 1);
            ASSERT_EQ(exact_client.apply(exact_body), 1);
            const Picture shown = client.visible();
            EXPECT_EQ(lossy.reference(), shown);  // the encoder knows what the client shows
            // Lossy never costs the client more than exact.
            EXPECT_LE(client.stream.size(), exact_client.stream.size());
            for (int by = 0; by * 8 < h; by++) {
                for (int bx = 0; bx * 8 < w; bx++) {
                    int pixels = std::min(8, w - bx * 8) * std::min(8, h - by * 8);
                    bool few = false;
                    long sse = block_sse(pic, shown, w, h, bx, by, &few);
                    ASSERT_LE(sse, few || quality == 100 ? 0 : qvs::block_error_budget(quality, pixels))
                        << "block " << bx << "," << by;
                }
            }
        }
    }
}

TEST(ServerEncoder, LossyKeepsWhatTheClientShowsWhileItIsCloseEnough) {
    const int w = 64, h = 40;
    std::mt19937 rng(21);
    EncoderOptions options;
    options.quality = qvs::DEFAULT_LOSSY_QUALITY;
    FrameEncoder encoder(options);
    ClientPicture client;
    std::vector<uint8_t> body;
    qvs::EncodeStats stats;
    Picture pic = grainy(rng, w, h, 0);
    encoder.encode(1, pic.data(), w, h, body, &stats);
    ASSERT_EQ(client.apply(body), 1);
    EXPECT_EQ(stats.blocks[BLOCK_RAW], 0u);
    // The same picture again: the approximation stands, nothing is sent.
    encoder.encode(2, pic.data(), w, h, body, &stats);
    EXPECT_EQ(stats.blocks[BLOCK_SKIP], 40u);
    // The picture moves: every block is sent again.
    Picture moved = grainy(rng, w, h, 30);
    encoder.encode(3, moved.data(), w, h, body, &stats);
    ASSERT_EQ(client.apply(body), 1);
    EXPECT_EQ(stats.blocks[BLOCK_SKIP], 0u);
    // One pixel of a two-coloured block changes: it is sent, exactly.
    Picture text(size_t(w) * h, color(31, 31, 31));
    for (int x = 0; x < w; x += 2) text[size_t(x % h) * w + x] = 0;
    encoder.encode(4, text.data(), w, h, body);
    ASSERT_EQ(client.apply(body), 1);
    text[size_t(3) * w + 5] = color(30, 31, 31);
    encoder.encode(5, text.data(), w, h, body, &stats);
    ASSERT_EQ(client.apply(body), 1);
    EXPECT_EQ(stats.blocks[BLOCK_SKIP], 39u);
    EXPECT_EQ(client.visible(), text);
}

TEST(ServerEncoder, ZlibLevelChangesSizeNotPicture) {
    std::mt19937 rng(8);
    Picture pic = mixed(rng, 200, 120);
    std::vector<uint8_t> stored, packed;
    EncoderOptions none, best;
    none.zlib_level = 0;
    best.zlib_level = 9;
    FrameEncoder a(none), b(best);
    a.encode(1, pic.data(), 200, 120, stored);
    b.encode(1, pic.data(), 200, 120, packed);
    EXPECT_LT(packed.size(), stored.size());
    ClientPicture ca, cb;
    ASSERT_EQ(ca.apply(stored), 1);
    ASSERT_EQ(cb.apply(packed), 1);
    EXPECT_EQ(ca.visible(), pic);
    EXPECT_EQ(cb.visible(), pic);
}

TEST(ServerEncoder, HighBitOfColoursIsKeptExactly) {
    // The client writes colours as they come, bit 15 included; an exact
    // encoder must not lose it (the mixed quadrant colours never carry it).
    const int w = 16, h = 8;
    std::mt19937 rng(4);
    Picture pic(size_t(w) * h);
    for (uint16_t& px : pic) px = uint16_t(rng());  // bit 15 random
    for (int i = 0; i < 8; i++) pic[size_t(i) * w + 8] = 0x8000 | color(1, 2, 3);
    FrameEncoder encoder;
    ClientPicture client;
    std::vector<uint8_t> body;
    encoder.encode(1, pic.data(), w, h, body);
    ASSERT_EQ(client.apply(body), 1);
    EXPECT_EQ(client.visible(), pic);
}

}  // namespace
