// The demo's pieces: input bookkeeping, the picture reacting to input, the
// melody, and the message builders' edge cases.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/wire.h"
#include "server/demo.h"
#include "server/protocol.h"

namespace {

using qvs::InputView;

TEST(ServerDemo, InputMessagesAreRecordedAndBadOnesIgnored) {
    InputView in;
    const uint8_t key[4] = {0x41, 0x1E, 0x00, 1};
    EXPECT_EQ(in.apply(MSG_KEY, key, 4), 1);
    EXPECT_EQ(in.last_key.substr(0, 1), "A");
    EXPECT_NE(in.last_key.find("ned"), std::string::npos);
    EXPECT_EQ(in.apply(MSG_KEY, key, 3), 0);  // short: ignored
    EXPECT_EQ(in.key_presses, 1u);

    const uint8_t a_ring[2] = {0xE5, 0x00}, euro[2] = {0xAC, 0x20}, zero[2] = {0, 0};
    in.apply(MSG_CHAR, a_ring, 2);
    in.apply(MSG_CHAR, euro, 2);
    EXPECT_EQ(in.apply(MSG_CHAR, zero, 2), 0);
    EXPECT_EQ(in.typed, std::u32string(U"\u00E5\u20AC"));
    for (int i = 0; i < 100; i++) in.apply(MSG_CHAR, a_ring, 2);
    EXPECT_EQ(in.typed.size(), InputView::TYPED_KEEP);

    const uint8_t d1[4] = {3, 0, 0xFE, 0xFF}, d2[4] = {0xFB, 0xFF, 10, 0};
    in.apply(MSG_MOUSE_DELTA, d1, 4);
    in.apply(MSG_MOUSE_DELTA, d2, 4);
    EXPECT_EQ(in.motion_x, -2);
    EXPECT_EQ(in.motion_y, 8);
    EXPECT_EQ(in.last_dx, -5);

    const uint8_t pos[4] = {0x80, 0x02, 0xE0, 0x01};
    in.apply(MSG_MOUSE_POS, pos, 4);
    EXPECT_TRUE(in.have_pointer);
    EXPECT_EQ(in.pointer_x, 640);
    EXPECT_EQ(in.pointer_y, 480);

    const uint8_t right_down[2] = {2, 1}, right_up[2] = {2, 0}, odd[2] = {9, 1};
    in.apply(MSG_MOUSE_BUTTON, right_down, 2);
    EXPECT_EQ(in.buttons, 2);
    in.apply(MSG_MOUSE_BUTTON, odd, 2);
    EXPECT_EQ(in.buttons, 2);
    in.apply(MSG_MOUSE_BUTTON, right_up, 2);
    EXPECT_EQ(in.buttons, 0);

    const uint8_t up[2] = {120, 0}, down[2] = {0x10, 0xFF};  // +120, -240
    in.apply(MSG_MOUSE_WHEEL, up, 2);
    in.apply(MSG_MOUSE_WHEEL, down, 2);
    EXPECT_EQ(in.wheel, -120);

    uint8_t pad[18] = {};
    pad[0] = 0x00;
    pad[1] = 0x80;  // X -32768
    pad[12] = 0x05;
    pad[16] = 0x28;
    pad[17] = 0x23;  // 9000
    EXPECT_EQ(in.apply(MSG_GAMEPAD, pad, 17), 0);
    EXPECT_EQ(in.apply(MSG_GAMEPAD, pad, 18), 1);
    EXPECT_EQ(in.axes[0], -32768);
    EXPECT_EQ(in.pad_buttons, 5u);
    EXPECT_EQ(in.pov, 9000);

    for (int i = 0; i < 6; i++) {
        std::string web = std::string(1, '\0') + "site" + std::to_string(i) + ".se";
        in.apply(MSG_WEB_ADDRESS, reinterpret_cast<const uint8_t*>(web.data()), uint32_t(web.size()));
    }
    EXPECT_EQ(in.web_address, "site5.se");
    ASSERT_EQ(in.web_history.size(), InputView::WEB_KEEP);
    EXPECT_EQ(in.web_history.front(), "site2.se");
}

TEST(ServerDemo, ThePictureShowsTypingPointerAndButtons) {
    const qvs::DemoEntry* entry = qvs::find_demo_entry(1);
    ASSERT_NE(entry, nullptr);
    qvs::DemoScene scene(*entry, 640, 480);
    InputView idle;
    qvs::Canvas a, b;
    scene.render(1.0, "12:00:00", idle, a);
    scene.render(1.0, "12:00:00", idle, b);
    EXPECT_EQ(a.pixels, b.pixels);  // the same moment draws the same picture

    auto differs_in = [&](const qvs::Canvas& x, const qvs::Canvas& y, int x0, int y0, int x1, int y1) {
        for (int yy = y0; yy < y1; yy++)
            for (int xx = x0; xx < x1; xx++)
                if (x.pixels[size_t(yy) * 640 + xx] != y.pixels[size_t(yy) * 640 + xx]) return true;
        return false;
    };
    InputView typed = idle;
    typed.typed = U"hej";
    scene.render(1.0, "12:00:00", typed, b);
    EXPECT_TRUE(differs_in(a, b, 320, 72, 640, 480));   // the input panel
    EXPECT_FALSE(differs_in(a, b, 0, 24, 320, 480));    // nothing else

    InputView pointed = idle;
    pointed.have_pointer = true;
    pointed.pointer_x = 100;
    pointed.pointer_y = 400;
    scene.render(1.0, "12:00:00", pointed, b);
    EXPECT_TRUE(differs_in(a, b, 90, 390, 110, 410));   // the pointer mark

    InputView pressed = idle;
    pressed.buttons = 1;
    scene.render(1.0, "12:00:00", pressed, b);
    EXPECT_TRUE(differs_in(a, b, 320, 72, 640, 480));

    // Time moves the animation; the clock text shows in the picture.
    scene.render(1.5, "12:00:00", idle, b);
    EXPECT_TRUE(differs_in(a, b, 0, 24, 640, 480));
    scene.render(1.0, "12:00:01", idle, b);
    EXPECT_TRUE(differs_in(a, b, 0, 0, 640, 24));
}

TEST(ServerDemo, ScenesOfEveryKindAndOddSizesDrawInsideThePicture) {
    for (const qvs::DemoEntry& e : qvs::demo_entries()) {
        for (auto size : {std::make_pair(16, 16), std::make_pair(161, 121), std::make_pair(1600, 1200)}) {
            qvs::DemoScene scene(e, size.first, size.second);
            InputView in;
            in.have_pointer = true;
            in.pointer_x = 65535;  // beyond the picture: clipped, not written outside
            in.pointer_y = 65535;
            in.motion_x = -1000000;
            in.typed = U"\u00C5\u00C4\u00D6 \U0001F600";
            qvs::Canvas c;
            scene.render(3.3, "23:59:59", in, c);
            EXPECT_EQ(c.pixels.size(), size_t(size.first) * size_t(size.second));
        }
    }
}

TEST(ServerDemo, TheMelodyIsAudibleAndNeverClips) {
    for (int channels : {1, 2}) {
        qvs::Melody m(22050, channels);
        std::vector<int16_t> buf(22050 * size_t(channels));
        m.generate(buf.data(), 22050);
        EXPECT_EQ(m.position(), 22050u);
        int peak = 0;
        for (int16_t s : buf) peak = std::max(peak, s < 0 ? -int(s) : int(s));
        EXPECT_GT(peak, 4000);
        EXPECT_LT(peak, 32000);
    }
    // Stereo: the two sides differ (the tune is panned).
    qvs::Melody st(44100, 2);
    std::vector<int16_t> buf(2 * 4410);
    st.generate(buf.data(), 4410);
    bool differ = false;
    for (size_t i = 0; i + 1 < buf.size(); i += 2) differ |= buf[i] != buf[i + 1];
    EXPECT_TRUE(differ);
}

TEST(ServerProtocol, TextsAreCutAtCharacterBoundaries) {
    // 31 ASCII bytes then "ä" (2 bytes): the StreamSetup's 32-byte field
    // cannot hold the "ä" whole, so it is left out, not halved.
    std::string text = std::string(31, 'x') + "\xC3\xA4";
    qvs::Bytes m = qvs::make_stream_setup(640, 480, 22050, 2, text);
    ASSERT_EQ(m.size(), 5u + 45);
    EXPECT_EQ(m[5 + 13 + 30], 'x');
    EXPECT_EQ(m[5 + 13 + 31], 0);
    EXPECT_EQ(qvs::utf8_cut("\xE2\x82\xAC\xE2\x82\xAC", 4), "\xE2\x82\xAC");
    EXPECT_EQ(qvs::utf8_decode("a\xC3\xA5\xE2\x82\xAC\xFF\xC3"), std::u32string(U"a\u00E5\u20AC\uFFFD\uFFFD"));

    std::vector<qvs::MenuItem> items = {{7, 4, std::string(300, 'n')}};
    qvs::Bytes list = qvs::make_app_list(items);
    EXPECT_EQ(list.size(), 5u + 2 + 4 + 255);
    EXPECT_EQ(list[5 + 2 + 3], 255);

    const uint8_t ping[4] = {1, 2, 3, 4};
    EXPECT_EQ(qvs::make_pong(ping), (qvs::Bytes{4, 0, 0, 0, MSG_PONG, 1, 2, 3, 4}));
    EXPECT_EQ(qvs::make_stream_state(0, 1, 0), (qvs::Bytes{3, 0, 0, 0, MSG_STREAM_STATE, 0, 1, 0}));
    EXPECT_EQ(qvs::make_server_text(4, "12"), (qvs::Bytes{3, 0, 0, 0, MSG_SERVER_TEXT, 4, '1', '2'}));
}

TEST(ServerProtocol, HelloIsReadFromItsFixedFields) {
    uint8_t p[80] = {};
    std::memcpy(p, "QV98", 4);
    p[4] = 1;
    p[6] = 0x80;
    p[7] = 0x02;
    p[8] = 0xE0;
    p[9] = 0x01;
    p[10] = 30;
    p[11] = 0x22;
    p[12] = 0x56;
    p[15] = 2;
    std::memcpy(p + 16, "WIN98", 5);
    std::memset(p + 48, 'k', 32);  // a key filling its whole field
    qvs::Hello h;
    ASSERT_EQ(qvs::parse_hello(p, 80, &h), 1);
    EXPECT_EQ(h.width, 640);
    EXPECT_EQ(h.height, 480);
    EXPECT_EQ(h.fps, 30);
    EXPECT_EQ(h.sample_rate, 22050u);
    EXPECT_EQ(h.channels, 2);
    EXPECT_EQ(h.name, "WIN98");
    EXPECT_EQ(h.key, std::string(32, 'k'));
    EXPECT_EQ(qvs::parse_hello(p, 79, &h), 0);
    p[0] = 'X';
    EXPECT_EQ(qvs::parse_hello(p, 80, &h), 0);
}

}  // namespace
