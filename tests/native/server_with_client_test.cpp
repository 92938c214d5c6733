// The client's own network thread (native build: real sockets, stand-in
// window and sound) against the real server: greeting, menu, a launched
// entry streaming frames that the client decodes and acknowledges, the way
// back to the menu, and a key that does not match.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "core/client_state.h"
#include "core/client_text.h"
#include "core/notify_stub.h"
#include "core/sys.h"
#include "link/connection.h"
#include "link/wire.h"
#include "media/frame_buffer.h"
#include "server/server.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"

namespace {

bool wait_until(const std::function<bool()>& condition, int limit_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class ServerWithClient : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        settings_reset_defaults();
    }
    void start_server() {
        std::string error;
        listen_fd_ = qvs::open_listener("127.0.0.1", 0, &port_, &error);
        ASSERT_GE(listen_fd_, 0) << error;
        server_ = std::thread([this] { qvs::serve(listen_fd_, config, &stop_, 0); });
    }
    void start_client(const char* key) {
        std::strcpy(settings.host, "127.0.0.1");
        settings.port = port_;
        settings.bredd = 320;
        settings.hojd = 240;
        settings.fps = 30;
        std::strcpy(settings.namn, "TESTMASKIN");
        std::strcpy(settings.nyckel, key);
        create_frame_buffer(320, 240);
        client_ = thread_start(network_thread, nullptr);
        ASSERT_NE(client_, 0u);
    }
    void TearDown() override {
        state.quit.store(1);
        close_link_socket();
        if (client_) {
            EXPECT_EQ(thread_join(client_, 5000), 1);
        }
        stop_ = true;
        if (server_.joinable()) server_.join();
        if (listen_fd_ >= 0) ::close(listen_fd_);
        client_state_reset();
    }
    std::string text(const char* field, int size) {
        char copy[256];
        text_load(copy, size < 256 ? size : 256, field);
        return copy;
    }

    qvs::ServerConfig config;
    int port_ = 0;

private:
    int listen_fd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread server_;
    uintptr_t client_ = 0;
};

TEST_F(ServerWithClient, MenuStreamAndBackThroughTheClientsOwnCode) {
    config.apps = qvs::builtin_menu(":7");
    start_server();
    start_client("");
    ASSERT_TRUE(wait_until([] { return state.app_count.load() == 3; }, 5000));
    // The names arrive in the client's 8-bit code page.
    EXPECT_STREQ(state.apps[0].name, "Terminal");
    EXPECT_STREQ(state.apps[1].name, "Hela sk\xE4rmen");
    for (int i = 0; i < 3; i++) EXPECT_EQ(state.apps[i].id, i + 1);
    EXPECT_EQ(state.apps[1].kind, APP_KIND_SCREEN);
    EXPECT_NE(text(state.status_text, STATUS_TEXT_SIZE).find("TESTMASKIN"), std::string::npos);

    // Enter on the demo, as the window thread would send it.
    uint8_t launch[2];
    build_launch_app(launch, 3);
    send_message(MSG_LAUNCH_APP, launch, 2);
    uint32_t frames_before = notify_stub_frame_ready_count.load();
    // Frames keep coming only while the client acknowledges them.
    ASSERT_TRUE(wait_until([&] { return notify_stub_frame_ready_count.load() >= frames_before + 15; }, 10000));
    EXPECT_EQ(state.stream_mode.load(), 1);
    EXPECT_EQ(state.pointer_mode.load(), 1);
    EXPECT_EQ(state.frame_valid.load(), 1);
    EXPECT_EQ(state.remote_width.load(), 320);
    EXPECT_EQ(state.remote_height.load(), 240);
    EXPECT_EQ(text(state.title_text, TITLE_TEXT_SIZE), "Demo");

    // The decoded picture is the demo's: many colours, the title bar's
    // colour across the top row.
    lock_enter(&state.state_lock);
    std::set<uint16_t> colours;
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) colours.insert(frame_buffer.pixels[y * frame_buffer.pitch + x]);
    uint16_t corner = frame_buffer.pixels[0], far_corner = frame_buffer.pixels[300];
    lock_leave(&state.state_lock);
    EXPECT_GT(colours.size(), 100u);
    EXPECT_EQ(corner, far_corner);
    EXPECT_NE(corner, 0);

    // F9: back to the menu.
    send_message(MSG_MENU_REQUEST, nullptr, 0);
    ASSERT_TRUE(wait_until([] { return state.stream_mode.load() == 0; }, 5000));
    EXPECT_EQ(state.frame_valid.load(), 0);
    EXPECT_EQ(state.app_count.load(), 3);
}

TEST_F(ServerWithClient, AClientWithTheWrongKeySeesWhyAndIsLetGo) {
    config.require_key = true;
    config.key = "hemlig";
    config.refuse_linger_ms = 200;
    start_server();
    start_client("gissning");
    // The status line carries the server's reason, then the link drops and
    // the client says so itself; it never gets the menu.
    ASSERT_TRUE(wait_until([&] { return text(state.status_text, STATUS_TEXT_SIZE).find("nyckel") != std::string::npos; },
                           5000));
    ASSERT_TRUE(wait_until([&] { return text(state.status_text, STATUS_TEXT_SIZE).find("Anslutningen br") == 0; },
                           5000));
    EXPECT_EQ(state.app_count.load(), 0);
}

}  // namespace
