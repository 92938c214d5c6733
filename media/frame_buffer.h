// The frame buffer: the one remote picture, RGB555, top-down, rows `pitch`
// pixels apart (the width rounded up to even). On Windows a DIB section
// selected into a memory DC (media/frame_buffer_win32.cpp); natively plain
// memory (media/frame_buffer_stub.cpp).
#ifndef QV_MEDIA_FRAME_BUFFER_H
#define QV_MEDIA_FRAME_BUFFER_H

#include <cstdint>

struct FrameBuffer {
    void* bitmap;       // the picture object (HBITMAP); none before creation and after a failed one
    uint16_t* pixels;   // its pixel memory, owned by bitmap
    void* memory_dc;    // memory DC (HDC) with bitmap selected, made on the first creation
    int32_t pitch;      // row pitch in pixels: width rounded up to even
};

extern FrameBuffer frame_buffer;

// Replaces the frame buffer by a black one of width x height and sets
// remote_width / remote_height (also when creation fails). Takes
// state_lock itself. A picture whose pixel memory would exceed
// FRAME_BUFFER_MAX_BYTES is not created (treated as a failed creation).
void create_frame_buffer(int32_t width, int32_t height);

// The largest pixel memory the client will create: 2048 x 2048 x 2 bytes
// with room to spare; far beyond any screen a Windows 98 machine shows.
const uint32_t FRAME_BUFFER_MAX_BYTES = 16u * 1024u * 1024u;

#endif
