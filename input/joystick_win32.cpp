// Joystick 1 through WINMM.
#include "input/joystick.h"

#include <windows.h>
#include <mmsystem.h>

static_assert(sizeof(JOYINFOEX) == sizeof(JoystickInfo), "JoystickInfo mirrors JOYINFOEX");
static_assert(sizeof(JOYCAPSA) == 404, "the full capabilities record");

uint32_t joystick_device_count() { return joyGetNumDevs(); }

int joystick_has_caps() {
    JOYCAPSA caps;
    return joyGetDevCapsA(JOYSTICKID1, &caps, sizeof caps) == JOYERR_NOERROR;
}

int joystick_read(JoystickInfo* info) {
    return joyGetPosEx(JOYSTICKID1, reinterpret_cast<JOYINFOEX*>(info)) == JOYERR_NOERROR;
}
