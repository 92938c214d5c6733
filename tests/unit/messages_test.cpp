// handle_message: what each server message does to the client state, the
// notifications it gives the window thread, and hostile payloads.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/client_state.h"
#include "core/client_text.h"
#include "core/notify_stub.h"
#include "link/messages.h"
#include "link/wire.h"
#include "media/audio.h"
#include "media/audio_device_stub.h"
#include "media/frame_buffer.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"

namespace {

std::string load(const char* text, int capacity) {
    std::vector<char> copy(static_cast<size_t>(capacity));
    text_load(copy.data(), capacity, text);
    return copy.data();
}
std::string status() { return load(state.status_text, STATUS_TEXT_SIZE); }
std::string window_title() { return load(notify_stub_window_title, 256); }

void handle(uint8_t type, const std::vector<uint8_t>& payload) {
    // A private copy of exactly the payload's size, so that reading past
    // its end is caught by the address sanitizer.
    uint8_t* copy = static_cast<uint8_t*>(std::malloc(payload.size() + 1));
    if (!payload.empty()) std::memcpy(copy, payload.data(), payload.size());
    handle_message(type, copy, static_cast<uint32_t>(payload.size()));
    std::free(copy);
}

std::vector<uint8_t> stream_setup(uint16_t width, uint16_t height, int32_t rate, uint8_t channels,
                                  const std::string& text) {
    std::vector<uint8_t> p(45, 0xEE);  // the unread bytes hold junk
    p[2] = static_cast<uint8_t>(width);
    p[3] = static_cast<uint8_t>(width >> 8);
    p[4] = static_cast<uint8_t>(height);
    p[5] = static_cast<uint8_t>(height >> 8);
    put_u32le(&p[7], static_cast<uint32_t>(rate));
    p[11] = channels;
    for (int i = 0; i < 32; i++) p[13 + i] = i < static_cast<int>(text.size()) ? text[i] : 0;
    return p;
}

std::vector<uint8_t> server_text(uint8_t slot, const std::string& text) {
    std::vector<uint8_t> p(1 + text.size());
    p[0] = slot;
    std::memcpy(p.data() + 1, text.data(), text.size());
    return p;
}

// An AppList of `entries` entries named "App<i>", announcing `count`.
std::vector<uint8_t> app_list(uint16_t count, int entries) {
    std::vector<uint8_t> p = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)};
    for (int i = 0; i < entries; i++) {
        std::string name = "App" + std::to_string(i);
        p.push_back(static_cast<uint8_t>(100 + i));
        p.push_back(static_cast<uint8_t>(i >> 8));
        p.push_back(static_cast<uint8_t>(i % 5));
        p.push_back(static_cast<uint8_t>(name.size()));
        p.insert(p.end(), name.begin(), name.end());
    }
    return p;
}

class HandleMessage : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        settings_reset_defaults();
        text_store(notify_stub_window_title, 256, "");
        changed = notify_stub_state_changed_count.load();
        frames = notify_stub_frame_ready_count.load();
    }
    uint32_t state_notices() const { return notify_stub_state_changed_count.load() - changed; }
    uint32_t frame_notices() const { return notify_stub_frame_ready_count.load() - frames; }
    uint32_t changed = 0;
    uint32_t frames = 0;
};

}  // namespace

TEST_F(HandleMessage, StreamSetupOfNewSizeRecreatesBufferOpensAudioAndHidesPicture) {
    state.frame_valid.store(1);
    handle(MSG_STREAM_SETUP, stream_setup(320, 200, 11025, 1, "Startar \xC3\xA5tta"));
    EXPECT_EQ(state.remote_width.load(), 320);
    EXPECT_EQ(state.remote_height.load(), 200);
    EXPECT_NE(frame_buffer.bitmap, nullptr);
    EXPECT_EQ(status(), "Startar \xE5tta");
    EXPECT_EQ(state.frame_valid.load(), 0);
    EXPECT_EQ(audio_is_open(), 1);
    EXPECT_EQ(audio_current_rate(), 11025);
    EXPECT_EQ(audio_current_channels(), 1);
    EXPECT_EQ(state_notices(), 0u);  // shown at the next repaint
    EXPECT_EQ(frame_notices(), 0u);
}

TEST_F(HandleMessage, StreamSetupOfCurrentSizeKeepsTheFrameBuffer) {
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, 22050, 2, "a"));
    ASSERT_NE(frame_buffer.pixels, nullptr);
    frame_buffer.pixels[5] = 0x1234;
    uint16_t* pixels = frame_buffer.pixels;
    state.frame_valid.store(1);
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, 22050, 2, "b"));
    EXPECT_EQ(frame_buffer.pixels, pixels);
    EXPECT_EQ(frame_buffer.pixels[5], 0x1234);
    EXPECT_EQ(state.frame_valid.load(), 0);  // hidden until the next frame
    EXPECT_EQ(status(), "b");
    EXPECT_EQ(audio_is_open(), 1);
    // Another height alone re-creates it black.
    handle(MSG_STREAM_SETUP, stream_setup(64, 50, 22050, 2, "c"));
    EXPECT_EQ(state.remote_height.load(), 50);
    ASSERT_NE(frame_buffer.pixels, nullptr);
    EXPECT_EQ(frame_buffer.pixels[5], 0);
}

TEST_F(HandleMessage, StreamSetupTooShortChangesNothing) {
    text_store(state.status_text, STATUS_TEXT_SIZE, "before");
    state.frame_valid.store(1);
    int32_t width = state.remote_width.load();
    std::vector<uint8_t> p = stream_setup(123, 45, 8000, 1, "after");
    p.resize(44);
    handle(MSG_STREAM_SETUP, p);
    EXPECT_EQ(status(), "before");
    EXPECT_EQ(state.frame_valid.load(), 1);
    EXPECT_EQ(state.remote_width.load(), width);
    EXPECT_EQ(state_notices(), 0u);
}

TEST_F(HandleMessage, StreamSetupAudioRules) {
    audio_open(0, 0);
    audio_stub_reset();
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, 22050, 2, ""));
    EXPECT_EQ(audio_is_open(), 1);
    EXPECT_EQ(audio_stub.open_count, 1);
    // The same format again keeps the open device as it is.
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, 22050, 2, "x"));
    EXPECT_EQ(audio_stub.open_count, 1);
    EXPECT_EQ(audio_stub.open, 1);
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, 44100, 2, ""));
    EXPECT_EQ(audio_current_rate(), 44100);
    EXPECT_EQ(audio_stub.open_count, 2);
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, 44100, 1, ""));
    EXPECT_EQ(audio_current_channels(), 1);
    EXPECT_EQ(audio_stub.channels, 1);
    EXPECT_EQ(audio_stub.open_count, 3);
    // No audio in the stream: the device closes and none opens.
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, 0, 1, ""));
    EXPECT_EQ(audio_is_open(), 0);
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, -8000, 1, ""));
    EXPECT_EQ(audio_is_open(), 0);
    // Sound switched off: never opened.
    settings.ljud = 0;
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, 22050, 2, ""));
    EXPECT_EQ(audio_is_open(), 0);
    settings.ljud = 1;
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, 22050, 2, ""));
    EXPECT_EQ(audio_is_open(), 1);
    audio_open(0, 0);  // leave no device open for later tests
}

TEST_F(HandleMessage, StreamSetupTextEndsAtFirstZeroAndIsAlways32Bytes) {
    std::vector<uint8_t> p = stream_setup(64, 48, 0, 1, std::string(32, 'z'));
    p.resize(60, 'q');  // bytes after the text are ignored
    handle(MSG_STREAM_SETUP, p);
    EXPECT_EQ(status(), std::string(32, 'z'));
    handle(MSG_STREAM_SETUP, stream_setup(64, 48, 0, 1, std::string("ab\0cd", 5)));
    EXPECT_EQ(status(), "ab");
}

TEST_F(HandleMessage, AppListFillsEntries) {
    std::vector<uint8_t> p = {2, 0, 0x34, 0x12, 3, 4, 'W', 'e', 'b', 'b', 7, 0, 9, 2, 0xC3, 0x85};
    handle(MSG_APP_LIST, p);
    ASSERT_EQ(state.app_count.load(), 2);
    EXPECT_EQ(state.apps[0].id, 0x1234);
    EXPECT_EQ(state.apps[0].kind, 3);
    EXPECT_STREQ(state.apps[0].name, "Webb");
    EXPECT_EQ(state.apps[1].id, 7);
    EXPECT_EQ(state.apps[1].kind, 9);
    EXPECT_STREQ(state.apps[1].name, "\xC5");
    EXPECT_EQ(state_notices(), 1u);
}

TEST_F(HandleMessage, AppListCountsAndClamping) {
    handle(MSG_APP_LIST, app_list(70, 70));
    EXPECT_EQ(state.app_count.load(), 64);
    EXPECT_STREQ(state.apps[63].name, "App63");

    handle(MSG_APP_LIST, app_list(3, 2));  // announces more than it holds
    EXPECT_EQ(state.app_count.load(), 2);

    handle(MSG_APP_LIST, app_list(1, 5));  // holds more than it announces
    EXPECT_EQ(state.app_count.load(), 1);

    state.app_selected.store(7);
    handle(MSG_APP_LIST, app_list(5, 5));
    EXPECT_EQ(state.app_selected.load(), 0);
    state.app_selected.store(3);
    handle(MSG_APP_LIST, app_list(5, 5));
    EXPECT_EQ(state.app_selected.load(), 3);
    state.app_selected.store(5);
    handle(MSG_APP_LIST, app_list(5, 5));
    EXPECT_EQ(state.app_selected.load(), 0);

    state.app_selected.store(2);
    handle(MSG_APP_LIST, {9});  // 1 byte: the list empties
    EXPECT_EQ(state.app_count.load(), 0);
    EXPECT_EQ(state.app_selected.load(), 0);
    handle(MSG_APP_LIST, {});
    EXPECT_EQ(state.app_count.load(), 0);
    EXPECT_EQ(state_notices(), 8u);  // every AppList posts
}

TEST_F(HandleMessage, AppListNamesAreCutAndTruncatedEntriesEndTheList) {
    // A 200-byte name keeps 63 characters.
    std::vector<uint8_t> p = {2, 0, 1, 0, 0, 200};
    p.insert(p.end(), 200, 'n');
    p.insert(p.end(), {2, 0, 0, 1, 'x'});
    handle(MSG_APP_LIST, p);
    ASSERT_EQ(state.app_count.load(), 2);
    EXPECT_EQ(std::string(state.apps[0].name), std::string(63, 'n'));
    EXPECT_STREQ(state.apps[1].name, "x");

    // A name running past the payload: the rest is decoded, the list ends.
    handle(MSG_APP_LIST, {5, 0, 1, 0, 0, 50, 'a', 'b', 'c'});
    ASSERT_EQ(state.app_count.load(), 1);
    EXPECT_STREQ(state.apps[0].name, "abc");
    // Fewer than 4 bytes of an entry: no entry.
    handle(MSG_APP_LIST, {5, 0, 1, 0, 0});
    EXPECT_EQ(state.app_count.load(), 0);
    // A zero-length name.
    handle(MSG_APP_LIST, {1, 0, 4, 0, 1, 0});
    ASSERT_EQ(state.app_count.load(), 1);
    EXPECT_STREQ(state.apps[0].name, "");
    EXPECT_EQ(state.apps[0].id, 4);
}

TEST_F(HandleMessage, StreamStateSetsModesAndHidesPictureOnMenu) {
    state.frame_valid.store(1);
    handle(MSG_STREAM_STATE, {1, 0, 3});
    EXPECT_EQ(state.stream_mode.load(), 1);
    EXPECT_EQ(state.pointer_mode.load(), 0);
    EXPECT_EQ(state.app_kind.load(), 3);
    EXPECT_EQ(state.frame_valid.load(), 1);
    handle(MSG_STREAM_STATE, {0, 255, 200, 9, 9});
    EXPECT_EQ(state.stream_mode.load(), 0);
    EXPECT_EQ(state.pointer_mode.load(), 255);
    EXPECT_EQ(state.app_kind.load(), 200);
    EXPECT_EQ(state.frame_valid.load(), 0);
    handle(MSG_STREAM_STATE, {255, 1, 1});
    EXPECT_EQ(state.stream_mode.load(), 255);
    EXPECT_EQ(state_notices(), 3u);
}

TEST_F(HandleMessage, ShortStreamStateChangesNothingButRepaints) {
    state.stream_mode.store(1);
    state.frame_valid.store(1);
    handle(MSG_STREAM_STATE, {0, 0});
    handle(MSG_STREAM_STATE, {});
    EXPECT_EQ(state.stream_mode.load(), 1);
    EXPECT_EQ(state.frame_valid.load(), 1);
    EXPECT_EQ(state_notices(), 2u);
}

TEST_F(HandleMessage, ServerTextSlots) {
    handle(MSG_SERVER_TEXT, server_text(1, "http://example.se"));
    handle(MSG_SERVER_TEXT, server_text(4, "1234"));
    handle(MSG_SERVER_TEXT, server_text(0, "noll"));
    EXPECT_EQ(load(state.web_address, WEB_ADDRESS_SIZE), "http://example.se");
    EXPECT_EQ(load(state.pin_text, PIN_TEXT_SIZE), "1234");
    EXPECT_EQ(status(), "noll");
    for (int slot : {2, 5, 255}) {
        handle(MSG_SERVER_TEXT, server_text(static_cast<uint8_t>(slot), "slot" + std::to_string(slot)));
        EXPECT_EQ(status(), "slot" + std::to_string(slot));
    }
    EXPECT_EQ(load(state.web_address, WEB_ADDRESS_SIZE), "http://example.se");
    EXPECT_EQ(load(state.pin_text, PIN_TEXT_SIZE), "1234");
    EXPECT_EQ(state_notices(), 6u);
}

TEST_F(HandleMessage, ServerTextIsCutToItsSlot) {
    handle(MSG_SERVER_TEXT, server_text(4, std::string(40, '7')));
    EXPECT_EQ(load(state.pin_text, PIN_TEXT_SIZE), std::string(31, '7'));
    handle(MSG_SERVER_TEXT, server_text(3, std::string(300, 't')));
    EXPECT_EQ(load(state.title_text, TITLE_TEXT_SIZE), std::string(127, 't'));
    handle(MSG_SERVER_TEXT, server_text(1, std::string(600, 'w')));
    EXPECT_EQ(load(state.web_address, WEB_ADDRESS_SIZE), std::string(255, 'w'));
    handle(MSG_SERVER_TEXT, server_text(0, std::string(1000, 's')));
    EXPECT_EQ(status(), std::string(255, 's'));
    // Neighbouring fields are untouched.
    EXPECT_EQ(state.apps[0].id, 0);
    EXPECT_EQ(state.frame_valid.load(), 0);
}

TEST_F(HandleMessage, ServerTextTitleSetsWindowTitle) {
    handle(MSG_SERVER_TEXT, server_text(3, "Spel \xE2\x82\xAC"));
    EXPECT_EQ(load(state.title_text, TITLE_TEXT_SIZE), "Spel \x80");
    EXPECT_EQ(window_title(), "Quorvane! - Spel \x80");
    // An empty title empties title_text but leaves the window title.
    handle(MSG_SERVER_TEXT, {3});
    EXPECT_EQ(load(state.title_text, TITLE_TEXT_SIZE), "");
    EXPECT_EQ(window_title(), "Quorvane! - Spel \x80");
    // The longest title still fits the window title whole.
    handle(MSG_SERVER_TEXT, server_text(3, std::string(200, 'T')));
    EXPECT_EQ(window_title(), "Quorvane! - " + std::string(127, 'T'));
}

TEST_F(HandleMessage, ServerTextEmptyAndSlotOnly) {
    text_store(state.pin_text, PIN_TEXT_SIZE, "5555");
    text_store(state.status_text, STATUS_TEXT_SIZE, "kvar");
    handle(MSG_SERVER_TEXT, {});  // nothing at all
    EXPECT_EQ(status(), "kvar");
    EXPECT_EQ(state_notices(), 0u);
    handle(MSG_SERVER_TEXT, {4});  // slot byte only: empties the PIN
    EXPECT_EQ(load(state.pin_text, PIN_TEXT_SIZE), "");
    EXPECT_EQ(status(), "kvar");
    EXPECT_EQ(state_notices(), 1u);
}

TEST_F(HandleMessage, PongMeasuresPing) {
    uint32_t sent = tick_count() - 40;
    uint8_t p[4];
    put_u32le(p, sent);
    handle(MSG_PONG, {p[0], p[1], p[2], p[3], 0xFF});
    EXPECT_GE(state.ping_ms.load(), 40u);
    EXPECT_LT(state.ping_ms.load(), 40u + 5000u);
    // The difference is unsigned: a value from "the future" wraps.
    put_u32le(p, tick_count() + 10);
    handle(MSG_PONG, {p[0], p[1], p[2], p[3]});
    EXPECT_GE(state.ping_ms.load(), 0xFFFFFFF6u);
    state.ping_ms.store(77);
    handle(MSG_PONG, {p[0], p[1], p[2]});  // too short: ignored
    EXPECT_EQ(state.ping_ms.load(), 77u);
    EXPECT_EQ(state_notices(), 0u);
}

TEST_F(HandleMessage, VideoAndAudioAreHandedOn) {
    uint32_t count = state.frame_count.load();
    std::vector<uint8_t> frame(17, 0);
    handle(MSG_VIDEO_FRAME, frame);  // undecodable, still counted and announced
    EXPECT_EQ(state.frame_count.load(), count + 1);
    EXPECT_EQ(frame_notices(), 1u);
    handle(MSG_VIDEO_FRAME, std::vector<uint8_t>(16, 0));  // too short: ignored
    EXPECT_EQ(state.frame_count.load(), count + 1);
    EXPECT_EQ(frame_notices(), 1u);
    audio_open(0, 0);
    audio_stub_reset();
    audio_open(22050, 2);
    ASSERT_EQ(audio_is_open(), 1);
    std::vector<uint8_t> samples(100);
    for (size_t i = 0; i < samples.size(); i++) samples[i] = static_cast<uint8_t>(i);
    handle(MSG_AUDIO_DATA, samples);
    handle(MSG_AUDIO_DATA, {});
    ASSERT_EQ(audio_stub.queued.size(), 1u);
    EXPECT_EQ(audio_stub.queued[0].data, samples);
    EXPECT_EQ(state_notices(), 0u);
    audio_open(0, 0);
}

TEST_F(HandleMessage, UnknownTypesAreIgnored) {
    text_store(state.status_text, STATUS_TEXT_SIZE, "kvar");
    for (int type : {0, 8, 64, 76, 255}) {
        handle(static_cast<uint8_t>(type), server_text(0, "ny"));
        handle(static_cast<uint8_t>(type), {});
    }
    EXPECT_EQ(status(), "kvar");
    EXPECT_EQ(state_notices(), 0u);
    EXPECT_EQ(frame_notices(), 0u);
}

TEST_F(HandleMessage, RandomHostilePayloadsKeepStateSound) {
    // Random types and bytes (no VideoFrames: the codec has its own tests;
    // StreamSetup sizes kept small so the frame buffer stays cheap).
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int round = 0; round < 20000; round++) {
        uint8_t type = static_cast<uint8_t>(next() % 9);
        if (type == MSG_VIDEO_FRAME) type = MSG_APP_LIST;
        std::vector<uint8_t> p(next() % (round % 10 == 0 ? 2000 : 80));
        for (uint8_t& b : p) b = static_cast<uint8_t>(next());
        if (type == MSG_APP_LIST && p.size() >= 2 && next() % 2) p[1] = 0;  // plausible counts
        if (type == MSG_STREAM_SETUP && p.size() >= 6) {
            p[3] &= 0x01;
            p[5] &= 0x01;
        }
        state.app_selected.store(static_cast<int32_t>(next() % 70));
        handle(type, p);
        int32_t count = state.app_count.load();
        ASSERT_GE(count, 0);
        ASSERT_LE(count, APP_LIST_CAPACITY);
        for (int i = 0; i < count; i++) ASSERT_LT(std::strlen(state.apps[i].name), size_t{APP_NAME_SIZE});
        if (type == MSG_APP_LIST) {
            ASSERT_TRUE(state.app_selected.load() < count || state.app_selected.load() == 0);
        }
        ASSERT_LT(status().size(), size_t{STATUS_TEXT_SIZE});
        ASSERT_LT(load(state.pin_text, PIN_TEXT_SIZE).size(), size_t{PIN_TEXT_SIZE});
    }
    audio_open(0, 0);
}
