// The main window's platform side for the portable window logic.
#include "app/window.h"

#include <windows.h>

#include "app/client_state.h"

void window_invalidate() {
    InvalidateRect(static_cast<HWND>(state.main_window), nullptr, FALSE);
}

void window_destroy() {
    DestroyWindow(static_cast<HWND>(state.main_window));
}
