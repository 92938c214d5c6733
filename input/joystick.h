// Non-portable joystick access: input/joystick_win32.cpp uses WINMM's
// joystick functions on joystick 1; input/joystick_stub.cpp is a stand-in
// joystick that tests drive. Window thread only.
#ifndef QV_INPUT_JOYSTICK_H
#define QV_INPUT_JOYSTICK_H

#include <cstdint>

// The platform's joystick reading record (JOYINFOEX): 13 words, 52 bytes.
struct JoystickInfo {
    uint32_t dwSize;
    uint32_t dwFlags;
    uint32_t dwXpos, dwYpos, dwZpos, dwRpos, dwUpos, dwVpos;
    uint32_t dwButtons;
    uint32_t dwButtonNumber;
    uint32_t dwPOV;
    uint32_t dwReserved1;
    uint32_t dwReserved2;
};
static_assert(sizeof(JoystickInfo) == 52, "JOYINFOEX is 52 bytes");

enum {
    JOYSTICK_RETURN_ALL = 0xFF,      // JOY_RETURNALL: axes, hat, buttons
    JOYSTICK_POV_LIMIT = 36000,      // larger hat values mean "centred"
};

// The number of joysticks the driver supports (joyGetNumDevs).
uint32_t joystick_device_count();
// 1 when joystick 1 answers a capabilities query (joyGetDevCapsA with the
// full 404-byte record returns JOYERR_NOERROR).
int joystick_has_caps();
// Reads joystick 1 (joyGetPosEx) into info, whose dwSize and dwFlags the
// caller has set. 1 on success, 0 on any failure.
int joystick_read(JoystickInfo* info);

#endif
