#include "server/sources/x_mouse.h"

#include <X11/extensions/XTest.h>

#include "link/wire.h"

namespace qvs {

void XMouse::handle(Display* d, uint8_t type, const uint8_t* p, uint32_t length) {
    switch (type) {
    case MSG_MOUSE_POS:
        if (length >= 4) {
            int sx = 0, sy = 0;
            map_(p[0] | p[1] << 8, p[2] | p[3] << 8, &sx, &sy);
            XTestFakeMotionEvent(d, DefaultScreen(d), sx, sy, 0);
        }
        break;
    case MSG_MOUSE_DELTA:
        if (length >= 4) XTestFakeRelativeMotionEvent(d, int16_t(p[0] | p[1] << 8), int16_t(p[2] | p[3] << 8), 0);
        break;
    case MSG_MOUSE_BUTTON:
        // The client's 1 left, 2 right, 3 middle; X has middle as 2.
        if (length >= 2 && p[0] >= 1 && p[0] <= 3) button(d, p[0] == 1 ? 1 : p[0] == 2 ? 3 : 2, p[1] != 0);
        break;
    case MSG_MOUSE_WHEEL:
        if (length >= 2) wheel(d, int16_t(p[0] | p[1] << 8));
        break;
    default:
        break;
    }
}

void XMouse::release(Display* d) {
    for (int b = 1; b <= 3; b++) button(d, b, false);
    wheel_sum_ = 0;
}

void XMouse::button(Display* d, int x_button, bool down) {
    unsigned bit = 1u << x_button;
    if (down == bool(buttons_ & bit)) return;
    XTestFakeButtonEvent(d, unsigned(x_button), down ? True : False, 0);
    buttons_ ^= bit;
}

// One scroll step (buttons 4 up, 5 down) per 120; a turn the other way
// starts counting anew.
void XMouse::wheel(Display* d, int delta) {
    if ((delta > 0 && wheel_sum_ < 0) || (delta < 0 && wheel_sum_ > 0)) wheel_sum_ = 0;
    wheel_sum_ += delta;
    for (; wheel_sum_ >= 120 || wheel_sum_ <= -120; wheel_sum_ -= wheel_sum_ > 0 ? 120 : -120) {
        unsigned b = wheel_sum_ > 0 ? 4 : 5;
        XTestFakeButtonEvent(d, b, True, 0);
        XTestFakeButtonEvent(d, b, False, 0);
    }
}

}  // namespace qvs
