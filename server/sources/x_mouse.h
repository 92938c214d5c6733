// The client's mouse in an X display through XTest: positions through the
// point map, relative moves, buttons 1-3 and the wheel.
#ifndef QV_SERVER_X_MOUSE_H
#define QV_SERVER_X_MOUSE_H

#include <X11/Xlib.h>

#include <cstdint>

#include "server/sources/x_input.h"

namespace qvs {

class XMouse {
public:
    explicit XMouse(XInput::PointMap map) : map_(std::move(map)) {}
    // MSG_MOUSE_POS, MSG_MOUSE_DELTA, MSG_MOUSE_BUTTON or MSG_MOUSE_WHEEL;
    // short payloads are ignored.
    void handle(Display* d, uint8_t type, const uint8_t* payload, uint32_t length);
    // Lets go of every button and forgets a part-turned wheel.
    void release(Display* d);

private:
    void button(Display* d, int x_button, bool down);
    void wheel(Display* d, int delta);

    XInput::PointMap map_;
    unsigned buttons_ = 0;  // X buttons held, bit n for button n
    int wheel_sum_ = 0;
};

}  // namespace qvs

#endif
