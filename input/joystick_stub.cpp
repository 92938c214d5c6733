// A stand-in joystick for tests.
#include "input/joystick.h"
#include "input/joystick_stub.h"

JoystickStub joystick_stub;

void joystick_stub_reset() {
    joystick_stub = JoystickStub();
    joystick_stub.device_count = 16;
    joystick_stub.has_caps = 1;
    joystick_stub.read_ok = 1;
    JoystickInfo& p = joystick_stub.position;
    p.dwXpos = p.dwYpos = p.dwZpos = p.dwRpos = p.dwUpos = p.dwVpos = 32768;
    p.dwPOV = 65535;
}

uint32_t joystick_device_count() {
    joystick_stub.count_calls++;
    return joystick_stub.device_count;
}

int joystick_has_caps() {
    joystick_stub.caps_calls++;
    return joystick_stub.has_caps;
}

int joystick_read(JoystickInfo* info) {
    joystick_stub.read_calls++;
    joystick_stub.last_request = *info;
    if (!joystick_stub.read_ok) return 0;
    const uint32_t size = info->dwSize, flags = info->dwFlags;
    *info = joystick_stub.position;
    info->dwSize = size;
    info->dwFlags = flags;
    return 1;
}
