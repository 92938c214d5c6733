// A game stream against the test host: input arriving as the host's virtual
// keys and packets, whole pictures despite lost packets, and the end when the
// host quits or vanishes. Its picture and tone: server_moonlight_check.py.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "link/wire.h"
#include "server/log.h"
#include "server/moonlight/control_message.h"
#include "server/moonlight/game_stream.h"
#include "server/moonlight/pairing_crypto.h"
#include "server/moonlight/reed_solomon.h"
#include "server/moonlight/rtsp_client.h"
#include "tests/moonlight/fake_stream_host.h"

namespace {

using qvs::GameStream;

qvs::GameStreamLaunch launch_of(const qvs::FakeStreamHost& host) {
    qvs::GameStreamLaunch l;
    l.host = "127.0.0.1";
    l.session_url = "rtsp://127.0.0.1:" + std::to_string(host.rtsp_port());
    return l;
}

struct Streaming {
    qvs::FakeStreamHost host;
    std::unique_ptr<GameStream> stream;
    explicit Streaming(const qvs::FakeStreamOptions& options = {}) : host(options) {
        qvs::GameStreamLaunch l = launch_of(host);
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

TEST(GameStream, DoesNotStartWithoutTheHostsLaunch) {
    qvs::FakeStreamHost host({});  // never launched: its RTSP port answers nothing
    std::string error;
    EXPECT_FALSE(GameStream::start(launch_of(host), &error));
    EXPECT_EQ(error, "Strömmen från värddatorn kunde inte startas.");
}

TEST(GameStream, MendsLossesAndEndsWhenTheHostQuitsOrVanishes) {
    struct Case {
        int drop_every, lose_frame_every;
        bool more_idr;  // beyond the start's: frames were lost past what parity mends
        bool vanish;
    } cases[] = {{3, 0, false, false}, {0, 10, true, true}};
    for (const Case& c : cases) {
        qvs::FakeStreamOptions options;
        options.drop_every = c.drop_every;
        options.lose_frame_every = c.lose_frame_every;
        Streaming s(options);
        ASSERT_TRUE(s.stream);
        EXPECT_GE(s.colours(1200).size(), 2u);
        EXPECT_EQ(s.host.idr_requests() > 1, c.more_idr);
        c.vanish ? s.host.vanish() : s.host.quit();
        EXPECT_EQ(s.wait_end(), c.vanish ? "Värddatorn svarar inte längre." : "Spelet avslutades på värddatorn.");
    }
}

std::string hex(const uint8_t* p, size_t n) { return qvs::to_hex(qvs::ByteString(p, p + n)); }

TEST(GameStreamParts, ReedSolomonGivesTheReferenceParityAndRebuildsAnyLostShards) {
    static const uint8_t AUDIO_ROWS[8] = {0x77, 0x40, 0x38, 0x0e, 0xc7, 0xa7, 0x0d, 0x6c};
    struct Case {
        int data;
        const uint8_t* rows;  // null: the Cauchy matrix
        const char* parity;
    } cases[] = {
        {4, nullptr, "495d9681009a8d46"},
        {4, AUDIO_ROWS, "1f60e0bef44864d7"},
        {3, nullptr, "5deed16111cc129e"},
        {1, nullptr, "8609870a0f0efa0c"},
    };
    for (const Case& c : cases) {
        qvs::ReedSolomon rs = c.rows ? qvs::ReedSolomon(c.data, 2, c.rows) : qvs::ReedSolomon(c.data, 2);
        uint8_t shards[6][4];
        for (int i = 0; i < c.data; i++)
            for (int b = 0; b < 4; b++) shards[i][b] = uint8_t(0x11 * (i + 1) + b);
        uint8_t* rows[6];
        for (int i = 0; i < 6; i++) rows[i] = shards[i];
        rs.encode(rows, 4);
        EXPECT_EQ(hex(shards[c.data], 4) + hex(shards[c.data + 1], 4), c.parity);
        // Every way of losing up to two of the shards.
        for (int lost = 0; lost < 1 << (c.data + 2); lost++) {
            uint8_t copy[6][4], present[6];
            std::memcpy(copy, shards, sizeof copy);
            int missing = 0;
            for (int i = 0; i < c.data + 2; i++) {
                present[i] = !(lost >> i & 1);
                if (!present[i]) std::memset(copy[i], 0xEE, 4), missing++;
                rows[i] = copy[i];
            }
            bool rebuilt = rs.recover(rows, present, 4);
            EXPECT_EQ(rebuilt, missing <= 2) << lost;
            if (rebuilt) {
                EXPECT_EQ(hex(copy[0], 4 * size_t(c.data)), hex(shards[0], 4 * size_t(c.data))) << lost;
            }
        }
    }
}

TEST(GameStreamParts, ControlMessagesAreSealedAsTheReferenceAndForgeriesRefused) {
    uint8_t key[16];
    for (int i = 0; i < 16; i++) key[i] = uint8_t(i);
    std::vector<uint8_t> sealed = qvs::seal_control(key, 0, 'C', {0x0302, {0, 0}});
    EXPECT_EQ(hex(sealed.data(), sealed.size()), "01001a000000000022302723537811166cb9bfead7dad4575cd629f5cafe");
    qvs::ControlMessage m;
    ASSERT_TRUE(qvs::open_control(key, 'C', sealed.data(), sealed.size(), &m));
    EXPECT_EQ(std::make_pair(m.type, m.payload), std::make_pair(uint16_t(0x0302), std::vector<uint8_t>{0, 0}));
    EXPECT_FALSE(qvs::open_control(key, 'H', sealed.data(), sealed.size(), &m));  // the other direction's IV
    for (size_t at : {size_t(2), size_t(10), sealed.size() - 1}) {
        std::vector<uint8_t> bad = sealed;
        bad[at] ^= 1;
        EXPECT_FALSE(qvs::open_control(key, 'C', bad.data(), bad.size(), &m)) << at;
    }
}

TEST(GameStreamParts, RtspRepliesAreReadAndTheAnnounceFitsTheHostsBuffer) {
    qvs::RtspReply r;  // a good reply: every session with the test host reads them
    EXPECT_FALSE(qvs::parse_rtsp_reply("HTTP/1.1 200 OK\r\n\r\n", &r));
    EXPECT_EQ(std::make_pair(qvs::rtsp_port_of("rtsp://[fe80::1]:48010"), qvs::rtsp_port_of("rtspenc://h:1")),
              std::make_pair(48010, -1));
    qvs::GameStreamLaunch l;
    l.width = l.height = l.fps = l.bitrate_kbps = 100000;
    std::string sdp = qvs::announce_sdp(l, "255.255.255.255", 1392, 1);
    EXPECT_LT(sdp.size() + 200, 2048u);  // room for the request line and headers
}

// The pairing's building blocks against the protocol description's test
// vectors, and what a host's certificate and signatures must prove.
qvs::ByteString bytes(const std::string& text) {
    qvs::ByteString out;
    EXPECT_TRUE(qvs::from_hex(text, &out)) << text;
    return out;
}

TEST(ServerMoonlight, PairingKeyAndCipherMatchTheVectors) {
    qvs::ByteString salt = bytes("000102030405060708090a0b0c0d0e0f");
    struct Case { const char* version; const char* key; };
    for (Case c : {Case{"7.1.431.-1", "bad0b4f7cae08eb7c1b5acc763a8ed25"}, Case{"3.12.0.0", "0cd2f00b23437ed6adc97cd8f7dbf3ed"}})
        EXPECT_EQ(qvs::to_hex(qvs::pairing_key(qvs::pair_hash_for(c.version), salt, "1234")), c.key) << c.version;
    qvs::ByteString key = bytes("bad0b4f7cae08eb7c1b5acc763a8ed25"), plain = bytes("00112233445566778899AABBCCDDEEFF");
    qvs::ByteString sealed = qvs::aes_ecb(key, plain, true);
    EXPECT_EQ(qvs::to_hex(sealed), "278b359fe2e2eabe7cb7f282929f1ee9");
    EXPECT_EQ(qvs::aes_ecb(key, sealed, false), plain);
    EXPECT_TRUE(qvs::aes_ecb(key, qvs::ByteString(15), true).empty());  // only whole blocks
    qvs::ByteString out;
    for (const char* bad : {"abc", "zz", "0g"}) EXPECT_FALSE(qvs::from_hex(bad, &out)) << bad;
}

TEST(ServerMoonlight, SignaturesProveTheKeyOfTheCertificate) {
    std::string cert, key, other_cert, other_key;
    ASSERT_TRUE(qvs::make_self_signed("A", &cert, &key) && qvs::make_self_signed("B", &other_cert, &other_key));
    EXPECT_EQ(qvs::cert_signature(cert).size(), 256u);
    EXPECT_TRUE(qvs::cert_signature("not a certificate").empty());
    qvs::ByteString secret = bytes("0123456789abcdef0123456789abcdef"), sig = qvs::rsa_sign(key, secret);
    EXPECT_TRUE(qvs::rsa_verify(cert, secret, sig));
    EXPECT_FALSE(qvs::rsa_verify(other_cert, secret, sig));
    sig[10] ^= 1;
    EXPECT_FALSE(qvs::rsa_verify(cert, secret, sig));
}

}  // namespace
