// The main window's behaviour as the server and the user see it: the bytes
// that reach the socket, the menu selection, the repaint requests and the
// program's end. The client's socket is one end of a socket pair; the test
// reads the other end.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "core/client_state.h"
#include "tests/support/client_fixture.h"
#include "app/main_window.h"
#include "input/input.h"
#include "core/window_stub.h"
#include "input/address_bar_stub.h"
#include "settings/settings_dialog_stub.h"

namespace {

// Reads whatever the client sent within timeout_ms.
std::vector<uint8_t> read_sent(int fd, int timeout_ms = 50) {
    std::vector<uint8_t> bytes;
    for (;;) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) break;
        uint8_t chunk[512];
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
        timeout_ms = 10;
    }
    return bytes;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        state.sock.store(pair[0]);
        client_ = pair[0];
        server_ = pair[1];
        state.connected.store(1);
        window_stub_invalidate_count = 0;
        window_stub_destroy_count = 0;
        settings_dialog_stub_answer = 0;
        settings_dialog_stub_calls = 0;
        address_bar_stub_open = 0;
        address_bar_stub_open_count = 0;
    }
    void TearDown() override {
        // The client's end is the test's to close, also after the window
        // thread has only woken it (F10).
        state.sock.store(NET_NO_SOCKET);
        close(client_);
        close(server_);
        client_state_reset();
    }
    void set_menu(std::vector<std::pair<uint16_t, uint8_t>> entries) {
        for (size_t i = 0; i < entries.size(); i++) {
            state.apps[i].id = entries[i].first;
            state.apps[i].kind = entries[i].second;
            std::snprintf(state.apps[i].name, APP_NAME_SIZE, "App %zu", i);
        }
        state.app_count.store(static_cast<int32_t>(entries.size()));
        state.app_selected.store(0);
    }
    std::vector<uint8_t> sent() { return read_sent(server_); }
    int client_ = -1;
    int server_ = -1;
};

std::vector<uint8_t> launch_app(uint16_t id) {
    return {0x02, 0x00, 0x00, 0x00, 0x48, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)};
}

// Key message for vk with scan code 0x1C (key data 0x001C0001), pressed or released.
std::vector<uint8_t> key_message(uint8_t vk, uint16_t scan, uint8_t down) {
    return {0x04, 0x00, 0x00, 0x00, 0x41, vk, static_cast<uint8_t>(scan),
            static_cast<uint8_t>(scan >> 8), down};
}

TEST_F(MainWindowTest, ArrowKeysStopAtTheEndsOfTheMenuAndRepaint) {
    set_menu({{10, 0}, {11, 1}, {12, 2}});
    on_key_down(KEY_UP, 0);
    EXPECT_EQ(state.app_selected.load(), 0);
    on_key_down(KEY_DOWN, 0);
    on_key_down(KEY_DOWN, 0);
    on_key_down(KEY_DOWN, 0);
    EXPECT_EQ(state.app_selected.load(), 2);
    on_key_down(KEY_UP, 0);
    EXPECT_EQ(state.app_selected.load(), 1);
    EXPECT_EQ(window_stub_invalidate_count, 5);
    EXPECT_TRUE(sent().empty());
}

TEST_F(MainWindowTest, EnterSendsLaunchAppWithTheSelectedId) {
    set_menu({{10, 0}, {0x1234, 1}, {12, 2}});
    on_key_down(KEY_DOWN, 0);
    on_key_down(KEY_RETURN, 0x001C0001);
    EXPECT_EQ(sent(), launch_app(0x1234));
    EXPECT_EQ(state.app_selected.load(), 1);
}

TEST_F(MainWindowTest, EnterWithAnEmptyListOnlyRepaints) {
    on_key_down(KEY_RETURN, 0);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(window_stub_invalidate_count, 1);
}

TEST_F(MainWindowTest, OtherKeysInTheMenuOnlyRepaint) {
    set_menu({{10, 0}});
    on_key_down(0x1B, 0x00010001);  // Escape
    on_key_down(KEY_F8, 0);         // F8 is not a command in the menu
    on_key_down(KEY_F6, 0);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(state.pointer_mode.load(), 0);
    EXPECT_EQ(window_stub_invalidate_count, 3);
}

TEST_F(MainWindowTest, MenuClickRowsTruncateTowardZero) {
    EXPECT_EQ(menu_row_at(100), 0);  // above the first band, still row 0
    EXPECT_EQ(menu_row_at(92), -1);
    EXPECT_EQ(menu_row_at(118), 0);
    EXPECT_EQ(menu_row_at(143), 0);
    EXPECT_EQ(menu_row_at(144), 1);
}

TEST_F(MainWindowTest, FirstClickSelectsSecondClickLaunches) {
    set_menu({{10, 0}, {11, 1}, {12, 2}});
    on_button_down(1, 50, 144);
    EXPECT_EQ(state.app_selected.load(), 1);
    EXPECT_TRUE(sent().empty());
    on_button_up(1, 50, 144);
    on_button_down(1, 50, 150);
    EXPECT_EQ(sent(), launch_app(11));
    on_button_down(1, 50, 100);  // row 0, not selected yet
    EXPECT_EQ(state.app_selected.load(), 0);
    EXPECT_TRUE(sent().empty());
}

TEST_F(MainWindowTest, ClicksOutsideTheListChangeNothing) {
    set_menu({{10, 0}, {11, 1}});
    state.app_selected.store(1);
    on_button_down(1, 50, 92);
    on_button_down(1, 50, 118 + 26 * 2);  // first row below the list
    on_button_down(2, 50, 118 + 26 * 2 + 5);
    EXPECT_EQ(state.app_selected.load(), 1);
    EXPECT_EQ(window_stub_invalidate_count, 0);
    EXPECT_TRUE(sent().empty());
}

TEST_F(MainWindowTest, WheelMovesTheMenuOneRowPerEvent) {
    set_menu({{10, 0}, {11, 1}, {12, 2}});
    on_wheel(-120);
    EXPECT_EQ(state.app_selected.load(), 1);
    on_wheel(-360);
    EXPECT_EQ(state.app_selected.load(), 2);
    on_wheel(-120);
    EXPECT_EQ(state.app_selected.load(), 2);
    on_wheel(120);
    on_wheel(120);
    on_wheel(120);
    EXPECT_EQ(state.app_selected.load(), 0);
    EXPECT_TRUE(sent().empty());
    // A stream mode other than 0 and 1 still moves the menu.
    state.stream_mode.store(2);
    on_wheel(-120);
    EXPECT_EQ(state.app_selected.load(), 1);
}

TEST_F(MainWindowTest, WheelWhileStreamingGoesToTheServer) {
    set_menu({{10, 0}, {11, 1}});
    state.stream_mode.store(1);
    on_wheel(-240);
    EXPECT_EQ(sent(), (std::vector<uint8_t>{0x02, 0, 0, 0, 0x46, 0x10, 0xFF}));
    EXPECT_EQ(state.app_selected.load(), 0);
}

TEST_F(MainWindowTest, F12EndsTheProgram) {
    state.stream_mode.store(1);
    on_key_down(KEY_F12, 0x00580001);
    EXPECT_EQ(state.quit.load(), 1);
    EXPECT_EQ(window_stub_destroy_count, 1);
    EXPECT_TRUE(sent().empty());  // a command, never forwarded
}

TEST_F(MainWindowTest, CloseRequestEndsTheProgram) {
    on_close();
    EXPECT_EQ(state.quit.load(), 1);
    EXPECT_EQ(window_stub_destroy_count, 1);
}

TEST_F(MainWindowTest, F11TogglesTheStatisticsLineOnEveryPress) {
    state.stream_mode.store(1);
    on_key_down(KEY_F11, 0);
    EXPECT_EQ(state.show_stats.load(), 1);
    on_key_down(KEY_F11, 0x40000000);  // an auto-repeat toggles as well
    EXPECT_EQ(state.show_stats.load(), 0);
    EXPECT_EQ(window_stub_invalidate_count, 2);
    EXPECT_TRUE(sent().empty());
}

TEST_F(MainWindowTest, F9SendsMenuRequestInAnyMode) {
    on_key_down(KEY_F9, 0);
    state.stream_mode.store(1);
    on_key_down(KEY_F9, 0);
    std::vector<uint8_t> one = {0, 0, 0, 0, 0x4A};
    std::vector<uint8_t> two = one;
    two.insert(two.end(), one.begin(), one.end());
    EXPECT_EQ(sent(), two);
}

TEST_F(MainWindowTest, F9WithoutALinkSendsNothing) {
    state.connected.store(0);
    on_key_down(KEY_F9, 0);
    EXPECT_TRUE(sent().empty());
}

TEST_F(MainWindowTest, AcceptedSettingsDialogDropsTheLink) {
    settings_dialog_stub_answer = 1;
    on_key_down(KEY_F10, 0);
    EXPECT_EQ(settings_dialog_stub_calls, 1);
    EXPECT_EQ(settings_dialog_stub_first_run, 0);
    EXPECT_EQ(state.reconnect.load(), 1);
    EXPECT_EQ(state.sock.load(), NET_NO_SOCKET);
    // The peer sees the connection closed.
    char byte;
    pollfd p = {server_, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_EQ(read(server_, &byte, 1), 0);
}

TEST_F(MainWindowTest, CancelledSettingsDialogChangesNothing) {
    NetSocket before = state.sock.load();
    on_key_down(KEY_F10, 0);
    EXPECT_EQ(settings_dialog_stub_calls, 1);
    EXPECT_EQ(state.reconnect.load(), 0);
    EXPECT_EQ(state.sock.load(), before);
}

TEST_F(MainWindowTest, F8WhileStreamingSwitchesPointerMode) {
    state.stream_mode.store(1);
    on_key_down(KEY_F8, 0x00420001);
    EXPECT_EQ(state.pointer_mode.load(), 1);
    on_key_down(KEY_F8, 0x00420001);
    EXPECT_EQ(state.pointer_mode.load(), 0);
    on_key_up(KEY_F8, 0xC0420001);
    EXPECT_TRUE(sent().empty());
}

TEST_F(MainWindowTest, F8InAnotherModeIsForwarded) {
    state.stream_mode.store(2);
    on_key_down(KEY_F8, 0x00420001);
    EXPECT_EQ(sent(), key_message(0x77, 0x42, 1));
    EXPECT_EQ(state.pointer_mode.load(), 0);
}

TEST_F(MainWindowTest, F6GoesToTheServerUnlessABrowserStreams) {
    state.stream_mode.store(1);
    state.app_kind.store(APP_KIND_PROGRAM);
    on_key_down(KEY_F6, 0x00400001);
    EXPECT_EQ(sent(), key_message(0x75, 0x40, 1));
    EXPECT_EQ(address_bar_stub_open_count, 0);
    state.app_kind.store(APP_KIND_WEB);
    on_key_down(KEY_F6, 0x00400001);
    EXPECT_TRUE(sent().empty());  // opens the address bar instead
    EXPECT_EQ(address_bar_stub_open_count, 1);
    // With the bar open the mouse is not locked.
    EXPECT_EQ(mouse_lock_wanted(), 0);
}

TEST_F(MainWindowTest, StreamingForwardsMenuKeysAsKeys) {
    set_menu({{10, 0}, {11, 1}});
    state.stream_mode.store(1);
    on_key_down(KEY_RETURN, 0x001C0001);
    on_key_down(KEY_DOWN, 0x01500001);  // extended key
    on_key_up(KEY_RETURN, 0xC01C0001);
    std::vector<uint8_t> expected = key_message(0x0D, 0x1C, 1);
    std::vector<uint8_t> down = key_message(0x28, 0x150, 1);
    std::vector<uint8_t> up = key_message(0x0D, 0x1C, 0);
    expected.insert(expected.end(), down.begin(), down.end());
    expected.insert(expected.end(), up.begin(), up.end());
    EXPECT_EQ(sent(), expected);
    EXPECT_EQ(state.app_selected.load(), 0);
}

TEST_F(MainWindowTest, ReleasesOfCommandKeysAreNeverSent) {
    state.stream_mode.store(1);
    for (uint32_t vk = KEY_F8; vk <= KEY_F12; vk++) on_key_up(vk, 0xC0000001);
    EXPECT_TRUE(sent().empty());
    on_key_up(0x74, 0xC03F0001);  // F5 is the server's
    EXPECT_EQ(sent(), key_message(0x74, 0x3F, 0));
}

TEST_F(MainWindowTest, ReleasesCharactersAndMotionOnlyWhileStreaming) {
    state.stream_mode.store(2);
    on_key_up(0x41, 0xC01E0001);
    on_char('a');
    on_mouse_move(10, 10);
    on_button_up(1, 10, 10);
    EXPECT_TRUE(sent().empty());
    state.stream_mode.store(1);
    on_char('a');
    EXPECT_EQ(sent(), (std::vector<uint8_t>{0x02, 0, 0, 0, 0x42, 'a', 0}));
}

TEST_F(MainWindowTest, ButtonPressInAnotherModeIsForwarded) {
    state.stream_mode.store(2);
    state.pointer_mode.store(0);
    set_menu({{10, 0}, {11, 1}});
    on_button_down(2, 50, 144);
    EXPECT_EQ(sent(), (std::vector<uint8_t>{0x02, 0, 0, 0, 0x45, 2, 1}));
    EXPECT_EQ(state.app_selected.load(), 0);
}

TEST_F(MainWindowTest, TimerComputesStatisticsAndPingsOncePerSecond) {
    state.stats_tick = 10000;
    on_timer(10999);
    EXPECT_TRUE(sent().empty());
    EXPECT_EQ(window_stub_invalidate_count, 0);

    state.frame_count.store(45);
    state.byte_count.store(600 * 1024 + 1023);
    on_timer(11500);
    EXPECT_EQ(state.stat_fps.load(), 30u);    // 45 * 1000 / 1500
    EXPECT_EQ(state.stat_kbps.load(), 400u);  // 600 * 1000 / 1500
    EXPECT_EQ(state.frame_count.load(), 0u);
    EXPECT_EQ(state.byte_count.load(), 0u);
    EXPECT_EQ(state.stats_tick, 11500u);
    // Ping carrying the tick: 11500 = 0x2CEC.
    EXPECT_EQ(sent(), (std::vector<uint8_t>{0x04, 0, 0, 0, 0x4B, 0xEC, 0x2C, 0, 0}));
    EXPECT_EQ(window_stub_invalidate_count, 1);  // the title screen, once a second
}

TEST_F(MainWindowTest, TimerSurvivesTheTickCountersWrap) {
    state.stats_tick = 0xFFFFFE00u;
    state.frame_count.store(10);
    on_timer(0x000001F4u);  // 1012 ms later
    EXPECT_EQ(state.stat_fps.load(), 9u);
    EXPECT_EQ(state.stats_tick, 0x000001F4u);
    EXPECT_EQ(sent().size(), 9u);
}

TEST_F(MainWindowTest, TimerRepaintsAStreamOnlyWithTheStatisticsLine) {
    state.stream_mode.store(1);
    state.stats_tick = 0;
    on_timer(1000);
    EXPECT_EQ(window_stub_invalidate_count, 0);
    state.show_stats.store(1);
    on_timer(2000);
    EXPECT_EQ(window_stub_invalidate_count, 1);
}

TEST_F(MainWindowTest, MouseLockIsWantedOnlyWhileALockedStreamRuns) {
    EXPECT_EQ(mouse_lock_wanted(), 0);  // the menu
    state.stream_mode.store(1);
    EXPECT_EQ(mouse_lock_wanted(), 1);
    state.pointer_mode.store(1);
    EXPECT_EQ(mouse_lock_wanted(), 0);
    state.pointer_mode.store(0);
    state.connected.store(0);
    EXPECT_EQ(mouse_lock_wanted(), 0);
    state.connected.store(1);
    state.stream_mode.store(2);
    EXPECT_EQ(mouse_lock_wanted(), 0);
}

TEST_F(MainWindowTest, StateChangeRepaints) {
    on_state_changed();
    EXPECT_EQ(window_stub_invalidate_count, 1);
}

}  // namespace
