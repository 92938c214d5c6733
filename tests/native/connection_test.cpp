// The network thread against a test server on 127.0.0.1 (greeting, lost and
// refused connections, the receive loop's limits, the ways a link ends),
// the socket layer under it, and both client threads busy at once as in the
// running program: built with the thread sanitizer, this must run without
// reports.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/client_state.h"
#include "core/client_text.h"
#include "core/frame_notice.h"
#include "core/notify_stub.h"
#include "link/connection.h"
#include "link/net.h"
#include "link/wire.h"
#include "media/codec.h"
#include "media/frame_buffer.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"
#include "tests/support/loopback.h"
#include "tests/support/video_frames.h"

namespace {

using Clock = std::chrono::steady_clock;
const char* const LOST = "Anslutningen br\xF6ts. Ansluter igen ...";

bool wait_until(const std::function<bool()>& condition, int timeout_ms) {
    for (auto end = Clock::now() + std::chrono::milliseconds(timeout_ms); !condition();) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
std::string text(const char* shared) {
    char copy[STATUS_TEXT_SIZE];
    text_load(copy, sizeof copy, shared);
    return copy;
}
std::string status() { return text(state.status_text); }
std::string refused(const std::string& host, int port) {
    return "Kunde inte ansluta till " + host + ":" + std::to_string(port) +
           ". F\xF6rs\xF6ker igen ... (F10 = inst\xE4llningar)";
}
void set_host(const char* host, int port) {
    lock_enter(&settings_lock);
    std::strcpy(settings.host, host);
    settings.port = port;
    std::strcpy(settings.namn, "WIN98");
    lock_leave(&settings_lock);
}

class NetworkThread : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        settings_reset_defaults();
        ASSERT_TRUE(server.listen());
        set_host("127.0.0.1", server.port());
    }
    void TearDown() override { stop(); }
    void start() {
        thread = thread_start(network_thread, nullptr);
        ASSERT_NE(thread, 0u);
    }
    // As the window thread does at shutdown: quit, then close the socket.
    void stop() {
        if (thread == 0) return;
        state.quit.store(1);
        close_link_socket();
        EXPECT_EQ(thread_join(thread, 3000), 1);
        thread = 0;
    }
    // The next connection's first message is the Hello of these settings.
    void accept_with_hello(Loopback& peer) {
        ASSERT_TRUE(peer.accept(5000));
        Bytes hello = hx("51 56 39 38 01 00 80 02 e0 01 1e 22 56 00 00 02 57 49 4e 39 38");
        hello.resize(80, 0);
        SentMessage first = peer.next(3000);
        EXPECT_EQ(first.type, MSG_HELLO);
        EXPECT_EQ(first.payload, hello);
        ASSERT_TRUE(wait_until([] { return state.connected.load() == 1; }, 2000));
    }
    void accept_with_hello() { accept_with_hello(server); }
    static bool wait_bytes(uint32_t total) {
        return wait_until([total] { return state.byte_count.load() == total; }, 5000);
    }
    Loopback server;
    uintptr_t thread = 0;
};

std::mutex announced_lock;
std::vector<std::pair<std::string, Clock::time_point>> announced;
void record_announcement() {
    std::lock_guard<std::mutex> hold(announced_lock);
    announced.push_back({status(), Clock::now()});
}

}  // namespace

TEST_F(NetworkThread, HelloFirstThenLostLinksReconnectAfterASecond) {
    uint32_t notices = notify_stub_state_changed_count.load();
    start();
    accept_with_hello();
    EXPECT_TRUE(wait_until([&] { return status().empty() && notify_stub_state_changed_count.load() - notices >= 2; }, 2000));
    EXPECT_EQ(notify_stub_state_changed_count.load() - notices, 2u);  // "Ansluter ..." and the link
    ASSERT_TRUE(server.send(framed(MSG_APP_LIST, hx("01 00 09 00 00 03 41 70 70")) +
                            framed(MSG_SERVER_TEXT, hx("04 31 32 33 34")) + framed(MSG_SERVER_TEXT, hx("03 53 70 65 6c")) +
                            framed(MSG_STREAM_STATE, hx("01 01 02")) + framed(0, {}) + framed(MSG_STREAM_STATE, {})));
    ASSERT_TRUE(wait_bytes(14 + 10 + 10 + 8 + 5 + 5));  // payload and 5 per message
    EXPECT_EQ(state.app_count.load() * 10 + state.stream_mode.load(), 11);
    EXPECT_EQ(server.read(1, 50).size(), 0u);  // nothing else was sent
    server.drop();
    Clock::time_point lost = Clock::now();
    ASSERT_TRUE(wait_until([] { return status() == LOST; }, 2000));
    EXPECT_EQ(state.connected.load() + state.app_count.load() + state.stream_mode.load(), 0);
    EXPECT_EQ(state.pointer_mode.load() * 10 + state.app_kind.load(), 12);
    accept_with_hello();
    EXPECT_GE(Clock::now() - lost, std::chrono::milliseconds(900));
    // The new link empties the PIN and the status, not the title.
    EXPECT_TRUE(wait_until([] { return text(state.pin_text).empty() && status().empty(); }, 2000));
    EXPECT_EQ(text(state.title_text), "Spel");
}

TEST_F(NetworkThread, RefusedAttemptsRetryEveryTwoSeconds) {
    int port = server.port();
    server.close();
    announced.clear();
    notify_stub_state_changed_hook = record_announcement;
    start();
    EXPECT_TRUE(wait_until([] { std::lock_guard<std::mutex> hold(announced_lock); return announced.size() >= 4; }, 8000));
    Clock::time_point asked = Clock::now();
    stop();  // not the rest of the pause
    EXPECT_LT(Clock::now() - asked, std::chrono::milliseconds(1000));
    notify_stub_state_changed_hook = nullptr;
    std::lock_guard<std::mutex> hold(announced_lock);
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(announced[i].first, i % 2 ? refused("127.0.0.1", port)
                                            : "Ansluter till 127.0.0.1:" + std::to_string(port) + " ...");
    }
    auto pause = announced[2].second - announced[1].second;
    EXPECT_GE(pause, std::chrono::milliseconds(1900));
    EXPECT_LE(pause, std::chrono::milliseconds(4000));
    EXPECT_EQ(state.sock.load(), NET_NO_SOCKET);
}

TEST_F(NetworkThread, HostsByNameAndNone) {
    set_host("", server.port());  // no host: waits silently
    uint32_t notices = notify_stub_state_changed_count.load();
    start();
    EXPECT_FALSE(server.accept(600));
    EXPECT_EQ(status() + std::to_string(notify_stub_state_changed_count.load() - notices), "0");
    set_host("localhost", server.port());
    accept_with_hello();
    set_host("no-such-host.invalid", server.port());
    close_link_socket();
    EXPECT_TRUE(wait_until([&] { return status() == refused("no-such-host.invalid", server.port()); }, 10000));
    EXPECT_EQ(state.sock.load(), NET_NO_SOCKET);
    Loopback other;  // a changed host takes effect on the next attempt
    ASSERT_TRUE(other.listen());
    set_host("127.0.0.1", other.port());
    accept_with_hello(other);
}

TEST_F(NetworkThread, TheReceiveLoopsLimits) {
    start();
    accept_with_hello();
    // Exactly 4 MiB is read, and the link goes on.
    ASSERT_TRUE(server.send(framed(99, Bytes(WIRE_MAX_PAYLOAD, 0x5A)) + framed(MSG_STREAM_STATE, hx("01 00 00"))));
    uint32_t total = WIRE_MAX_PAYLOAD + 5 + 8;
    ASSERT_TRUE(wait_bytes(total));
    EXPECT_EQ(state.stream_mode.load(), 1);
    uint32_t capacity = receive_buffer_capacity();
    EXPECT_EQ(capacity, WIRE_MAX_PAYLOAD + 65536u);
    ASSERT_TRUE(server.send(framed(9, Bytes(100, 2)) + framed(MSG_SERVER_TEXT, hx("04 39 38 37 36"))));
    ASSERT_TRUE(wait_until([] { return text(state.pin_text) == "9876"; }, 2000));
    EXPECT_EQ(receive_buffer_capacity(), capacity);  // never shrinks
    // One byte more ends the link without reading further; so does a close
    // inside a message, which is never handled.
    ASSERT_TRUE(server.send(hx("01 00 40 00 63")));
    EXPECT_TRUE(server.closed_by_client(2000));
    EXPECT_TRUE(wait_until([] { return status() == LOST; }, 2000));
    accept_with_hello();
    ASSERT_TRUE(server.send(hx("64 00 00 00 06 00 78 78")));
    server.drop();
    EXPECT_TRUE(wait_until([] { return status() == LOST; }, 2000));
    EXPECT_EQ(state.byte_count.load(), total + 105 + 10);
    accept_with_hello();
}

TEST_F(NetworkThread, WaysTheLinkEnds) {
    const struct {
        const char* what;
        std::function<void(Loopback&)> end;
    } cases[] = {
        {"settings accepted", [](Loopback&) { state.reconnect.store(1); close_link_socket(); close_link_socket(); }},
        {"reconnect flag", [](Loopback& s) { state.reconnect.store(1); s.send(framed(MSG_PONG, hx("00 00 00 00"))); }},
        {"failed send", [](Loopback& s) {
             s.drop();
             uint8_t ping[4];
             wait_until([&] { send_message(MSG_PING, ping, uint32_t(build_ping(ping, 1))); return status() == LOST; }, 3000);
         }},
    };
    start();
    accept_with_hello();
    for (const auto& c : cases) {
        c.end(server);
        EXPECT_TRUE(wait_until([] { return status() == LOST; }, 3000)) << c.what;
        accept_with_hello();
        EXPECT_EQ(state.reconnect.load(), 0) << c.what;
    }
    // Window-thread messages sent as fast as they go never precede the Hello.
    std::atomic<int> sending(1);
    std::thread window([&] {
        uint8_t ping[4];
        while (sending.load()) send_message(MSG_PING, ping, uint32_t(build_ping(ping, 7)));
    });
    for (int round = 0; round < 3 && !HasFatalFailure(); round++) {
        server.drop();
        accept_with_hello();
    }
    sending.store(0);
    window.join();
    state.quit.store(1);  // quitting writes no lost-link text
    close_link_socket();
    EXPECT_EQ(thread_join(thread, 2000), 1);
    thread = 0;
    EXPECT_NE(status(), LOST);
}

TEST(Socket, SendAndReceiveWholeMessagesOverARealLink) {
    fresh_client_state();
    Loopback server;
    ASSERT_TRUE(server.open());
    // 3 MiB does not fit the socket buffers: send blocks and goes on, and
    // two threads' messages never interleave.
    Bytes big(3u << 20), a(5000, 0xAA);
    for (size_t i = 0; i < big.size(); i++) big[i] = uint8_t(i * 7 + (i >> 13));
    std::thread first([&] { send_message(MSG_WEB_ADDRESS, big.data(), uint32_t(big.size())); });
    std::thread second([&] { for (int i = 0; i < 200; i++) send_message(MSG_PING, a.data(), 5000); });
    int pings = 0, bigs = 0;
    for (int i = 0; i < 201; i++) {
        Bytes header = server.read(5, 10000);
        ASSERT_EQ(header.size(), 5u);
        Bytes payload = server.read(get_u32le(header.data()), 10000);
        if (header[4] == MSG_PING) pings += payload == a;
        else bigs += header[4] == MSG_WEB_ADDRESS && payload == big;
    }
    first.join();
    second.join();
    EXPECT_EQ(pings * 10 + bigs, 2001);
    // recv_exact gathers pieces and reports the peer's close.
    uint8_t buffer[16];
    server.send(hx("01 02 03"));
    std::thread writer([&] { sleep_ms(20); server.send(hx("04 05 06 07 08 09 0a")); server.drop(); });
    EXPECT_EQ(recv_exact(buffer, 0) * 10 + recv_exact(buffer, 7), 11);
    EXPECT_EQ(Bytes(buffer, buffer + 7), hx("01 02 03 04 05 06 07"));
    EXPECT_EQ(recv_exact(buffer, 5), 0);
    writer.join();
    // A failed send clears `connected`; later sends do nothing.
    for (int i = 0; i < 1000 && state.connected.load(); i++) send_message(MSG_PING, a.data(), 1000);
    EXPECT_EQ(state.connected.load(), 0);
    server.close();
    ASSERT_TRUE(server.open());  // a receive blocked when another thread wakes the socket fails
    NetSocket own = state.sock.load();
    std::thread waker([&] { sleep_ms(30); net_wake(state.sock.exchange(NET_NO_SOCKET)); });
    EXPECT_EQ(recv_exact(buffer, 5), 0);
    waker.join();
    send_message(MSG_MENU_REQUEST, nullptr, 0);  // nor does a send without a socket
    EXPECT_EQ(state.connected.load(), 0);
    net_close_after_wake(own);
    EXPECT_EQ(net_inet_addr("10.1.2.3"), htonl(0x0A010203u));
    EXPECT_EQ(net_inet_addr("localhost") & net_inet_addr(""), 0xFFFFFFFFu);
    uint16_t port = server.port();
    server.close();
    NetSocket s = net_tcp_socket();
    EXPECT_EQ(net_connect(s, net_inet_addr("127.0.0.1"), port), 0);  // refused
    net_close(s);
}

// The frame-ready gate under a flood: posts stay at most one ahead of takes.
TEST(TwoThreads, FrameNoticesNeverRunMoreThanOneAhead) {
    frame_notice_taken();
    std::atomic<int> posted{0}, taken{0}, worst{0};
    std::atomic<bool> done{false};
    std::thread window([&] {
        while (!done.load())
            if (posted.load() > taken.load()) taken++, frame_notice_taken();
    });
    for (int frame = 0; frame < 200000; frame++)
        if (frame_notice_claim() && ++posted - taken.load() > worst.load()) worst.store(posted - taken.load());
    done = true;
    window.join();
    EXPECT_LE(worst.load(), 1);
    EXPECT_GE(posted.load(), 1);
    frame_notice_taken();
}

// The network thread receives and decodes a stream (with size changes)
// while a stand-in window thread reads the shared texts and list, paints
// from the frame buffer under state_lock (seeing only whole, one-coloured
// pictures), keeps the statistics and sends input.
TEST(TwoThreads, StreamDecodesWhileTheWindowThreadPaintsAndSends) {
    fresh_client_state();
    settings_reset_defaults();
    Loopback server;
    ASSERT_TRUE(server.listen());
    set_host("127.0.0.1", server.port());
    settings.ljud = 0;
    std::atomic<int> stop{0}, torn{0}, painted{0};
    std::thread window_thread([&] {
        for (uint32_t ticks = 0; !stop.load(); ticks++) {
            char t[STATUS_TEXT_SIZE];
            text_load(t, sizeof t, state.status_text);
            text_load(t, PIN_TEXT_SIZE, state.pin_text);
            lock_enter(&state.state_lock);
            if (state.frame_valid.load() && frame_buffer.pixels != nullptr) {
                int32_t w = state.remote_width.load(), h = state.remote_height.load();
                for (int32_t y = 0; y < h; y++)
                    for (int32_t x = 0; x < w; x++)
                        torn += frame_buffer.pixels[y * frame_buffer.pitch + x] != frame_buffer.pixels[0];
                painted++;
            }
            for (int32_t i = 0; i < state.app_count.load(); i++) t[0] = state.apps[i].name[0];
            lock_leave(&state.state_lock);
            int32_t count = state.app_count.load();
            if (count > 0) state.app_selected.store((state.app_selected.load() + 1) % count);
            if (ticks % 16 == 0) {
                state.stat_fps.store(state.frame_count.exchange(0));
                state.stat_kbps.store(state.byte_count.exchange(0) >> 10);
            }
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
            while (acks.load() < frames) {
                SentMessage m = server.next(5000);
                if (m.type == 0) return;
                if (first_type.load() < 0) first_type.store(m.type);
                bad += m.type < MSG_HELLO || m.type > MSG_FRAME_ACK;
                if (m.type == MSG_FRAME_ACK) bad += get_u32le(m.payload.data()) != uint32_t(acks++);
            }
        });
        Bytes list = hx("02 00 01 00 00 03 4f 6e 65 02 00 03 03 54 77 6f"), all;
        ASSERT_TRUE(server.send(framed(MSG_STREAM_STATE, hx("01 01 00")) + framed(MSG_APP_LIST, list)));
        for (int i = 0; i < frames; i++) {
            uint16_t w = (i / 20) % 2 ? 72 : 64, h = (i / 20) % 2 ? 40 : 48;
            Bytes stream(size_t((w + 7) / 8) * ((h + 7) / 8), BLOCK_FILL), colour = {uint8_t(i), 0x10};
            for (size_t b = stream.size(); b-- > 0;) stream.insert(stream.end(), colour.begin(), colour.end());
            all = framed(MSG_VIDEO_FRAME, video_frame(uint32_t(i), w, h, stream));
            if (i % 10 == 0)
                all = all + framed(MSG_SERVER_TEXT, hx("04 50 49 4e")) + framed(MSG_APP_LIST, list) +
                      framed(MSG_PONG, hx("01 00 00 00"));
            ASSERT_TRUE(server.send(all));
        }
        reader.join();
        EXPECT_EQ(first_type.load() * 1000 + acks.load(), MSG_HELLO * 1000 + frames);
        EXPECT_EQ(bad.load(), 0);
        lock_enter(&state.state_lock);
        EXPECT_EQ(frame_buffer.pixels[(state.remote_height.load() - 1) * frame_buffer.pitch +
                                      state.remote_width.load() - 1], 0x1000 + frames - 1);
        lock_leave(&state.state_lock);
        state.reconnect.store(1);  // the settings dialog accepted: a new link
        close_link_socket();
    }
    EXPECT_TRUE(wait_until([&] { return painted.load() > 0; }, 5000));
    stop.store(1);
    window_thread.join();
    state.quit.store(1);
    close_link_socket();
    EXPECT_EQ(thread_join(network, 5000), 1);
    EXPECT_EQ(torn.load(), 0);
}
