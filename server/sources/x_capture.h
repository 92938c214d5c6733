// Pictures from an X display: the whole screen or one top-level window,
// read through shared memory, with XDamage telling what changed and a slow
// full comparison where damage is missing or wrong. Scaled to the client's
// size with the aspect kept (black bars) by area averaging, and with the
// mouse pointer drawn in (XFixes), since a captured screen has none.
#ifndef QV_SERVER_X_CAPTURE_H
#define QV_SERVER_X_CAPTURE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvs {

class XCapture {
public:
    // Opens its own connection to `display` (":0", ":5"). With a non-empty
    // `window_title`, follows the first top-level window whose title
    // contains it (its area only, following moves and resizes); else the
    // whole screen. Returns null with `error` filled (in English, for the
    // log) when the display cannot be opened or no such window exists.
    static std::unique_ptr<XCapture> open(const std::string& display, const std::string& window_title,
                                          std::string* error);
    virtual ~XCapture() = default;

    // The picture at width x height RGB555 (rows width apart) into `out`.
    // false: nothing changed since the last true (out untouched), unless
    // `force`. The pointer is drawn in.
    virtual bool grab(std::vector<uint16_t>& out, int width, int height, bool force) = 0;

    // Readable when damage or pointer events wait, and on a short timer
    // for the pointer's position and the slow full comparison; drain()
    // reads them.
    virtual int fd() const = 0;
    virtual void drain() = 0;

    // Where a point of the last picture (width x height as in grab) lies on
    // the X screen, clamped to the captured area. For the input injector.
    virtual void picture_to_screen(int px, int py, int* sx, int* sy) const = 0;

    // Non-empty once the captured window has closed or the display is gone:
    // a Swedish text for the client.
    virtual std::string gone() const = 0;
};

}  // namespace qvs

#endif
