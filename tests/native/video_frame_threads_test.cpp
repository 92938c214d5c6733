// The network thread decoding frames (with size changes) while a stand-in
// window thread paints from the frame buffer under the lock and sends
// input: the painter only ever sees whole pictures, and the server only
// whole messages. Meant to run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "core/client_state.h"
#include "core/sys.h"
#include "link/net.h"
#include "link/wire.h"
#include "link/messages.h"
#include "media/codec.h"
#include "media/frame_buffer.h"
#include "tests/support/client_fixture.h"
#include "tests/support/fake_server.h"
#include "tests/support/video_frames.h"

namespace {

const int FRAMES = 300;
std::atomic<int> frames_done;

// Frames alternate between two sizes, each all one colour: a picture seen
// under the lock is either black (just re-created) or uniform.
unsigned long network_side(void*) {
    for (int i = 0; i < FRAMES; i++) {
        uint16_t w = i % 3 == 0 ? 64 : 40, h = i % 3 == 0 ? 48 : 30;
        uint16_t colour = uint16_t(0x0400 + i);
        size_t blocks = size_t((w + 7) / 8) * ((h + 7) / 8);
        std::vector<uint8_t> stream(blocks, BLOCK_FILL);
        for (size_t b = 0; b < blocks; b++) {
            stream.push_back(uint8_t(colour));
            stream.push_back(uint8_t(colour >> 8));
        }
        std::vector<uint8_t> body = video_frame(uint32_t(i), w, h, stream);
        handle_video_frame(body.data(), uint32_t(body.size()));
        frames_done.store(i + 1);
    }
    return 0;
}

TEST(VideoFrameThreads, PainterSeesWholePicturesAndServerWholeMessages) {
    fresh_client_state();
    create_frame_buffer(64, 48);
    FakeServer server;
    NetSocket s = net_tcp_socket();
    ASSERT_EQ(net_connect(s, net_inet_addr("127.0.0.1"), server.port()), 1);
    ASSERT_TRUE(server.accept_client(2000));
    state.sock.store(s);
    state.connected.store(1);

    // The server side reads everything the client sends, meanwhile.
    std::atomic<int> acks{0}, keys{0}, other{0};
    std::atomic<int> reading{1};
    std::thread reader([&] {
        uint8_t type;
        std::vector<uint8_t> payload;
        while (reading.load() && server.read_message(&type, &payload, 5000)) {
            if (type == MSG_FRAME_ACK && payload.size() == 4) acks++;
            else if (type == MSG_KEY && payload.size() == 4) keys++;
            else other++;
            if (acks.load() == FRAMES && keys.load() >= 1) break;
        }
    });

    frames_done.store(0);
    uintptr_t network = thread_start(network_side, nullptr);
    ASSERT_NE(0u, network);
    int paints = 0, torn = 0, sends = 0;
    while (frames_done.load() < FRAMES) {
        lock_enter(&state.state_lock);
        int32_t w = state.remote_width.load(), h = state.remote_height.load();
        if (frame_buffer.pixels != nullptr) {
            uint16_t first = frame_buffer.pixels[0];
            for (int32_t y = 0; y < h; y++)
                for (int32_t x = 0; x < w; x++)
                    if (frame_buffer.pixels[size_t(y) * frame_buffer.pitch + x] != first) torn++;
            paints++;
        }
        lock_leave(&state.state_lock);
        uint8_t key[4];
        send_message(MSG_KEY, key, uint32_t(build_key(key, 0x41, 0x1E, uint8_t(sends & 1))));
        sends++;
    }
    ASSERT_EQ(1, thread_join(network, 10000));
    reader.join();
    EXPECT_GT(paints, 0);
    EXPECT_EQ(0, torn);
    EXPECT_EQ(FRAMES, acks.load());
    EXPECT_EQ(0, other.load());
    EXPECT_EQ(FRAMES, int(state.frame_count.load()));
    net_close(state.sock.exchange(NET_NO_SOCKET));
    client_state_reset();
}

}  // namespace
