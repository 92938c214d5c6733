// Client message layouts byte for byte, the readers of server layouts, and
// the text conversions of the wire.
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
    for (size_t i = size_t(n); i < sizeof p; i++) EXPECT_EQ(p[i], 0xEE) << "written past " << n;
    return Bytes(p, p + n);
}

Bytes hello(const std::function<void(Settings*)>& change) {
    settings_reset_defaults();
    Settings s = settings;
    std::strcpy(s.namn, "WIN98");
    change(&s);
    return built([&](uint8_t* p) { return build_hello(&s, p); });
}

Bytes padded(const char* text, size_t size) {
    Bytes b = hx(text);
    b.resize(size, 0);
    return b;
}

}  // namespace

TEST(Wire, ClientMessagesByteForByte) {
    GamepadState pad = {{-32768, 32767, 0, 1, -1, 256}, 0x80000001u, 65535};
    const struct {
        std::function<int(uint8_t*)> build;
        const char* bytes;
    } cases[] = {
        {[](uint8_t* p) { return build_launch_app(p, 7); }, "07 00"},
        {[](uint8_t* p) { return build_frame_ack(p, 258); }, "02 01 00 00"},
        {[](uint8_t* p) { return build_key(p, 0x25, 0x14B, 1); }, "25 4b 01 01"},
        {[](uint8_t* p) { return build_char(p, 0x20AC); }, "ac 20"},
        {[](uint8_t* p) { return build_mouse_delta(p, -2, 300); }, "fe ff 2c 01"},
        {[](uint8_t* p) { return build_mouse_pos(p, 639, 479); }, "7f 02 df 01"},
        {[](uint8_t* p) { return build_mouse_button(p, 3, 0); }, "03 00"},
        {[](uint8_t* p) { return build_mouse_wheel(p, -120); }, "88 ff"},
        {[](uint8_t* p) { return build_ping(p, 0xA1B2C3D4u); }, "d4 c3 b2 a1"},
        {[&](uint8_t* p) { return build_gamepad(p, &pad); },
         "00 80 ff 7f 00 00 01 00 ff ff 00 01 01 00 00 80 ff ff"},
        {[](uint8_t* p) { return build_web_address(p, "http://a.se/\xE5"); },
         "00 68 74 74 70 3a 2f 2f 61 2e 73 65 2f c3 a5"},
    };
    for (const auto& c : cases) EXPECT_EQ(built(c.build), hx(c.bytes)) << c.bytes;
    // Cut to 509 bytes of text, whole characters only (169 euro signs).
    std::string long_text(1000, 'w'), euros(300, '\x80');
    EXPECT_EQ(built([&](uint8_t* p) { return build_web_address(p, long_text.c_str()); }).size(), 508u);
    EXPECT_EQ(built([&](uint8_t* p) { return build_web_address(p, euros.c_str()); }).size(), 508u);
}

TEST(Wire, HelloFromSettings) {
    EXPECT_EQ(hello([](Settings*) {}),
              padded("51 56 39 38 01 00 80 02 e0 01 1e 22 56 00 00 02 57 49 4e 39 38", 80));
    Bytes quiet = hello([](Settings* s) { s->ljud = 0; });
    EXPECT_EQ(Bytes(quiet.begin() + 11, quiet.begin() + 15), hx("00 00 00 00"));
    // Low bits of oversized numbers; name cut to 29 bytes, key converted.
    Bytes odd = hello([](Settings* s) {
        s->bredd = 0x12345, s->hojd = 0x1FFFF, s->fps = 0x1FF, s->ljudfrekvens = 44100;
        std::memset(s->namn, 'n', 32);
        std::strcpy(s->nyckel, "\xC5\x80");
    });
    EXPECT_EQ(Bytes(odd.begin() + 6, odd.begin() + 16), hx("45 23 ff ff ff 44 ac 00 00 02"));
    Bytes name(29, 'n');
    name.resize(32, 0);
    EXPECT_EQ(Bytes(odd.begin() + 16, odd.begin() + 48), name);
    EXPECT_EQ(Bytes(odd.begin() + 48, odd.end()), padded("c3 85 e2 82 ac", 32));
}

TEST(Wire, ServerLayoutsAndShortPayloads) {
    Bytes setup = padded("00 00 20 03 58 02 00 44 ac 00 00 02 00 4f", 45);
    StreamSetupFields f;
    ASSERT_EQ(read_stream_setup(setup.data(), 45, &f), 1);
    EXPECT_EQ(f.width, 800);
    EXPECT_EQ(f.height, 600);
    EXPECT_EQ(f.sample_rate, 44100);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.text, setup.data() + 13);
    EXPECT_EQ(read_stream_setup(setup.data(), 44, &f), 0);

    Bytes st = hx("01 00 03");
    StreamStateFields s;
    ASSERT_EQ(read_stream_state(st.data(), 3, &s), 1);
    EXPECT_EQ(s.stream_mode * 100 + s.pointer_mode * 10 + s.app_kind, 103);
    EXPECT_EQ(read_stream_state(st.data(), 2, &s), 0);

    Bytes pong = hx("78 56 34 12");
    uint32_t v = 0;
    ASSERT_EQ(read_pong(pong.data(), 4, &v), 1);
    EXPECT_EQ(v, 0x12345678u);
    EXPECT_EQ(read_pong(pong.data(), 3, &v), 0);

    Bytes frame = padded("02 01 00 00 0a 00 0b 00 99 40 01", 20);
    VideoFrameHeader h;
    ASSERT_EQ(read_video_frame_header(frame.data(), 20, &h), 1);
    EXPECT_EQ(h.frame_id, 258u);
    EXPECT_EQ(h.width * 100 + h.height, 1011);
    EXPECT_EQ(h.raw_size, 320u);
    EXPECT_EQ(h.compressed, frame.data() + 17);
    EXPECT_EQ(h.compressed_length, 3u);
    EXPECT_EQ(read_video_frame_header(frame.data(), 16, &h), 0);
}

TEST(WireText, ToWireCutsWholeCharactersBelowTheLimit) {
    const struct {
        std::string text;
        int limit;
        const char* bytes;
    } cases[] = {
        {"\xC5sa", 32, "c3 85 73 61"},  {"\x80", 32, "e2 82 ac"}, {"\x81\xFF", 32, "c2 81 c3 bf"},
        {"", 32, ""},                   {"abc", 3, ""},           {"abc", 1, ""},
        {"abc", 4, "61"},
    };
    for (const auto& c : cases) {
        uint8_t out[64];
        std::memset(out, 0xEE, sizeof out);
        int n = to_wire_text(c.text.c_str(), out, c.limit);
        EXPECT_EQ(Bytes(out, out + n), hx(c.bytes)) << c.bytes;
        EXPECT_EQ(out[n], 0xEE);
    }
    // 28 bytes and a euro sign fit the limit 32 (31 bytes); at 29 it is not begun.
    const struct { std::string text; int written; } cuts[] = {
        {std::string(32, 'a'), 29}, {std::string(28, 'a') + "\x80", 31},
        {std::string(29, 'a') + "\x80", 29}, {std::string(40, '\xE5'), 30}};
    for (const auto& c : cuts) {
        uint8_t out[40];
        EXPECT_EQ(to_wire_text(c.text.c_str(), out, 32), c.written);
    }
}

TEST(WireText, FromWireReplacesWhatCannotBeShown) {
    const struct {
        const char* bytes;
        int capacity;
        const char* text;
        uint32_t consumed;
    } cases[] = {
        {"e2 82 ac", 256, "\x80", 3},       {"c3 a5", 256, "\xE5", 2},
        {"e2 9c 93", 256, "?", 3},          {"f0 9f 98 80 41", 256, "?A", 5},
        {"41 c3", 256, "A?", 2},            {"48 65 6a", 256, "Hej", 3},
        {"80 81 bf 42", 256, "?B", 4},      {"41 e2 82", 256, "A?", 3},
        {"c3 41 42", 256, "\xC1" "B", 3},   {"c4 80", 256, "?", 2},
        {"f8 88 80 80 80 fe ff 43", 256, "???C", 8},
        {"41 00 42", 256, "A", 3},          {"c1 81", 256, "A", 2},
        {"e2 82 ac 41 42", 3, "\x80" "A", 4}, {"78 78 78", 1, "", 0},
        {"", 3, "", 0},
    };
    for (const auto& c : cases) {
        Bytes in = hx(c.bytes);
        char out[260];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(from_wire_text(in.data(), uint32_t(in.size()), out, c.capacity), c.consumed) << c.bytes;
        EXPECT_STREQ(out, c.text) << c.bytes;
        EXPECT_EQ(out[c.capacity], '#');
    }
    // Every 8-bit character survives the way out and back.
    std::string all;
    for (int b = 1; b < 256; b++) all.push_back(char(b));
    uint8_t wire[600];
    char back[300];
    int n = to_wire_text(all.c_str(), wire, sizeof wire);
    from_wire_text(wire, uint32_t(n), back, sizeof back);
    EXPECT_EQ(std::string(back), all);
}
