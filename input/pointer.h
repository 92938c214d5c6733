// Non-portable cursor operations on the main window, for the mouse lock and
// absolute pointer: input/pointer_win32.cpp uses USER32 on state.main_window;
// input/pointer_stub.cpp records the calls and plays a window that tests
// set up. Window thread only. Results are not reported: the callers ignore
// them as the platform's own calls are ignored.
#ifndef QV_INPUT_POINTER_H
#define QV_INPUT_POINTER_H

#include <cstdint>

// The client area's right and bottom edges (its width and height; the
// origin is 0, 0). Both 0 when there is no window.
void pointer_client_size(int32_t* width, int32_t* height);
// 1 when the main window is the foreground window.
int pointer_window_is_foreground();
// Clips the cursor to the client area in screen coordinates (ClipCursor
// with the client rectangle's corners converted to the screen).
void pointer_clip_to_client();
// Removes any cursor clip.
void pointer_unclip();
// One step of the platform's cursor display counter: show 1 up, 0 down.
void pointer_show_cursor(int show);
// Captures the mouse to the main window / releases the capture.
void pointer_capture();
void pointer_release();
// Moves the cursor to the client point (x, y).
void pointer_move_to_client(int32_t x, int32_t y);

#endif
