// A game stream against the test host: pictures of the right colours, a
// 440 Hz tone, input arriving as the host's virtual keys and packets, FEC
// recovery, and the end when the host quits or vanishes.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <set>
#include <thread>

#include "link/wire.h"
#include "server/log.h"
#include "server/moonlight/game_stream.h"
#include "tests/moonlight/fake_stream_host.h"

namespace {

using qvs::GameStream;

struct Streaming {
    qvs::FakeStreamHost host;
    std::unique_ptr<GameStream> stream;
    explicit Streaming(const qvs::FakeStreamOptions& options = {}) : host(options) {
        qvs::GameStreamLaunch l;
        l.host = "127.0.0.1";
        l.session_url = "rtsp://127.0.0.1:" + std::to_string(host.rtsp_port());
        for (int i = 0; i < 16; i++) l.rikey[i] = uint8_t(i * 7);
        l.rikeyid = -5;
        l.app_version = "7.1.431.-1";
        l.audio_rate = 22050;
        qvs::FakeLaunch f{{}, l.rikeyid, l.width, l.height, l.fps};
        std::copy(l.rikey, l.rikey + 16, f.rikey);
        host.launch(f);
        std::string error;
        stream = GameStream::start(l, &error);
        EXPECT_TRUE(stream) << error;
    }
    // The colours (0xRRGGBB from RGB555) of pictures grabbed for `ms`.
    std::set<uint32_t> colours(int ms) {
        std::set<uint32_t> seen;
        std::vector<uint16_t> px;
        for (int64_t end = qvs::now_ms() + ms; qvs::now_ms() < end;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!stream->grab(px, 640, 480, false)) continue;
            uint16_t c = px[240 * 640 + 320];
            EXPECT_EQ(px[0], c);  // a whole picture, one colour
            seen.insert(uint32_t((c >> 10 & 31) << 19 | (c >> 5 & 31) << 11 | (c & 31) << 3));
        }
        return seen;
    }
    std::string wait_end() {
        for (int64_t end = qvs::now_ms() + 5000; qvs::now_ms() < end;) {
            if (!stream->ended().empty()) return stream->ended();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return "";
    }
};

// The colours a picture may show, as RGB555 keeps them.
std::set<uint32_t> host_colours() {
    std::set<uint32_t> all;
    for (uint32_t f = 1; f <= 75; f++) all.insert(qvs::fake_frame_colour(f) & 0xF8F8F8);
    return all;
}

// A colour near one of the host's (the codec's rounding aside).
bool near_host_colour(uint32_t c) {
    for (uint32_t h : host_colours()) {
        bool near = true;
        for (int shift : {0, 8, 16}) near = near && std::abs(int(c >> shift & 0xFF) - int(h >> shift & 0xFF)) <= 16;
        if (near) return true;
    }
    return false;
}

TEST(GameStream, ShowsTheHostsColoursAndPlaysItsTone) {
    Streaming s;
    ASSERT_TRUE(s.stream);
    std::set<uint32_t> seen = s.colours(1800);
    EXPECT_GE(seen.size(), 3u);
    for (uint32_t c : seen) EXPECT_TRUE(near_host_colour(c)) << std::hex << c;
    // 0.5 s of sound at 22050 Hz stereo: count the left channel's rising zero crossings.
    std::vector<int16_t> pcm;
    int16_t buffer[2048];
    for (int64_t end = qvs::now_ms() + 3000; pcm.size() < 22050 && qvs::now_ms() < end;) {
        size_t n = s.stream->read_audio(buffer, 1024);
        pcm.insert(pcm.end(), buffer, buffer + 2 * n);
        if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(pcm.size(), 22050u);
    int crossings = 0;
    for (size_t i = 2; i < 22050; i += 2) crossings += pcm[i - 2] < 0 && pcm[i] >= 0;
    EXPECT_NEAR(crossings, 220, 4);  // 440 Hz for 0.5 s
}

TEST(GameStream, InputArrivesAsTheHostsKeysAndPackets) {
    Streaming s;
    ASSERT_TRUE(s.stream);
    std::vector<uint16_t> px;
    s.stream->grab(px, 640, 480, true);  // tells the client's size
    struct Case {
        uint8_t type;
        std::vector<uint8_t> payload;
        const char* logged;  // "" : nothing reaches the host
    } cases[] = {
        {MSG_KEY, {0x10, 0x2A, 0, 1}, "key down vk=0xA0 mods=0x01"},  // left Shift
        {MSG_KEY, {0x41, 0x1E, 0, 1}, "key down vk=0x41 mods=0x01"},
        {MSG_CHAR, {'A', 0}, ""},  // the key said it
        {MSG_KEY, {0x41, 0x1E, 0, 0}, "key up vk=0x41 mods=0x01"},
        {MSG_KEY, {0x10, 0x2A, 0, 0}, "key up vk=0xA0 mods=0x00"},
        {MSG_KEY, {0xDD, 0x1A, 0, 1}, "key down vk=0xDD mods=0x00"},  // Swedish Å
        {MSG_KEY, {0xDD, 0x1A, 0, 0}, "key up vk=0xDD mods=0x00"},
        {MSG_KEY, {0x11, 0x1D, 0, 1}, "key down vk=0xA2 mods=0x02"},  // AltGr: left Ctrl ...
        {MSG_KEY, {0x12, 0x38, 1, 1}, "key down vk=0xA5 mods=0x06"},  // ... and right Alt
        {MSG_KEY, {0x32, 0x03, 0, 1}, "key down vk=0x32 mods=0x06"},  // 2: @
        {MSG_KEY, {0x32, 0x03, 0, 0}, "key up vk=0x32 mods=0x06"},
        {MSG_KEY, {0x12, 0x38, 1, 0}, "key up vk=0xA5 mods=0x02"},
        {MSG_KEY, {0x11, 0x1D, 0, 0}, "key up vk=0xA2 mods=0x00"},
        {MSG_CHAR, {0xE9, 0}, "text \xC3\xA9"},  // é with no key held
        {MSG_MOUSE_DELTA, {5, 0, 0xFD, 0xFF}, "mouse rel 5 -3"},
        {MSG_MOUSE_POS, {0x40, 1, 0xF0, 0}, "mouse abs 320 240 639 479"},
        {MSG_MOUSE_BUTTON, {2, 1}, "button down 3"},  // right
        {MSG_MOUSE_BUTTON, {2, 0}, "button up 3"},
        {MSG_MOUSE_WHEEL, {120, 0}, "scroll 120"},
        {MSG_MOUSE_BUTTON, {1}, ""},  // short
        // Button 1 (A), hat right, left stick full right and up, Z: left trigger.
        {MSG_GAMEPAD, {0xFF, 0x7F, 0x00, 0x80, 0xFF, 0x7F, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x28, 0x23},
         "pad 0 mask=0x1 buttons=0x1008 lt=255 rt=0 lx=32767 ly=32767 rx=0 ry=0"},
        {MSG_KEY, {0x44, 0x20, 0, 1}, "key down vk=0x44 mods=0x00"},  // held at the end
        {MSG_MOUSE_BUTTON, {1, 1}, "button down 1"},
    };
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        s.stream->input(c.type, c.payload.data(), uint32_t(c.payload.size()));
        if (*c.logged) expected.push_back(c.logged);
    }
    s.stream->release_input();
    for (const char* e : {"button up 1", "key up vk=0x44 mods=0x00",
                          "pad 0 mask=0x1 buttons=0x0 lt=0 rt=0 lx=0 ly=0 rx=0 ry=0"})
        expected.push_back(e);
    for (int64_t end = qvs::now_ms() + 3000; s.host.input_events().size() < expected.size() && qvs::now_ms() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(s.host.input_events(), expected);
}

TEST(GameStream, RecoversDroppedPacketsAndEndsWhenTheHostQuitsOrVanishes) {
    for (bool vanish : {false, true}) {
        qvs::FakeStreamOptions options;
        options.drop_every = 3;
        Streaming s(options);
        ASSERT_TRUE(s.stream);
        EXPECT_GE(s.colours(1200).size(), 2u);
        int requests = s.host.idr_requests();
        EXPECT_EQ(requests, 1);  // the start's: every loss was mended by parity
        vanish ? s.host.vanish() : s.host.quit();
        EXPECT_EQ(s.wait_end(), vanish ? "Värddatorn svarar inte längre." : "Spelet avslutades på värddatorn.");
    }
}

}  // namespace
