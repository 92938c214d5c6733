// The stand-in joystick of input/joystick_stub.cpp: tests say what the
// driver answers and what the next reads return, and see what was asked.
#ifndef QV_INPUT_JOYSTICK_STUB_H
#define QV_INPUT_JOYSTICK_STUB_H

#include "input/joystick.h"

struct JoystickStub {
    // Set by tests.
    uint32_t device_count;   // joyGetNumDevs's answer
    int has_caps;            // joyGetDevCapsA succeeds
    int read_ok;             // joyGetPosEx succeeds
    JoystickInfo position;   // what a successful read returns (dwSize, dwFlags kept from the request)
    // Kept by the stand-in.
    int count_calls, caps_calls, read_calls;
    JoystickInfo last_request;  // the record as the caller handed it in
};

extern JoystickStub joystick_stub;

// A connected joystick, centred (axes 32768, hat centred 65535), nothing
// pressed; call counts zero.
void joystick_stub_reset();

#endif
