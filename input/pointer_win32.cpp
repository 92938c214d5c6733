// The main window's cursor operations on USER32.
#include "input/pointer.h"

#include <windows.h>

#include "core/client_state.h"

static HWND main_hwnd() { return static_cast<HWND>(state.main_window); }

void pointer_client_size(int32_t* width, int32_t* height) {
    RECT client;
    if (main_hwnd() == nullptr || !GetClientRect(main_hwnd(), &client)) {
        *width = 0;
        *height = 0;
        return;
    }
    *width = client.right;
    *height = client.bottom;
}

int pointer_window_is_foreground() {
    return main_hwnd() != nullptr && GetForegroundWindow() == main_hwnd();
}

void pointer_clip_to_client() {
    RECT client;
    GetClientRect(main_hwnd(), &client);
    POINT top_left = {client.left, client.top};
    POINT bottom_right = {client.right, client.bottom};
    ClientToScreen(main_hwnd(), &top_left);
    ClientToScreen(main_hwnd(), &bottom_right);
    RECT screen = {top_left.x, top_left.y, bottom_right.x, bottom_right.y};
    ClipCursor(&screen);
}

void pointer_unclip() { ClipCursor(nullptr); }

void pointer_show_cursor(int show) { ShowCursor(show ? TRUE : FALSE); }

void pointer_capture() { SetCapture(main_hwnd()); }

void pointer_release() { ReleaseCapture(); }

void pointer_move_to_client(int32_t x, int32_t y) {
    POINT point = {x, y};
    ClientToScreen(main_hwnd(), &point);
    SetCursorPos(point.x, point.y);
}
