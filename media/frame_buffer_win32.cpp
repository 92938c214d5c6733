// The frame buffer on Windows: a top-down 16-bit (5-5-5) DIB section whose
// pixel memory the decoder writes directly, selected into a memory DC from
// which painting copies with BitBlt or StretchBlt.
#include <windows.h>

#include <cstring>

#include "core/client_state.h"
#include "media/frame_buffer.h"

FrameBuffer frame_buffer;

// A picture that could not be released because no new one replaced it in
// memory_dc (a failed re-creation): it is released with the next success.
static HBITMAP retired_bitmap;

void create_frame_buffer(int32_t width, int32_t height) {
    lock_enter(&state.state_lock);

    HWND window = static_cast<HWND>(state.main_window);
    HDC window_dc = GetDC(window);

    int32_t pitch = width > 0 ? width + (width & 1) : 0;
    uint64_t bytes = width > 0 && height > 0
                         ? static_cast<uint64_t>(pitch) * static_cast<uint64_t>(height) * 2
                         : 0;

    BITMAPINFO info;
    memset(&info, 0, sizeof info);  // the colour table part stays zero
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: rows top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 16;
    info.bmiHeader.biCompression = BI_RGB;  // 16 bits with BI_RGB is 5-5-5

    HBITMAP bitmap = nullptr;
    void* pixels = nullptr;
    // A picture of no pixels or more than the bound is a failed creation.
    if (window_dc != nullptr && bytes > 0 && bytes <= FRAME_BUFFER_MAX_BYTES)
        bitmap = CreateDIBSection(window_dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (bitmap != nullptr && pixels == nullptr) {
        DeleteObject(bitmap);
        bitmap = nullptr;
    }

    if (frame_buffer.memory_dc == nullptr && window_dc != nullptr)
        frame_buffer.memory_dc = CreateCompatibleDC(window_dc);
    HDC memory_dc = static_cast<HDC>(frame_buffer.memory_dc);
    if (bitmap != nullptr && memory_dc == nullptr) {
        // Nothing to paint from: as good as a failed creation.
        DeleteObject(bitmap);
        bitmap = nullptr;
        pixels = nullptr;
    }

    HBITMAP previous = static_cast<HBITMAP>(frame_buffer.bitmap);
    if (bitmap != nullptr) {
        // Select the new picture first: a picture is released only once it
        // is no longer selected into memory_dc.
        SelectObject(memory_dc, bitmap);
        if (previous != nullptr) DeleteObject(previous);
        if (retired_bitmap != nullptr) {
            DeleteObject(retired_bitmap);
            retired_bitmap = nullptr;
        }
    } else if (previous != nullptr) {
        // Still selected into memory_dc; no longer used.
        retired_bitmap = previous;
    }

    if (window_dc != nullptr) ReleaseDC(window, window_dc);

    frame_buffer.bitmap = bitmap;
    frame_buffer.pixels = static_cast<uint16_t*>(pixels);
    frame_buffer.pitch = pitch;
    if (pixels != nullptr) memset(pixels, 0, static_cast<size_t>(bytes));

    state.remote_width.store(width);
    state.remote_height.store(height);
    lock_leave(&state.state_lock);
}
