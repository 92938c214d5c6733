// The server's encoder through the client's own decoder: exact pictures in
// their smallest forms, edge blocks, size changes, lossy blocks kept close.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "media/codec.h"
#include "server/encode/encoder.h"
#include "tests/support/server_decode.h"

namespace {

typedef std::vector<uint16_t> Picture;
std::mt19937 bits(12345);

uint16_t color(int r, int g, int b) { return uint16_t((r << 10) | (g << 5) | b); }
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
    const uint16_t at[5] = {color(3, 5, 12), (x + y) % 3 ? pal[0] : pal[1], pal[(x * 7 + y * 3) % 4],
                            color(x % 32, y % 32, (x + y) % 32), bits() % 4 ? color(3, 5, 12) : noise(x, y)};
    return at[(x / 13 + y / 11) % 5];
}
// Six blocks: unchanged, one colour, two, three, noise, quadrants of E0, mix(2,1), mix(1,2), E1.
uint16_t six_forms(int x, int y) {
    int q = (x % 8) / 4 + 2 * (y / 4), k = x % 4;
    uint16_t e0 = color(4 * q, 31 - 5 * q, 3), e1 = color(31 - 3 * q, 2 * q, 30);
    uint16_t quad[4] = {e0, qvs::quad_mix(e0, e1, 2, 1), qvs::quad_mix(e0, e1, 1, 2), e1};
    uint16_t forms[6] = {color(1, 2, 3), color(31, 0, 0), uint16_t((x + y) % 2 ? 0x7FFF : 0),
                         color(x % 8 < 3 ? 1 : x % 8 < 6 ? 9 : 20, 1, 1), noise(x, y), quad[k]};
    return forms[x / 8];
}
uint16_t grainy(int x, int y) { return color(x / 3 % 32, (y * 2 + x) / 5 % 32, int(12 + bits() % 3)); }  // camera-like
// Four colours in every block, in two pairs 0x0421 apart: a pixel moved within a pair leaves four.
uint16_t four_colours(int x, int y) { return std::array<uint16_t, 4>{0, 0x0421, 0x7C00, 0x7821}[(x + 2 * y) % 4]; }

// Encodes, decodes as the client does, and returns the block types as digits.
std::string round_trip(qvs::FrameEncoder& encoder, ClientPicture& client, uint32_t id, const Picture& pic, int w,
                       int h) {
    std::vector<uint8_t> body;
    encoder.encode(id, pic.data(), w, h, body);
    EXPECT_EQ(body[0] | body[1] << 8 | body[4] << 16, int(id | (w & 0xFF) << 16));
    EXPECT_EQ(client.apply(body), 1);
    size_t blocks = size_t((w + 7) / 8) * ((h + 7) / 8), size = blocks;
    std::string types;
    for (size_t i = 0; i < blocks; i++) types += char('0' + client.stream[i]), size += block_payload_size[client.stream[i]];
    EXPECT_EQ(client.stream.size(), size);
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
            ASSERT_TRUE(client.visible() == pic && encoder.reference() == pic) << s[0] << "x" << s[1] << " frame " << frame;
        }
    }
    const struct {
        int w0, h0, w, h;
        Picture first, second;
        const char* types;  // of the second frame, block by block
    } cases[] = {
        {48, 8, 48, 8, Picture(48 * 8, color(1, 2, 3)), paint(48, 8, six_forms), "012345"},
        {0, 0, 10, 10, Picture(), paint(10, 10, noise), "4443"},  // edge blocks: full payloads
        {0, 0, 8, 8, Picture(), paint(8, 8, [](int x, int y) {  // QUAD with flat quadrants
             return x >= 4 && y >= 4 ? color(x % 2 ? 31 : 0, 0, 0) : color(1, x / 4 + 2 * (y / 4), 9); }), "5"},
        {0, 0, 10, 10, Picture(), paint(10, 10, [](int x, int y) { return uint16_t(x == 8 && y == 8 ? 0x7FE0 : 31); }), "1112"},
        {0, 0, 14, 8, Picture(), paint(14, 8, [](int x, int y) { return six_forms(40 + x % 8, y); }), "55"},  // cut QUAD
        {40, 24, 40, 24, paint(40, 24, zones), Picture(), "000000000000000"},  // unchanged
        {16, 16, 24, 12, paint(16, 16, noise),  // a new size is encoded against black
         paint(24, 12, [](int x, int y) { return x >= 16 && y >= 8 ? noise(x, y) : 0; }), "000004"},
    };
    for (const auto& c : cases) {
        qvs::FrameEncoder encoder;
        ClientPicture client;
        if (!c.first.empty()) round_trip(encoder, client, 1, c.first, c.w0, c.h0);
        const Picture& second = c.second.empty() ? c.first : c.second;
        EXPECT_EQ(round_trip(encoder, client, 2, second, c.w, c.h), c.types);
        EXPECT_TRUE(client.visible() == second && encoder.reference() == second) << c.types;
        for (int y = 0; y < c.h; y++)  // the client's row padding stays black
            for (int x = c.w; x < client.pitch; x++) EXPECT_EQ(client.pixels[size_t(y) * client.pitch + x], 0);
        if (c.second.empty()) {  // after force_full every block is sent again
            std::fill(client.pixels.begin(), client.pixels.end() - client.pitch, 0x1234);
            encoder.force_full();
            EXPECT_EQ(round_trip(encoder, client, 3, second, c.w, c.h).find('0'), std::string::npos);
            EXPECT_EQ(client.visible(), second);
        }
    }
}

// Each of three frames (a picture, the same again, one pixel changed) stays
// within the quality's budget per block, exact where it has at most four colours.
TEST(ServerEncoder, LossyBlocksStayWithinTheQualitysBudgetAndFewColoursStayExact) {
    const int w = 63, h = 47;  // edge blocks of 7 x 7 pixels
    for (int kind = 0; kind < 4; kind++)
        for (int quality : {100, 90, 70, 40, 1}) {
            SCOPED_TRACE(testing::Message() << "picture " << kind << " at quality " << quality);
            Picture pic = paint(w, h, kind == 0 ? grainy : kind == 1 ? zones : kind == 2 ? noise : four_colours);
            qvs::EncoderOptions options;
            options.quality = quality;
            qvs::FrameEncoder lossy(options), exact;
            ClientPicture client, exact_client;
            std::vector<uint8_t> body, exact_body;
            exact.encode(1, pic.data(), w, h, exact_body);
            for (uint32_t frame = 1; frame <= 3; frame++) {
                if (frame == 3) pic[size_t(3) * w + 5] ^= 0x0421;
                qvs::EncodeStats stats;
                lossy.encode(frame, pic.data(), w, h, body, &stats);
                ASSERT_EQ(client.apply(body), 1);
                EXPECT_TRUE(frame != 1 || (exact_client.apply(exact_body) == 1 &&  // never costlier than exact
                                           client.stream.size() <= exact_client.stream.size()));
                EXPECT_TRUE(frame != 2 || stats.blocks[BLOCK_SKIP] == 48u) << stats.blocks[BLOCK_SKIP];  // repeat: nothing
                const Picture shown = client.visible();
                EXPECT_EQ(lossy.reference(), shown);  // the encoder knows what the client shows
                uint64_t frame_sse = 0;                // and how far it is from the picture
                for (int by = 0; by * 8 < h; by++)
                    for (int bx = 0; bx * 8 < w; bx++) {
                        long sse = 0;  // squared 5-bit channel error
                        std::vector<uint16_t> seen;
                        for (int y = by * 8; y < std::min(by * 8 + 8, h); y++)
                            for (int x = bx * 8; x < std::min(bx * 8 + 8, w); x++) {
                                size_t i = size_t(y) * w + x;
                                if (std::find(seen.begin(), seen.end(), pic[i]) == seen.end()) seen.push_back(pic[i]);
                                for (int sh : {0, 5, 10})
                                    sse += long((pic[i] >> sh & 31) - (shown[i] >> sh & 31)) * ((pic[i] >> sh & 31) - (shown[i] >> sh & 31));
                            }
                        frame_sse += uint64_t(sse);
                        int pixels = std::min(8, w - bx * 8) * std::min(8, h - by * 8);
                        ASSERT_LE(sse, seen.size() <= 4 || quality == 100 ? 0 : qvs::block_error_budget(quality, pixels))
                            << "frame " << frame << " block " << bx << "," << by;
                    }
                EXPECT_EQ(stats.squared_error, frame_sse);
            }
        }
    qvs::FrameEncoder encoder({6, qvs::DEFAULT_LOSSY_QUALITY});  // a grainy block that only four approximate
    ClientPicture client;                                          // quadrants show closely enough
    Picture grainy_quads = paint(8, 8, [](int x, int y) { return uint16_t(six_forms(40 + x, y) ^ (bits() & 1)); });
    EXPECT_EQ(round_trip(encoder, client, 1, grainy_quads, 8, 8), "5");
    round_trip(encoder, client, 2, paint(10, 10, [](int x, int y) { return uint16_t(x * y == 64 ? 0x7FE0 : 0); }), 10, 10);
    EXPECT_EQ(std::vector<uint8_t>(client.stream.end() - 8, client.stream.end()),  // a cut two-colour block's masks:
              (std::vector<uint8_t>{2, 3, 0, 0, 0, 0, 0, 0}));                     // bits only where it shows
}
