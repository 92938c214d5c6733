// Whether the mouse should be locked, and applying that. Called by the main
// window (activation, timer, state changes, F8) and by input forwarding (a
// click in locked-mouse mode). Window thread only.
#ifndef QV_APP_MOUSE_LOCK_H
#define QV_APP_MOUSE_LOCK_H

// 1 when the mouse should be locked: connected, streaming, locked-mouse
// mode, and no address bar open (tested in that order).
int mouse_lock_wanted();
// set_mouse_lock with the value of mouse_lock_wanted.
void update_mouse_lock();

#endif
