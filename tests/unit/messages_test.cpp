// What each server message does to the client state, and VideoFrame pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#ifndef _WIN32
#include <sys/mman.h>
#endif

#include "core/client_text.h"
#include "core/notify_stub.h"
#include "link/messages.h"
#include "link/wire.h"
#include "media/audio.h"
#include "media/audio_device_stub.h"
#include "media/codec.h"
#include "media/frame_buffer.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"
#include "tests/support/video_frames.h"

namespace {

std::string load(const char* text, int capacity = STATUS_TEXT_SIZE) {
    char copy[STATUS_TEXT_SIZE];
    text_load(copy, capacity, text);
    return copy;
}
Bytes text_payload(uint8_t slot, const std::string& text) { return Bytes(1, slot) + Bytes(text.begin(), text.end()); }
Bytes stream_setup(uint16_t width, uint16_t height, const std::string& text) {
    Bytes p = Bytes{0xEE, 0xEE, uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8)} + Bytes(7, 0) + Bytes(text.begin(), text.end());
    return p.resize(45 > p.size() ? 45 : p.size(), 0), p;
}
const Bytes WORKED = hx("01 02 00 7c 00 00 ff 7f 0f 0f 0f 0f 0f 0f 0f 0f");  // 16 x 8: red, then black/white

class Messages : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        create_frame_buffer(640, 480);
        changed = notify_stub_state_changed_count.load();
        frames = notify_stub_frame_ready_count.load();
    }
    void TearDown() override { audio_open(0, 0); }
    // Natively the payload ends where an unreadable page begins: a read one byte past it crashes.
    void handle(uint8_t type, const Bytes& payload) {
#ifdef _WIN32
        Bytes copy = payload;
        handle_message(type, copy.data(), uint32_t(copy.size()));
#else
        const size_t page = 65536, span = (payload.size() / page + 1) * page;
        uint8_t* base = static_cast<uint8_t*>(mmap(nullptr, span + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ASSERT_TRUE(base != MAP_FAILED && mprotect(base + span, page, PROT_NONE) == 0);
        std::copy(payload.begin(), payload.end(), base + span - payload.size());
        handle_message(type, base + span - payload.size(), uint32_t(payload.size()));
        munmap(base, span + page);
#endif
    }
    uint32_t notices() const { return notify_stub_state_changed_count.load() - changed; }
    uint32_t frame_notices() const { return notify_stub_frame_ready_count.load() - frames; }
    uint16_t pixel(int x, int y) const { return frame_buffer.pixels[size_t(y) * frame_buffer.pitch + x]; }
    void paint_all(uint16_t colour) {
        for (size_t i = 0; i < size_t(frame_buffer.pitch) * state.remote_height.load(); i++) frame_buffer.pixels[i] = colour;
    }
    uint32_t changed = 0, frames = 0;
};

}  // namespace

TEST_F(Messages, StreamSetupStreamStateAndPong) {
    state.frame_valid.store(1);
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, "Startar \xC3\xA5tta"));
    EXPECT_EQ(state.remote_width.load() * 1000 + state.remote_height.load() + state.frame_valid.load(), 64048);
    EXPECT_EQ(load(state.status_text), "Startar \xE5tta");
    frame_buffer.pixels[5] = 0x1234;
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, std::string("ab\0cd", 5)));  // the same size keeps the picture
    EXPECT_EQ(frame_buffer.pixels[5] * 1000 + load(state.status_text).size(), 0x1234 * 1000 + 2u);
    handle(MSG_STREAM_SETUP, stream_setup(64, 50, std::string(40, 'z')));  // another height: black
    EXPECT_EQ(load(state.status_text) + std::to_string(frame_buffer.pixels[5]), std::string(32, 'z') + "0");
    handle(MSG_STREAM_SETUP, hx("ee ee 7b 00 2d 00") + Bytes(38, 0));  // 123 x 45, a byte short
    EXPECT_EQ(state.remote_width.load() * 10 + int(notices() + frame_notices()), 640);  // shown at the next repaint
    state.frame_valid.store(1);
    handle(MSG_STREAM_STATE, hx("01 00 03"));
    EXPECT_EQ(state.frame_valid.load(), 1);
    handle(MSG_STREAM_STATE, hx("00 ff c8 09"));  // the menu hides the picture
    EXPECT_EQ(state.stream_mode.load() * 1000000 + state.pointer_mode.load() * 1000 + state.app_kind.load() + state.frame_valid.load(), 255200);
    handle(MSG_STREAM_STATE, hx("01 01"));  // too short: only repaints
    EXPECT_EQ(state.stream_mode.load() * 10 + int(notices()), 3);
    uint8_t p[4];
    put_u32le(p, tick_count() - 40);
    handle(MSG_PONG, {p[0], p[1], p[2], p[3], 0xFF});
    EXPECT_TRUE(state.ping_ms.load() >= 40u && state.ping_ms.load() < 5040u) << state.ping_ms.load();
    handle(MSG_PONG, {p[0], p[1], p[2]});  // too short
    put_u32le(p, tick_count() + 10);       // from "the future": wraps
    EXPECT_LT(state.ping_ms.load(), 5040u);
    handle(MSG_PONG, {p[0], p[1], p[2], p[3]});
    EXPECT_GE(state.ping_ms.load(), 0xFFFFFFF6u);
}

TEST_F(Messages, AppListEntriesCountsAndSelection) {
    auto list = [](int count, int entries) {
        Bytes p = {uint8_t(count), uint8_t(count >> 8)};
        for (int i = 0; i < entries; i++) {
            std::string name = "App" + std::to_string(i);
            p = p + Bytes{uint8_t(100 + i), 0, uint8_t(i % 5), uint8_t(name.size())} + Bytes(name.begin(), name.end());
        }
        return p;
    };
    const struct { Bytes payload; int selected_before, count, selected_after; const char* last_name; } cases[] = {
        {hx("02 00 34 12 03 04 57 65 62 62 07 00 09 02 c3 85"), 0, 2, 0, "\xC5"}, {list(70, 70), 63, 64, 63, "App63"},
        {list(3, 2), 1, 2, 1, "App1"},  // announces more than it holds
        {list(1, 5), 0, 1, 0, "App0"},  // holds more than it announces
        {list(5, 5), 5, 5, 0, "App4"},  // a selection past the end goes back to 0
        {list(5, 5), 4, 5, 4, "App4"},
        {hx("05 00 01 00 00 32 61 62 63"), 0, 1, 0, "abc"},  // a name past the end: kept, the list ends
        {hx("05 00 01 00 00"), 2, 0, 0, ""},                  // a cut entry is no entry
        {hx("01 00 04 00 01 00"), 0, 1, 0, ""}, {hx("09"), 2, 0, 0, ""},
        {hx("01 00 01 00 00 c8") + Bytes(200, 'n'), 0, 1, 0, "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"},
        {hx("02 00 34 12 03 04 57 65 62 62 07 00 09 02 c3 85"), 0, 2, 0, "\xC5"},
    };
    for (const auto& c : cases) {
        state.app_selected.store(c.selected_before);
        handle(MSG_APP_LIST, c.payload);
        ASSERT_EQ(state.app_count.load(), c.count) << c.last_name;
        EXPECT_EQ(state.app_selected.load(), c.selected_after) << c.last_name;
        if (c.count > 0) { EXPECT_STREQ(state.apps[c.count - 1].name, c.last_name); }
    }
    EXPECT_EQ(notices(), 12u);  // every AppList posts
    EXPECT_EQ(state.apps[0].id * 100 + state.apps[0].kind, 0x1234 * 100 + 3);
    EXPECT_STREQ(state.apps[0].name, "Webb");
}

TEST_F(Messages, ServerTextsSoundAndUnknownTypes) {
    const struct { uint8_t slot; std::string text; char* field; int capacity; std::string shown; } texts[] = {
        {1, "http://example.se", state.web_address, WEB_ADDRESS_SIZE, "http://example.se"},
        {4, "1234", state.pin_text, PIN_TEXT_SIZE, "1234"}, {0, "noll", state.status_text, STATUS_TEXT_SIZE, "noll"},
        {2, "tv\xC3\xA5", state.status_text, STATUS_TEXT_SIZE, "tv\xE5"},
        {255, "sista", state.status_text, STATUS_TEXT_SIZE, "sista"},
        {4, std::string(40, '7'), state.pin_text, PIN_TEXT_SIZE, std::string(31, '7')},
        {3, std::string(300, 't'), state.title_text, TITLE_TEXT_SIZE, std::string(127, 't')},
        {1, std::string(600, 'w'), state.web_address, WEB_ADDRESS_SIZE, std::string(255, 'w')},
        {0, std::string(1000, 's'), state.status_text, STATUS_TEXT_SIZE, std::string(255, 's')},
        {4, "", state.pin_text, PIN_TEXT_SIZE, ""},
    };
    for (const auto& t : texts) {
        handle(MSG_SERVER_TEXT, text_payload(t.slot, t.text));
        EXPECT_EQ(load(t.field, t.capacity), t.shown) << int(t.slot);
    }
    EXPECT_EQ(load(state.web_address), std::string(255, 'w'));
    handle(MSG_SERVER_TEXT, {});  // nothing at all: no notice
    EXPECT_EQ(notices(), 10u);
    handle(MSG_SERVER_TEXT, text_payload(3, "Spel \xE2\x82\xAC"));
    EXPECT_EQ(load(notify_stub_window_title), "Quorvane! - Spel \x80");
    handle(MSG_SERVER_TEXT, text_payload(3, ""));  // empties the title, keeps the window's
    EXPECT_EQ(load(state.title_text) + load(notify_stub_window_title), "Quorvane! - Spel \x80");
    audio_stub_reset();
    audio_open(22050, 2);
    handle(MSG_AUDIO_DATA, hx("01 02 03 04 05"));
    handle(MSG_AUDIO_DATA, {});
    ASSERT_EQ(audio_stub.queued.size(), 1u);
    EXPECT_EQ(audio_stub.queued[0].data, hx("01 02 03 04 05"));
    text_store(state.status_text, STATUS_TEXT_SIZE, "kvar");
    for (int type : {0, 8, 64, 76, 255}) handle(uint8_t(type), text_payload(0, "ny"));
    EXPECT_EQ(load(state.status_text) + std::to_string(notices() - 12 + frame_notices()), "kvar0");
}

TEST_F(Messages, VideoFramesDrawOnTopOfWhatIsThere) {
    paint_all(0x1234);
    handle(MSG_VIDEO_FRAME, video_frame(1, 16, 8, WORKED));  // a new size: black, then drawn
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++) ASSERT_EQ(pixel(x, y), x < 8 ? 0x7C00 : x < 12 ? 0x7FFF : 0) << x;
    EXPECT_EQ(state.frame_valid.load() * 100 + frame_buffer.pitch, 116);
    paint_all(0x1111);  // the same size keeps the picture: SKIP shows it
    handle(MSG_VIDEO_FRAME, video_frame(2, 16, 8, hx("00 01 1f 00")));
    EXPECT_EQ(pixel(7, 7) * 0x10000u + pixel(8, 0), 0x1111001Fu);
    handle(MSG_VIDEO_FRAME, video_frame(3, 641, 9, hx("01 00 00 00")));  // a short stream: what was drawn
    EXPECT_EQ(state.frame_valid.load() * 1000 + frame_buffer.pitch, 1642);
    handle(MSG_VIDEO_FRAME, video_frame(3, 24, 8, hx("01 00 00 00 7c")));
    for (int x = 0; x < 24; x++) EXPECT_EQ(x < 8 ? 0x7C00 : 0, pixel(x, 7)) << x;
    Bytes raw = Bytes(4800, BLOCK_RAW) + Bytes(4800 * 128, 0x55);  // the longest raw_size taken
    handle(MSG_VIDEO_FRAME, video_frame_body(4, 633, 473, 4800 * 129, deflated(raw)));  // 80 x 60 blocks, cut
    EXPECT_EQ(pixel(632, 472), 0x5555);
    handle(MSG_VIDEO_FRAME, Bytes(16));  // not a frame
    EXPECT_EQ(state.frame_count.load() * 10 + frame_notices(), 55u);
}

TEST_F(Messages, FramesThatDoNotInflateAreCountedButNotDrawn) {
    Bytes valid = deflated(WORKED), cut(valid.begin(), valid.end() - 3);
    const Bytes bodies[] = {
        video_frame_body(1, 16, 8, 16, {}), video_frame_body(2, 16, 8, 16, hx("12 34 56 78 9a")),
        video_frame_body(3, 16, 8, 16, cut), video_frame_body(4, 16, 8, 15, valid),  // raw_size one short
        video_frame_body(5, 16, 8, 0, valid), video_frame_body(6, 16, 8, 0xFFFFFFFFu, valid),  // wraps
        video_frame_body(7, 16, 8, 0xFFFFF000u, valid), video_frame_body(8, 16, 8, 1u << 20, valid),  // beyond the picture
    };
    uint32_t handled = 0;
    for (const Bytes& body : bodies) {
        create_frame_buffer(16, 8);
        paint_all(0x2222);
        handle(MSG_VIDEO_FRAME, body);
        EXPECT_EQ(state.frame_valid.load() + pixel(0, 0) + pixel(15, 7), 0x4444) << body[0];
        EXPECT_EQ(state.frame_count.load() * 100 + frame_notices(), ++handled * 101);
    }
    handle(MSG_VIDEO_FRAME, video_frame_body(9, 65535, 65535, 0xFFFFFFFFu, valid));  // too large: no pixels
    EXPECT_EQ(frame_buffer.pixels, nullptr);
    EXPECT_EQ(state.frame_valid.load(), 0);
    handle(MSG_VIDEO_FRAME, video_frame(10, 0, 0, {}));
    EXPECT_EQ(state.remote_width.load() + state.remote_height.load() + state.frame_valid.load(), 1);
    handle(MSG_VIDEO_FRAME, video_frame(11, 16, 8, WORKED));
    EXPECT_EQ(pixel(13, 7), 0);
}

TEST(FrameBuffer, BlackAtEveryCreationAndBounded) {
    fresh_client_state();
    const int sizes[][3] = {{640, 480, 640}, {320, 240, 320}, {641, 3, 642}, {2048, 4096, 2048}};
    for (const auto& s : sizes) {
        create_frame_buffer(s[0], s[1]);
        ASSERT_NE(frame_buffer.pixels, nullptr);
        EXPECT_EQ(frame_buffer.pitch, s[2]);
        for (size_t i = 0; i < size_t(s[2]) * s[1]; i++) ASSERT_EQ(frame_buffer.pixels[i], 0);
        for (size_t i = 0; i < size_t(s[2]) * s[1]; i++) frame_buffer.pixels[i] = 0x7FFF;
    }
    create_frame_buffer(2048, 4097);  // one row beyond the bound
    EXPECT_EQ(frame_buffer.bitmap, nullptr);
    EXPECT_EQ(state.remote_height.load(), 4097);
    create_frame_buffer(-5, 10);
    EXPECT_EQ(frame_buffer.pixels, nullptr);
}
