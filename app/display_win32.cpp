// The display mode: full screen with a mode change, or a plain window.
#include "core/display.h"

#include <windows.h>

#include "core/client_state.h"
#include "settings/settings.h"

int display_mode_changed;
void* program_instance;

static const DWORD WINDOWED_STYLE = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

void restore_display_mode() {
    if (display_mode_changed == 0) return;
    ChangeDisplaySettingsA(nullptr, 0);
    display_mode_changed = 0;
}

// Switches the screen to width x height, first at 16 bits per pixel, then
// at the current depth. Returns 1 when either was accepted.
static int change_screen_mode(int32_t width, int32_t height) {
    DEVMODEA mode;
    ZeroMemory(&mode, sizeof mode);
    mode.dmSize = sizeof mode;
    mode.dmBitsPerPel = 16;
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL) return 1;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL ? 1 : 0;
}

void apply_display_mode() {
    HWND window = static_cast<HWND>(state.main_window);
    int full_screen = settings.fullskarm != 0;
    DWORD style = full_screen ? WS_POPUP : WINDOWED_STYLE;
    // Every call starts from the desktop's own mode.
    restore_display_mode();

    RECT rect;
    if (full_screen) {
        if (change_screen_mode(settings.bredd, settings.hojd)) display_mode_changed = 1;
        // When both changes were refused the window covers the unchanged
        // desktop and the picture is stretched to it.
        SetRect(&rect, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    } else {
        SetRect(&rect, 0, 0, settings.bredd, settings.hojd);
        AdjustWindowRect(&rect, style, FALSE);
        OffsetRect(&rect, 40 - rect.left, 40 - rect.top);
    }
    SetWindowLongA(window, GWL_STYLE, static_cast<LONG>(style | WS_VISIBLE));
    SetWindowPos(window, full_screen ? HWND_TOPMOST : HWND_NOTOPMOST, rect.left, rect.top,
                 rect.right - rect.left, rect.bottom - rect.top,
                 SWP_FRAMECHANGED | SWP_SHOWWINDOW);
    InvalidateRect(window, nullptr, TRUE);
}
