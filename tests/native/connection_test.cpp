// The network thread against a test server on 127.0.0.1: greeting,
// refused and lost connections, the receive loop's limits, and the ways
// the window thread ends a link or the thread.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/client_state.h"
#include "core/client_text.h"
#include "core/notify_stub.h"
#include "link/connection.h"
#include "link/wire.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"
#include "tests/support/fake_server.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const CONNECTING = "Ansluter till 127.0.0.1:%d ...";
const char* const REFUSED =
    "Kunde inte ansluta till 127.0.0.1:%d. F\xF6rs\xF6ker igen ... (F10 = inst\xE4llningar)";
const char* const LOST = "Anslutningen br\xF6ts. Ansluter igen ...";

std::string with_port(const char* format, int port) {
    char text[256];
    std::snprintf(text, sizeof text, format, port);
    return text;
}

std::string status() {
    char text[STATUS_TEXT_SIZE];
    text_load(text, sizeof text, state.status_text);
    return text;
}

std::string pin() {
    char text[PIN_TEXT_SIZE];
    text_load(text, sizeof text, state.pin_text);
    return text;
}

std::string title() {
    char text[TITLE_TEXT_SIZE];
    text_load(text, sizeof text, state.title_text);
    return text;
}

// The Hello of the default settings with namn WIN98 and no key, written
// out byte by byte as the server must see it.
std::vector<uint8_t> expected_hello() {
    std::vector<uint8_t> bytes = {'Q', 'V', '9', '8', 0x01, 0x00, 0x80, 0x02, 0xE0, 0x01,
                                  0x1E, 0x22, 0x56, 0x00, 0x00, 0x02, 'W', 'I', 'N', '9', '8'};
    bytes.resize(80, 0);
    return bytes;
}

std::vector<uint8_t> text_message(uint8_t slot, const std::string& text) {
    std::vector<uint8_t> payload(1 + text.size());
    payload[0] = slot;
    std::memcpy(payload.data() + 1, text.data(), text.size());
    return payload;
}

class NetworkThread : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        settings_reset_defaults();
        set_host("127.0.0.1", server.port());
    }
    void TearDown() override { stop(); }

    static void set_host(const char* host, int port) {
        lock_enter(&settings_lock);
        std::strcpy(settings.host, host);
        settings.port = port;
        std::strcpy(settings.namn, "WIN98");
        settings.nyckel[0] = 0;
        lock_leave(&settings_lock);
    }

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

    // Accepts the next connection and checks that its first message is the Hello.
    void accept_with_hello(int timeout_ms = 3000) {
        ASSERT_TRUE(server.accept_client(timeout_ms));
        uint8_t type = 0;
        std::vector<uint8_t> payload;
        ASSERT_TRUE(server.read_message(&type, &payload, 3000));
        EXPECT_EQ(type, MSG_HELLO);
        EXPECT_EQ(payload, expected_hello());
        ASSERT_TRUE(wait_until([] { return state.connected.load() == 1; }, 2000));
    }

    // Waits until the client has handled everything sent so far, by the
    // byte counter (the test zeroes nothing in between).
    static bool wait_bytes(uint32_t total) {
        return wait_until([total] { return state.byte_count.load() == total; }, 5000);
    }

    FakeServer server;
    uintptr_t thread = 0;
};

}  // namespace

TEST_F(NetworkThread, HelloIsFirstAndByteExactThenStatusIsCleared) {
    uint32_t notices = notify_stub_state_changed_count.load();
    start();
    accept_with_hello();
    EXPECT_TRUE(wait_until([] { return status().empty(); }, 2000));
    EXPECT_EQ(state.reconnect.load(), 0);
    // "Ansluter till ..." and the link being up were both announced.
    EXPECT_TRUE(wait_until([&] { return notify_stub_state_changed_count.load() >= notices + 2; }, 2000));
    // Nothing else was sent after the Hello.
    EXPECT_TRUE(server.read_exact(1, 100).empty());
}

TEST_F(NetworkThread, ConnectingShowsHostAndPort) {
    // A server that accepts nothing yet: the thread sits in "connecting"
    // only for an instant, so look at the text the failed attempt leaves.
    int port = server.port();
    server.stop_listening();
    start();
    EXPECT_TRUE(wait_until([&] { return status() == with_port(REFUSED, port); }, 3000));
}

// Every status text as it is announced, with its time (filled on the
// network thread through the notification stand-in).
struct Announced {
    std::string text;
    Clock::time_point when;
};
std::mutex announced_lock;
std::vector<Announced> announced;

void record_announcement() {
    std::lock_guard<std::mutex> hold(announced_lock);
    announced.push_back({status(), Clock::now()});
}

TEST_F(NetworkThread, RefusedPortRetriesEveryTwoSecondsWithAlternatingTexts) {
    int port = server.port();
    server.stop_listening();
    {
        std::lock_guard<std::mutex> hold(announced_lock);
        announced.clear();
    }
    notify_stub_state_changed_hook = record_announcement;
    start();
    EXPECT_TRUE(wait_until([] {
        std::lock_guard<std::mutex> hold(announced_lock);
        return announced.size() >= 6;
    }, 8000));
    stop();
    notify_stub_state_changed_hook = nullptr;

    std::lock_guard<std::mutex> hold(announced_lock);
    ASSERT_GE(announced.size(), 6u);
    for (size_t i = 0; i < announced.size(); i++) {
        EXPECT_EQ(announced[i].text, with_port(i % 2 == 0 ? CONNECTING : REFUSED, port)) << i;
        if (i % 2 == 0 && i > 0) {
            // The refused text stands for the 2 s pause before the next attempt.
            auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(
                announced[i].when - announced[i - 1].when);
            EXPECT_GE(pause.count(), 1900) << i;
            EXPECT_LE(pause.count(), 4000) << i;
        }
    }
    EXPECT_EQ(state.connected.load(), 0);
    EXPECT_EQ(state.sock.load(), NET_NO_SOCKET);
}

TEST_F(NetworkThread, ClosedConnectionReconnectsAfterOneSecondWithFreshHello) {
    start();
    accept_with_hello();
    // A menu with an entry, a PIN, a title, and a running stream.
    std::vector<uint8_t> list = {1, 0, 9, 0, 0, 3, 'A', 'p', 'p'};
    ASSERT_TRUE(server.send_message(MSG_APP_LIST, list));
    ASSERT_TRUE(server.send_message(MSG_SERVER_TEXT, text_message(4, "1234")));
    ASSERT_TRUE(server.send_message(MSG_SERVER_TEXT, text_message(3, "Spel")));
    ASSERT_TRUE(server.send_message(MSG_STREAM_STATE, {1, 1, 2}));
    ASSERT_TRUE(wait_bytes(14 + 10 + 10 + 8));
    EXPECT_EQ(state.app_count.load(), 1);
    EXPECT_EQ(state.stream_mode.load(), 1);

    server.drop_client();
    Clock::time_point lost = Clock::now();
    ASSERT_TRUE(wait_until([] { return status() == LOST; }, 2000));
    EXPECT_EQ(state.connected.load(), 0);
    EXPECT_EQ(state.app_count.load(), 0);
    EXPECT_EQ(state.stream_mode.load(), 0);
    EXPECT_EQ(state.pointer_mode.load(), 1);
    EXPECT_EQ(state.app_kind.load(), 2);
    EXPECT_EQ(pin(), "1234");
    EXPECT_EQ(title(), "Spel");

    accept_with_hello();
    auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lost);
    EXPECT_GE(pause.count(), 900);
    EXPECT_LE(pause.count(), 3000);
    // The new connection empties the PIN and the status, not the title.
    EXPECT_TRUE(wait_until([] { return pin().empty() && status().empty(); }, 2000));
    EXPECT_EQ(title(), "Spel");
}

TEST_F(NetworkThread, PeerClosingInsideAMessageEndsTheLink) {
    start();
    accept_with_hello();
    std::vector<uint8_t> half = {100, 0, 0, 0, MSG_SERVER_TEXT, 0};
    half.resize(6 + 49, 'x');
    ASSERT_TRUE(server.send_bytes(half));
    server.drop_client();
    ASSERT_TRUE(wait_until([] { return status() == LOST; }, 2000));
    // The partial message was never handled.
    EXPECT_EQ(state.byte_count.load(), 0u);
    accept_with_hello();
}

TEST_F(NetworkThread, OversizedHeaderDropsTheLinkAndExactLimitIsRead) {
    start();
    accept_with_hello();
    // Exactly 4 MiB of an unknown type is read in full ...
    std::vector<uint8_t> biggest(WIRE_MAX_PAYLOAD, 0x5A);
    ASSERT_TRUE(server.send_message(99, biggest));
    ASSERT_TRUE(wait_bytes(WIRE_MAX_PAYLOAD + 5));
    EXPECT_EQ(state.connected.load(), 1);
    // ... and the link still works after it.
    ASSERT_TRUE(server.send_message(MSG_STREAM_STATE, {1, 0, 0}));
    ASSERT_TRUE(wait_bytes(WIRE_MAX_PAYLOAD + 5 + 8));
    EXPECT_EQ(state.stream_mode.load(), 1);

    // One byte more in a header ends the link without reading further.
    ASSERT_TRUE(server.send_bytes({0x01, 0x00, 0x40, 0x00, 99}));
    EXPECT_TRUE(server.wait_client_closed(2000));
    EXPECT_TRUE(wait_until([] { return status() == LOST; }, 2000));
    EXPECT_EQ(state.byte_count.load(), WIRE_MAX_PAYLOAD + 5u + 8u);
    EXPECT_EQ(state.stream_mode.load(), 0);
    accept_with_hello();
}

TEST_F(NetworkThread, EmptyMessagesCountFiveBytesEach) {
    uint32_t notices = notify_stub_state_changed_count.load();
    start();
    accept_with_hello();
    ASSERT_TRUE(server.send_message(0, {}));                  // unknown type
    ASSERT_TRUE(server.send_message(MSG_STREAM_STATE, {}));   // too short: repaint only
    ASSERT_TRUE(wait_bytes(10));
    // "Ansluter till ...", the link being up, and the short StreamState.
    EXPECT_TRUE(wait_until([&] { return notify_stub_state_changed_count.load() == notices + 3; }, 2000));
    EXPECT_EQ(state.connected.load(), 1);
}

TEST_F(NetworkThread, ReceiveBufferGrowsOnlyWhenAPayloadNeedsMore) {
    start();
    accept_with_hello();
    uint32_t before = receive_buffer_capacity();
    uint32_t expected = before >= 1000001u ? before : 1000000u + 65536u;
    ASSERT_TRUE(server.send_message(9, std::vector<uint8_t>(1000000, 1)));
    uint32_t total = 1000005;
    ASSERT_TRUE(wait_bytes(total));
    EXPECT_EQ(receive_buffer_capacity(), expected);
    ASSERT_TRUE(server.send_message(9, std::vector<uint8_t>(100, 2)));
    ASSERT_TRUE(wait_bytes(total += 105));
    EXPECT_EQ(receive_buffer_capacity(), expected);
    // capacity - 1 bytes still fit; capacity bytes need a new buffer.
    // (Only when an earlier test in this process left no bigger buffer.)
    if (expected <= WIRE_MAX_PAYLOAD) {
        ASSERT_TRUE(server.send_message(9, std::vector<uint8_t>(expected - 1, 3)));
        ASSERT_TRUE(wait_bytes(total += expected - 1 + 5));
        EXPECT_EQ(receive_buffer_capacity(), expected);
        ASSERT_TRUE(server.send_message(9, std::vector<uint8_t>(expected, 4)));
        ASSERT_TRUE(wait_bytes(total += expected + 5));
        EXPECT_EQ(receive_buffer_capacity(), expected + 65536u);
    }
    // Payload contents still arrive intact after the growth.
    ASSERT_TRUE(server.send_message(MSG_SERVER_TEXT, text_message(4, "9876")));
    ASSERT_TRUE(wait_until([] { return pin() == "9876"; }, 2000));
}

TEST_F(NetworkThread, ReconnectFromTheWindowThreadEndsTheLink) {
    start();
    accept_with_hello();
    // The settings dialog accepted: reconnect, then close the socket.
    state.reconnect.store(1);
    close_link_socket();
    EXPECT_TRUE(server.wait_client_closed(2000));
    EXPECT_TRUE(wait_until([] { return status() == LOST; }, 2000));
    accept_with_hello();
    EXPECT_EQ(state.reconnect.load(), 0);
}

TEST_F(NetworkThread, ReconnectFlagAloneEndsTheLinkAfterTheNextMessage) {
    start();
    accept_with_hello();
    state.reconnect.store(1);
    ASSERT_TRUE(server.send_message(MSG_PONG, {0, 0, 0, 0}));
    EXPECT_TRUE(server.wait_client_closed(2000));
    accept_with_hello();
    EXPECT_EQ(state.reconnect.load(), 0);
}

TEST_F(NetworkThread, ChangedHostTakesEffectOnTheNextAttempt) {
    start();
    accept_with_hello();
    FakeServer other;
    set_host("127.0.0.1", other.port());
    state.reconnect.store(1);
    close_link_socket();
    ASSERT_TRUE(other.accept_client(3000));
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    ASSERT_TRUE(other.read_message(&type, &payload, 3000));
    EXPECT_EQ(type, MSG_HELLO);
    EXPECT_EQ(payload, expected_hello());
}

TEST_F(NetworkThread, SocketClosedByAnotherThreadEndsTheLink) {
    start();
    accept_with_hello();
    close_link_socket();
    EXPECT_TRUE(server.wait_client_closed(2000));
    EXPECT_TRUE(wait_until([] { return status() == LOST; }, 2000));
    EXPECT_EQ(state.connected.load(), 0);
    // A second close from either side finds no socket and does nothing.
    close_link_socket();
    accept_with_hello();
}

TEST_F(NetworkThread, FailedSendFromTheWindowThreadEndsTheLink) {
    start();
    accept_with_hello();
    server.drop_client();
    uint8_t ping[4];
    build_ping(ping, 1);
    // The window thread's sends fail once the peer is gone; the receive
    // loop notices (here the receive fails too) and reconnects.
    EXPECT_TRUE(wait_until([&] {
        send_message(MSG_PING, ping, 4);
        return status() == LOST;
    }, 3000));
    accept_with_hello();
}

TEST_F(NetworkThread, QuitEndsTheThreadWhileLinked) {
    start();
    accept_with_hello();
    state.quit.store(1);
    close_link_socket();
    EXPECT_EQ(thread_join(thread, 2000), 1);
    thread = 0;
    // The lost-link text is not written when quitting.
    EXPECT_NE(status(), LOST);
    EXPECT_EQ(state.connected.load(), 0);
}

TEST_F(NetworkThread, QuitEndsTheThreadDuringThePauses) {
    server.stop_listening();
    start();
    ASSERT_TRUE(wait_until([] { return status().rfind("Kunde", 0) == 0; }, 3000));
    Clock::time_point asked = Clock::now();
    state.quit.store(1);
    EXPECT_EQ(thread_join(thread, 2000), 1);
    thread = 0;
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked);
    EXPECT_LT(took.count(), 1000);  // not the rest of the 2 s pause
}

TEST_F(NetworkThread, EmptyHostWaitsSilentlyUntilOneIsSet) {
    set_host("", server.port());
    uint32_t notices = notify_stub_state_changed_count.load();
    start();
    EXPECT_FALSE(server.accept_client(600));
    EXPECT_EQ(status(), "");
    EXPECT_EQ(notify_stub_state_changed_count.load(), notices);
    set_host("127.0.0.1", server.port());
    accept_with_hello();
}

TEST_F(NetworkThread, HostNameIsLookedUp) {
    set_host("localhost", server.port());
    start();
    ASSERT_TRUE(server.accept_client(5000));
    uint8_t type = 0;
    std::vector<uint8_t> payload;
    ASSERT_TRUE(server.read_message(&type, &payload, 3000));
    EXPECT_EQ(type, MSG_HELLO);
}

TEST_F(NetworkThread, NameThatDoesNotResolveFailsTheAttempt) {
    // The look-up fails: the attempt ends with the failure text and no
    // socket is left behind.
    set_host("no-such-host.invalid", server.port());
    start();
    std::string refused = "Kunde inte ansluta till no-such-host.invalid:" + std::to_string(server.port()) +
                          ". F\xF6rs\xF6ker igen ... (F10 = inst\xE4llningar)";
    EXPECT_TRUE(wait_until([&] { return status() == refused; }, 10000));
    EXPECT_EQ(state.connected.load(), 0);
    EXPECT_EQ(state.sock.load(), NET_NO_SOCKET);
}

TEST_F(NetworkThread, WindowThreadMessagesNeverPrecedeTheHello) {
    // A stand-in window thread sends Pings as fast as it can while the
    // network thread connects again and again: the first message of every
    // connection must still be the Hello.
    std::atomic<int> stop_sending(0);
    std::thread window([&] {
        uint8_t ping[4];
        build_ping(ping, 7);
        while (stop_sending.load() == 0) send_message(MSG_PING, ping, 4);
    });
    start();
    for (int round = 0; round < 3; round++) {
        accept_with_hello();
        if (HasFatalFailure()) break;
        server.drop_client();
    }
    stop_sending.store(1);
    window.join();
}
