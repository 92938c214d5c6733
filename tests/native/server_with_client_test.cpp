// The client's own network thread (real sockets, stand-in window and sound)
// against the real server: menu, a launched entry streaming, back to the menu.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#include "core/client_state.h"
#include "core/notify_stub.h"
#include "core/sys.h"
#include "link/connection.h"
#include "link/wire.h"
#include "media/frame_buffer.h"
#include "server/server.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"

namespace {

template <class Condition>
bool wait_until(Condition condition) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return condition();
}

// Server and client threads, stopped at the end of the test however it ends.
struct Both {
    qvs::ServerConfig config;
    int listen_fd = -1, port = 0;
    std::atomic<bool> stop{false};
    std::thread server;
    uintptr_t client = 0;
    ~Both() {
        state.quit.store(1);
        close_link_socket();
        EXPECT_TRUE(!client || thread_join(client, 5000) == 1);
        stop = true;
        if (server.joinable()) server.join();
        if (listen_fd >= 0) ::close(listen_fd);
        client_state_reset();
    }
};

TEST(ServerWithClient, MenuStreamAndBackThroughTheClientsOwnCode) {
    fresh_client_state();
    settings_reset_defaults();
    Both both;
    both.config.apps = qvs::builtin_menu(":7");
    std::string error;
    both.listen_fd = qvs::open_listener("127.0.0.1", 0, &both.port, &error);
    ASSERT_GE(both.listen_fd, 0) << error;
    both.server = std::thread([&] { qvs::serve(both.listen_fd, both.config, &both.stop, 0); });
    std::strcpy(settings.host, "127.0.0.1");
    settings.port = both.port, settings.bredd = 320, settings.hojd = 240, settings.fps = 30;
    std::strcpy(settings.namn, "TESTMASKIN");
    create_frame_buffer(320, 240);
    both.client = thread_start(network_thread, nullptr);
    ASSERT_NE(both.client, 0u);
    ASSERT_TRUE(wait_until([] { return state.app_count.load() == 3; }));
    // The names arrive in the client's 8-bit code page.
    EXPECT_EQ(std::string(state.apps[0].name) + "|" + state.apps[1].name, "Terminal|Hela sk\xE4rmen");
    EXPECT_EQ(std::make_tuple(state.apps[0].id, state.apps[1].id, state.apps[1].kind, state.apps[2].id),
              std::make_tuple(1, 2, APP_KIND_SCREEN, 3));

    // Enter on the demo, as the window thread would send it; frames keep
    // coming only while the client acknowledges them.
    uint8_t launch[2];
    build_launch_app(launch, 3);
    send_message(MSG_LAUNCH_APP, launch, 2);
    uint32_t frames_before = notify_stub_frame_ready_count.load();
    ASSERT_TRUE(wait_until([&] { return notify_stub_frame_ready_count.load() >= frames_before + 15; }));
    EXPECT_EQ(std::make_tuple(state.stream_mode.load(), state.pointer_mode.load(), state.frame_valid.load(),
                              state.remote_width.load(), state.remote_height.load()),
              std::make_tuple(1, 1, 1, 320, 240));
    // The decoded picture is the demo's: many colours, one across the top row.
    lock_enter(&state.state_lock);
    std::set<uint16_t> colours(frame_buffer.pixels, frame_buffer.pixels + 240 * frame_buffer.pitch);
    uint16_t corner = frame_buffer.pixels[0], far_corner = frame_buffer.pixels[300];
    lock_leave(&state.state_lock);
    EXPECT_TRUE(colours.size() > 100 && corner == far_corner && corner != 0) << colours.size() << " " << corner;

    send_message(MSG_MENU_REQUEST, nullptr, 0);  // F9: back to the menu
    ASSERT_TRUE(wait_until([] { return state.stream_mode.load() == 0; }));
    EXPECT_EQ(std::make_tuple(state.frame_valid.load(), state.app_count.load()), std::make_tuple(0, 3));
}

}  // namespace
