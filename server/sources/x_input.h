// The client's keyboard and mouse, injected into an X display with XTest.
#ifndef QV_SERVER_X_INPUT_H
#define QV_SERVER_X_INPUT_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qvs {

class XInput {
public:
    // Maps a point of the client's picture to the X screen (from XCapture).
    typedef std::function<void(int px, int py, int* sx, int* sy)> PointMap;

    // Opens its own connection to `display`. Null with `error` filled when
    // the display cannot be opened or has no XTest.
    static std::unique_ptr<XInput> open(const std::string& display, PointMap map, std::string* error);
    virtual ~XInput() = default;

    // One client message (MSG_KEY, MSG_CHAR, MSG_MOUSE_DELTA, MSG_MOUSE_POS,
    // MSG_MOUSE_BUTTON, MSG_MOUSE_WHEEL, MSG_GAMEPAD) with its payload as it
    // came off the wire; short payloads are ignored.
    //  - Char types exactly its character once, whatever the keymap
    //    (characters no key makes are bound to a spare keycode for the moment
    //    they are typed); a Key whose press also produced a Char is not
    //    typed twice; keys without a character press and release the key
    //    their scan code names (bit 8: extended). Ctrl and Alt combinations
    //    reach the program.
    //  - MousePos through the point map; MouseDelta relative; buttons 1-3;
    //    the wheel one step per 120, smaller deltas added up.
    //  - Gamepad drives a uinput pad where /dev/uinput opens; else one log
    //    line says it is ignored.
    virtual void handle(uint8_t type, const uint8_t* payload, uint32_t length) = 0;

    // Releases every key and button still held.
    virtual void release_all() = 0;
};

}  // namespace qvs

#endif
