// Keyboard, mouse and joystick as the bytes a server receives, and the mouse lock.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "core/client_state.h"
#include "input/address_bar_stub.h"
#include "input/input.h"
#include "input/joystick_stub.h"
#include "input/pointer_stub.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"
#include "tests/support/loopback.h"

namespace {

// The cursor calls so far: C clip, U unclip, S show, H hide, P capture,
// R release, M(x,y) move.
std::string pointer_calls() {
    std::string out;
    for (int i = 0; i < pointer_stub.log_count && i < POINTER_LOG_SIZE; i++) {
        const PointerEvent& e = pointer_stub.log[i];
        out += "?CUSHPRM"[e.call];
        if (e.call == POINTER_MOVE) out += "(" + std::to_string(e.x) + "," + std::to_string(e.y) + ")";
    }
    return out;
}

class Input : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        set_mouse_lock(0);
        address_bar_stub_open = 0;
        pointer_stub_reset(640, 480);
        joystick_stub_reset();
        ASSERT_TRUE(server.open());
        state.stream_mode.store(1);
    }
    void TearDown() override {
        set_mouse_lock(0);
        server.close();
        settings_reset_defaults();
    }
    Loopback server;
};

}  // namespace

TEST_F(Input, KeysAndCharacters) {
    send_key(0x11, 0x011D0001, true);    // right Ctrl: extended
    send_key(0x11, 0xC01D0001, false);   // left Ctrl released
    send_key(0x141, 0x401E0005, true);   // vk's low 8 bits; repeat count ignored
    for (uint32_t c : {0x80u, 0x81u, 0xE9u, 0x9Fu, 0x8Au, 0x99u, 0x8Du, 0x20u, 0x7Eu, 0xA0u, 0xFFu,
                       0x00u, 0x08u, 0x0Du, 0x1Bu, 0x1Fu, 0x7Fu, 0x10Du})
        forward_char(c);
    EXPECT_EQ(server.sent(), "41 11 1d 01 01|41 11 1d 00 00|41 41 1e 00 01|42 ac 20|42 e9 00|42 78 01|"
                             "42 60 01|42 22 21|42 20 00|42 7e 00|42 a0 00|42 ff 00");
    send_wheel(-360);
    send_wheel(0x12345);  // the low 16 bits
    state.connected.store(0);  // nothing is queued while the link is down
    send_key(0x41, 0x001E0001, true);
    forward_char('a');
    state.connected.store(1);
    EXPECT_EQ(server.sent(), "46 98 fe|46 45 23");
}

TEST_F(Input, LockedMouseSendsScaledDeltasAndRecentres) {
    set_mouse_lock(1);
    set_mouse_lock(1);  // asking again changes nothing
    EXPECT_EQ(pointer_calls(), "CHPM(320,240)");
    EXPECT_EQ(mouse_is_locked(), 1);
    const struct { int32_t sensitivity; const char* sent; } cases[] = {
        {100, "43 03 00 fe ff"}, {50, "43 01 00 ff ff"}, {0, "43 00 00 00 00"},
        {-100, "43 fd ff 02 00"}, {250, "43 07 00 fb ff"}, {10000, "43 2c 01 38 ff"}};
    for (const auto& c : cases) {
        settings.muskanslighet = c.sensitivity;
        forward_mouse_move(323, 238);  // 3 right, 2 up of the centre
        forward_mouse_move(320, 240);  // the move event of the re-centring
        EXPECT_EQ(server.sent(), c.sent) << c.sensitivity;
    }
    settings.muskanslighet = 100;
    forward_mouse_move(325, 240);  // along one axis only
    forward_mouse_move(320, 236);
    EXPECT_EQ(server.sent(), "43 05 00 00 00|43 00 00 fc ff");
    EXPECT_EQ(pointer_stub.log_count, 4 + 8);
    settings.muskanslighet = INT_MAX;
    forward_mouse_move(320 + 3000, 240 - 3000);
    settings.muskanslighet = 1000000, forward_mouse_move(322, 238);
    forward_mouse_move(INT_MIN, 240);  // a difference beyond 32 bits saturates as the product does
    EXPECT_EQ(server.sent(), "43 14 ae ec 51|43 20 4e e0 b1|43 ec 51 00 00");
    forward_mouse_button(MOUSE_BUTTON_RIGHT, 1, 5, 5);
    set_mouse_lock(0);
    set_mouse_lock(0);
    EXPECT_EQ(pointer_calls().substr(pointer_calls().size() - 3), "USR");
    EXPECT_EQ(pointer_stub.display_counter + pointer_stub.clipped + pointer_stub.captured, 0);
    EXPECT_EQ(server.sent(), "45 02 01");
}

TEST_F(Input, WhenTheMouseLocks) {
    forward_mouse_move(100, 100);  // locked-mouse mode but not locked: nothing
    pointer_stub.foreground = 0;   // a background window does not take it
    set_mouse_lock(1);
    EXPECT_EQ(pointer_stub.log_count, 0);
    pointer_stub.foreground = 1;
    open_address_bar();            // nor while the address bar is open
    forward_mouse_button(MOUSE_BUTTON_LEFT, 1, 5, 5);
    address_bar_stub_open = 0;
    state.connected.store(0);      // nor without a link
    forward_mouse_button(MOUSE_BUTTON_LEFT, 1, 5, 5);
    EXPECT_EQ(mouse_is_locked() + pointer_stub.log_count, 0);
    state.connected.store(1);
    forward_mouse_button(MOUSE_BUTTON_RIGHT, 1, 5, 5);  // a click locks it
    forward_mouse_button(MOUSE_BUTTON_RIGHT, 0, 5, 5);
    EXPECT_EQ(pointer_calls(), "CHPM(320,240)");
    EXPECT_EQ(server.sent(), "45 01 01|45 02 01|45 02 00");
    open_address_bar();  // frees it
    EXPECT_EQ(mouse_is_locked() + pointer_stub.display_counter + pointer_stub.clipped, 0);
}

TEST_F(Input, PointerPositionsAreScaledAndClamped) {
    state.pointer_mode.store(1);
    state.remote_width.store(1280);
    state.remote_height.store(720);
    const int32_t moves[][2] = {{320, 240}, {639, 479}, {-5, 500}, {32767, -32768}, {INT_MAX, INT_MIN}};
    for (const auto& m : moves) forward_mouse_move(m[0], m[1]);
    EXPECT_EQ(server.sent(), "44 80 02 68 01|44 fe 04 ce 02|44 00 00 cf 02|44 ff 04 00 00|44 ff 04 00 00");
    state.remote_width.store(320);  // smaller than the window
    state.remote_height.store(200);
    forward_mouse_move(639, 479);
    forward_mouse_move(2, 3);
    pointer_stub.client_width = 0;  // no client area: no position
    send_mouse_position(10, 10);
    pointer_stub.client_width = 640;
    for (int32_t h : {0, 1}) pointer_stub.client_height = h, send_mouse_position(10, 10);  // 1 pixel high is a window
    state.remote_width.store(1);  // 1 pixel wide is a picture, then 1 high too, then 0 high is none
    for (int32_t h : {200, 1, 0}) state.remote_height.store(h), send_mouse_position(10, 0);
    EXPECT_EQ(server.sent(), "44 3f 01 c7 00|44 01 00 01 00|44 05 00 c7 00|44 00 00 00 00|44 00 00 00 00");
    pointer_stub_reset(640, 480);
    state.remote_width.store(1280);
    state.remote_height.store(720);
    forward_mouse_button(MOUSE_BUTTON_LEFT, 1, 10, 10);  // position first, and capture
    forward_mouse_button(MOUSE_BUTTON_LEFT, 0, 700, 10);
    forward_mouse_button(MOUSE_BUTTON_MIDDLE, 1, 0, 0);
    EXPECT_EQ(pointer_calls(), "PRP");
    EXPECT_EQ(server.sent(), "44 14 00 0f 00|45 01 01|45 01 00|44 00 00 00 00|45 03 01");
}

TEST_F(Input, JoystickSendsChangesOnlyWhileStreaming) {
    const char* centred = "47 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
    joystick_startup_check();
    poll_joystick();  // the first reading differs from the zeroed record
    poll_joystick();
    EXPECT_EQ(joystick_stub.last_request.dwSize * 1000 + joystick_stub.last_request.dwFlags, 52255u);
    joystick_stub.position.dwPOV = 9000;
    poll_joystick();
    joystick_stub.position.dwXpos = 0, joystick_stub.position.dwYpos = 65535;
    joystick_stub.position.dwButtons = 0x80000005;
    poll_joystick();
    const uint32_t hats[] = {36000, 36001, 0xFFFFFFFF};  // beyond a full circle: centred (each a change)
    for (uint32_t hat : hats) joystick_stub.position.dwPOV = hat, poll_joystick();
    joystick_stub.position.dwReserved1 = 7;  // not a change
    poll_joystick();
    joystick_stub.position.dwButtonNumber = 1;  // a change, though the message looks the same
    joystick_stub.position.dwVpos = 100000;
    poll_joystick();
    EXPECT_EQ(server.sent(), std::string(centred) + " ff ff|" + centred + " 28 23|"
              "47 00 80 ff 7f 00 00 00 00 00 00 00 00 05 00 00 80 28 23|"
              "47 00 80 ff 7f 00 00 00 00 00 00 00 00 05 00 00 80 a0 8c|"
              "47 00 80 ff 7f 00 00 00 00 00 00 00 00 05 00 00 80 ff ff|"
              "47 00 80 ff 7f 00 00 00 00 00 00 00 00 05 00 00 80 ff ff|"
              "47 00 80 ff 7f 00 00 00 00 00 00 a0 06 05 00 00 80 ff ff");
    const struct { int32_t mode, connected, wanted; } off[] = {{0, 1, 1}, {2, 1, 1}, {1, 0, 1}, {1, 1, 0}};
    int reads = joystick_stub.read_calls;
    for (const auto& o : off) {
        state.stream_mode.store(o.mode), state.connected.store(o.connected), settings.joystick = o.wanted;
        poll_joystick();
    }
    EXPECT_EQ(joystick_stub.read_calls, reads);
    state.stream_mode.store(1), state.connected.store(1), settings.joystick = 1;
    joystick_stub.read_ok = 0, poll_joystick();  // unplugged: off for good
    joystick_stub.read_ok = 1, poll_joystick();
    EXPECT_EQ(joystick_stub.read_calls, reads + 1);
    EXPECT_EQ(server.sent(), "");
}

TEST_F(Input, JoystickStartupCheck) {
    const struct { int wanted; uint32_t devices; int caps, polled; } cases[] = {
        {0, 1, 1, 0}, {1, 0, 1, 0}, {1, 1, 0, 0}, {1, 1, 1, 1}};
    for (const auto& c : cases) {
        joystick_stub_reset();
        settings.joystick = c.wanted;
        joystick_stub.device_count = c.devices;
        joystick_stub.has_caps = c.caps;
        joystick_startup_check();
        settings.joystick = 1;
        poll_joystick();
        EXPECT_EQ(joystick_stub.read_calls, c.polled);
        EXPECT_EQ(joystick_stub.count_calls + joystick_stub.caps_calls, c.wanted * (1 + int(c.devices)));
    }
    poll_joystick();  // not moved: nothing, also across a new link
    server.close();
    ASSERT_TRUE(server.open());
    state.stream_mode.store(1);
    poll_joystick();
    joystick_stub.position = JoystickInfo();  // all zero, as the record after start-up: nothing to send
    joystick_startup_check();                 // which forgets the last state sent
    poll_joystick();
    EXPECT_EQ(server.sent(), "");
}
