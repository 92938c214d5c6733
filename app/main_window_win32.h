// The Win32 window procedure of the class "Quorvane" (Windows only).
#ifndef QV_APP_MAIN_WINDOW_WIN32_H
#define QV_APP_MAIN_WINDOW_WIN32_H

#include <windows.h>

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

#endif
