// The network thread's notices to the window thread, as posted messages.
#include "core/notify.h"

#include <windows.h>

#include "core/client_state.h"
#include "core/frame_notice.h"

// Only one WM_FRAME_READY waits at a time (core/frame_notice.h): its paint
// shows the newest picture, so a flood of frames cannot fill the queue.
void notify_frame_ready() {
    if (!frame_notice_claim()) return;
    if (!PostMessageA(static_cast<HWND>(state.main_window), WM_FRAME_READY, 0, 0))
        frame_notice_unclaim();
}

void notify_state_changed() {
    PostMessageA(static_cast<HWND>(state.main_window), WM_STATE_CHANGED, 0, 0);
}

// SetWindowTextA from this thread waits until the window thread has handled
// the change; once the window is destroyed it returns at once.
void set_main_window_title(const char* title) {
    SetWindowTextA(static_cast<HWND>(state.main_window), title);
}
