// Client message layouts, readers of server layouts, and the wire's text conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "link/wire.h"
#include "link/wire_text.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"

namespace {

Bytes built(const std::function<int(uint8_t*)>& build) {
    uint8_t p[WEB_ADDRESS_MAX + 8];
    std::memset(p, 0xEE, sizeof p);
    int n = build(p);
    EXPECT_EQ(p[n], 0xEE);  // nothing written past the length
    return Bytes(p, p + n);
}

}  // namespace

TEST(Wire, ClientMessagesByteForByte) {
    GamepadState pad = {{-32768, 32767, 0, 1, -1, 256}, 0x80000001u, 65535};
    settings_reset_defaults();
    Settings s = settings, odd = settings;
    std::strcpy(s.namn, "WIN98");
    odd.bredd = 0x12345, odd.hojd = 0x1FFFF, odd.fps = 0x1FF, odd.ljudfrekvens = 44100, odd.ljud = 0;
    std::memset(odd.namn, 'n', 32);  // cut to 29 bytes
    std::strcpy(odd.nyckel, "\xC5\x80");
    std::string long_text(1000, 'w'), euros(300, '\x80');
    Bytes euro_signs = hx("00");
    for (int i = 0; i < 169; i++) euro_signs = euro_signs + hx("e2 82 ac");
    const struct { std::function<int(uint8_t*)> build; Bytes bytes; } cases[] = {
        {[](uint8_t* p) { return build_launch_app(p, 7); }, hx("07 00")},
        {[](uint8_t* p) { return build_frame_ack(p, 258); }, hx("02 01 00 00")},
        {[](uint8_t* p) { return build_key(p, 0x25, 0x14B, 1); }, hx("25 4b 01 01")},
        {[](uint8_t* p) { return build_char(p, 0x20AC); }, hx("ac 20")},
        {[](uint8_t* p) { return build_mouse_delta(p, -2, 300); }, hx("fe ff 2c 01")},
        {[](uint8_t* p) { return build_mouse_pos(p, 639, 479); }, hx("7f 02 df 01")},
        {[](uint8_t* p) { return build_mouse_button(p, 3, 0); }, hx("03 00")},
        {[](uint8_t* p) { return build_mouse_wheel(p, -120); }, hx("88 ff")},
        {[](uint8_t* p) { return build_ping(p, 0xA1B2C3D4u); }, hx("d4 c3 b2 a1")},
        {[&](uint8_t* p) { return build_gamepad(p, &pad); }, hx("00 80 ff 7f 00 00 01 00 ff ff 00 01 01 00 00 80 ff ff")},
        {[](uint8_t* p) { return build_web_address(p, "http://a.se/\xE5"); }, hx("00 68 74 74 70 3a 2f 2f 61 2e 73 65 2f c3 a5")},
        {[&](uint8_t* p) { return build_web_address(p, long_text.c_str()); }, hx("00") + Bytes(507, 'w')},  // 509 bytes at most
        {[&](uint8_t* p) { return build_web_address(p, euros.c_str()); }, euro_signs},  // whole characters
        {[&](uint8_t* p) { return build_hello(&s, p); },
         hx("51 56 39 38 01 00 80 02 e0 01 1e 22 56 00 00 02 57 49 4e 39 38") + Bytes(59, 0)},
        {[&](uint8_t* p) { return build_hello(&odd, p); },
         hx("51 56 39 38 01 00 45 23 ff ff ff 00 00 00 00 02") + Bytes(29, 'n') + Bytes(3, 0) + hx("c3 85 e2 82 ac") + Bytes(27, 0)},
    };
    for (const auto& c : cases) EXPECT_EQ(built(c.build), c.bytes);
}

TEST(Wire, ServerLayoutsAndShortPayloads) {
    Bytes setup = hx("00 00 20 03 58 02 00 44 ac 00 00 02 00 4f") + Bytes(31, 0);
    StreamSetupFields f;
    ASSERT_EQ(read_stream_setup(setup.data(), 45, &f) * 10 + read_stream_setup(setup.data(), 44, &f), 10);
    EXPECT_EQ(std::to_string(f.width) + " " + std::to_string(f.height) + " " + std::to_string(f.sample_rate) + " " +
                  std::to_string(f.channels), "800 600 44100 2");
    EXPECT_EQ(f.text, setup.data() + 13);
    Bytes st = hx("01 00 03"), pong = hx("78 56 34 12");
    StreamStateFields s;
    ASSERT_EQ(read_stream_state(st.data(), 3, &s) * 10 + read_stream_state(st.data(), 2, &s), 10);
    EXPECT_EQ(s.stream_mode * 100 + s.pointer_mode * 10 + s.app_kind, 103);
    uint32_t v = 0;
    ASSERT_EQ(read_pong(pong.data(), 4, &v) * 10 + read_pong(pong.data(), 3, &v), 10);
    EXPECT_EQ(v, 0x12345678u);
    Bytes frame = hx("02 01 00 00 0a 00 0b 00 99 40 01 00 00 00 00 00 00 00 00 00");
    VideoFrameHeader h;
    ASSERT_EQ(read_video_frame_header(frame.data(), 20, &h) * 10 + read_video_frame_header(frame.data(), 16, &h), 10);
    EXPECT_EQ(std::to_string(h.frame_id) + " " + std::to_string(h.width) + " " + std::to_string(h.height) + " " +
                  std::to_string(h.raw_size) + " " + std::to_string(h.compressed_length), "258 10 11 320 3");
    EXPECT_EQ(h.compressed, frame.data() + 17);
}

TEST(Wire, TextsBothWays) {
    const struct { std::string text; int limit; Bytes bytes; } out[] = {
        {"\xC5sa", 32, hx("c3 85 73 61")}, {"\x80", 32, hx("e2 82 ac")}, {"\x81\xFF", 32, hx("c2 81 c3 bf")},
        {"abc", 3, {}}, {"abc", 4, hx("61")}, {std::string(28, 'a') + "\x80", 32, Bytes(28, 'a') + hx("e2 82 ac")},
        {std::string(29, 'a') + "\x80", 32, Bytes(29, 'a')},  // a character begun only when it fits
    };
    for (const auto& c : out) EXPECT_EQ(built([&](uint8_t* p) { return to_wire_text(c.text.c_str(), p, c.limit); }), c.bytes);
    const struct { Bytes bytes; int capacity; std::string text; uint32_t consumed; } in[] = {
        {hx("e2 82 ac 41 42"), 3, "\x80" "A", 4}, {hx("c3 a5"), 256, "\xE5", 2}, {hx("e2 9c 93"), 256, "?", 3},
        {hx("f0 9f 98 80 41"), 256, "?A", 5},     {hx("41 c3"), 256, "A?", 2},   {hx("80 81 bf 42"), 256, "?B", 4},
        {hx("c3 41 42"), 256, "\xC1" "B", 3},     {hx("c4 80"), 256, "?", 2},    {hx("78 78"), 1, "", 0},
    };
    for (const auto& c : in) {
        char text[260];
        std::memset(text, '#', sizeof text);
        EXPECT_EQ(from_wire_text(c.bytes.data(), uint32_t(c.bytes.size()), text, c.capacity), c.consumed);
        EXPECT_EQ(text + std::string(1, text[c.capacity]), c.text + "#");
    }
    char cut[8];  // a character cut by the end of the text: nothing read beyond it
    EXPECT_EQ(std::to_string(from_wire_text(hx("41 e2 82 ac").data(), 3, cut, 8)) + cut, "3A?");
}
