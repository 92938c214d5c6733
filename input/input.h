// Input forwarding, mouse lock and joystick: what the main window procedure
// calls on the window thread. Every message goes out through send_message.
#ifndef QV_INPUT_INPUT_H
#define QV_INPUT_INPUT_H

#include <cstdint>

enum {
    MOUSE_BUTTON_LEFT = 1,
    MOUSE_BUTTON_RIGHT = 2,
    MOUSE_BUTTON_MIDDLE = 3,
};

// Key: vk the virtual-key code, key_data the key message's 32-bit flags
// word (scan code in bits 16-23, extended flag in bit 24).
void send_key(uint32_t vk, uint32_t key_data, bool down);
// WM_CHAR: at most one Char message (control characters send none).
void forward_char(uint32_t code);
// Mouse events in client coordinates (signed 16-bit values from lParam).
void forward_mouse_move(int32_t x, int32_t y);
void forward_mouse_button(int button, int down, int32_t x, int32_t y);
void send_mouse_position(int32_t x, int32_t y);
void send_mouse_button(int button, int down);
void send_wheel(int32_t delta);

// Locked-mouse mode: 1 enters it (only while the main window is in the
// foreground), 0 leaves it. Part of the main window's upkeep.
void set_mouse_lock(int enable);
int mouse_is_locked();
// 1 when the mouse should be locked: connected, streaming, locked-mouse
// mode, and no address bar open. update_mouse_lock applies that.
int mouse_lock_wanted();
void update_mouse_lock();
void center_cursor();

// Joystick: the start-up check (sets joystick_available, zeroes the last
// state) and the poll on every 15 ms timer tick.
void joystick_startup_check();
void poll_joystick();

// The address bar (F6 while a web browser streams).
void open_address_bar();
int address_bar_is_open();
// The bar was closed by the press of vk (Enter or Esc) in it.
void address_bar_closed_by_key(uint32_t vk);
// For every key press (down 1) and release (down 0) of the main window: 1
// when it is the release of the key that closed the bar, which the main
// window must not forward. A press of that key first ends the swallowing.
int address_bar_swallows_key(uint32_t vk, int down);

#endif
