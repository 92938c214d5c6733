// Both client threads busy at once, as in the running program: the real
// network thread receives and decodes a stream from a test server while a
// stand-in window thread reads the shared state, paints from the frame
// buffer under state_lock, keeps the statistics and sends input. Built
// with the thread sanitizer, this test must run without reports.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/client_state.h"
#include "core/client_text.h"
#include "link/connection.h"
#include "link/wire.h"
#include "media/frame_buffer.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"
#include "tests/support/fake_server.h"
#include "tests/support/video_frames.h"

namespace {

// A block stream that fills every 8 x 8 block of a w x h picture with `colour`.
std::vector<uint8_t> fill_stream(int w, int h, uint16_t colour) {
    int blocks = ((w + 7) / 8) * ((h + 7) / 8);
    std::vector<uint8_t> stream(static_cast<size_t>(blocks), 1);  // BLOCK_FILL
    for (int i = 0; i < blocks; i++) {
        stream.push_back(static_cast<uint8_t>(colour));
        stream.push_back(static_cast<uint8_t>(colour >> 8));
    }
    return stream;
}

// What the stand-in window thread does on every pass of its loop: the
// reads of painting, the statistics update and some input.
struct WindowStandIn {
    std::atomic<int> stop{0};
    std::atomic<uint64_t> painted_pixels{0};
    std::atomic<uint32_t> passes{0};
    std::atomic<uint64_t> sink{0};  // keeps the painting reads from being optimised away

    void run() {
        uint32_t ticks = 0;
        while (stop.load() == 0) {
            char text[STATUS_TEXT_SIZE];
            text_load(text, sizeof text, state.status_text);
            text_load(text, PIN_TEXT_SIZE, state.pin_text);
            text_load(text, TITLE_TEXT_SIZE, state.title_text);
            text_load(text, WEB_ADDRESS_SIZE, state.web_address);

            uint64_t sum = 0;
            lock_enter(&state.state_lock);
            if (state.stream_mode.load() == 1 && state.frame_valid.load() == 1 &&
                frame_buffer.pixels != nullptr) {
                int32_t w = state.remote_width.load();
                int32_t h = state.remote_height.load();
                for (int32_t y = 0; y < h; y++)
                    for (int32_t x = 0; x < w; x++) sum += frame_buffer.pixels[y * frame_buffer.pitch + x];
                painted_pixels.fetch_add(static_cast<uint64_t>(w) * static_cast<uint64_t>(h));
            }
            int32_t count = state.app_count.load();
            for (int32_t i = 0; i < count; i++) sum += std::strlen(state.apps[i].name) + state.apps[i].id;
            lock_leave(&state.state_lock);

            // Menu keys move the selection without the lock.
            if (count > 0) state.app_selected.store((state.app_selected.load() + 1) % count);

            // Statistics: read and zero the counters, then a Ping.
            if (++ticks % 16 == 0) {
                uint32_t frames = state.frame_count.exchange(0);
                uint32_t bytes = state.byte_count.exchange(0);
                state.stat_fps.store(frames);
                state.stat_kbps.store(bytes >> 10);
                uint8_t ping[4];
                send_message(MSG_PING, ping, static_cast<uint32_t>(build_ping(ping, tick_count())));
            }
            uint8_t input[4];
            send_message(MSG_MOUSE_POS, input, static_cast<uint32_t>(build_mouse_pos(input, 1, 2)));
            sink.store(sum);
            passes.fetch_add(1);
        }
    }
};

}  // namespace

TEST(TwoThreads, StreamDecodesWhileWindowThreadPaintsAndSends) {
    fresh_client_state();
    settings_reset_defaults();
    FakeServer server;
    lock_enter(&settings_lock);
    std::strcpy(settings.host, "127.0.0.1");
    settings.port = server.port();
    settings.ljud = 0;
    lock_leave(&settings_lock);

    WindowStandIn window;
    std::thread window_thread([&] { window.run(); });
    uintptr_t network = thread_start(network_thread, nullptr);
    ASSERT_NE(network, 0u);

    const int frames = 120;
    for (int round = 0; round < 2; round++) {
        ASSERT_TRUE(server.accept_client(5000));

        // The server's reader: every client message must be whole and of a
        // client type; the FrameAcks must come back in order.
        std::atomic<int> acks(0);
        std::atomic<int> bad(0);
        std::atomic<int> first_type(-1);
        std::thread reader([&] {
            for (;;) {
                uint8_t type = 0;
                std::vector<uint8_t> payload;
                if (!server.read_message(&type, &payload, 5000)) return;
                if (first_type.load() < 0) first_type.store(type);
                if (type < MSG_HELLO || type > MSG_FRAME_ACK) bad++;
                if (type == MSG_FRAME_ACK) {
                    uint32_t id = get_u32le(payload.data());
                    if (id != static_cast<uint32_t>(acks.load())) bad++;
                    if (++acks == frames) return;
                }
            }
        });

        ASSERT_TRUE(server.send_message(MSG_STREAM_STATE, {1, 1, 0}));
        std::vector<uint8_t> list = {2, 0, 1, 0, 0, 3, 'O', 'n', 'e', 2, 0, 3, 3, 'T', 'w', 'o'};
        ASSERT_TRUE(server.send_message(MSG_APP_LIST, list));
        for (int i = 0; i < frames; i++) {
            // The size changes now and then, so the frame buffer is re-created
            // while the window thread paints from it.
            int w = (i / 20) % 2 == 0 ? 64 : 72;
            int h = (i / 20) % 2 == 0 ? 48 : 40;
            uint16_t colour = static_cast<uint16_t>(0x1000 + i);
            ASSERT_TRUE(server.send_message(MSG_VIDEO_FRAME, video_frame(static_cast<uint32_t>(i),
                                                                         static_cast<uint16_t>(w),
                                                                         static_cast<uint16_t>(h),
                                                                         fill_stream(w, h, colour))));
            if (i % 10 == 0) {
                std::string text = "\x04" "PIN" + std::to_string(i);
                ASSERT_TRUE(server.send_message(MSG_SERVER_TEXT, std::vector<uint8_t>(text.begin(), text.end())));
                ASSERT_TRUE(server.send_message(MSG_APP_LIST, list));
                ASSERT_TRUE(server.send_message(MSG_PONG, {1, 0, 0, 0}));
            }
        }
        reader.join();
        EXPECT_EQ(first_type.load(), MSG_HELLO);
        EXPECT_EQ(acks.load(), frames);
        EXPECT_EQ(bad.load(), 0);

        // The last frame's colour is in the whole picture.
        lock_enter(&state.state_lock);
        ASSERT_NE(frame_buffer.pixels, nullptr);
        EXPECT_EQ(frame_buffer.pixels[0], 0x1000 + frames - 1);
        EXPECT_EQ(frame_buffer.pixels[(state.remote_height.load() - 1) * frame_buffer.pitch +
                                      state.remote_width.load() - 1],
                  0x1000 + frames - 1);
        lock_leave(&state.state_lock);

        if (round == 0) {
            // The settings dialog accepted on the window thread: reconnect.
            state.reconnect.store(1);
            close_link_socket();
        }
    }

    EXPECT_TRUE(wait_until([&] { return window.painted_pixels.load() > 0; }, 5000));
    window.stop.store(1);
    window_thread.join();
    state.quit.store(1);
    close_link_socket();
    EXPECT_EQ(thread_join(network, 5000), 1);
    EXPECT_GT(window.passes.load(), 0u);
}
