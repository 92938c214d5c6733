#include "server/sources/x_damage.h"

#include <X11/extensions/Xfixes.h>

namespace qvs {

void XDamageWatch::start(Display* d, Window root) {
    int error_base = 0;
    if (!XDamageQueryExtension(d, &event_base_, &error_base)) return;
    damage_ = XDamageCreate(d, root, XDamageReportNonEmpty);
    region_ = XFixesCreateRegion(d, nullptr, 0);
}

void XDamageWatch::stop(Display* d) {
    if (damage_) XDamageDestroy(d, damage_);
    if (region_) XFixesDestroyRegion(d, region_);
    damage_ = 0;
    region_ = 0;
}

bool XDamageWatch::take(const XEvent& ev) {
    if (!damage_ || ev.type != event_base_ + XDamageNotify) return false;
    waits_ = true;
    return true;
}

void XDamageWatch::mark(Display* d, const Rect& area, TileCopy& tiles) {
    if (!damage_ || !waits_) return;
    waits_ = false;
    XDamageSubtract(d, damage_, None, region_);
    int count = 0;
    XRectangle* rects = XFixesFetchRegion(d, region_, &count);
    for (int i = 0; i < count; i++)
        tiles.mark(Rect{rects[i].x - area.x, rects[i].y - area.y, rects[i].width, rects[i].height});
    if (rects) XFree(rects);
}

}  // namespace qvs
