// The frame buffer natively: plain memory in place of a device-independent
// bitmap, so that decoding and painting logic are tested without Windows.
// `bitmap` points at the pixels (any non-null value means "a picture
// exists"); there is no memory_dc.
#include <cstdlib>
#include <cstring>

#include "core/client_state.h"
#include "media/frame_buffer.h"

FrameBuffer frame_buffer;

void create_frame_buffer(int32_t width, int32_t height) {
    lock_enter(&state.state_lock);

    int32_t pitch = width > 0 ? width + (width & 1) : 0;
    uint64_t bytes = width > 0 && height > 0
                         ? static_cast<uint64_t>(pitch) * static_cast<uint64_t>(height) * 2
                         : 0;
    uint16_t* pixels = nullptr;
    // A picture of no pixels or more than the bound is a failed creation.
    if (bytes > 0 && bytes <= FRAME_BUFFER_MAX_BYTES)
        pixels = static_cast<uint16_t*>(malloc(static_cast<size_t>(bytes)));

    // The old picture is not used either way once a creation was attempted.
    free(frame_buffer.pixels);
    frame_buffer.pixels = pixels;
    frame_buffer.bitmap = pixels;
    frame_buffer.pitch = pitch;
    if (pixels != nullptr) memset(pixels, 0, static_cast<size_t>(bytes));

    state.remote_width.store(width);
    state.remote_height.store(height);
    lock_leave(&state.state_lock);
}
