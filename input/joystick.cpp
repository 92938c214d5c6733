// The joystick: the start-up check and the poll on every timer tick. A
// Gamepad message goes out only when the joystick's state changed.
#include "input/joystick.h"

#include <cstring>

#include "core/client_state.h"
#include "input/input.h"
#include "link/wire.h"
#include "settings/settings.h"

// Window-thread state: 1 while joystick 1 may be read (cleared for good by
// the first failed read), and the last state sent, kept across reconnects.
static int joystick_available;
static JoystickInfo joystick_previous;

void joystick_startup_check() {
    // The three questions in this order, stopping at the first "no"; with
    // the setting off, the driver is not asked at all.
    joystick_available = settings.joystick != 0 && joystick_device_count() > 0 && joystick_has_caps();
    std::memset(&joystick_previous, 0, sizeof joystick_previous);
}

// An axis position 0..65535 as -32768..32767: position - 32768, low 16 bits.
static int16_t axis(uint32_t position) {
    return static_cast<int16_t>(static_cast<uint16_t>((position - 32768u) & 0xFFFFu));
}

void poll_joystick() {
    if (settings.joystick == 0 || !joystick_available) return;
    if (state.connected.load() != 1 || state.stream_mode.load() != 1) return;

    JoystickInfo info;
    std::memset(&info, 0, sizeof info);
    info.dwSize = sizeof info;
    info.dwFlags = JOYSTICK_RETURN_ALL;
    if (!joystick_read(&info)) {
        joystick_available = 0;  // unplugged or failing: off until restart
        return;
    }
    // The 32 bytes dwXpos..dwButtonNumber and the hat decide whether anything
    // changed; the reserved words do not.
    if (std::memcmp(&info.dwXpos, &joystick_previous.dwXpos, 8 * sizeof(uint32_t)) == 0 &&
        info.dwPOV == joystick_previous.dwPOV) {
        return;
    }
    GamepadState pad;
    pad.axes[0] = axis(info.dwXpos);
    pad.axes[1] = axis(info.dwYpos);
    pad.axes[2] = axis(info.dwZpos);
    pad.axes[3] = axis(info.dwRpos);
    pad.axes[4] = axis(info.dwUpos);
    pad.axes[5] = axis(info.dwVpos);
    pad.buttons = info.dwButtons;
    // Hundredths of a degree clockwise from forward; larger values
    // (the platform's "centred") become 0xFFFF.
    pad.pov = info.dwPOV <= JOYSTICK_POV_LIMIT ? static_cast<uint16_t>(info.dwPOV) : 0xFFFF;
    joystick_previous = info;
    uint8_t payload[18];
    int n = build_gamepad(payload, &pad);
    send_message(MSG_GAMEPAD, payload, static_cast<uint32_t>(n));
}
