// The server over loopback, driven by a scripted client that checks its
// replies byte by byte: greeting, Ping/Pong, launching, pacing by FrameAck,
// the way back to the menu, keys, pairing, and clients that misbehave.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/wire.h"
#include "server/server.h"
#include "tests/support/server_decode.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Message {
    int type = -1;  // -1: none arrived in time, -2: the connection closed
    Bytes payload;
};

Bytes le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

Bytes hello(uint16_t w, uint16_t h, uint8_t fps, uint32_t rate, uint8_t channels, const std::string& name,
            const std::string& key) {
    Bytes p(80, 0);
    std::memcpy(p.data(), "QV98", 4);
    p[4] = 1;
    p[6] = uint8_t(w);
    p[7] = uint8_t(w >> 8);
    p[8] = uint8_t(h);
    p[9] = uint8_t(h >> 8);
    p[10] = fps;
    for (int i = 0; i < 4; i++) p[11 + i] = uint8_t(rate >> (8 * i));
    p[15] = channels;
    std::memcpy(p.data() + 16, name.data(), name.size());
    std::memcpy(p.data() + 48, key.data(), key.size());
    return p;
}

// A blocking client socket with time limits on every wait.
class ScriptedClient {
public:
    explicit ScriptedClient(int port, int receive_buffer = 0) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (receive_buffer) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
        sockaddr_in sa;
        std::memset(&sa, 0, sizeof sa);
        sa.sin_family = AF_INET;
        sa.sin_port = htons(uint16_t(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    ~ScriptedClient() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool connected() const { return connected_; }

    void send(uint8_t type, const Bytes& payload = Bytes()) {
        Bytes m = le32(uint32_t(payload.size()));
        m.push_back(type);
        m.insert(m.end(), payload.begin(), payload.end());
        ASSERT_EQ(::send(fd_, m.data(), m.size(), MSG_NOSIGNAL), ssize_t(m.size()));
    }

    // Reads exactly n bytes, waiting at most timeout_ms in all. 1 when they
    // arrived, 0 on time-out, -1 when the connection closed.
    int read_exact(uint8_t* out, size_t n, int timeout_ms) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        size_t got = 0;
        while (got < n) {
            int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                 std::chrono::steady_clock::now())
                               .count());
            if (left <= 0) return 0;
            pollfd p = {fd_, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0) continue;
            ssize_t r = ::recv(fd_, out + got, n - got, 0);
            if (r <= 0) return -1;
            got += size_t(r);
        }
        return 1;
    }

    // The next message, whole; raw bytes of the header kept in `header`.
    Message next(int timeout_ms = 3000) {
        Message m;
        uint8_t h[5];
        int r = read_exact(h, 5, timeout_ms);
        if (r <= 0) {
            m.type = r < 0 ? -2 : -1;
            return m;
        }
        uint32_t length = uint32_t(h[0]) | (uint32_t(h[1]) << 8) | (uint32_t(h[2]) << 16) | (uint32_t(h[3]) << 24);
        m.payload.resize(length);
        if (length && read_exact(m.payload.data(), length, 5000) <= 0) {
            m.type = -2;
            return m;
        }
        m.type = h[4];
        return m;
    }

    // The next message of `type`, passing over sound and (unless asked
    // for) video; any other message in between fails the test.
    Message expect(int type, int timeout_ms = 3000) {
        for (;;) {
            Message m = next(timeout_ms);
            if (m.type == MSG_AUDIO_DATA && type != MSG_AUDIO_DATA) continue;
            if (m.type == MSG_VIDEO_FRAME && type != MSG_VIDEO_FRAME) {
                frames.push_back(m.payload);
                continue;
            }
            EXPECT_EQ(m.type, type);
            return m;
        }
    }

    // Passes over everything up to the next message of `type`.
    Message until(int type, int timeout_ms = 3000) {
        for (;;) {
            Message m = next(timeout_ms);
            if (m.type < 0 || m.type == type) {
                EXPECT_EQ(m.type, type);
                return m;
            }
            if (m.type == MSG_VIDEO_FRAME) frames.push_back(m.payload);
        }
    }

    int fd() const { return fd_; }
    std::vector<Bytes> frames;  // VideoFrames passed over by expect()

private:
    int fd_ = -1;
    bool connected_ = false;
};

std::string text_of(const Message& m, size_t from) {
    return std::string(m.payload.begin() + long(from), m.payload.end());
}

uint32_t frame_id(const Bytes& body) { return body[0] | (body[1] << 8) | (body[2] << 16) | (uint32_t(body[3]) << 24); }

class ServerSession : public ::testing::Test {
protected:
    void start() {
        std::string error;
        listen_fd_ = qvs::open_listener("127.0.0.1", 0, &port_, &error);
        ASSERT_GE(listen_fd_, 0) << error;
        thread_ = std::thread([this] { qvs::serve(listen_fd_, config, &stop_, 0); });
    }
    void TearDown() override {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (listen_fd_ >= 0) ::close(listen_fd_);
    }
    // Connects and greets; the AppList must come first, then a welcome.
    void greet(ScriptedClient& c, uint16_t w = 320, uint16_t h = 240, uint8_t fps = 30, uint32_t rate = 22050,
               uint8_t channels = 2, const std::string& key = "") {
        ASSERT_TRUE(c.connected());
        c.send(MSG_HELLO, hello(w, h, fps, rate, channels, "WIN98", key));
        Message list = c.expect(MSG_APP_LIST);
        ASSERT_GE(list.payload.size(), 2u);
        app_list = list.payload;
        Message welcome = c.expect(MSG_SERVER_TEXT);
        ASSERT_GE(welcome.payload.size(), 1u);
        EXPECT_EQ(welcome.payload[0], 0);
    }

    qvs::ServerConfig config;
    int port_ = 0;
    Bytes app_list;

private:
    int listen_fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(ServerSession, GreetingBringsTheMenuWithOneEntryOfEveryKind) {
    start();
    ScriptedClient c(port_);
    greet(c);
    // count, then (id, kind, length, name) entries; names in UTF-8.
    ASSERT_EQ(app_list[0] | (app_list[1] << 8), 6);
    std::vector<int> kinds;
    std::vector<std::string> names;
    size_t at = 2;
    for (int i = 0; i < 6; i++) {
        ASSERT_LE(at + 4, app_list.size());
        EXPECT_EQ(app_list[at] | (app_list[at + 1] << 8), i + 1);
        kinds.push_back(app_list[at + 2]);
        size_t n = app_list[at + 3];
        ASSERT_LE(at + 4 + n, app_list.size());
        names.emplace_back(app_list.begin() + long(at) + 4, app_list.begin() + long(at + 4 + n));
        at += 4 + n;
    }
    EXPECT_EQ(at, app_list.size());
    EXPECT_EQ(kinds, (std::vector<int>{0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(names[0], "Anteckningar");
    EXPECT_EQ(names[2], "Hela sk\xC3\xA4rmen");
}

TEST_F(ServerSession, EveryPingIsAnsweredWithItsOwnBytes) {
    start();
    ScriptedClient c(port_);
    // A Ping may overtake the Hello; it is answered all the same.
    c.send(MSG_PING, le32(0x01020304));
    Message early = c.next();
    EXPECT_EQ(early.type, MSG_PONG);
    EXPECT_EQ(early.payload, le32(0x01020304));
    greet(c);
    c.send(MSG_PING, le32(0xDEADBEEF));
    uint8_t raw[9];
    ASSERT_EQ(c.read_exact(raw, 9, 3000), 1);
    EXPECT_EQ(Bytes(raw, raw + 9), (Bytes{4, 0, 0, 0, MSG_PONG, 0xEF, 0xBE, 0xAD, 0xDE}));

    // While a stream runs and frames wait for acknowledgement, Pings are
    // still answered, in order.
    c.send(MSG_LAUNCH_APP, le16(1));
    c.until(MSG_STREAM_STATE);
    for (uint32_t v = 100; v < 105; v++) {
        c.send(MSG_PING, le32(v));
        Message pong = c.until(MSG_PONG);
        EXPECT_EQ(pong.payload, le32(v));
    }
}

TEST_F(ServerSession, LaunchSendsSetupTextsStateThenPictureAndSound) {
    start();
    ScriptedClient c(port_);
    greet(c, 320, 200, 30, 22050, 2);
    c.send(MSG_LAUNCH_APP, le16(1));
    Message setup = c.expect(MSG_STREAM_SETUP);
    ASSERT_EQ(setup.payload.size(), 45u);
    EXPECT_EQ(Bytes(setup.payload.begin() + 2, setup.payload.begin() + 12),
              (Bytes{0x40, 0x01, 0xC8, 0x00, 16, 0x22, 0x56, 0x00, 0x00, 2}));
    std::string status(setup.payload.begin() + 13, setup.payload.end());
    EXPECT_EQ(status.substr(0, 20), "Startar Anteckningar");
    EXPECT_EQ(c.expect(MSG_SERVER_TEXT).payload[0], 0);  // status line
    Message title = c.expect(MSG_SERVER_TEXT);
    EXPECT_EQ(title.payload[0], TEXT_SLOT_TITLE);
    EXPECT_NE(text_of(title, 1).find("Anteckningar"), std::string::npos);
    Message st = c.expect(MSG_STREAM_STATE);
    EXPECT_EQ(st.payload, (Bytes{1, 1, 0}));

    // The first frame is the requested size and decodes to a picture.
    Message frame = c.expect(MSG_VIDEO_FRAME);
    ASSERT_GE(frame.payload.size(), 17u);
    EXPECT_EQ(frame_id(frame.payload), 1u);
    ClientPicture pic;
    ASSERT_EQ(pic.apply(frame.payload), 1);
    EXPECT_EQ(pic.width, 320);
    EXPECT_EQ(pic.height, 200);
    std::vector<uint16_t> v = pic.visible();
    std::sort(v.begin(), v.end());
    EXPECT_GT(std::unique(v.begin(), v.end()) - v.begin(), 50);  // far from blank

    // Sound: whole 16-bit stereo frames, not silence.
    Message audio = c.expect(MSG_AUDIO_DATA);
    ASSERT_GT(audio.payload.size(), 0u);
    EXPECT_EQ(audio.payload.size() % 4, 0u);
    EXPECT_LE(audio.payload.size(), 8192u);
    bool loud = false;
    for (size_t i = 0; i + 1 < audio.payload.size(); i += 2)
        if (int16_t(audio.payload[i] | (audio.payload[i + 1] << 8)) > 1000) loud = true;
    EXPECT_TRUE(loud);
}

TEST_F(ServerSession, FramesArePacedByAcknowledgements) {
    config.window = 2;
    config.audio = false;
    start();
    ScriptedClient c(port_);
    greet(c, 160, 120, 60, 0, 1);
    c.send(MSG_LAUNCH_APP, le16(3));
    c.until(MSG_STREAM_STATE);
    // At 60 frames a second, 300 ms without acknowledgements would be 18
    // frames; the window lets two through. Frames that must come are
    // waited for (up to 5 s, for a busy machine); the silence after them is
    // watched for 300 ms.
    auto frames = [&](size_t expected) {
        std::vector<uint32_t> ids;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(5000);
        bool settling = false;  // all expected frames are in: watching for more
        for (;;) {
            auto now = std::chrono::steady_clock::now();
            if (!settling && ids.size() >= expected) {
                settling = true;
                end = now + std::chrono::milliseconds(300);
            }
            int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count());
            if (left <= 0) break;
            Message m = c.next(left);
            if (m.type < 0) break;
            if (m.type == MSG_VIDEO_FRAME) ids.push_back(frame_id(m.payload));
        }
        return ids;
    };
    EXPECT_EQ(frames(2), (std::vector<uint32_t>{1, 2}));
    c.send(MSG_FRAME_ACK, le32(1));
    EXPECT_EQ(frames(1), (std::vector<uint32_t>{3}));
    // An acknowledgement of a frame never sent changes nothing.
    c.send(MSG_FRAME_ACK, le32(77));
    EXPECT_EQ(frames(0), (std::vector<uint32_t>{}));
    // One acknowledgement covers the frames before it.
    c.send(MSG_FRAME_ACK, le32(3));
    EXPECT_EQ(frames(2), (std::vector<uint32_t>{4, 5}));
}

TEST_F(ServerSession, MenuRequestStopsTheStreamAndShowsTheMenu) {
    start();
    ScriptedClient c(port_);
    greet(c, 160, 120, 30, 11025, 1);
    c.send(MSG_LAUNCH_APP, le16(2));
    Message st = c.until(MSG_STREAM_STATE);
    EXPECT_EQ(st.payload, (Bytes{1, 0, 0}));  // the game entry locks the mouse
    Message frame = c.expect(MSG_VIDEO_FRAME);
    c.send(MSG_FRAME_ACK, le32(frame_id(frame.payload)));
    c.send(MSG_MENU_REQUEST);
    Message back = c.expect(MSG_STREAM_STATE);
    EXPECT_EQ(back.payload, (Bytes{0, 1, 0}));
    EXPECT_EQ(c.expect(MSG_SERVER_TEXT).payload[0], 0);
    // After the menu is back, neither picture nor sound follows (frames
    // already in flight are acknowledged so the window is not the reason).
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (std::chrono::steady_clock::now() < end) {
        Message m = c.next(100);
        if (m.type == -1) continue;
        ASSERT_NE(m.type, MSG_VIDEO_FRAME);
        ASSERT_NE(m.type, MSG_AUDIO_DATA);
    }
    // And the menu works again: a new launch streams afresh, every block
    // repainted.
    c.send(MSG_LAUNCH_APP, le16(1));
    c.until(MSG_STREAM_SETUP);
    c.until(MSG_STREAM_STATE);
    Message again = c.expect(MSG_VIDEO_FRAME);
    ClientPicture pic;
    ASSERT_EQ(pic.apply(again.payload), 1);
    for (size_t i = 0; i < size_t(20 * 15); i++) ASSERT_NE(pic.stream[i], BLOCK_SKIP);
}

TEST_F(ServerSession, WrongKeyIsToldAndDisconnectedRightKeyIsServed) {
    config.require_key = true;
    config.key = "hemlig";
    config.refuse_linger_ms = 100;
    start();
    {
        ScriptedClient c(port_);
        c.send(MSG_HELLO, hello(320, 240, 30, 0, 1, "WIN98", "fel"));
        Message text = c.next();
        ASSERT_EQ(text.type, MSG_SERVER_TEXT);
        EXPECT_EQ(text.payload[0], 0);
        EXPECT_NE(text_of(text, 1).find("nyckel"), std::string::npos);
        Message after = c.next(3000);
        EXPECT_EQ(after.type, -2);  // closed, and nothing else sent
    }
    {
        ScriptedClient c(port_);
        c.send(MSG_HELLO, hello(320, 240, 30, 0, 1, "WIN98", ""));
        c.expect(MSG_SERVER_TEXT);
        EXPECT_EQ(c.next(3000).type, -2);
    }
    ScriptedClient c(port_);
    greet(c, 320, 240, 30, 0, 1, "hemlig");
}

TEST_F(ServerSession, ClientLeavingMidFrameLeavesTheServerReady) {
    config.noise = true;  // big frames
    start();
    {
        ScriptedClient c(port_, 4096);
        greet(c, 800, 600, 30, 0, 1);
        c.send(MSG_LAUNCH_APP, le16(1));
        c.until(MSG_STREAM_STATE);
        uint8_t header[5];
        ASSERT_EQ(c.read_exact(header, 5, 3000), 1);
        ASSERT_EQ(header[4], MSG_VIDEO_FRAME);
        uint8_t some[100];
        ASSERT_EQ(c.read_exact(some, sizeof some, 3000), 1);
        linger l = {1, 0};  // reset, not an orderly close
        setsockopt(c.fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ScriptedClient next(port_);
    greet(next, 160, 120, 30, 0, 1);
    next.send(MSG_LAUNCH_APP, le16(1));
    next.until(MSG_STREAM_STATE);
    Message frame = next.expect(MSG_VIDEO_FRAME);
    ClientPicture pic;
    EXPECT_EQ(pic.apply(frame.payload), 1);
    EXPECT_EQ(pic.width, 160);
}

TEST_F(ServerSession, BrokenClientsAreDroppedAndTheNextIsServed) {
    start();
    {
        ScriptedClient c(port_);
        Bytes wrong = hello(320, 240, 30, 0, 1, "X", "");
        wrong[3] = '7';  // "QV97"
        c.send(MSG_HELLO, wrong);
        EXPECT_EQ(c.next().type, -2);
    }
    {
        ScriptedClient c(port_);
        greet(c);
        // A header announcing far more than any client message.
        uint8_t huge[5] = {0, 0, 0, 1, MSG_WEB_ADDRESS};
        ASSERT_EQ(::send(c.fd(), huge, 5, MSG_NOSIGNAL), 5);
        EXPECT_EQ(c.next().type, -2);
    }
    {
        // Short and unknown messages are ignored.
        ScriptedClient c(port_);
        greet(c);
        c.send(MSG_LAUNCH_APP, Bytes{1});
        c.send(MSG_FRAME_ACK, Bytes{1, 2});
        c.send(200, Bytes{1, 2, 3});
        c.send(MSG_LAUNCH_APP, le16(999));
        Message text = c.expect(MSG_SERVER_TEXT);
        EXPECT_EQ(text.payload[0], 0);
        c.send(MSG_PING, le32(5));
        EXPECT_EQ(c.expect(MSG_PONG).payload, le32(5));
    }
    ScriptedClient c(port_);
    greet(c);
}

TEST_F(ServerSession, RandomMessagesNeitherCrashNorStallTheServer) {
    config.pin_ms = 0;
    start();
    std::mt19937 rng(2024);
    {
        ScriptedClient c(port_);
        greet(c, 200, 150, 60, 8000, 1);
        for (int i = 0; i < 3000; i++) {
            uint8_t type = uint8_t(rng() % 4 == 0 ? 64 + rng() % 13 : rng());
            if (type == MSG_PING) continue;  // Pings are checked below
            Bytes payload(rng() % 40);
            for (uint8_t& b : payload) b = uint8_t(rng());
            if (type == MSG_LAUNCH_APP && payload.size() >= 2) payload[1] = 0, payload[0] = uint8_t(1 + rng() % 7);
            c.send(type, payload);
            if (i % 100 == 0) {  // keep reading so the server's queue drains
                Message m = c.next(1);
                (void)m;
            }
        }
        c.send(MSG_PING, le32(0xC0FFEE));
        Message pong = c.until(MSG_PONG, 5000);
        EXPECT_EQ(pong.payload, le32(0xC0FFEE));
    }
    ScriptedClient c(port_);
    greet(c);
}

TEST_F(ServerSession, GameStreamShowsItsPinOnTheTitleScreenFirst) {
    config.pin_ms = 300;
    start();
    ScriptedClient c(port_);
    greet(c, 160, 120, 30, 0, 1);
    auto launched = std::chrono::steady_clock::now();
    c.send(MSG_LAUNCH_APP, le16(6));
    Message title = c.expect(MSG_SERVER_TEXT);
    EXPECT_EQ(title.payload[0], TEXT_SLOT_TITLE);
    Message pin = c.expect(MSG_SERVER_TEXT);
    ASSERT_EQ(pin.payload.size(), 5u);
    EXPECT_EQ(pin.payload[0], TEXT_SLOT_PIN);
    for (size_t i = 1; i < 5; i++) EXPECT_TRUE(isdigit(pin.payload[i]));
    EXPECT_EQ(c.expect(MSG_SERVER_TEXT).payload[0], 0);
    // Only after the pause: the stream itself, the PIN cleared.
    c.expect(MSG_STREAM_SETUP);
    EXPECT_GE(std::chrono::steady_clock::now() - launched, std::chrono::milliseconds(250));
    Message cleared = c.expect(MSG_SERVER_TEXT);
    EXPECT_EQ(cleared.payload, (Bytes{TEXT_SLOT_PIN}));
    c.expect(MSG_SERVER_TEXT);
    c.expect(MSG_SERVER_TEXT);
    EXPECT_EQ(c.expect(MSG_STREAM_STATE).payload, (Bytes{1, 0, 4}));
}

TEST_F(ServerSession, WebEntryStartsWithAnAddressAndShowsTheOnesItReceives) {
    config.audio = false;
    start();
    ScriptedClient c(port_);
    greet(c, 320, 240, 30, 0, 1);
    c.send(MSG_LAUNCH_APP, le16(5));
    c.expect(MSG_STREAM_SETUP);
    c.expect(MSG_SERVER_TEXT);
    c.expect(MSG_SERVER_TEXT);
    Message address = c.expect(MSG_SERVER_TEXT);
    EXPECT_EQ(address.payload[0], TEXT_SLOT_WEB_ADDRESS);
    EXPECT_EQ(text_of(address, 1).substr(0, 7), "http://");
    EXPECT_EQ(c.expect(MSG_STREAM_STATE).payload, (Bytes{1, 1, 3}));

    // Follow the picture; after a WebAddress it must change where the
    // address is drawn, even with nothing else moving there.
    ClientPicture pic;
    Message f = c.expect(MSG_VIDEO_FRAME);
    ASSERT_EQ(pic.apply(f.payload), 1);
    c.send(MSG_FRAME_ACK, le32(frame_id(f.payload)));
    auto panel = [&] {  // the right half below the address heading
        std::vector<uint16_t> out;
        for (int y = 100; y < 140; y++)
            for (int x = 168; x < 312; x++) out.push_back(pic.pixels[size_t(y) * size_t(pic.pitch) + size_t(x)]);
        return out;
    };
    std::vector<uint16_t> before = panel();
    Bytes web = {0};
    std::string url = "www.exempel.se";
    web.insert(web.end(), url.begin(), url.end());
    c.send(MSG_WEB_ADDRESS, web);
    bool changed = false;
    for (int i = 0; i < 30 && !changed; i++) {
        Message m = c.expect(MSG_VIDEO_FRAME);
        ASSERT_EQ(pic.apply(m.payload), 1);
        c.send(MSG_FRAME_ACK, le32(frame_id(m.payload)));
        changed = panel() != before;
    }
    EXPECT_TRUE(changed);
}

}  // namespace
