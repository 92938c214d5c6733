// What the address bar leaves behind in the main window. Enter or Esc is
// pressed in the bar and closes it; the keyboard then belongs to the main
// window again, which receives the key's release without ever having seen
// its press. Forwarded, that release would reach the remote program as a
// key it never saw pressed, so it is swallowed. Window thread only.
#include "input/input.h"

// The key whose press closed the bar and whose release is still to come;
// 0 when none.
static uint32_t closing_key;

void address_bar_closed_by_key(uint32_t vk) { closing_key = vk; }

int address_bar_swallows_key(uint32_t vk, int down) {
    if (closing_key == 0 || vk != closing_key) return 0;
    // A new press (the key held down, repeating) reaches the main window
    // and may be forwarded; then its release must be forwarded too.
    closing_key = 0;
    return down ? 0 : 1;
}
