// A stand-in for the main window's cursor operations: records every call.
#include "input/pointer.h"
#include "input/pointer_stub.h"

PointerStub pointer_stub;

static void record(int call, int32_t x, int32_t y) {
    if (pointer_stub.log_count < POINTER_LOG_SIZE) {
        pointer_stub.log[pointer_stub.log_count] = PointerEvent{call, x, y};
    }
    pointer_stub.log_count++;
}

void pointer_stub_reset(int32_t client_width, int32_t client_height) {
    pointer_stub = PointerStub();
    pointer_stub.client_width = client_width;
    pointer_stub.client_height = client_height;
    pointer_stub.foreground = 1;
}

void pointer_client_size(int32_t* width, int32_t* height) {
    *width = pointer_stub.client_width;
    *height = pointer_stub.client_height;
}

int pointer_window_is_foreground() { return pointer_stub.foreground; }

void pointer_clip_to_client() {
    pointer_stub.clipped = 1;
    record(POINTER_CLIP, 0, 0);
}

void pointer_unclip() {
    pointer_stub.clipped = 0;
    record(POINTER_UNCLIP, 0, 0);
}

void pointer_show_cursor(int show) {
    pointer_stub.display_counter += show ? 1 : -1;
    record(show ? POINTER_SHOW : POINTER_HIDE, 0, 0);
}

void pointer_capture() {
    pointer_stub.captured = 1;
    record(POINTER_CAPTURE, 0, 0);
}

void pointer_release() {
    pointer_stub.captured = 0;
    record(POINTER_RELEASE, 0, 0);
}

void pointer_move_to_client(int32_t x, int32_t y) {
    pointer_stub.cursor_x = x;
    pointer_stub.cursor_y = y;
    record(POINTER_MOVE, x, y);
}
