// The one ClientState record and its initial values.
#include "core/client_state.h"

#include <cstring>

ClientState state;

void client_state_reset() {
    state.sock.store(NET_NO_SOCKET);
    state.connected.store(0);
    state.quit.store(0);
    state.reconnect.store(0);
    state.stream_mode.store(0);
    state.pointer_mode.store(0);
    state.app_kind.store(0);
    state.remote_width.store(640);
    state.remote_height.store(480);
    std::memset(state.apps, 0, sizeof state.apps);
    state.app_count.store(0);
    state.app_selected.store(0);
    state.status_text[0] = 0;
    state.web_address[0] = 0;
    state.title_text[0] = 0;
    state.pin_text[0] = 0;
    state.frame_valid.store(0);
    state.frame_count.store(0);
    state.byte_count.store(0);
    state.stats_tick = 0;
    state.stat_fps.store(0);
    state.stat_kbps.store(0);
    state.ping_ms.store(0);
    state.show_stats.store(0);
    state.main_window = nullptr;
}

void client_state_init_locks() {
    lock_init(&state.state_lock);
    lock_init(&state.send_lock);
    lock_init(&state.text_lock);
}
