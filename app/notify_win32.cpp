// The network thread's notices to the window thread, as posted messages.
#include "app/notify.h"

#include <windows.h>

#include "app/client_state.h"

void notify_frame_ready() {
    PostMessageA(static_cast<HWND>(state.main_window), WM_FRAME_READY, 0, 0);
}

void notify_state_changed() {
    PostMessageA(static_cast<HWND>(state.main_window), WM_STATE_CHANGED, 0, 0);
}

// SetWindowTextA from this thread waits until the window thread has handled
// the change; once the window is destroyed it returns at once.
void set_main_window_title(const char* title) {
    SetWindowTextA(static_cast<HWND>(state.main_window), title);
}
