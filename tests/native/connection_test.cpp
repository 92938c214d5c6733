// The network thread against a test server on 127.0.0.1, and both client threads at once.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/client_text.h"
#include "core/notify_stub.h"
#include "link/connection.h"
#include "link/net.h"
#include "link/wire.h"
#include "link/messages.h"
#include "media/audio.h"
#include "media/frame_buffer.h"
#include "server/protocol.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"
#include "tests/support/loopback.h"
#include "tests/support/video_frames.h"

namespace {

using Clock = std::chrono::steady_clock;
const char* const LOST = "Anslutningen br\xF6ts. Ansluter igen ...";

bool wait_until(const std::function<bool()>& condition, int timeout_ms = 3000) {
    for (auto end = Clock::now() + std::chrono::milliseconds(timeout_ms); !condition(); sleep_ms(1))
        if (Clock::now() > end) return false;
    return true;
}
std::string text(const char* shared = state.status_text) {
    char copy[STATUS_TEXT_SIZE];
    text_load(copy, sizeof copy, shared);
    return copy;
}
std::string refused(const std::string& host, int port) {
    return "Kunde inte ansluta till " + host + ":" + std::to_string(port) + ". F\xF6rs\xF6ker igen ... (F10 = inst\xE4llningar)";
}
void set_host(const char* host, int port) {
    lock_enter(&settings_lock);
    std::strcpy(settings.host, host);
    settings.port = port;
    std::strcpy(settings.namn, "WIN98");
    lock_leave(&settings_lock);
}
std::mutex announced_lock;
std::vector<std::pair<std::string, Clock::time_point>> announced;  // each status text as announced

class NetworkThread : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        ASSERT_TRUE(server.listen());
        set_host("127.0.0.1", server.port());
    }
    void TearDown() override { stop(); }
    void start() { ASSERT_NE(thread = thread_start(network_thread, nullptr), 0u); }
    void stop() {  // as the window thread does at shutdown
        if (thread == 0) return;
        state.quit.store(1);
        close_link_socket();
        EXPECT_EQ(thread_join(thread, 3000), 1);
        thread = 0;
    }
    void accept_with_hello(Loopback& peer) {
        ASSERT_TRUE(peer.accept(5000));
        SentMessage first = peer.next(3000);
        EXPECT_EQ(first.type, MSG_HELLO);
        EXPECT_EQ(first.payload, hx("51 56 39 38 01 00 80 02 e0 01 1e 22 56 00 00 02 57 49 4e 39 38") + Bytes(59, 0));
        ASSERT_TRUE(wait_until([] { return state.connected.load() == 1; }));
    }
    void accept_with_hello() { accept_with_hello(server); }
    static void lost() { EXPECT_TRUE(wait_until([] { return text() == LOST; })); }
    Loopback server;
    uintptr_t thread = 0;
};

}  // namespace

TEST_F(NetworkThread, HelloFirstThenALostLinkReconnectsAfterASecond) {
    uint32_t notices = notify_stub_state_changed_count.load();
    start();
    accept_with_hello();
    EXPECT_TRUE(wait_until([&] { return text().empty() && notify_stub_state_changed_count.load() - notices >= 2; }));
    EXPECT_EQ(notify_stub_state_changed_count.load() - notices, 2u);  // "Ansluter ..." and the link
    std::clock_t cpu = std::clock();
    EXPECT_LT((sleep_ms(300), std::clock() - cpu), CLOCKS_PER_SEC / 10);  // an idle link waits, it does not spin
    ASSERT_TRUE(server.send(framed(9, hx("2a")) + framed(MSG_APP_LIST, hx("01 00 09 00 00 03 41 70 70")) + framed(MSG_SERVER_TEXT, hx("04 31 32")) +
                            framed(MSG_SERVER_TEXT, hx("03 53 70 65 6c")) + framed(MSG_STREAM_STATE, hx("01 01 02")) +
                            framed(0, {}) + framed(MSG_STREAM_STATE, {})));
    ASSERT_TRUE(wait_until([] { return state.byte_count.load() == 6 + 14 + 8 + 10 + 8 + 5 + 5; }));  // 5 a message
    EXPECT_EQ(state.app_count.load() * 10 + state.stream_mode.load(), 11);
    EXPECT_EQ(server.read(1, 50).size(), 0u);  // nothing else was sent
    server.drop();
    Clock::time_point dropped = Clock::now();
    lost();
    EXPECT_EQ(state.connected.load() + state.app_count.load() + state.stream_mode.load(), 0);
    EXPECT_EQ(state.pointer_mode.load() * 10 + state.app_kind.load(), 12);
    accept_with_hello();
    EXPECT_GE(Clock::now() - dropped, std::chrono::milliseconds(900));
    EXPECT_TRUE(wait_until([] { return text(state.pin_text).empty() && text().empty(); }));  // not the title
    EXPECT_EQ(text(state.title_text), "Spel");
}

TEST_F(NetworkThread, RefusedAttemptsRetryEveryTwoSeconds) {
    int port = server.port();
    server.close();
    announced.clear();
    notify_stub_state_changed_hook = [] {
        std::lock_guard<std::mutex> hold(announced_lock);
        announced.push_back({text(), Clock::now()});
    };
    start();
    EXPECT_TRUE(wait_until([] { std::lock_guard<std::mutex> hold(announced_lock); return announced.size() >= 4; }, 8000));
    Clock::time_point asked = Clock::now();
    stop();  // at once, not after the rest of the pause
    EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(1000));
    notify_stub_state_changed_hook = nullptr;
    for (size_t i = 0; i < 4; i++)
        EXPECT_EQ(announced[i].first, i % 2 ? refused("127.0.0.1", port) : "Ansluter till 127.0.0.1:" + std::to_string(port) + " ...");
    EXPECT_GE(announced[2].second - announced[1].second, std::chrono::milliseconds(1900));
    EXPECT_LE(announced[2].second - announced[1].second, std::chrono::milliseconds(4000));
}

TEST_F(NetworkThread, HostsByNameAndNone) {
    set_host("", server.port());  // no host: waits silently
    uint32_t notices = notify_stub_state_changed_count.load();
    start();
    EXPECT_FALSE(server.accept(600));
    EXPECT_EQ(text() + std::to_string(notify_stub_state_changed_count.load() - notices), "0");
    set_host("localhost", server.port());
    accept_with_hello();
    set_host("no-such-host.invalid", server.port());
    close_link_socket();
    EXPECT_TRUE(wait_until([&] { return text() == refused("no-such-host.invalid", server.port()); }, 10000));
    EXPECT_EQ(state.sock.load(), NET_NO_SOCKET);
    Loopback other;  // a changed host is used on the next attempt
    ASSERT_TRUE(other.listen());
    set_host("127.0.0.1", other.port());
    accept_with_hello(other);
}

TEST_F(NetworkThread, TheReceiveLoopsLimitsAndTheWaysALinkEnds) {
    start();
    accept_with_hello();
    std::string capacities;
    for (uint32_t length : {1000000u, 1065535u, 1065536u, 100u, uint32_t(WIRE_MAX_PAYLOAD)}) {
        uint32_t before = state.byte_count.load();
        ASSERT_TRUE(server.send(framed(9, Bytes(length, 2))));
        ASSERT_TRUE(wait_until([&] { return state.byte_count.load() == before + length + 5; }));
        capacities += std::to_string(receive_buffer_capacity()) + " ";
    }
    EXPECT_EQ(capacities, "1065536 1065536 1131072 1131072 4259840 ");
    ASSERT_TRUE(server.send(framed(MSG_SERVER_TEXT, hx("04 39 38"))));
    ASSERT_TRUE(wait_until([] { return text(state.pin_text) == "98"; }));
    const std::function<void()> ends[] = {
        [&] { server.send(hx("01 00 40 00 63")); },                   // one byte over the limit
        [&] { server.send(hx("64 00 00 00 06 00 78")), server.drop(); },  // closed inside a message
        [] { state.reconnect.store(1), close_link_socket(), close_link_socket(); },  // settings accepted
        [&] { state.reconnect.store(1), server.send(framed(MSG_PONG, hx("00 00 00 00"))); },
        [&] {  // a failed send from the window thread
            server.drop();
            uint8_t ping[4];
            wait_until([&] { send_message(MSG_PING, ping, uint32_t(build_ping(ping, 1))); return text() == LOST; });
        },
    };
    for (const auto& end : ends) {
        end();
        lost();
        accept_with_hello();
        EXPECT_EQ(state.reconnect.load(), 0);
        if (&end == &ends[1]) { EXPECT_EQ(state.byte_count.load(), WIRE_MAX_PAYLOAD + 3131204u); }  // nothing cut counts
    }
    std::atomic<int> sending(1);  // window-thread messages never precede the Hello
    std::thread window([&] {
        for (uint8_t ping[4]; sending.load();) send_message(MSG_PING, ping, uint32_t(build_ping(ping, 7)));
    });
    for (int round = 0; round < 3 && !HasFatalFailure(); round++) server.drop(), accept_with_hello();
    sending.store(0);
    window.join();
    stop();
    EXPECT_NE(text(), LOST);  // quitting writes no lost-link text
}

TEST_F(NetworkThread, AServerThatReadsSlowlyGetsItAllOneThatStopsCostsTheLinkNotTheWindowThread) {
    ASSERT_TRUE(server.shrink_receive_buffer(4096));  // with the client's below, some 12 KB fill both
    start();
    accept_with_hello();
    int small = 4096;
    ASSERT_EQ(setsockopt(int(state.sock.load()), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    Bytes stream, payload(60, 7);
    for (int i = 0; i < 200; i++) send_message(MSG_CHAR, payload.data(), 60), stream = stream + framed(MSG_CHAR, payload);
    EXPECT_EQ(server.read(uint32_t(stream.size()), 5000), stream);  // the network thread sends what waited
    stream.clear();  // a stand-in window thread sends a burst of twice that, then nothing
    std::atomic<int> burst_done(0);
    std::thread window([&] {
        for (int i = 0; i < 400; i++) {
            Bytes burst(60, uint8_t(i));
            send_message(MSG_CHAR, burst.data(), 60);
            stream = stream + framed(MSG_CHAR, burst);
        }
        burst_done.store(1);
    });
    bool finished = wait_until([&] { return burst_done.load() == 1; }, 1000);
    Clock::time_point stuck = Clock::now();
    bool dropped = wait_until([] { return state.connected.load() == 0; }, 5000);
    Clock::duration waited = Clock::now() - stuck;
    if (!finished) server.drop();  // frees a send that would wait for ever
    window.join();
    ASSERT_TRUE(finished) << "the window thread waited for the server";
    ASSERT_TRUE(dropped);
    EXPECT_GE(waited, std::chrono::milliseconds(1500));  // the link gets some 2 s first
    lost();
    Bytes got;
    for (Bytes b; (b = server.read(1, 3000)).size() == 1;) got.push_back(b[0]);
    EXPECT_GT(got.size(), 1000u);
    ASSERT_LT(got.size(), stream.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), stream.begin()));
    accept_with_hello();  // and nothing of the old link precedes the new Hello
}

TEST(Socket, WholeMessagesOverARealLink) {
    fresh_client_state();
    Loopback server;
    ASSERT_TRUE(server.open());
    Bytes big((3u << 20) + 12345), a(5000, 0xAA);  // more than a send takes at once
    for (size_t i = 0; i < big.size(); i++) big[i] = uint8_t(i * 7 + (i >> 13));
    std::thread first([&] { send_message(MSG_WEB_ADDRESS, big.data(), uint32_t(big.size())); });
    std::thread second([&] { for (int i = 0; i < 200; i++) send_message(MSG_PING, a.data(), 5000); });
    int whole = 0;
    for (int i = 0; i < 201; i++) {
        Bytes header = server.read(5, 10000);
        ASSERT_EQ(header.size(), 5u);
        whole += server.read(get_u32le(header.data()), 10000) == (header[4] == MSG_PING ? a : big);
    }
    first.join();
    second.join();
    EXPECT_EQ(whole, 201);
    uint8_t buffer[16];  // recv_exact gathers pieces and reports the peer's close
    server.send(hx("01 02 03"));
    std::thread writer([&] { sleep_ms(20), server.send(hx("04 05 06 07 08 09 0a")), server.drop(); });
    EXPECT_EQ(recv_exact(buffer, 0) * 10 + recv_exact(buffer, 7), 11);
    EXPECT_EQ(Bytes(buffer, buffer + 7), hx("01 02 03 04 05 06 07"));
    EXPECT_EQ(recv_exact(buffer, 5), 0);
    writer.join();
    for (int i = 0; i < 1000 && state.connected.load(); i++) send_message(MSG_PING, a.data(), 1000);
    EXPECT_EQ(state.connected.load(), 0);  // a failed send clears it
    server.close();
    ASSERT_TRUE(server.open());
    NetSocket own = state.sock.load();  // a receive fails when another thread wakes the socket
    std::thread waker([&] { sleep_ms(30), net_wake(state.sock.exchange(NET_NO_SOCKET)); });
    EXPECT_EQ(recv_exact(buffer, 5), 0);
    waker.join();
    send_message(MSG_MENU_REQUEST, nullptr, 0);  // and a send without a socket clears `connected`
    EXPECT_EQ(state.connected.load(), 0);
    net_close_after_wake(own);
}

TEST(TwoThreads, StreamDecodesWhileTheWindowThreadPaintsAndSends) {
    fresh_client_state();
    settings.ljud = 0;
    Loopback server;
    ASSERT_TRUE(server.listen());
    set_host("127.0.0.1", server.port());
    std::atomic<int> stop{0}, torn{0}, painted{0};
    std::thread window_thread([&] {
        for (uint32_t ticks = 0; !stop.load(); ticks++) {
            char t[STATUS_TEXT_SIZE];
            text_load(t, PIN_TEXT_SIZE, state.pin_text);
            lock_enter(&state.state_lock);
            for (int32_t i = 0; i < state.app_count.load(); i++) t[0] = state.apps[i].name[0];
            if (state.frame_valid.load() && frame_buffer.pixels != nullptr) {
                for (int32_t y = 0; y < state.remote_height.load(); y++)
                    for (int32_t x = 0; x < state.remote_width.load(); x++)
                        torn += frame_buffer.pixels[y * frame_buffer.pitch + x] != frame_buffer.pixels[0];
                painted++;
            }
            lock_leave(&state.state_lock);
            if (state.app_count.load() > 0) state.app_selected.store(int32_t(ticks % 2));
            if (ticks % 16 == 0) state.stat_fps.store(state.frame_count.exchange(0) + state.byte_count.exchange(0));
            uint8_t input[4];
            send_message(MSG_MOUSE_POS, input, uint32_t(build_mouse_pos(input, 1, 2)));
        }
    });
    uintptr_t network = thread_start(network_thread, nullptr);
    ASSERT_NE(network, 0u);
    const int frames = 120;
    for (int round = 0; round < 2; round++) {
        ASSERT_TRUE(server.accept(5000));
        std::atomic<int> acks{0}, bad{0}, first_type{-1};
        std::thread reader([&] {  // every message whole and of a client type, FrameAcks in order
            for (SentMessage m; acks.load() < frames && (m = server.next(5000)).type != 0;) {
                if (first_type.load() < 0) first_type.store(m.type);
                bad += m.type < MSG_HELLO || m.type > MSG_FRAME_ACK;
                if (m.type == MSG_FRAME_ACK) bad += get_u32le(m.payload.data()) != uint32_t(acks++);
            }
        });
        Bytes list = hx("02 00 01 00 00 03 4f 6e 65 02 00 03 03 54 77 6f");
        ASSERT_TRUE(server.send(framed(MSG_STREAM_STATE, hx("01 01 00")) + framed(MSG_APP_LIST, list)));
        for (int i = 0; i < frames; i++) {
            uint16_t w = (i / 20) % 2 ? 72 : 64, h = (i / 20) % 2 ? 40 : 48;
            Bytes stream(size_t((w + 7) / 8) * ((h + 7) / 8), 1);
            for (size_t b = stream.size(); b-- > 0;) stream = stream + Bytes{uint8_t(i), 0x10};
            Bytes more = i % 10 ? Bytes() : framed(MSG_SERVER_TEXT, hx("04 50")) + framed(MSG_APP_LIST, list) + framed(MSG_PONG, Bytes(4, 1));
            ASSERT_TRUE(server.send(framed(MSG_VIDEO_FRAME, video_frame(uint32_t(i), w, h, stream)) + more));
        }
        reader.join();
        EXPECT_EQ(first_type.load() * 1000 + acks.load() + bad.load(), MSG_HELLO * 1000 + frames);
        lock_enter(&state.state_lock);
        EXPECT_EQ(frame_buffer.pixels[(state.remote_height.load() - 1) * frame_buffer.pitch + state.remote_width.load() - 1],
                  0x1000 + frames - 1);
        lock_leave(&state.state_lock);
        state.reconnect.store(1);  // the settings dialog accepted: a new link
        close_link_socket();
    }
    EXPECT_TRUE(wait_until([&] { return painted.load() > 0; }));
    stop.store(1);
    window_thread.join();
    state.quit.store(1);
    close_link_socket();
    EXPECT_EQ(thread_join(network, 5000), 1);
    EXPECT_EQ(torn.load(), 0);
}

// Our server's message builders, read by the client as it reads every server.
TEST(ServerMessages, ReadByTheClient) {
    fresh_client_state();
    const qvs::Bytes messages[] = {
        qvs::make_stream_setup(800, 600, 44100, 2, "Startar \xC3\xA5tta"), qvs::make_stream_state(1, 1, 3),
        qvs::make_app_list({{0x1234, 2, "F\xC3\xB6nster"}, {0x0102, 4, "Spel"}}), qvs::make_server_text(4, "4711")};
    for (const qvs::Bytes& m : messages) {  // whole framed messages
        ASSERT_EQ(get_u32le(m.data()) + 5, m.size());
        handle_message(m[4], m.data() + 5, uint32_t(m.size() - 5));
    }
    EXPECT_EQ(text() + "|" + text(state.pin_text) + "|" + state.apps[0].name + "|" + state.apps[1].name,
              "Startar \xE5tta|4711|F\xF6nster|Spel");
    EXPECT_EQ(std::to_string(state.remote_width.load()) + " " + std::to_string(state.remote_height.load()) + " " +
                  std::to_string(audio_current_rate()) + " " + std::to_string(audio_current_channels()),
              "800 600 44100 2");
    EXPECT_EQ(state.stream_mode.load() * 100 + state.pointer_mode.load() * 10 + state.app_kind.load(), 113);
    EXPECT_EQ(state.apps[0].id * 10 + state.apps[0].kind, 0x1234 * 10 + 2);
    EXPECT_EQ(state.apps[1].id * 10 + state.apps[1].kind, 0x0102 * 10 + 4);
    audio_open(0, 0);
}

