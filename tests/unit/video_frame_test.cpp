// handle_video_frame and the frame buffer: what a VideoFrame leaves in the
// picture, in the counters and in the notifications, for good and bad bodies.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/client_state.h"
#include "core/notify_stub.h"
#include "link/messages.h"
#include "media/codec.h"
#include "media/frame_buffer.h"
#include "tests/support/client_fixture.h"
#include "tests/support/video_frames.h"

namespace {

class VideoFrame : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        notify_stub_frame_ready_count.store(0);
        create_frame_buffer(640, 480);
    }

    uint16_t pixel(int x, int y) const {
        return frame_buffer.pixels[size_t(y) * frame_buffer.pitch + x];
    }
    void paint_all(uint16_t colour) {
        for (size_t i = 0; i < size_t(frame_buffer.pitch) * state.remote_height.load(); i++)
            frame_buffer.pixels[i] = colour;
    }
    void handle(const std::vector<uint8_t>& body) {
        handle_video_frame(body.data(), uint32_t(body.size()));
    }
};

// The stream of the worked 16 x 8 example: red FILL, then TWO_COLOR
// black/white with mask 0F in every row.
const std::vector<uint8_t> WORKED = {0x01, 0x02, 0x00, 0x7C, 0x00, 0x00, 0xFF, 0x7F,
                                     0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F};

uint16_t worked_pixel(int x) { return x < 8 ? 0x7C00 : x < 12 ? 0x7FFF : 0x0000; }

std::vector<uint8_t> all_fill(int w, int h, uint16_t colour) {
    size_t n = size_t((w + 7) / 8) * ((h + 7) / 8);
    std::vector<uint8_t> s(n, BLOCK_FILL);
    for (size_t i = 0; i < n; i++) {
        s.push_back(uint8_t(colour));
        s.push_back(uint8_t(colour >> 8));
    }
    return s;
}

TEST_F(VideoFrame, NewSizeRecreatesTheBufferBlackThenDecodes) {
    paint_all(0x1234);
    handle(video_frame(1, 16, 8, WORKED));
    EXPECT_EQ(16, state.remote_width.load());
    EXPECT_EQ(8, state.remote_height.load());
    EXPECT_EQ(16, frame_buffer.pitch);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++) ASSERT_EQ(worked_pixel(x), pixel(x, y));
    EXPECT_EQ(1, state.frame_valid.load());

    // 24 x 8: block 0 red, blocks 1 and 2 skipped over a fresh black picture.
    handle(video_frame(2, 24, 8, {BLOCK_FILL, BLOCK_SKIP, BLOCK_SKIP, 0x00, 0x7C}));
    EXPECT_EQ(24, state.remote_width.load());
    for (int x = 0; x < 24; x++) EXPECT_EQ(x < 8 ? 0x7C00 : 0x0000, pixel(x, 7)) << x;
    EXPECT_EQ(2u, state.frame_count.load());
    EXPECT_EQ(2u, notify_stub_frame_ready_count.load());
}

TEST_F(VideoFrame, OddWidthRowsArePitchApart) {
    handle(video_frame(1, 641, 9, all_fill(641, 9, 0x03E0)));
    EXPECT_EQ(642, frame_buffer.pitch);
    EXPECT_EQ(0x03E0, frame_buffer.pixels[642]);   // pixel (0, 1)
    EXPECT_EQ(0x03E0, pixel(640, 8));
    EXPECT_EQ(0x0000, frame_buffer.pixels[641]);   // the row's padding pixel stays black
}

TEST_F(VideoFrame, SkipKeepsThePixelsOfEarlierFramesOfTheSameSize) {
    handle(video_frame(1, 16, 8, WORKED));
    paint_all(0x1111);  // a frame buffer that is not re-created keeps this
    handle(video_frame(2, 16, 8, {BLOCK_SKIP, BLOCK_FILL, 0x1F, 0x00}));
    EXPECT_EQ(0x1111, pixel(0, 0));
    EXPECT_EQ(0x1111, pixel(7, 7));
    EXPECT_EQ(0x001F, pixel(8, 0));
    EXPECT_EQ(0x001F, pixel(15, 7));
}

TEST_F(VideoFrame, BodiesShorterThanTheHeaderAreIgnored) {
    std::vector<uint8_t> body = video_frame_body(1, 32, 32, 16, {});
    for (size_t n = 0; n < 17; n++) handle_video_frame(body.data(), uint32_t(n));
    EXPECT_EQ(0u, state.frame_count.load());
    EXPECT_EQ(0u, notify_stub_frame_ready_count.load());
    EXPECT_EQ(640, state.remote_width.load());  // no re-creation either
}

TEST_F(VideoFrame, FramesThatDoNotInflateAreCountedButNotDrawn) {
    std::vector<uint8_t> valid = deflated(WORKED);
    std::vector<uint8_t> cut(valid.begin(), valid.end() - 3);
    struct Case {
        const char* what;
        std::vector<uint8_t> body;
    } cases[] = {
        {"exactly 17 bytes", video_frame_body(1, 16, 8, 16, {})},
        {"not zlib", video_frame_body(2, 16, 8, 16, {0x12, 0x34, 0x56, 0x78, 0x9A})},
        {"zlib stream cut short", video_frame_body(3, 16, 8, 16, cut)},
        {"raw_size one short", video_frame_body(4, 16, 8, 15, valid)},
        {"raw_size 0", video_frame_body(5, 16, 8, 0, valid)},
        // Valid data that would inflate into a big enough buffer; raw_size
        // plus headroom would wrap around 32 bits.
        {"raw_size 0xFFFFFFFF", video_frame_body(6, 16, 8, 0xFFFFFFFFu, valid)},
        {"raw_size 0xFFFFF000", video_frame_body(7, 16, 8, 0xFFFFF000u, valid)},
        // Far more than a 16 x 8 picture could use (2 blocks of 129 bytes).
        {"raw_size 1 MiB", video_frame_body(8, 16, 8, 1u << 20, valid)},
    };
    uint32_t handled = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        create_frame_buffer(16, 8);
        paint_all(0x2222);
        state.frame_valid.store(0);
        handle(c.body);
        handled++;
        EXPECT_EQ(0, state.frame_valid.load());
        EXPECT_EQ(0x2222, pixel(0, 0));
        EXPECT_EQ(0x2222, pixel(15, 7));
        EXPECT_EQ(handled, state.frame_count.load());
        EXPECT_EQ(handled, notify_stub_frame_ready_count.load());
    }
}

TEST_F(VideoFrame, RawSizeUpToTheLongestStreamOfThePictureIsAccepted) {
    // A 16 x 8 picture: 2 blocks, at most 2 type bytes and 2 RAW payloads.
    handle(video_frame_body(1, 16, 8, 2 * 129, deflated(WORKED)));
    EXPECT_EQ(1, state.frame_valid.load());
    EXPECT_EQ(worked_pixel(9), pixel(9, 3));
    // 640 x 480 with an exact full RAW stream.
    std::vector<uint8_t> raw(4800, BLOCK_RAW);
    raw.resize(4800 + 4800 * 128, 0x55);
    handle(video_frame_body(2, 640, 480, 4800 * 129, deflated(raw)));
    EXPECT_EQ(0x5555, pixel(639, 479));
}

TEST_F(VideoFrame, ShortBlockStreamKeepsWhatWasDrawnAndCountsAsValid) {
    handle(video_frame(1, 16, 8, std::vector<uint8_t>(WORKED.begin(), WORKED.end() - 1)));
    EXPECT_EQ(1, state.frame_valid.load());
    EXPECT_EQ(0x7C00, pixel(0, 0));   // block 0 drawn
    EXPECT_EQ(0x0000, pixel(8, 0));   // block 1 short: still black
    EXPECT_EQ(1u, state.frame_count.load());
}

TEST_F(VideoFrame, PicturesTooLargeOrEmptyHaveNoPixelsAndDoNoHarm) {
    handle(video_frame_body(1, 65535, 65535, 0xFFFFFFFFu, deflated(WORKED)));
    EXPECT_EQ(65535, state.remote_width.load());
    EXPECT_EQ(65535, state.remote_height.load());
    EXPECT_EQ(nullptr, frame_buffer.pixels);
    EXPECT_EQ(0, state.frame_valid.load());

    // A stream that inflates: nothing to draw into, but the frame is valid.
    handle(video_frame(2, 65535, 65535, WORKED));
    EXPECT_EQ(1, state.frame_valid.load());

    state.frame_valid.store(0);
    handle(video_frame(3, 0, 0, {}));
    EXPECT_EQ(0, state.remote_width.load());
    EXPECT_EQ(0, state.remote_height.load());
    EXPECT_EQ(nullptr, frame_buffer.pixels);
    EXPECT_EQ(1, state.frame_valid.load());
    handle(video_frame_body(4, 0, 0, 0xFFFFFFFFu, deflated(WORKED)));

    handle(video_frame(5, 16, 8, WORKED));
    ASSERT_NE(nullptr, frame_buffer.pixels);
    EXPECT_EQ(worked_pixel(13), pixel(13, 7));
    EXPECT_EQ(5u, state.frame_count.load());
    EXPECT_EQ(5u, notify_stub_frame_ready_count.load());
}

TEST(FrameBuffer, RecreationIsBlackAndSetsTheSize) {
    fresh_client_state();
    create_frame_buffer(640, 480);
    EXPECT_EQ(640, frame_buffer.pitch);
    for (size_t i = 0; i < size_t(640) * 480; i++) frame_buffer.pixels[i] = 0x7FFF;
    create_frame_buffer(320, 240);
    EXPECT_EQ(320, state.remote_width.load());
    EXPECT_EQ(240, state.remote_height.load());
    EXPECT_EQ(320, frame_buffer.pitch);
    for (size_t i = 0; i < size_t(320) * 240; i++) ASSERT_EQ(0, frame_buffer.pixels[i]);

    create_frame_buffer(641, 3);
    EXPECT_EQ(642, frame_buffer.pitch);
    for (size_t i = 0; i < size_t(642) * 3; i++) ASSERT_EQ(0, frame_buffer.pixels[i]);
}

TEST(FrameBuffer, PixelMemoryAboveTheBoundIsAFailedCreation) {
    fresh_client_state();
    // 2048 x 4096 x 2 bytes is exactly the bound; one row more is too much.
    create_frame_buffer(2048, 4096);
    EXPECT_NE(nullptr, frame_buffer.pixels);
    create_frame_buffer(2048, 4097);
    EXPECT_EQ(nullptr, frame_buffer.pixels);
    EXPECT_EQ(nullptr, frame_buffer.bitmap);
    EXPECT_EQ(2048, state.remote_width.load());
    EXPECT_EQ(4097, state.remote_height.load());
    create_frame_buffer(-5, 10);
    EXPECT_EQ(nullptr, frame_buffer.pixels);
    create_frame_buffer(640, 480);
    EXPECT_NE(nullptr, frame_buffer.bitmap);
}

}  // namespace
