// Client message layouts byte for byte, and the readers of server layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/wire.h"
#include "settings/settings.h"

namespace {

Settings default_settings() {
    Settings s;
    std::memset(&s, 0, sizeof s);
    s.port = 3300;
    s.bredd = 640;
    s.hojd = 480;
    s.fps = 30;
    s.ljud = 1;
    s.ljudfrekvens = 22050;
    s.stereo = 2;
    s.muskanslighet = 100;
    std::strcpy(s.namn, "WIN98");
    return s;
}

std::vector<uint8_t> bytes(const uint8_t* p, int n) { return std::vector<uint8_t>(p, p + n); }

}  // namespace

TEST(WireBuild, HelloWithDefaultSettings) {
    Settings s = default_settings();
    uint8_t payload[HELLO_SIZE];
    std::memset(payload, 0xCC, sizeof payload);
    ASSERT_EQ(build_hello(&s, payload), 80);
    std::vector<uint8_t> expected = {'Q', 'V', '9', '8', 0x01, 0x00, 0x80, 0x02, 0xE0, 0x01,
                                     0x1E, 0x22, 0x56, 0x00, 0x00, 0x02, 'W', 'I', 'N', '9', '8'};
    expected.resize(80, 0);
    EXPECT_EQ(bytes(payload, 80), expected);

    s.ljud = 0;
    build_hello(&s, payload);
    EXPECT_EQ(bytes(payload + 11, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(WireBuild, HelloTextsAreCutAndConverted) {
    Settings s = default_settings();
    std::memset(s.namn, 'n', 32);
    s.namn[32] = 0;
    std::strcpy(s.nyckel, "\xC5\x80");
    uint8_t payload[HELLO_SIZE];
    build_hello(&s, payload);
    // 29 characters of namn, zero padding up to the key field.
    EXPECT_EQ(bytes(payload + 16, 32), [] {
        std::vector<uint8_t> v(29, 'n');
        v.resize(32, 0);
        return v;
    }());
    std::vector<uint8_t> key = {0xC3, 0x85, 0xE2, 0x82, 0xAC};
    key.resize(32, 0);
    EXPECT_EQ(bytes(payload + 48, 32), key);
}

TEST(WireBuild, HelloKeepsLowBitsOfSettings) {
    Settings s = default_settings();
    s.bredd = 0x12345;
    s.fps = 0x1FF;
    s.ljudfrekvens = 44100;
    uint8_t payload[HELLO_SIZE];
    build_hello(&s, payload);
    EXPECT_EQ(payload[6], 0x45);
    EXPECT_EQ(payload[7], 0x23);
    EXPECT_EQ(payload[10], 0xFF);
    EXPECT_EQ(bytes(payload + 11, 4), (std::vector<uint8_t>{0x44, 0xAC, 0x00, 0x00}));
}

TEST(WireBuild, SmallMessages) {
    uint8_t p[18];
    ASSERT_EQ(build_launch_app(p, 7), 2);
    EXPECT_EQ(bytes(p, 2), (std::vector<uint8_t>{0x07, 0x00}));
    ASSERT_EQ(build_frame_ack(p, 258), 4);
    EXPECT_EQ(bytes(p, 4), (std::vector<uint8_t>{0x02, 0x01, 0x00, 0x00}));
    ASSERT_EQ(build_key(p, 0x25, 0x14B, 1), 4);
    EXPECT_EQ(bytes(p, 4), (std::vector<uint8_t>{0x25, 0x4B, 0x01, 0x01}));
    ASSERT_EQ(build_char(p, 0x20AC), 2);
    EXPECT_EQ(bytes(p, 2), (std::vector<uint8_t>{0xAC, 0x20}));
    ASSERT_EQ(build_mouse_delta(p, -2, 300), 4);
    EXPECT_EQ(bytes(p, 4), (std::vector<uint8_t>{0xFE, 0xFF, 0x2C, 0x01}));
    ASSERT_EQ(build_mouse_pos(p, 639, 479), 4);
    EXPECT_EQ(bytes(p, 4), (std::vector<uint8_t>{0x7F, 0x02, 0xDF, 0x01}));
    ASSERT_EQ(build_mouse_button(p, 3, 0), 2);
    EXPECT_EQ(bytes(p, 2), (std::vector<uint8_t>{3, 0}));
    ASSERT_EQ(build_mouse_wheel(p, -120), 2);
    EXPECT_EQ(bytes(p, 2), (std::vector<uint8_t>{0x88, 0xFF}));
    ASSERT_EQ(build_ping(p, 0xA1B2C3D4u), 4);
    EXPECT_EQ(bytes(p, 4), (std::vector<uint8_t>{0xD4, 0xC3, 0xB2, 0xA1}));
}

TEST(WireBuild, Gamepad) {
    GamepadState pad = {{-32768, 32767, 0, 1, -1, 256}, 0x80000001u, 65535};
    uint8_t p[18];
    ASSERT_EQ(build_gamepad(p, &pad), 18);
    EXPECT_EQ(bytes(p, 18), (std::vector<uint8_t>{0x00, 0x80, 0xFF, 0x7F, 0x00, 0x00, 0x01, 0x00,
                                                  0xFF, 0xFF, 0x00, 0x01, 0x01, 0x00, 0x00, 0x80,
                                                  0xFF, 0xFF}));
}

TEST(WireBuild, WebAddressIsCutAt509Bytes) {
    uint8_t p[WEB_ADDRESS_MAX + 8];
    std::memset(p, 0xEE, sizeof p);
    EXPECT_EQ(build_web_address(p, "http://a.se/\xE5"), 1 + 14);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(bytes(p + 1, 14), (std::vector<uint8_t>{'h', 't', 't', 'p', ':', '/', '/', 'a', '.',
                                                      's', 'e', '/', 0xC3, 0xA5}));
    std::vector<char> long_text(1000, 'w');
    long_text.push_back(0);
    EXPECT_EQ(build_web_address(p, long_text.data()), 1 + 507);
    std::vector<char> euros(300, '\x80');
    euros.push_back(0);
    int n = build_web_address(p, euros.data());
    EXPECT_LE(n, WEB_ADDRESS_MAX);
    EXPECT_EQ(n, 1 + 507);  // 169 euro signs of 3 bytes
    for (size_t i = WEB_ADDRESS_MAX; i < sizeof p; i++) EXPECT_EQ(p[i], 0xEE);
}

TEST(WireRead, ServerLayoutsAndShortPayloads) {
    std::vector<uint8_t> setup(45, 0);
    setup[2] = 0x20; setup[3] = 0x03;              // 800
    setup[4] = 0x58; setup[5] = 0x02;              // 600
    setup[7] = 0x44; setup[8] = 0xAC;              // 44100
    setup[11] = 2;
    setup[13] = 'O';
    StreamSetupFields f;
    ASSERT_EQ(read_stream_setup(setup.data(), 45, &f), 1);
    EXPECT_EQ(f.width, 800);
    EXPECT_EQ(f.height, 600);
    EXPECT_EQ(f.sample_rate, 44100);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.text, setup.data() + 13);
    EXPECT_EQ(read_stream_setup(setup.data(), 44, &f), 0);
    setup[7] = 0xFF; setup[8] = 0xFF; setup[9] = 0xFF; setup[10] = 0xFF;
    read_stream_setup(setup.data(), 45, &f);
    EXPECT_EQ(f.sample_rate, -1);

    uint8_t st[3] = {1, 0, 3};
    StreamStateFields s;
    ASSERT_EQ(read_stream_state(st, 3, &s), 1);
    EXPECT_EQ(s.stream_mode, 1);
    EXPECT_EQ(s.app_kind, 3);
    EXPECT_EQ(read_stream_state(st, 2, &s), 0);

    uint8_t pong[4] = {0x78, 0x56, 0x34, 0x12};
    uint32_t v = 0;
    ASSERT_EQ(read_pong(pong, 4, &v), 1);
    EXPECT_EQ(v, 0x12345678u);
    EXPECT_EQ(read_pong(pong, 3, &v), 0);

    std::vector<uint8_t> frame(20, 0);
    frame[0] = 0x02; frame[1] = 0x01;
    frame[4] = 0x0A; frame[6] = 0x0B;
    frame[8] = 0x99;  // not read
    frame[9] = 0x40; frame[10] = 0x01;
    VideoFrameHeader h;
    ASSERT_EQ(read_video_frame_header(frame.data(), 20, &h), 1);
    EXPECT_EQ(h.frame_id, 258u);
    EXPECT_EQ(h.width, 10);
    EXPECT_EQ(h.height, 11);
    EXPECT_EQ(h.raw_size, 320u);
    EXPECT_EQ(h.compressed, frame.data() + 17);
    EXPECT_EQ(h.compressed_length, 3u);
    EXPECT_EQ(read_video_frame_header(frame.data(), 16, &h), 0);
}
