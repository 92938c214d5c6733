// send_message and recv_exact over a real connected socket pair.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "core/client_state.h"
#include "link/net.h"
#include "link/wire.h"
#include "tests/support/client_fixture.h"
#include "tests/support/fake_server.h"

namespace {

// Connects the client's socket layer to a FakeServer, as the network
// thread does, and installs the socket in state.sock.
class WireSocket : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        NetSocket s = net_tcp_socket();
        ASSERT_NE(s, NET_NO_SOCKET);
        ASSERT_EQ(net_connect(s, net_inet_addr("127.0.0.1"), server.port()), 1);
        ASSERT_TRUE(server.accept_client(2000));
        state.sock.store(s);
        state.connected.store(1);
    }
    void TearDown() override {
        NetSocket s = state.sock.exchange(NET_NO_SOCKET);
        net_close(s);
        client_state_reset();
    }
    FakeServer server;
};

}  // namespace

TEST_F(WireSocket, SendsDocumentedFrames) {
    send_message(MSG_MENU_REQUEST, nullptr, 0);
    uint8_t p[4];
    send_message(MSG_LAUNCH_APP, p, static_cast<uint32_t>(build_launch_app(p, 7)));
    send_message(MSG_FRAME_ACK, p, static_cast<uint32_t>(build_frame_ack(p, 258)));
    EXPECT_EQ(server.read_exact(21, 2000),
              (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00, 0x4A,                    //
                                    0x02, 0x00, 0x00, 0x00, 0x48, 0x07, 0x00,        //
                                    0x04, 0x00, 0x00, 0x00, 0x4C, 0x02, 0x01, 0x00, 0x00}));
    EXPECT_EQ(state.connected.load(), 1);
}

TEST_F(WireSocket, NothingIsSentWhileDisconnected) {
    state.connected.store(0);
    uint8_t p[2] = {1, 2};
    send_message(MSG_LAUNCH_APP, p, 2);
    state.connected.store(1);
    send_message(MSG_MENU_REQUEST, nullptr, 0);
    // Only the second message arrives.
    EXPECT_EQ(server.read_exact(5, 2000), (std::vector<uint8_t>{0, 0, 0, 0, 0x4A}));
    // And nothing of the first was written to the socket at all.
    EXPECT_TRUE(server.read_exact(1, 50).empty());
}

TEST_F(WireSocket, LargePayloadArrivesWholeThroughPartialSends) {
    // 3 MiB does not fit the socket buffers at once: send blocks and is
    // continued while the server reads slowly.
    std::vector<uint8_t> big(3u << 20);
    for (size_t i = 0; i < big.size(); i++) big[i] = static_cast<uint8_t>(i * 7 + (i >> 13));
    std::thread sender([&] { send_message(MSG_WEB_ADDRESS, big.data(), static_cast<uint32_t>(big.size())); });
    uint8_t type = 0;
    std::vector<uint8_t> got;
    EXPECT_TRUE(server.read_message(&type, &got, 10000));
    sender.join();
    EXPECT_EQ(type, MSG_WEB_ADDRESS);
    EXPECT_TRUE(got == big);
    EXPECT_EQ(state.connected.load(), 1);
}

TEST_F(WireSocket, TwoThreadsNeverInterleave) {
    // Each thread sends many messages whose payload names the sender; every
    // frame the server reads must be whole and of one sender.
    const int count = 300;
    std::vector<uint8_t> a(5000, 0xAA), b(7000, 0xBB);
    std::thread ta([&] { for (int i = 0; i < count; i++) send_message(MSG_PING, a.data(), 5000); });
    std::thread tb([&] { for (int i = 0; i < count; i++) send_message(MSG_CHAR, b.data(), 7000); });
    int seen_a = 0, seen_b = 0;
    for (int i = 0; i < 2 * count; i++) {
        uint8_t type = 0;
        std::vector<uint8_t> got;
        ASSERT_TRUE(server.read_message(&type, &got, 10000));
        if (type == MSG_PING) {
            ASSERT_TRUE(got == a);
            seen_a++;
        } else {
            ASSERT_EQ(type, MSG_CHAR);
            ASSERT_TRUE(got == b);
            seen_b++;
        }
    }
    ta.join();
    tb.join();
    EXPECT_EQ(seen_a, count);
    EXPECT_EQ(seen_b, count);
}

TEST_F(WireSocket, FailedSendClearsConnected) {
    server.drop_client();
    // The first sends may still be buffered; after the reset they fail.
    uint8_t p[1000] = {};
    ASSERT_TRUE(wait_until([&] {
        send_message(MSG_PING, p, sizeof p);
        return state.connected.load() == 0;
    }, 5000));
    // Further sends do nothing and leave the flag clear.
    send_message(MSG_PING, p, 4);
    EXPECT_EQ(state.connected.load(), 0);
}

TEST_F(WireSocket, SendOnWokenSocketClearsConnected) {
    // Still in state.sock, but shut down by another thread.
    net_wake(state.sock.load());
    send_message(MSG_MENU_REQUEST, nullptr, 0);
    EXPECT_EQ(state.connected.load(), 0);
}

TEST_F(WireSocket, SendWithoutSocketClearsConnected) {
    net_close(state.sock.exchange(NET_NO_SOCKET));
    send_message(MSG_MENU_REQUEST, nullptr, 0);
    EXPECT_EQ(state.connected.load(), 0);
}

TEST_F(WireSocket, RecvExactGathersPiecesAndReportsPeerClose) {
    std::thread writer([&] {
        server.send_bytes({1, 2, 3});
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        server.send_bytes({4, 5, 6, 7});
        server.send_bytes({8, 9, 10});  // then the peer closes mid-message
        server.drop_client();
    });
    uint8_t buffer[16] = {};
    EXPECT_EQ(recv_exact(buffer, 0), 1);
    EXPECT_EQ(recv_exact(buffer, 7), 1);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 7), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(recv_exact(buffer, 5), 0);  // 3 bytes, then the close
    writer.join();
}

TEST_F(WireSocket, RecvExactFailsWhenSocketClosedByAnotherThread) {
    NetSocket own = state.sock.load();
    std::thread closer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        net_wake(state.sock.exchange(NET_NO_SOCKET));
    });
    uint8_t buffer[5];
    EXPECT_EQ(recv_exact(buffer, 5), 0);  // would block forever otherwise
    closer.join();
    net_close_after_wake(own);
}

TEST(NetLayer, AddressesAndNames) {
    EXPECT_EQ(net_inet_addr("127.0.0.1"), htonl(0x7F000001u));
    EXPECT_EQ(net_inet_addr("10.1.2.3"), htonl(0x0A010203u));
    EXPECT_EQ(net_inet_addr("localhost"), 0xFFFFFFFFu);
    EXPECT_EQ(net_inet_addr(""), 0xFFFFFFFFu);
    uint32_t address = 0;
    EXPECT_EQ(net_resolve("localhost", &address), 1);
    EXPECT_EQ(address & 0xFFu, 127u);  // 127.x.x.x in network order
    EXPECT_EQ(net_resolve("no-such-host.invalid", &address), 0);
}

TEST(NetLayer, RefusedConnectFails) {
    int port;
    {
        FakeServer gone;
        port = gone.port();
    }
    NetSocket s = net_tcp_socket();
    EXPECT_EQ(net_connect(s, net_inet_addr("127.0.0.1"), static_cast<uint16_t>(port)), 0);
    net_close(s);
}
