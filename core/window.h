// The few things the main window's portable logic (app/main_window.cpp)
// asks of the platform window. core/window_win32.cpp does them on the real
// main window; core/window_stub.cpp counts them for tests. Window thread only.
#ifndef QV_CORE_WINDOW_H
#define QV_CORE_WINDOW_H

// Marks the whole client area for repainting without erasing the
// background (the paint covers every pixel itself).
void window_invalidate();

// Destroys the main window; its destruction ends the message loop.
void window_destroy();

#endif
