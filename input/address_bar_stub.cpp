// A stand-in address bar: opening frees the mouse and marks the bar open,
// at most one at a time; there is no window to type into.
#include "input/address_bar_stub.h"
#include "input/input.h"

int address_bar_stub_open;
int address_bar_stub_open_count;

void open_address_bar() {
    if (address_bar_stub_open) return;
    set_mouse_lock(0);
    address_bar_stub_open = 1;
    address_bar_stub_open_count++;
}

int address_bar_is_open() { return address_bar_stub_open; }

void address_bar_stub_close(unsigned vk) {
    if (!address_bar_stub_open) return;
    address_bar_stub_open = 0;
    address_bar_closed_by_key(vk);
}
