// The mouse pointer of a captured X screen, which the pixels do not show:
// its image from XFixes, where it is, and drawing it into a scaled picture.
#ifndef QV_SERVER_X_POINTER_H
#define QV_SERVER_X_POINTER_H

#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

#include "server/encode/scale.h"

namespace qvs {

class XPointer {
public:
    // The pointer's image changed (an XFixes cursor event).
    void image_changed() { image_changed_ = true; }
    // Looks at the pointer: a new image, and whether it is in `area` (root
    // coordinates) and where.
    void update(Display* d, Window root, const Rect& area);
    // True once after the pointer moved, appeared, left or changed.
    bool take_moved() {
        bool moved = moved_;
        moved_ = false;
        return moved;
    }
    // Into `out` (rows `out_w` apart), where `area` shows as `image`.
    void draw(std::vector<uint16_t>& out, int out_w, const Rect& image, const Rect& area) const;

private:
    bool image_changed_ = true, moved_ = true;
    std::vector<uint32_t> cursor_;  // premultiplied ARGB
    int cursor_w_ = 0, cursor_h_ = 0, hot_x_ = 0, hot_y_ = 0;
    int x_ = -1, y_ = -1;  // root coordinates; -1: not shown
};

}  // namespace qvs

#endif
