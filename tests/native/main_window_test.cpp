// The main window: bytes on the socket, menu selection, repaints, the program's end.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "core/client_state.h"
#include "core/window_stub.h"
#include "input/address_bar_stub.h"
#include "input/input.h"
#include "input/joystick_stub.h"
#include "input/pointer_stub.h"
#include "settings/settings_dialog_stub.h"
#include "tests/support/client_fixture.h"
#include "tests/support/loopback.h"

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        ASSERT_TRUE(server.open());
        window_stub_invalidate_count = window_stub_destroy_count = 0;
        settings_dialog_stub_answer = settings_dialog_stub_calls = 0;
        address_bar_stub_open = address_bar_stub_open_count = 0;
        for (int i = 0; i < 3; i++) {
            state.apps[i].id = uint16_t(0x1230 + i);
            std::snprintf(state.apps[i].name, APP_NAME_SIZE, "App %d", i);
        }
        state.app_count.store(3);
    }
    void TearDown() override { server.close(); }
    Loopback server;
};

}  // namespace

TEST_F(MainWindow, MenuKeysClicksAndWheel) {
    const struct { std::function<void()> event; int selected, repaints; const char* sent; } steps[] = {
        {[] { on_key_down(KEY_UP, 0); }, 0, 1, ""},
        {[] { on_key_down(KEY_DOWN, 0); on_key_down(KEY_DOWN, 0); on_key_down(KEY_DOWN, 0); }, 2, 4, ""},
        {[] { on_key_down(KEY_UP, 0); on_key_down(KEY_RETURN, 0x001C0001); }, 1, 6, "48 31 12"},
        {[] { on_key_down(0x1B, 0x00010001); on_key_down(KEY_F8, 0); on_key_down(KEY_F6, 0); }, 1, 9, ""},
        {[] { on_button_down(1, 50, 144 + 26); }, 2, 10, ""},               // first click selects
        {[] { on_button_up(1, 50, 170); on_button_down(1, 50, 190); }, 2, 11, "48 32 12"},  // second launches
        {[] { on_button_down(1, 50, 100); }, 0, 12, ""},                    // above the band: row 0
        {[] { on_button_down(1, 50, 92); on_button_down(1, 50, 118 + 78); on_button_down(2, 5, 200); }, 0, 12, ""},
        {[] { on_wheel(-120); on_wheel(-360); on_wheel(-120); }, 2, 15, ""},  // one row per event
        {[] { on_wheel(120); on_wheel(120); on_wheel(120); }, 0, 18, ""},
        {[] { state.stream_mode.store(2); on_wheel(-120); }, 1, 19, ""},
        {[] { state.stream_mode.store(0); state.app_count.store(0); on_key_down(KEY_RETURN, 0); }, 1, 20, ""},
    };
    for (const auto& s : steps) {
        s.event();
        EXPECT_EQ(state.app_selected.load(), s.selected) << s.sent;
        EXPECT_EQ(window_stub_invalidate_count, s.repaints) << s.sent;
        EXPECT_EQ(server.sent(), s.sent);
    }
    const int32_t rows[][2] = {{100, 0}, {92, -1}, {118, 0}, {143, 0}, {144, 1}};
    for (const auto& r : rows) EXPECT_EQ(menu_row_at(r[0]), r[1]) << r[0];
}

TEST_F(MainWindow, CommandKeysAndForwarding) {
    const struct { int mode; std::function<void()> event; const char* sent; } steps[] = {
        {0, [] { on_key_down(KEY_F9, 0); }, "4a"}, {1, [] { on_key_down(KEY_F9, 0); }, "4a"},
        {1, [] { on_key_down(KEY_F11, 0); on_key_down(KEY_F11, 0x40000000); on_key_down(KEY_F11, 0); }, ""},
        {1, [] { on_key_down(KEY_F8, 0x00420001); on_key_up(KEY_F8, 0xC0420001); EXPECT_EQ(state.pointer_mode.load() * 100 + window_stub_invalidate_count, 104); }, ""},
        {2, [] { on_key_down(KEY_F8, 0x00420001); }, "41 77 42 00 01"},
        {1, [] { state.app_kind.store(APP_KIND_PROGRAM); on_key_down(KEY_F6, 0x00400001); }, "41 75 40 00 01"},
        {1, [] {
             state.app_kind.store(APP_KIND_WEB);
             on_key_down(KEY_F6, 0x00400001);  // the address bar instead, and the mouse stays free
             EXPECT_EQ(address_bar_stub_open_count * 10 + mouse_lock_wanted(), 10);
             address_bar_stub_open = 0;
         }, ""},
        {1, [] { on_key_down(KEY_RETURN, 0x001C0001); on_key_down(KEY_DOWN, 0x01500001); on_key_up(KEY_RETURN, 0xC01C0001); },
         "41 0d 1c 00 01|41 28 50 01 01|41 0d 1c 00 00"},
        {1, [] { for (uint32_t vk = KEY_F8; vk <= KEY_F12; vk++) on_key_up(vk, 0xC0000001); on_key_up(0x74, 0xC03F0001); },
         "41 74 3f 00 00"},
        {2, [] { state.pointer_mode.store(0); on_key_up(0x41, 0xC01E0001); on_char('a'); on_mouse_move(10, 10); on_button_up(1, 10, 10); on_button_down(2, 5, 144); },
         "45 02 01"},
        {1, [] { on_char('a'); on_wheel(-240); pointer_stub_reset(640, 480), state.pointer_mode.store(1); on_mouse_move(10, 10); },
         "42 61 00|46 10 ff|44 0a 00 0a 00"},
        {1, [] { state.connected.store(0); on_key_down(KEY_F9, 0); state.connected.store(1); }, ""},
    };
    for (const auto& s : steps) {
        state.stream_mode.store(s.mode);
        s.event();
        EXPECT_EQ(server.sent(), s.sent);
    }
    EXPECT_EQ(state.show_stats.load(), 1);  // F11 three times
    on_key_down(KEY_F11, 0);                 // and once more hides the statistics
    EXPECT_EQ(state.show_stats.load() + state.app_selected.load(), 0);
    on_key_down(KEY_F12, 0x00580001);
    on_close();
    EXPECT_EQ(state.quit.load() * 10 + window_stub_destroy_count, 12);
    EXPECT_EQ(server.sent(), "");
}

TEST_F(MainWindow, TheKeyThatClosedTheAddressBarIsNotReleasedToTheServer) {
    state.stream_mode.store(1);
    state.app_kind.store(APP_KIND_WEB);
    const struct { uint32_t closer; std::vector<std::pair<uint32_t, int>> events; const char* sent; } cases[] = {
        {KEY_RETURN, {{KEY_RETURN, 0}}, ""}, {0x1B, {{0x1B, 0}}, ""},
        {KEY_RETURN, {{0x41, 0}, {KEY_RETURN, 0}}, "41 41 1c 00 00"},  // another key's release passes
        {KEY_RETURN, {{KEY_RETURN, 0}, {KEY_RETURN, 1}, {KEY_RETURN, 0}}, "41 0d 1c 00 01|41 0d 1c 00 00"},
        {0x1B, {{0x1B, 1}, {0x1B, 0}}, "41 1b 1c 00 01|41 1b 1c 00 00"},  // held down, it repeats here
    };
    for (const auto& c : cases) {
        on_key_down(KEY_F6, 0x00400001);
        ASSERT_EQ(address_bar_is_open(), 1);
        address_bar_stub_close(c.closer);
        for (auto [vk, down] : c.events) down ? on_key_down(vk, 0x401C0001) : on_key_up(vk, 0xC01C0001);
        EXPECT_EQ(server.sent(), c.sent) << c.closer << " then " << c.events.size() << " events";
    }
}

TEST_F(MainWindow, SettingsDialog) {
    on_key_down(KEY_F10, 0);  // cancelled: nothing changes
    EXPECT_EQ(state.reconnect.load(), 0);
    EXPECT_NE(state.sock.load(), NET_NO_SOCKET);
    settings_dialog_stub_answer = 1;
    NetSocket own = state.sock.load();
    on_key_down(KEY_F10, 0);
    EXPECT_EQ(settings_dialog_stub_calls * 10 + settings_dialog_stub_first_run, 20);
    EXPECT_EQ(state.reconnect.load(), 1);
    EXPECT_EQ(state.sock.load(), NET_NO_SOCKET);
    EXPECT_TRUE(server.closed_by_client(1000));  // the peer sees the link end
    state.sock.store(own);  // the test's to close, as the network thread's would be
}

TEST_F(MainWindow, TimerKeepsStatisticsAndPings) {
    joystick_stub_reset(), joystick_startup_check();  // read at every tick while streaming
    state.stats_tick = 10000;
    on_timer(10999);
    EXPECT_EQ(window_stub_invalidate_count, 0);
    state.frame_count.store(45);
    state.byte_count.store(600 * 1024 + 1023);
    on_timer(11500);
    EXPECT_EQ(state.stat_fps.load() * 1000 + state.stat_kbps.load(), 30400u);  // per 1500 ms
    EXPECT_EQ(state.frame_count.load() + state.byte_count.load(), 0u);
    EXPECT_EQ(state.stats_tick, 11500u);
    EXPECT_EQ(window_stub_invalidate_count, 1);  // the title screen, once a second
    EXPECT_EQ(server.sent(), "4b ec 2c 00 00");
    state.stats_tick = 0xFFFFFE00u;  // across the tick counter's wrap
    state.frame_count.store(10);
    on_timer(0x1F4);
    EXPECT_EQ(state.stat_fps.load(), 9u);
    EXPECT_EQ(server.sent(), "4b f4 01 00 00");
    state.stream_mode.store(1);  // a stream repaints only for the statistics line
    on_timer(0x1F4 + 1000);
    EXPECT_EQ(window_stub_invalidate_count, 2);
    state.show_stats.store(1);
    on_timer(0x1F4 + 2000);
    EXPECT_EQ(window_stub_invalidate_count, 3);
    on_state_changed();
    EXPECT_EQ(window_stub_invalidate_count * 10 + joystick_stub.read_calls, 42);
    const int wanted[][4] = {{0, 0, 1, 0}, {1, 0, 1, 1}, {1, 1, 1, 0}, {1, 0, 0, 0}, {2, 0, 1, 0}};
    for (const auto& w : wanted) {
        state.stream_mode.store(w[0]), state.pointer_mode.store(w[1]), state.connected.store(w[2]);
        EXPECT_EQ(mouse_lock_wanted(), w[3]) << w[0] << w[1] << w[2];
    }
}

TEST_F(MainWindow, ActivationTakesAndGivesBackTheMouse) {
    pointer_stub_reset(640, 480);
    state.stream_mode.store(1);  // a stream in locked-mouse mode
    std::string locked;
    for (int active : {1, 0, 1}) on_activate(active), locked += std::to_string(mouse_is_locked());
    on_destroy();
    EXPECT_EQ(locked + std::to_string(mouse_is_locked()), "1010");
}
