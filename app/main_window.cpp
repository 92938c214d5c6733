// The main window's behaviour: key commands, the application menu, the
// routing of input by stream mode, and the duties of the 15 ms timer.
#include "app/main_window.h"

#include "core/client_state.h"
#include "core/window.h"
#include "input/input.h"
#include "link/connection.h"
#include "link/wire.h"
#include "settings/settings_dialog.h"

// The menu is read here without state_lock: the network thread may be
// rebuilding it, but app_selected stays below 64, so the entry read is
// always inside `apps`; at worst a row of the old list is started.
static void launch_selected(int32_t index) {
    if (index < 0 || index >= APP_LIST_CAPACITY) return;
    uint8_t payload[2];
    int length = build_launch_app(payload, state.apps[index].id);
    send_message(MSG_LAUNCH_APP, payload, static_cast<uint32_t>(length));
}

static void select_previous() {
    int32_t selected = state.app_selected.load();
    if (selected > 0) state.app_selected.store(selected - 1);
}

static void select_next() {
    int32_t selected = state.app_selected.load();
    if (selected < state.app_count.load() - 1) state.app_selected.store(selected + 1);
}

// F10: the settings dialog. When the user accepts, the link is dropped so
// that the network thread connects again with the new settings.
static void open_settings() {
    set_mouse_lock(0);
    if (run_settings_dialog(0) != 0) {
        state.reconnect.store(1);
        close_link_socket();
    }
}

static void menu_key(uint32_t vk) {
    if (vk == KEY_UP) {
        select_previous();
    } else if (vk == KEY_DOWN) {
        select_next();
    } else if (vk == KEY_RETURN) {
        if (state.app_count.load() != 0) launch_selected(state.app_selected.load());
    }
    window_invalidate();
}

void on_key_down(uint32_t vk, uint32_t key_data) {
    int32_t mode = state.stream_mode.load();
    address_bar_swallows_key(vk, 1);
    if (vk == KEY_F12) {
        on_close();
        return;
    }
    if (vk == KEY_F11) {
        state.show_stats.store(state.show_stats.load() == 0 ? 1 : 0);
        window_invalidate();
        return;
    }
    if (vk == KEY_F10) {
        open_settings();
        return;
    }
    if (vk == KEY_F9) {
        send_message(MSG_MENU_REQUEST, nullptr, 0);
        return;
    }
    if (vk == KEY_F8 && mode == 1) {
        state.pointer_mode.store(state.pointer_mode.load() == 0 ? 1 : 0);
        update_mouse_lock();
        window_invalidate();
        return;
    }
    if (vk == KEY_F6 && mode == 1 && state.app_kind.load() == APP_KIND_WEB) {
        open_address_bar();
        return;
    }
    if (mode != 0) {
        send_key(vk, key_data, true);
        return;
    }
    menu_key(vk);
}

void on_key_up(uint32_t vk, uint32_t key_data) {
    if (address_bar_swallows_key(vk, 0)) return;  // its press went to the address bar
    if (vk >= KEY_F8 && vk <= KEY_F12) return;    // the client's own commands
    if (state.stream_mode.load() == 1) send_key(vk, key_data, false);
}

void on_char(uint32_t code) {
    if (state.stream_mode.load() == 1) forward_char(code);
}

void on_mouse_move(int32_t x, int32_t y) {
    if (state.stream_mode.load() == 1) forward_mouse_move(x, y);
}

int32_t menu_row_at(int32_t y) {
    return (y - MENU_HIT_TOP) / MENU_ROW_PITCH;  // C++ division truncates toward zero
}

void on_button_down(int button, int32_t x, int32_t y) {
    if (state.stream_mode.load() != 0) {
        forward_mouse_button(button, 1, x, y);
        return;
    }
    int32_t row = menu_row_at(y);
    if (row < 0 || row >= state.app_count.load() || row >= APP_LIST_CAPACITY) return;
    // A click on the highlighted row starts it; on another row it selects.
    if (row == state.app_selected.load()) launch_selected(row);
    state.app_selected.store(row);
    window_invalidate();
}

void on_button_up(int button, int32_t x, int32_t y) {
    if (state.stream_mode.load() == 1) forward_mouse_button(button, 0, x, y);
}

void on_wheel(int32_t delta) {
    if (state.stream_mode.load() == 1) {
        send_wheel(delta);
        return;
    }
    if (delta > 0) {
        select_previous();
    } else if (delta < 0) {
        select_next();
    }
    window_invalidate();
}

void on_timer(uint32_t now) {
    poll_joystick();
    uint32_t elapsed = now - state.stats_tick;  // unsigned: the tick's wrap is harmless
    if (elapsed >= STATS_PERIOD_MS) {
        // Taking the counters with an exchange loses no increment that the
        // network thread makes between the read and the reset.
        uint32_t frames = state.frame_count.exchange(0);
        uint32_t bytes = state.byte_count.exchange(0);
        state.stat_fps.store(frames * 1000u / elapsed);
        state.stat_kbps.store((bytes >> 10) * 1000u / elapsed);
        state.stats_tick = now;
        uint8_t payload[4];
        int length = build_ping(payload, now);
        send_message(MSG_PING, payload, static_cast<uint32_t>(length));
        if (state.show_stats.load() != 0 || state.stream_mode.load() == 0) window_invalidate();
    }
    update_mouse_lock();
}

void on_activate(int active) {
    if (active != 0) {
        update_mouse_lock();
    } else {
        set_mouse_lock(0);
    }
}

void on_close() {
    state.quit.store(1);
    window_destroy();
}

void on_destroy() { set_mouse_lock(0); }

void on_state_changed() {
    update_mouse_lock();
    window_invalidate();
}
