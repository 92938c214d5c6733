// Keyboard and mouse forwarding and the mouse lock, checked as the bytes a
// server receives on a real socket, and as what happens to the cursor of a
// stand-in window.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/client_state.h"
#include "input/address_bar_stub.h"
#include "input/input.h"
#include "input/pointer_stub.h"
#include "link/wire.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"
#include "tests/support/loopback.h"

// Found by argument lookup (PointerEvent lives in the global namespace).
bool operator==(const PointerEvent& a, const PointerEvent& b) {
    return a.call == b.call && a.x == b.x && a.y == b.y;
}
void PrintTo(const PointerEvent& e, std::ostream* out) {
    *out << "call " << e.call << " (" << e.x << ", " << e.y << ")";
}

namespace {

SentMessage message(uint8_t type, std::vector<uint8_t> payload) {
    SentMessage m;
    m.type = type;
    m.payload = std::move(payload);
    return m;
}

SentMessage key(uint8_t vk, uint16_t scan, uint8_t down) {
    return message(MSG_KEY, {vk, static_cast<uint8_t>(scan), static_cast<uint8_t>(scan >> 8), down});
}
SentMessage character(uint16_t code) {
    return message(MSG_CHAR, {static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8)});
}
SentMessage delta(int16_t dx, int16_t dy) {
    return message(MSG_MOUSE_DELTA, {static_cast<uint8_t>(dx), static_cast<uint8_t>(dx >> 8),
                                     static_cast<uint8_t>(dy), static_cast<uint8_t>(dy >> 8)});
}
SentMessage position(uint16_t x, uint16_t y) {
    return message(MSG_MOUSE_POS, {static_cast<uint8_t>(x), static_cast<uint8_t>(x >> 8),
                                   static_cast<uint8_t>(y), static_cast<uint8_t>(y >> 8)});
}
SentMessage button(uint8_t b, uint8_t down) { return message(MSG_MOUSE_BUTTON, {b, down}); }

std::vector<PointerEvent> pointer_calls() {
    int n = pointer_stub.log_count < POINTER_LOG_SIZE ? pointer_stub.log_count : POINTER_LOG_SIZE;
    return std::vector<PointerEvent>(pointer_stub.log, pointer_stub.log + n);
}

const PointerEvent CLIP = {POINTER_CLIP, 0, 0};
const PointerEvent UNCLIP = {POINTER_UNCLIP, 0, 0};
const PointerEvent HIDE = {POINTER_HIDE, 0, 0};
const PointerEvent SHOW = {POINTER_SHOW, 0, 0};
const PointerEvent CAPTURE = {POINTER_CAPTURE, 0, 0};
const PointerEvent RELEASE = {POINTER_RELEASE, 0, 0};
PointerEvent move_to(int32_t x, int32_t y) { return PointerEvent{POINTER_MOVE, x, y}; }

// A streaming client connected to a loopback server, in a 640 x 480
// foreground window, remote picture 640 x 480, mouse free.
class InputForward : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        settings_reset_defaults();
        pointer_stub_reset(640, 480);
        set_mouse_lock(0);
        address_bar_stub_open = 0;
        pointer_stub_reset(640, 480);
        ASSERT_TRUE(server.open());
        state.stream_mode.store(1);
    }
    void TearDown() override {
        set_mouse_lock(0);
        server.close();
        settings_reset_defaults();
        client_state_reset();
    }
    // What reached the server since the last call.
    std::vector<SentMessage> sent() {
        Loopback::send_marker();
        return server.until_marker();
    }
    Loopback server;
};

TEST_F(InputForward, KeysCarryScanCodeAndExtendedFlag) {
    send_key(0x11, 0x011D0001, 1);    // right Ctrl
    send_key(0x11, 0x001D0001, 1);    // left Ctrl
    send_key(0x11, 0xC11D0001, 0);    // right Ctrl released (previous-state and transition bits set)
    send_key(0x141, 0x401E0005, 1);   // repeat count and previous state ignored; vk's low 8 bits
    send_key(0x2E, 0x01530001, 1);    // Delete in the cursor block
    EXPECT_EQ(sent(), (std::vector<SentMessage>{key(0x11, 0x11D, 1), key(0x11, 0x01D, 1),
                                                key(0x11, 0x11D, 0), key(0x41, 0x01E, 1),
                                                key(0x2E, 0x153, 1)}));
    // The documented bytes of one press.
    send_key(0x11, 0x011D0001, 1);
    Loopback::send_marker();
    EXPECT_EQ(server.read(9, 2000),
              (std::vector<uint8_t>{0x04, 0x00, 0x00, 0x00, 0x41, 0x11, 0x1D, 0x01, 0x01}));
    EXPECT_EQ(server.until_marker().size(), 0u);
}

TEST_F(InputForward, CharactersFollowWindows1252) {
    forward_char(0x80);  // euro sign
    forward_char(0x81);  // undefined: nothing
    forward_char(0xE9);  // e acute
    forward_char(0x9F);  // Y diaeresis
    forward_char(0x8A);
    forward_char(0x99);
    forward_char(0x8D);
    forward_char(0x8F);
    forward_char(0x90);
    forward_char(0x9D);
    forward_char(0x20);
    forward_char(0x7E);
    forward_char(0xA0);
    forward_char(0xFF);
    EXPECT_EQ(sent(), (std::vector<SentMessage>{character(0x20AC), character(0x00E9),
                                                character(0x0178), character(0x0160),
                                                character(0x2122), character(0x0020),
                                                character(0x007E), character(0x00A0),
                                                character(0x00FF)}));
}

TEST_F(InputForward, ControlCharactersSendNoChar) {
    for (uint32_t c : {0x00u, 0x08u, 0x09u, 0x0Du, 0x1Bu, 0x1Fu, 0x7Fu, 0x10Du, 0x17Fu}) forward_char(c);
    EXPECT_EQ(sent(), std::vector<SentMessage>{});
}

TEST_F(InputForward, LockingClipsHidesCapturesAndCentres) {
    set_mouse_lock(1);
    EXPECT_EQ(mouse_is_locked(), 1);
    EXPECT_EQ(pointer_calls(), (std::vector<PointerEvent>{CLIP, HIDE, CAPTURE, move_to(320, 240)}));
    // Asking again changes nothing: the clip is not recomputed.
    set_mouse_lock(1);
    EXPECT_EQ(pointer_stub.log_count, 4);
    set_mouse_lock(0);
    EXPECT_EQ(mouse_is_locked(), 0);
    EXPECT_EQ(pointer_calls(), (std::vector<PointerEvent>{CLIP, HIDE, CAPTURE, move_to(320, 240),
                                                          UNCLIP, SHOW, RELEASE}));
    EXPECT_EQ(pointer_stub.display_counter, 0);
    EXPECT_EQ(pointer_stub.clipped, 0);
    EXPECT_EQ(pointer_stub.captured, 0);
    set_mouse_lock(0);
    EXPECT_EQ(pointer_stub.log_count, 7);
    EXPECT_EQ(sent(), std::vector<SentMessage>{});
}

TEST_F(InputForward, ABackgroundWindowDoesNotTakeTheMouse) {
    pointer_stub.foreground = 0;
    set_mouse_lock(1);
    EXPECT_EQ(mouse_is_locked(), 0);
    EXPECT_EQ(pointer_stub.log_count, 0);
    pointer_stub.foreground = 1;  // back in front: the next tick locks
    set_mouse_lock(1);
    EXPECT_EQ(mouse_is_locked(), 1);
}

TEST_F(InputForward, LockedMovesAreScaledBySensitivity) {
    pointer_stub_reset(641, 481);  // odd sizes: the centre truncates to (320, 240)
    set_mouse_lock(1);
    ASSERT_EQ(pointer_stub.cursor_x, 320);
    ASSERT_EQ(pointer_stub.cursor_y, 240);
    const struct {
        int32_t sensitivity;
        int16_t dx, dy;
    } cases[] = {{100, 3, -2}, {50, 1, -1}, {0, 0, 0}, {-100, -3, 2}, {250, 7, -5}, {10000, 300, -200}};
    std::vector<SentMessage> expected;
    for (const auto& c : cases) {
        settings.muskanslighet = c.sensitivity;
        forward_mouse_move(323, 238);   // 3 right, 2 up of the centre
        forward_mouse_move(320, 240);   // the move event of the re-centring
        expected.push_back(delta(c.dx, c.dy));
    }
    EXPECT_EQ(sent(), expected);
    // Every reported move re-centred the cursor.
    int moves = 0;
    for (int i = 0; i < pointer_stub.log_count && i < POINTER_LOG_SIZE; i++) {
        moves += pointer_stub.log[i] == move_to(320, 240);
    }
    EXPECT_EQ(moves, 1 + 6);
}

TEST_F(InputForward, ExtremeSensitivitiesDoNotOverflow) {
    set_mouse_lock(1);
    settings.muskanslighet = INT32_MAX;
    forward_mouse_move(320 + 3000, 240 - 3000);
    settings.muskanslighet = INT32_MIN;
    forward_mouse_move(320 + 1, 240 - 1);
    settings.muskanslighet = 1000000;
    forward_mouse_move(320 + 2, 240 - 2);  // 2000000 / 100 fits: 20000
    // A product beyond 32 bits is held at the 32-bit end (sign kept), then
    // divided; the wire takes the low 16 bits.
    const int32_t big = INT32_MAX / 100, small = INT32_MIN / 100;
    EXPECT_EQ(sent(),
              (std::vector<SentMessage>{delta(static_cast<int16_t>(big & 0xFFFF), static_cast<int16_t>(small & 0xFFFF)),
                                        delta(static_cast<int16_t>(small & 0xFFFF), static_cast<int16_t>(big & 0xFFFF)),
                                        delta(20000, -20000)}));
}

TEST_F(InputForward, MovesWithoutLockOrPointerSendNothing) {
    forward_mouse_move(100, 100);  // locked-mouse mode, but not locked
    EXPECT_EQ(sent(), std::vector<SentMessage>{});
    EXPECT_EQ(pointer_stub.log_count, 0);
}

TEST_F(InputForward, PointerPositionsAreScaledAndClamped) {
    state.pointer_mode.store(1);
    state.remote_width.store(1280);
    state.remote_height.store(720);
    forward_mouse_move(320, 240);
    forward_mouse_move(639, 479);
    forward_mouse_move(-5, 500);
    forward_mouse_move(0, 0);
    forward_mouse_move(32767, -32768);
    forward_mouse_move(INT32_MAX, INT32_MIN);
    forward_mouse_move(320, 240);  // repeated: sent again
    EXPECT_EQ(sent(), (std::vector<SentMessage>{position(640, 360), position(1278, 718), position(0, 719),
                                                position(0, 0), position(1279, 0), position(1279, 0),
                                                position(640, 360)}));
    // A remote picture smaller than the window.
    state.remote_width.store(320);
    state.remote_height.store(200);
    forward_mouse_move(639, 479);
    forward_mouse_move(2, 3);
    EXPECT_EQ(sent(), (std::vector<SentMessage>{position(319, 199), position(1, 1)}));
}

TEST_F(InputForward, NoClientAreaSendsNoPosition) {
    state.pointer_mode.store(1);
    pointer_stub.client_width = 0;
    send_mouse_position(10, 10);
    pointer_stub.client_width = 640;
    pointer_stub.client_height = -1;
    send_mouse_position(10, 10);
    EXPECT_EQ(sent(), std::vector<SentMessage>{});
}

TEST_F(InputForward, PointerPressSendsPositionFirstAndCaptures) {
    state.pointer_mode.store(1);
    state.remote_width.store(1280);
    state.remote_height.store(720);
    forward_mouse_button(MOUSE_BUTTON_LEFT, 1, 10, 10);
    EXPECT_EQ(pointer_calls(), (std::vector<PointerEvent>{CAPTURE}));
    EXPECT_EQ(sent(), (std::vector<SentMessage>{position(20, 15), button(1, 1)}));
    forward_mouse_button(MOUSE_BUTTON_LEFT, 0, 700, 10);
    EXPECT_EQ(pointer_calls(), (std::vector<PointerEvent>{CAPTURE, RELEASE}));
    EXPECT_EQ(sent(), (std::vector<SentMessage>{button(1, 0)}));
    forward_mouse_button(MOUSE_BUTTON_MIDDLE, 1, 0, 0);
    forward_mouse_button(MOUSE_BUTTON_RIGHT, 1, 0, 0);
    EXPECT_EQ(sent(), (std::vector<SentMessage>{position(0, 0), button(3, 1), position(0, 0), button(2, 1)}));
}

TEST_F(InputForward, ClickInLockedModeLocksTheMouseAndIsForwarded) {
    forward_mouse_button(MOUSE_BUTTON_RIGHT, 1, 5, 5);
    EXPECT_EQ(mouse_is_locked(), 1);
    EXPECT_EQ(pointer_calls(), (std::vector<PointerEvent>{CLIP, HIDE, CAPTURE, move_to(320, 240)}));
    forward_mouse_button(MOUSE_BUTTON_RIGHT, 0, 5, 5);
    EXPECT_EQ(pointer_stub.log_count, 4);  // the release changes nothing
    EXPECT_EQ(sent(), (std::vector<SentMessage>{button(2, 1), button(2, 0)}));
}

TEST_F(InputForward, NoLockWhileTheAddressBarIsOpenOrTheLinkIsDown) {
    open_address_bar();
    forward_mouse_button(MOUSE_BUTTON_LEFT, 1, 5, 5);
    EXPECT_EQ(mouse_is_locked(), 0);
    address_bar_stub_open = 0;
    state.connected.store(0);
    forward_mouse_button(MOUSE_BUTTON_LEFT, 1, 5, 5);
    EXPECT_EQ(mouse_is_locked(), 0);
    EXPECT_EQ(pointer_stub.log_count, 0);
    state.connected.store(1);
    EXPECT_EQ(sent(), (std::vector<SentMessage>{button(1, 1)}));  // the second press went nowhere
}

TEST_F(InputForward, OpeningTheAddressBarFreesTheMouse) {
    set_mouse_lock(1);
    open_address_bar();
    EXPECT_EQ(mouse_is_locked(), 0);
    EXPECT_EQ(pointer_stub.display_counter, 0);
    EXPECT_EQ(pointer_stub.clipped, 0);
}

TEST_F(InputForward, WheelDeltaIsSentUnchanged) {
    send_wheel(120);
    send_wheel(-120);
    send_wheel(-360);
    send_wheel(0x12345);  // only the low 16 bits are the delta
    EXPECT_EQ(sent(), (std::vector<SentMessage>{message(MSG_MOUSE_WHEEL, {0x78, 0x00}),
                                                message(MSG_MOUSE_WHEEL, {0x88, 0xFF}),
                                                message(MSG_MOUSE_WHEEL, {0x98, 0xFE}),
                                                message(MSG_MOUSE_WHEEL, {0x45, 0x23})}));
}

TEST_F(InputForward, NothingIsQueuedWhileDisconnected) {
    state.connected.store(0);
    send_key(0x41, 0x001E0001, 1);
    forward_char('a');
    send_wheel(120);
    state.connected.store(1);
    forward_char('b');
    EXPECT_EQ(sent(), (std::vector<SentMessage>{character('b')}));
}

}  // namespace
