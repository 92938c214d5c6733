// The main window's platform side for the portable window logic.
#include "core/window.h"

#include <windows.h>

#include "core/client_state.h"

void window_invalidate() {
    InvalidateRect(static_cast<HWND>(state.main_window), nullptr, FALSE);
}

void window_destroy() {
    DestroyWindow(static_cast<HWND>(state.main_window));
}
