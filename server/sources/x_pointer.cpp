#include "server/sources/x_pointer.h"

#include <X11/extensions/Xfixes.h>

#include <algorithm>

namespace qvs {

void XPointer::update(Display* d, Window root, const Rect& area) {
    if (image_changed_) {
        image_changed_ = false;
        moved_ = true;
        XFixesCursorImage* image = XFixesGetCursorImage(d);
        cursor_w_ = cursor_h_ = 0;
        if (image) {
            cursor_w_ = std::min<int>(image->width, 256);
            cursor_h_ = std::min<int>(image->height, 256);
            hot_x_ = image->xhot;
            hot_y_ = image->yhot;
            cursor_.resize(size_t(cursor_w_) * size_t(cursor_h_));
            for (int y = 0; y < cursor_h_; y++)
                for (int x = 0; x < cursor_w_; x++)
                    cursor_[size_t(y) * cursor_w_ + x] = uint32_t(image->pixels[size_t(y) * image->width + x]);
            XFree(image);
        }
    }
    Window root_return, child;
    int x = -1, y = -1, wx, wy;
    unsigned int mask;
    if (!XQueryPointer(d, root, &root_return, &child, &x, &y, &wx, &wy, &mask) || x < area.x || y < area.y ||
        x >= area.x + area.w || y >= area.y + area.h)
        x = y = -1;
    if (x != x_ || y != y_) moved_ = true;
    x_ = x;
    y_ = y;
}

// At its own size (a shrunk pointer is hard to see), its hot spot where the
// pointer is in the scaled picture, kept off the bars.
void XPointer::draw(std::vector<uint16_t>& out, int out_w, const Rect& im, const Rect& area) const {
    if (x_ < 0 || cursor_w_ == 0) return;
    int px = im.x + int(int64_t(x_ - area.x) * im.w / area.w) - hot_x_;
    int py = im.y + int(int64_t(y_ - area.y) * im.h / area.h) - hot_y_;
    for (int y = std::max(0, im.y - py); y < cursor_h_ && py + y < im.y + im.h; y++) {
        for (int x = std::max(0, im.x - px); x < cursor_w_ && px + x < im.x + im.w; x++) {
            uint32_t c = cursor_[size_t(y) * cursor_w_ + x];
            uint32_t a = c >> 24;
            if (a == 0) continue;
            uint16_t& d = out[size_t(py + y) * size_t(out_w) + size_t(px + x)];
            // Premultiplied: the pointer's colour plus what shows through.
            uint32_t dr = (d >> 10 & 31) << 3, dg = (d >> 5 & 31) << 3, db = (d & 31) << 3;
            uint32_t r = std::min<uint32_t>(255, (c >> 16 & 255) + dr * (255 - a) / 255);
            uint32_t g = std::min<uint32_t>(255, (c >> 8 & 255) + dg * (255 - a) / 255);
            uint32_t b = std::min<uint32_t>(255, (c & 255) + db * (255 - a) / 255);
            d = uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
        }
    }
}

}  // namespace qvs
