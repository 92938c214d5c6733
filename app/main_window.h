// The main window's behaviour, one handler per kind of event, free of any
// platform type so that it runs (and is tested) natively. The Win32 window
// procedure (app/main_window_win32.cpp) only unpacks each message and calls
// one of these. Window thread only.
//
// Routing follows state.stream_mode: 0 means the menu is up (keys, clicks
// and the wheel act on the application list and start entries with
// LaunchApp); 1 means an application streams (input is forwarded); any
// other value forwards key and button presses only.
#ifndef QV_APP_MAIN_WINDOW_H
#define QV_APP_MAIN_WINDOW_H

#include <cstdint>

// Virtual-key codes the main window gives a meaning of its own.
enum {
    KEY_RETURN = 0x0D,
    KEY_UP = 0x26,
    KEY_DOWN = 0x28,
    KEY_F6 = 0x75,
    KEY_F8 = 0x77,
    KEY_F9 = 0x78,
    KEY_F10 = 0x79,
    KEY_F11 = 0x7A,
    KEY_F12 = 0x7B,
};

// Menu geometry shared with the menu's drawing (ui/title_screen.cpp): row i
// has its text top at MENU_TOP + MENU_ROW_PITCH * i and its band from two
// pixels above that to 22 below.
enum {
    MENU_TOP = 120,
    MENU_ROW_PITCH = 26,
    MENU_HIT_TOP = 118,
};

// Timer period in milliseconds, and the statistics period.
enum {
    TIMER_PERIOD_MS = 15,
    STATS_PERIOD_MS = 1000,
};

// Key press (key-down and system-key-down alike): the key commands F12,
// F11, F10, F9, F8, F6 in that order, then forwarding or the menu keys.
// key_data is the message's 32-bit flags word.
void on_key_down(uint32_t vk, uint32_t key_data);
// Key release (key-up and system-key-up alike).
void on_key_up(uint32_t vk, uint32_t key_data);
// A typed character (WM_CHAR; WM_SYSCHAR never comes here).
void on_char(uint32_t code);
// Mouse events in client coordinates; button 1 left, 2 right, 3 middle.
void on_mouse_move(int32_t x, int32_t y);
void on_button_down(int button, int32_t x, int32_t y);
void on_button_up(int button, int32_t x, int32_t y);
// Wheel delta as the wheel message reports it (one notch is 120).
void on_wheel(int32_t delta);
// The 15 ms timer: joystick, statistics and Ping once a second, the
// once-a-second repaint, mouse-lock upkeep. now is the tick count.
void on_timer(uint32_t now);
// Activation (1) or deactivation (0) of the main window.
void on_activate(int active);
// A close request: stop and destroy the window.
void on_close();
// The window is being destroyed: give the mouse back.
void on_destroy();
// The network thread changed the status, list, mode or a text.
void on_state_changed();

// Which menu row a click at client y hits: (y - 118) / 26, truncated toward
// zero, so y = 100 still hits row 0. May be negative or beyond the list.
int32_t menu_row_at(int32_t y);

#endif
