// Every VideoFrame of at least 17 bytes is acknowledged on the wire with
// its frame_id, whether or not it decoded; shorter bodies are not.
#include <gtest/gtest.h>

#include <vector>

#include "core/client_state.h"
#include "link/net.h"
#include "link/wire.h"
#include "link/messages.h"
#include "media/codec.h"
#include "media/frame_buffer.h"
#include "tests/support/client_fixture.h"
#include "tests/support/fake_server.h"
#include "tests/support/video_frames.h"

namespace {

class FrameAck : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        create_frame_buffer(640, 480);
        NetSocket s = net_tcp_socket();
        ASSERT_NE(s, NET_NO_SOCKET);
        ASSERT_EQ(net_connect(s, net_inet_addr("127.0.0.1"), server.port()), 1);
        ASSERT_TRUE(server.accept_client(2000));
        state.sock.store(s);
        state.connected.store(1);
    }
    void TearDown() override {
        net_close(state.sock.exchange(NET_NO_SOCKET));
        client_state_reset();
    }
    void handle(const std::vector<uint8_t>& body) {
        handle_video_frame(body.data(), uint32_t(body.size()));
    }
    // The next message must be the FrameAck of frame_id, byte for byte.
    void expect_ack(uint32_t frame_id) {
        std::vector<uint8_t> want = {4, 0, 0, 0, MSG_FRAME_ACK, uint8_t(frame_id),
                                     uint8_t(frame_id >> 8), uint8_t(frame_id >> 16),
                                     uint8_t(frame_id >> 24)};
        EXPECT_EQ(want, server.read_exact(9, 2000)) << "frame " << frame_id;
    }
    FakeServer server;
};

TEST_F(FrameAck, EveryHandledFrameIsAcknowledgedWithItsNumber) {
    const std::vector<uint8_t> stream = {BLOCK_FILL, BLOCK_SKIP, 0x00, 0x7C};
    std::vector<uint8_t> good = video_frame(0x04030201u, 16, 8, stream);
    handle(good);
    expect_ack(0x04030201u);

    handle_video_frame(good.data(), 16);  // too short: no acknowledgement
    handle(video_frame_body(0xFFFFFFFFu, 16, 8, 16, {}));                         // 17 bytes
    handle(video_frame_body(7, 16, 8, 4, {1, 2, 3, 4, 5}));                       // not zlib
    handle(video_frame_body(8, 16, 8, 1, deflated(stream)));                      // raw_size short
    handle(video_frame_body(9, 16, 8, 0xFFFFFFFFu, deflated(stream)));            // hostile raw_size
    handle(video_frame_body(10, 65535, 65535, 0xFFFFFFFFu, deflated(stream)));    // no pixels
    handle(video_frame_body(11, 0, 0, 0, deflated({})));                          // empty picture
    handle(video_frame(12, 16, 8, {BLOCK_RAW}));                                   // short stream
    expect_ack(0xFFFFFFFFu);
    for (uint32_t id = 7; id <= 12; id++) expect_ack(id);
    EXPECT_EQ(1, state.connected.load());
}

}  // namespace
