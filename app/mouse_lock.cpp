// The mouse-lock decision of the main window.
#include "app/mouse_lock.h"

#include "app/client_state.h"
#include "input/input.h"

int mouse_lock_wanted() {
    if (state.connected.load() == 0) return 0;
    if (state.stream_mode.load() != 1) return 0;
    if (state.pointer_mode.load() != 0) return 0;
    if (address_bar_is_open()) return 0;
    return 1;
}

void update_mouse_lock() { set_mouse_lock(mouse_lock_wanted()); }
