// The stand-in window of input/pointer_stub.cpp: tests set its client size
// and whether it is in the foreground, and read back what was done to the
// cursor, in order.
#ifndef QV_INPUT_POINTER_STUB_H
#define QV_INPUT_POINTER_STUB_H

#include <cstdint>

enum PointerCall {
    POINTER_CLIP = 1,
    POINTER_UNCLIP,
    POINTER_SHOW,
    POINTER_HIDE,
    POINTER_CAPTURE,
    POINTER_RELEASE,
    POINTER_MOVE,  // with the client point
};

struct PointerEvent {
    int call;
    int32_t x, y;
};

enum { POINTER_LOG_SIZE = 64 };

struct PointerStub {
    // Set by tests.
    int32_t client_width, client_height;
    int foreground;
    // Kept by the stand-in.
    int clipped;            // 1 while a clip is in force
    int display_counter;    // the cursor shows while it is >= 0
    int captured;
    int32_t cursor_x, cursor_y;  // client coordinates of the last move
    PointerEvent log[POINTER_LOG_SIZE];
    int log_count;          // calls made; the log keeps the first 64
};

extern PointerStub pointer_stub;

// A foreground window of the given client size, cursor shown, nothing
// clipped or captured, empty log.
void pointer_stub_reset(int32_t client_width, int32_t client_height);

#endif
