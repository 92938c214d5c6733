// The main window procedure: unpacks each Win32 message and hands it to its
// handler in app/main_window.cpp.
#include "app/main_window_win32.h"

#include <windows.h>

#include "core/client_state.h"
#include "core/frame_notice.h"
#include "app/main_window.h"
#include "input/input.h"
#include "ui/paint.h"

#ifndef WM_MOUSEWHEEL
#define WM_MOUSEWHEEL 0x020A  // missing from some old headers; Windows 98 sends it
#endif

// Client coordinates from lParam, each half read as a signed 16-bit value
// (a captured drag beyond the left or top edge gives negative values).
static int32_t low_signed(LPARAM value) { return static_cast<int16_t>(value & 0xFFFF); }
static int32_t high_signed(LPARAM value) { return static_cast<int16_t>((value >> 16) & 0xFFFF); }

static void paint_now(HWND window) {
    HDC dc = GetDC(window);
    if (dc == nullptr) return;
    paint_screen(dc);
    ReleaseDC(window, dc);
}

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_DESTROY:
            on_destroy();
            PostQuitMessage(0);
            return 0;
        case WM_ACTIVATE:
            // Answered without the default processing, which would otherwise
            // hand the keyboard focus to the window: give it here instead,
            // unless the address bar holds it.
            if (LOWORD(wparam) != WA_INACTIVE && !address_bar_is_open()) SetFocus(window);
            on_activate(LOWORD(wparam) != WA_INACTIVE ? 1 : 0);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            if (dc != nullptr) paint_screen(dc);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_CLOSE:
            on_close();
            return 0;
        case WM_ERASEBKGND:
            return 1;  // painting covers every pixel
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            // System keys never reach DefWindowProcA: Alt+F4 does not close
            // the window and Alt opens no window menu.
            on_key_down(static_cast<uint32_t>(wparam), static_cast<uint32_t>(lparam));
            return 0;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            on_key_up(static_cast<uint32_t>(wparam), static_cast<uint32_t>(lparam));
            return 0;
        case WM_CHAR:
            on_char(static_cast<uint32_t>(wparam));
            return 0;
        case WM_SYSCHAR:
            return 0;
        case WM_TIMER:
            on_timer(GetTickCount());
            return 0;
        case WM_MOUSEMOVE:
            on_mouse_move(low_signed(lparam), high_signed(lparam));
            return 0;
        case WM_LBUTTONDOWN:
            on_button_down(MOUSE_BUTTON_LEFT, low_signed(lparam), high_signed(lparam));
            return 0;
        case WM_RBUTTONDOWN:
            on_button_down(MOUSE_BUTTON_RIGHT, low_signed(lparam), high_signed(lparam));
            return 0;
        case WM_MBUTTONDOWN:
            on_button_down(MOUSE_BUTTON_MIDDLE, low_signed(lparam), high_signed(lparam));
            return 0;
        case WM_LBUTTONUP:
            on_button_up(MOUSE_BUTTON_LEFT, low_signed(lparam), high_signed(lparam));
            return 0;
        case WM_RBUTTONUP:
            on_button_up(MOUSE_BUTTON_RIGHT, low_signed(lparam), high_signed(lparam));
            return 0;
        case WM_MBUTTONUP:
            on_button_up(MOUSE_BUTTON_MIDDLE, low_signed(lparam), high_signed(lparam));
            return 0;
        case WM_MOUSEWHEEL:
            on_wheel(static_cast<int16_t>((wparam >> 16) & 0xFFFF));
            return 0;
        case WM_FRAME_READY:
            frame_notice_taken();  // before painting: a frame decoded meanwhile posts again
            paint_now(window);     // at once, not through WM_PAINT
            return 0;
        case WM_STATE_CHANGED:
            on_state_changed();
            return 0;
        default:
            return DefWindowProcA(window, message, wparam, lparam);
    }
}
