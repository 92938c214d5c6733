// Where an X screen changed, as XDamage reports it: an event says that
// something did, and the region it collected marks the tiles to read again.
#ifndef QV_SERVER_X_DAMAGE_H
#define QV_SERVER_X_DAMAGE_H

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

#include "server/sources/tile_copy.h"

namespace qvs {

class XDamageWatch {
public:
    // Watches `root`, when the display has XDamage; else a sweep alone
    // finds what changed.
    void start(Display* d, Window root);
    // Before the display closes, unless it was lost.
    void stop(Display* d);
    // True for its own events, which it takes note of.
    bool take(const XEvent& ev);
    // The damage collected since the last call, as marks on `tiles`, which
    // copies `area` (root coordinates).
    void mark(Display* d, const Rect& area, TileCopy& tiles);

private:
    int event_base_ = 0;
    Damage damage_ = 0;
    XserverRegion region_ = 0;
    bool waits_ = false;
};

}  // namespace qvs

#endif
