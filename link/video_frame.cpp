// What the network thread does with one VideoFrame body: size check, frame
// buffer re-creation, inflating, decoding, counting, the frame-ready notice
// and the acknowledgement.
//
// VideoFrame body (little-endian):
//
//   offset  0  u32  frame_id    sent back unchanged in the FrameAck
//   offset  4  u16  width       picture size in pixels
//   offset  6  u16  height
//   offset  8  u8   (not read)
//   offset  9  u32  raw_size    size of the inflated block stream
//   offset 13  u32  (not read)
//   offset 17  ...  the block stream as one zlib stream
//
// A body shorter than 17 bytes is ignored. Every other frame is counted,
// announced with notify_frame_ready and acknowledged, whether or not it
// could be inflated and decoded.
#include <cstdlib>

#include <zlib.h>

#include "core/client_state.h"
#include "core/notify.h"
#include "link/wire.h"
#include "link/messages.h"
#include "media/codec.h"
#include "media/frame_buffer.h"

// The inflated block stream. Grows (by release and re-allocation with 4096
// bytes of headroom) and is never shrunk; network thread only.
static uint8_t* inflate_buffer;
static uint32_t inflate_capacity;

enum { INFLATE_HEADROOM = 4096 };

// How large raw_size may be.
//
// The longest block stream a W x H picture can use is one type byte and one
// RAW payload (128 bytes, the largest) per block: N * 129 bytes for
// N = ((W + 7) / 8) * ((H + 7) / 8). Bytes after the last payload are
// ignored, so a larger stream only carries padding; STREAM_SLACK tolerates a
// little of it. A raw_size above this bound is refused like a frame that
// fails to inflate: a hostile server cannot make the client allocate more
// than a frame of the current size could need.
//
// The bound is also capped by the longest stream of any picture whose pixel
// memory the frame buffer accepts (pitch * H * 2 <= FRAME_BUFFER_MAX_BYTES):
// with W, H <= 65535, N * 64 <= (W + 7) * (H + 7) <= W * H + 7 * (W + H) + 49,
// so N <= (FRAME_BUFFER_MAX_BYTES / 2 + 7 * 2 * 65535 + 49) / 64 + 1. A
// picture too large to hold (65535 x 65535 would want 8.6 GB of stream) thus
// never makes the client allocate more than about 18 MB, and raw_size plus
// the headroom always fits in 32 bits. Computed in 64 bits, without division
// at run time.
enum { STREAM_SLACK = 256 };
static const uint64_t STREAM_BLOCKS_CAP =
    (FRAME_BUFFER_MAX_BYTES / 2 + 7ull * 2 * 65535 + 49) / 64 + 1;
static const uint64_t RAW_SIZE_CAP = STREAM_BLOCKS_CAP * 129 + STREAM_SLACK;
static_assert(RAW_SIZE_CAP + INFLATE_HEADROOM < 0xFFFFFFFFull, "raw size cap must fit in 32 bits");

static uint32_t raw_size_limit(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return STREAM_SLACK;
    uint64_t columns = (static_cast<uint64_t>(width) + 7) >> 3;
    uint64_t rows = (static_cast<uint64_t>(height) + 7) >> 3;
    uint64_t limit = columns * rows * 129 + STREAM_SLACK;
    if (limit > RAW_SIZE_CAP) limit = RAW_SIZE_CAP;
    return static_cast<uint32_t>(limit);
}

// Makes inflate_buffer hold at least raw_size bytes. 1 when it does.
static int reserve_inflate_buffer(uint32_t raw_size) {
    if (inflate_buffer != nullptr && raw_size <= inflate_capacity) return 1;
    free(inflate_buffer);
    inflate_capacity = raw_size + INFLATE_HEADROOM;
    inflate_buffer = static_cast<uint8_t*>(malloc(inflate_capacity));
    if (inflate_buffer == nullptr) {
        inflate_capacity = 0;
        return 0;
    }
    return 1;
}

void handle_video_frame(const uint8_t* payload, uint32_t length) {
    VideoFrameHeader frame;
    if (!read_video_frame_header(payload, length, &frame)) return;

    if (frame.width != state.remote_width.load() || frame.height != state.remote_height.load() ||
        frame_buffer.bitmap == nullptr)
        create_frame_buffer(frame.width, frame.height);

    int inflated = 0;
    uLongf produced = frame.raw_size;
    if (frame.raw_size <= raw_size_limit(frame.width, frame.height) &&
        reserve_inflate_buffer(frame.raw_size)) {
        inflated = uncompress(inflate_buffer, &produced, frame.compressed,
                              frame.compressed_length) == Z_OK;
    }

    if (inflated) {
        lock_enter(&state.state_lock);
        if (frame_buffer.pixels != nullptr)
            decode_blocks(inflate_buffer, static_cast<uint32_t>(produced), frame_buffer.pixels,
                          state.remote_width.load(), state.remote_height.load(),
                          frame_buffer.pitch);
        state.frame_valid.store(1);
        lock_leave(&state.state_lock);
    }

    state.frame_count.fetch_add(1);
    notify_frame_ready();
    uint8_t ack[4];
    int ack_length = build_frame_ack(ack, frame.frame_id);
    send_message(MSG_FRAME_ACK, ack, static_cast<uint32_t>(ack_length));
}
