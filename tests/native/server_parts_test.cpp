// The server's smaller parts: message builders and the Hello reader, the
// output queue, the capture's scaler, typed web addresses, and the demo's scenes.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "link/wire.h"
#include "server/sources/demo.h"
#include "server/protocol.h"
#include "server/encode/scale.h"
#include "server/net/output_queue.h"
#include "server/sessions/web_address.h"

namespace {

TEST(ServerProtocol, TextsAreCutAtCharacterBoundariesAndHelloReadFromFixedFields) {
    // 31 ASCII bytes then "ä": the StreamSetup's 32-byte field cannot hold it whole.
    qvs::Bytes m = qvs::make_stream_setup(640, 480, 22050, 2, std::string(31, 'x') + "\xC3\xA4");
    ASSERT_EQ(m.size(), 5u + 45);
    EXPECT_EQ(std::make_pair(m[5 + 13 + 30], m[5 + 13 + 31]), std::make_pair(uint8_t('x'), uint8_t(0)));
    EXPECT_EQ(qvs::utf8_cut("\xE2\x82\xAC\xE2\x82\xAC", 4) + "|" + qvs::utf8_cut("\xE2\x82\xAC", 2), "\xE2\x82\xAC|");
    std::string text = "a\xC3\xA5\xE2\x82\xAC\xF0\x9F\x98\x80", back;  // one to four bytes a character
    for (char32_t c : qvs::utf8_decode(text + "\xFF\xC3")) back += qvs::utf8_encode(c);
    EXPECT_EQ(back, text + "\xEF\xBF\xBD\xEF\xBF\xBD");  // and broken sequences as U+FFFD
    qvs::Bytes list = qvs::make_app_list({{7, 4, std::string(300, 'n')}});
    EXPECT_EQ(std::make_pair(list.size(), int(list[5 + 2 + 3])), std::make_pair(5 + 2 + 4 + size_t(255), 255));
    const uint8_t ping[4] = {1, 2, 3, 4};
    EXPECT_EQ(qvs::make_pong(ping), (qvs::Bytes{4, 0, 0, 0, MSG_PONG, 1, 2, 3, 4}));
    EXPECT_EQ(qvs::make_stream_state(0, 1, 0), (qvs::Bytes{3, 0, 0, 0, MSG_STREAM_STATE, 0, 1, 0}));
    EXPECT_EQ(qvs::make_server_text(4, "12"), (qvs::Bytes{3, 0, 0, 0, MSG_SERVER_TEXT, 4, '1', '2'}));
    const int16_t samples[3] = {1, -2, 0x3456};  // two of them, little-endian
    EXPECT_EQ(qvs::make_audio(samples, 2), (qvs::Bytes{4, 0, 0, 0, MSG_AUDIO_DATA, 1, 0, 0xFE, 0xFF}));
    // The Hello is read from its fixed fields.
    uint8_t p[80] = {'Q', 'V', '9', '8', 1, 0, 0x80, 0x02, 0xE0, 0x01, 30, 0x22, 0x56, 0, 0, 2, 'W', 'I', 'N'};
    std::memset(p + 48, 'k', 32);  // a key filling its whole field
    qvs::Hello h;
    ASSERT_EQ(qvs::parse_hello(p, 80, &h), 1);
    EXPECT_EQ(std::make_tuple(h.width, h.height, h.fps, h.sample_rate, h.channels),
              std::make_tuple(640, 480, 30, 22050u, 2));
    EXPECT_EQ(h.name + "/" + h.key, "WIN/" + std::string(32, 'k'));
    p[16] = 0;  // an empty name
    EXPECT_TRUE(qvs::parse_hello(p, 80, &h) && h.name.empty());
    EXPECT_EQ(qvs::parse_hello(p, 79, &h), 0);
    EXPECT_EQ((p[0] = 'X', qvs::parse_hello(p, 80, &h)), 0);
}

TEST(ServerOutput, APeerGetsWholeMessagesInOrderWithoutSoundDroppedBeforeItBegan) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    qvs::Bytes control = {'C'}, frame(1 << 20, 'V'), pong = {'P'}, sound = {'S'}, late = {'L'};
    qvs::OutputQueue q;
    q.push(control, qvs::OUT_CONTROL);
    q.push(frame, qvs::OUT_VIDEO);
    q.push(sound, qvs::OUT_AUDIO);
    q.push(sound, qvs::OUT_AUDIO);
    std::string error, seen;
    ASSERT_TRUE(q.flush(fds[0], &error));  // the socket takes part of the frame
    q.push_urgent(pong);  // after the frame begun, before the sound
    q.drop_unsent_audio();
    q.push(late, qvs::OUT_AUDIO);
    EXPECT_EQ(std::to_string(q.video_frames()) + " " + std::to_string(q.audio_bytes()), "1 1");
    char buf[65536];
    for (ssize_t n; !q.empty() && q.flush(fds[0], &error);)
        while ((n = recv(fds[1], buf, sizeof buf, MSG_DONTWAIT)) > 0) seen.append(buf, size_t(n));
    for (ssize_t n; (n = recv(fds[1], buf, sizeof buf, MSG_DONTWAIT)) > 0;) seen.append(buf, size_t(n));
    EXPECT_EQ(seen, "C" + std::string(1 << 20, 'V') + "PL");
    EXPECT_EQ(q.video_frames() + q.audio_bytes() + q.bytes_sent(), seen.size());
    close(fds[0]), close(fds[1]);
    q.push(qvs::Bytes((16u << 20) - q.MESSAGE_COST, 0), qvs::OUT_VIDEO);  // a backlog of exactly its limit is kept
    EXPECT_FALSE(q.overflowed());
    q.push_urgent(qvs::Bytes(1, 0));  // past it, also ahead of the queue
    EXPECT_TRUE(q.overflowed());
    EXPECT_FALSE(q.flush(fds[0], &error) || error.empty());
    qvs::OutputQueue flood;  // a Pong takes more than its one byte: 300000 of them are too many
    for (int i = 0; i < 300000; i++) flood.push_urgent(pong);
    EXPECT_TRUE(flood.overflowed());
}

TEST(ServerDemo, ScenesDrawInsideOddSizedPictures) {
    qvs::InputView in;
    in.have_pointer = true, in.pointer_x = in.pointer_y = 65535;  // beyond the picture: clipped, not written outside
    for (const qvs::DemoEntry& e : qvs::demo_entries())
        for (int size : {16, 161, 1600}) {
            qvs::Canvas c;
            qvs::DemoScene(e, size, size * 3 / 4).render(3.3, "23:59:59", in, c);
            EXPECT_EQ(c.pixels.size(), size_t(size) * size_t(size * 3 / 4));
        }
}

TEST(ServerScale, KeepsAspectWithBlackBarsAndAveragesTheCoveredArea) {
    const struct {
        int sw, sh, dw, dh;
        int ix, iy, iw, ih;  // where the picture lands
    } cases[] = {
        {1920, 1080, 640, 480, 0, 60, 640, 360},  // wide screen on 4:3: bars above and below
        {600, 800, 640, 480, 140, 0, 360, 480},   // portrait: bars left and right
        {100, 80, 640, 480, 20, 0, 600, 480},     // enlarged
        {640, 480, 640, 480, 0, 0, 640, 480},     // equal: no bars
        {7, 3, 5, 5, 0, 1, 5, 2},                 // odd sizes
    };
    qvs::AreaScaler s;
    for (const auto& c : cases) {
        std::vector<uint32_t> src(size_t(c.sw) * c.sh, 0x00C86432u);
        std::vector<uint16_t> dst(size_t(c.dw) * c.dh, 0x7FFF);
        s.configure(c.sw, c.sh, c.dw, c.dh);
        s.scale(src.data(), c.sw, qvs::Rect{0, 0, c.dw, c.dh}, dst.data());
        for (int y = 0; y < c.dh; y++)
            for (int x = 0; x < c.dw; x++) {
                bool inside = x >= c.ix && x < c.ix + c.iw && y >= c.iy && y < c.iy + c.ih;
                ASSERT_EQ(dst[size_t(y) * c.dw + x], inside ? qvs::rgb555(0xC86432) : 0x7FFF)
                    << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh << " at " << x << "," << y;
            }
    }
    // Black and white stripes shrunk 2:1 become grey; one white pixel in 3x3 a ninth of white.
    std::vector<uint32_t> stripes(8 * 2), dot(9, 0);
    for (int i = 0; i < 16; i++) stripes[size_t(i)] = (i % 2) ? 0xF8F8F8 : 0;
    dot[4] = 0xFFFFFF;
    std::vector<uint16_t> out(4);
    s.configure(8, 2, 4, 1);
    s.scale(stripes.data(), 8, s.image(), out.data());
    EXPECT_EQ(out, std::vector<uint16_t>(4, qvs::rgb555(0x7C7C7C)));
    s.configure(3, 3, 1, 1);
    s.scale(dot.data(), 3, s.image(), out.data());
    EXPECT_EQ(out[0], qvs::rgb555(0x1C1C1C));
}

// What opens; " | if no connection: X" or " | if no such host: X" when a
// second reading follows a failure.
const struct {
    const char* typed;
    const char* url;  // nullptr: refused
    const char* search = "https://sok.example/?q=%s&from=%s";
} CASES[] = {
    {"http://127.0.0.1:8000/a.html", "http://127.0.0.1:8000/a.html"},
    {"  HTTPS://Example.org/x?y#z \n", "HTTPS://Example.org/x?y#z"},
    {"example.org", "https://example.org | if no connection: http://example.org"},
    {"www.räksmörgås.se/sida", "https://www.räksmörgås.se/sida | if no connection: http://www.räksmörgås.se/sida"},
    {"127.0.0.1:8765/page.html", "http://127.0.0.1:8765/page.html"}, {"192.168.1.1", "http://192.168.1.1"},
    {"localhost:8080/x", "http://localhost:8080/x"}, {"LocalHost", "http://LocalHost"}, {"[::1]:631/", "http://[::1]:631/"},
    {"nas:5000", "http://nas:5000"}, {"router/admin", "http://router/admin"}, {"fritz-box", "http://fritz-box", ""},
    {"router", "http://router | if no such host: https://sok.example/?q=router&from=router"},
    {"väder i Göteborg", "https://sok.example/?q=v%C3%A4der%20i%20G%C3%B6teborg&from=v%C3%A4der%20i%20G%C3%B6teborg"},
    {"3.14", "https://sok.example/?q=3.14&from=3.14"}, {"a&b=c", "https://sok.example/?q=a%26b%3Dc&from=a%26b%3Dc"},
    {"1234", "https://sok.example/?q=1234&from=1234"},
    {"javascript:alert(1)", nullptr}, {" JavaScript:alert(1)", nullptr}, {"java\tscript:alert(1)", nullptr},
    {"file:///etc/passwd", nullptr}, {"chrome://settings", nullptr}, {"data:text/html,<b>x</b>", nullptr},
    {"about:blank", nullptr}, {"view-source:http://x.org", nullptr}, {"", nullptr}, {" \t ", nullptr},
    {"x y", nullptr, ""}, {"x y", nullptr, "file:///x/%s"},  // no search
};

TEST(WebAddress, TypedTextOpensSearchesOrIsRefused) {
    for (const auto& c : CASES) {
        qvs::WebTarget t = qvs::resolve_web_address(c.typed, c.search);
        std::string got = t.allowed ? t.url : "refused" + std::string(t.refusal.empty() ? ", saying nothing" : "");
        if (t.fallback == qvs::Fallback::WHEN_CONNECTION_FAILS) got += " | if no connection: " + t.fallback_url;
        if (t.fallback == qvs::Fallback::WHEN_NO_SUCH_HOST) got += " | if no such host: " + t.fallback_url;
        EXPECT_EQ(got, c.url ? c.url : "refused") << c.typed;
    }
}

}  // namespace
