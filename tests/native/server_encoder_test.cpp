// The server's encoder, proven through the client's own decoder: pictures
// come back exactly (lossless), each block gets its smallest form, edge
// blocks and size changes are right, and lossy blocks stay close.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "media/codec.h"
#include "server/encoder.h"
#include "tests/support/server_decode.h"

namespace {

typedef std::vector<uint16_t> Picture;
std::mt19937 bits(12345);

uint16_t color(int r, int g, int b) { return uint16_t((r << 10) | (g << 5) | b); }

// Per pixel of a w x h picture.
Picture paint(int w, int h, const std::function<uint16_t(int x, int y)>& at) {
    Picture p(size_t(w) * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) p[size_t(y) * w + x] = at(x, y);
    return p;
}
uint16_t noise(int, int) { return uint16_t(bits() & 0x7FFF); }
// Flat areas, two- and four-coloured patterns, a gradient and noise.
uint16_t zones(int x, int y) {
    const uint16_t pal[4] = {0x1234, 0x7C00, 0x03E0, 0x5555};
    switch ((x / 13 + y / 11) % 5) {
    case 1: return (x + y) % 3 ? pal[0] : pal[1];
    case 2: return pal[(x * 7 + y * 3) % 4];
    case 3: return color(x % 32, y % 32, (x + y) % 32);
    case 4: return bits() % 4 ? color(3, 5, 12) : noise(x, y);
    default: return color(3, 5, 12);
    }
}
// Six blocks side by side: unchanged, one colour, two, three, noise, and
// quadrants of E0, mix(2,1), mix(1,2), E1.
uint16_t six_forms(int x, int y) {
    int q = (x % 8) / 4 + 2 * (y / 4), k = x % 4;
    uint16_t e0 = color(4 * q, 31 - 5 * q, 3), e1 = color(31 - 3 * q, 2 * q, 30);
    uint16_t quad[4] = {e0, qvs::quad_mix(e0, e1, 2, 1), qvs::quad_mix(e0, e1, 1, 2), e1};
    uint16_t forms[6] = {color(1, 2, 3), color(31, 0, 0), uint16_t((x + y) % 2 ? 0x7FFF : 0),
                         color(x % 8 < 3 ? 1 : x % 8 < 6 ? 9 : 20, 1, 1), noise(x, y), quad[k]};
    return forms[x / 8];
}

// Encodes a picture, decodes it as the client does, and returns the types
// of the stream's blocks as digits.
std::string round_trip(qvs::FrameEncoder& encoder, ClientPicture& client, uint32_t id, const Picture& pic, int w,
                       int h, qvs::EncodeStats* stats = nullptr) {
    std::vector<uint8_t> body;
    encoder.encode(id, pic.data(), w, h, body, stats);
    EXPECT_EQ(body[0] | body[1] << 8 | body[4] << 16, int(id | (w & 0xFF) << 16));
    EXPECT_EQ(client.apply(body), 1);
    size_t blocks = size_t((w + 7) / 8) * ((h + 7) / 8), size = blocks;
    std::string types;
    for (size_t i = 0; i < blocks; i++) types += char('0' + client.stream[i]), size += block_payload_size[client.stream[i]];
    EXPECT_EQ(client.stream.size(), size);
    if (stats != nullptr) {
        EXPECT_EQ(stats->raw_size, size);
        EXPECT_EQ(stats->body_size, body.size());
    }
    return types;
}

}  // namespace

TEST(ServerEncoder, PicturesComeBackExactlyInTheirSmallestForms) {
    const int sizes[][2] = {{1, 1}, {7, 5}, {9, 1}, {10, 10}, {17, 9}, {64, 48}, {133, 77}, {320, 200}};
    for (const auto& s : sizes) {
        qvs::FrameEncoder encoder;
        ClientPicture client;
        for (uint32_t frame = 1; frame <= 4; frame++) {
            Picture pic = paint(s[0], s[1], frame % 2 ? noise : zones);
            if (frame == 4) pic[pic.size() / 2] ^= 0x8001;  // one pixel, with bit 15
            round_trip(encoder, client, frame, pic, s[0], s[1]);
            ASSERT_EQ(client.visible(), pic) << s[0] << "x" << s[1] << " frame " << frame;
            ASSERT_EQ(encoder.reference(), pic);
        }
    }
    const struct {
        int w, h;
        Picture first, second;
        const char* types;  // of the second frame, block by block
    } cases[] = {
        {48, 8, Picture(48 * 8, color(1, 2, 3)), paint(48, 8, six_forms), "012345"},
        {10, 10, Picture(), paint(10, 10, noise), "4443"},  // edge blocks: full payloads
        {10, 10, Picture(), paint(10, 10, [](int x, int y) { return uint16_t(x == 8 && y == 8 ? 0x7FE0 : 31); }),
         "1112"},
        {40, 24, paint(40, 24, zones), Picture(), "000000000000000"},  // unchanged
        {24, 12, paint(16, 16, noise), paint(24, 12, [](int x, int y) { return x >= 16 && y >= 8 ? noise(x, y) : 0; }),
         "000004"},  // a new size is encoded against black
    };
    for (const auto& c : cases) {
        qvs::FrameEncoder encoder;
        ClientPicture client;
        if (!c.first.empty()) round_trip(encoder, client, 1, c.first, int(c.first.size()) == c.w * c.h ? c.w : 16,
                                         int(c.first.size()) == c.w * c.h ? c.h : 16);
        const Picture& second = c.second.empty() ? c.first : c.second;
        EXPECT_EQ(round_trip(encoder, client, 2, second, c.w, c.h), c.types);
        EXPECT_EQ(client.visible(), second);
        for (int y = 0; y < c.h; y++)  // the client's row padding stays black
            for (int x = c.w; x < client.pitch; x++) EXPECT_EQ(client.pixels[size_t(y) * client.pitch + x], 0);
        if (c.second.empty()) {  // after force_full every block is sent again
            std::fill(client.pixels.begin(), client.pixels.end(), 0x1234);
            encoder.force_full();
            EXPECT_EQ(round_trip(encoder, client, 3, second, c.w, c.h).find('0'), std::string::npos);
            EXPECT_EQ(client.visible(), second);
        }
    }
}

TEST(ServerEncoder, MixingAndZlibLevel) {
    for (int i = 0; i < 20000; i++) {
        uint16_t a = uint16_t(bits()), b = uint16_t(bits());
        ASSERT_EQ(qvs::quad_mix(a, b, 2, 1) * 65536 + qvs::quad_mix(a, b, 1, 2),
                  mix_rgb555(a, b, 2, 1) * 65536 + mix_rgb555(a, b, 1, 2));
    }
    Picture pic = paint(200, 120, zones);
    std::vector<uint8_t> stored, packed;
    qvs::EncoderOptions none, best;
    none.zlib_level = 0;
    best.zlib_level = 9;
    qvs::FrameEncoder(none).encode(1, pic.data(), 200, 120, stored);
    qvs::FrameEncoder(best).encode(1, pic.data(), 200, 120, packed);
    EXPECT_LT(packed.size(), stored.size());
    ClientPicture a, b;
    EXPECT_EQ(a.apply(stored) + b.apply(packed), 2);
    EXPECT_EQ(a.visible(), pic);
    EXPECT_EQ(b.visible(), pic);
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
                          {"zones", [](std::mt19937&, int w, int h) { return paint(w, h, zones); }},
                          {"noise", [](std::mt19937&, int w, int h) { return paint(w, h, noise); }}};
    const int w = 61, h = 43;  // edge blocks of 5 x 3 pixels
    for (const Case& c : cases) {
        for (int quality : {100, 90, 70, 40, 1}) {
            SCOPED_TRACE(testing::Message() << c.name << " at quality " << quality);
            std::mt19937 rng(17);
            Picture pic = c.make(rng, w, h);
            qvs::EncoderOptions options;
            options.quality = quality;
            qvs::FrameEncoder lossy(options), exact;
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
    qvs::EncoderOptions options;
    options.quality = qvs::DEFAULT_LOSSY_QUALITY;
    qvs::FrameEncoder encoder(options);
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
