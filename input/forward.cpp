// Keyboard and mouse forwarding and the locked-mouse mode: input events of
// the window thread become Key, Char, MouseDelta, MousePos, MouseButton and
// MouseWheel messages. The cursor itself is moved through input/pointer.h.
#include "input/input.h"

#include "core/client_state.h"
#include "input/pointer.h"
#include "link/wire.h"
#include "settings/settings.h"

// Window-thread state of the mouse lock; no other thread touches it.
static int mouse_locked;     // 1 while clipped, hidden and captured
static int32_t lock_center_x;  // client point the cursor is returned to
static int32_t lock_center_y;

void send_key(uint32_t vk, uint32_t key_data, bool down) {
    // Scan code in bits 16-23 of the key data; bit 24 marks an extended key
    // (right Ctrl, right Alt, the cursor block, ...), sent as bit 8.
    uint16_t scan = static_cast<uint16_t>((key_data >> 16) & 0xFF);
    if (key_data & (1u << 24)) scan = static_cast<uint16_t>(scan + 0x100);
    uint8_t payload[4];
    int n = build_key(payload, static_cast<uint8_t>(vk & 0xFF), scan, down ? 1 : 0);
    send_message(MSG_KEY, payload, static_cast<uint32_t>(n));
}

// Unicode for Windows-1252 0x80..0x9F; 0 where the code page has nothing.
static const uint16_t CP1252_HIGH[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 88-8F
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 98-9F
};

void forward_char(uint32_t code) {
    // Control characters (Enter, Tab, Backspace, Esc, Ctrl+Backspace's
    // 0x7F) travel only as Key messages. The character of an ANSI window is
    // its low 8 bits, so only those are looked at.
    uint32_t b = code & 0xFF;
    if (b < 0x20 || b == 0x7F) return;
    uint16_t unicode = (b >= 0x80 && b <= 0x9F) ? CP1252_HIGH[b - 0x80] : static_cast<uint16_t>(b);
    if (unicode == 0) return;
    uint8_t payload[2];
    int n = build_char(payload, unicode);
    send_message(MSG_CHAR, payload, static_cast<uint32_t>(n));
}

// a * b / divisor, truncated toward zero, divisor > 0. The product is formed
// in 64 bits and held to the 32-bit range before a 32-bit division (64-bit
// division is not used in the program). Every result that 32-bit arithmetic
// gives without overflow is unchanged; a product beyond it saturates
// instead of wrapping, so its sign is kept.
static int32_t scale(int32_t a, int32_t b, int32_t divisor) {
    int64_t product = static_cast<int64_t>(a) * static_cast<int64_t>(b);
    if (product > INT32_MAX) product = INT32_MAX;
    if (product < INT32_MIN) product = INT32_MIN;
    return static_cast<int32_t>(product) / divisor;
}

// The low 16 bits of a 32-bit value, read as signed.
static int16_t low16(int32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu));
}

// Differences of two 32-bit values without overflow (mouse coordinates
// are 16-bit, but nothing here relies on it).
static int32_t difference(int32_t a, int32_t b) {
    int64_t d = static_cast<int64_t>(a) - static_cast<int64_t>(b);
    if (d > INT32_MAX) return INT32_MAX;
    if (d < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(d);
}

void forward_mouse_move(int32_t x, int32_t y) {
    if (state.pointer_mode.load() != 0) {
        send_mouse_position(x, y);
        return;
    }
    if (!mouse_locked) return;
    int32_t dx = difference(x, lock_center_x);
    int32_t dy = difference(y, lock_center_y);
    // At the centre: nothing moved. This also swallows the move event the
    // platform reports after center_cursor has put the cursor back.
    if (dx == 0 && dy == 0) return;
    int32_t sensitivity = settings.muskanslighet;
    int32_t mx = scale(dx, sensitivity, 100);
    int32_t my = scale(dy, sensitivity, 100);
    // Sent even when both round to 0, and the remainder is not carried.
    uint8_t payload[4];
    int n = build_mouse_delta(payload, low16(mx), low16(my));
    send_message(MSG_MOUSE_DELTA, payload, static_cast<uint32_t>(n));
    center_cursor();
}

void send_mouse_position(int32_t x, int32_t y) {
    int32_t w = 0, h = 0;
    pointer_client_size(&w, &h);
    if (w <= 0 || h <= 0) return;  // minimised: no client area
    const int32_t remote_w = state.remote_width.load();
    const int32_t remote_h = state.remote_height.load();
    if (remote_w <= 0 || remote_h <= 0) return;  // no picture to point into
    int32_t sx = scale(remote_w, x, w);
    int32_t sy = scale(remote_h, y, h);
    if (sx < 0) sx = 0;
    if (sy < 0) sy = 0;
    if (sx >= remote_w) sx = remote_w - 1;
    if (sy >= remote_h) sy = remote_h - 1;
    uint8_t payload[4];
    int n = build_mouse_pos(payload, static_cast<uint16_t>(sx), static_cast<uint16_t>(sy));
    send_message(MSG_MOUSE_POS, payload, static_cast<uint32_t>(n));
}

void forward_mouse_button(int button, int down, int32_t x, int32_t y) {
    const int pointer = state.pointer_mode.load() != 0;
    if (down && pointer) {
        // Capture so a drag beyond the window keeps reporting (clamped)
        // positions; the server moves its pointer before the press.
        pointer_capture();
        send_mouse_position(x, y);
    } else if (down) {
        update_mouse_lock();  // a click into the window locks the mouse
    } else if (pointer) {
        pointer_release();
    }
    send_mouse_button(button, down);
}

void send_mouse_button(int button, int down) {
    uint8_t payload[2];
    int n = build_mouse_button(payload, static_cast<uint8_t>(button), down ? 1 : 0);
    send_message(MSG_MOUSE_BUTTON, payload, static_cast<uint32_t>(n));
}

void send_wheel(int32_t delta) {
    uint8_t payload[2];
    int n = build_mouse_wheel(payload, low16(delta));
    send_message(MSG_MOUSE_WHEEL, payload, static_cast<uint32_t>(n));
}

void set_mouse_lock(int enable) {
    if (enable && !mouse_locked) {
        // Only the foreground window may take the mouse; the timer asks
        // again on its next tick.
        if (!pointer_window_is_foreground()) return;
        pointer_clip_to_client();
        pointer_show_cursor(0);
        pointer_capture();
        center_cursor();
        mouse_locked = 1;
    } else if (!enable && mouse_locked) {
        pointer_unclip();
        pointer_show_cursor(1);
        pointer_release();
        mouse_locked = 0;
    }
}

int mouse_is_locked() { return mouse_locked; }

void center_cursor() {
    int32_t w = 0, h = 0;
    pointer_client_size(&w, &h);
    lock_center_x = w / 2;
    lock_center_y = h / 2;
    pointer_move_to_client(lock_center_x, lock_center_y);
}

int mouse_lock_wanted() {
    if (state.connected.load() == 0) return 0;
    if (state.stream_mode.load() != 1) return 0;
    if (state.pointer_mode.load() != 0) return 0;
    if (address_bar_is_open()) return 0;
    return 1;
}

void update_mouse_lock() { set_mouse_lock(mouse_lock_wanted()); }
