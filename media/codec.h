// The block video codec: VideoFrame bodies inflated with zlib and decoded
// in 8 x 8 blocks into the frame buffer.
#ifndef QV_MEDIA_CODEC_H
#define QV_MEDIA_CODEC_H

#include <cstdint>

enum {
    BLOCK_SKIP = 0,
    BLOCK_FILL = 1,
    BLOCK_TWO_COLOR = 2,
    BLOCK_FOUR_COLOR = 3,
    BLOCK_RAW = 4,
    BLOCK_QUAD = 5,
};

// Payload bytes per block type (index by type 0..5).
extern const uint8_t block_payload_size[6];

// Decodes a block stream into pixels (width x height, pitch in pixels).
// 0 when all blocks were decoded, -1 when the stream was short or held an
// invalid type. The caller holds state_lock.
int decode_blocks(const uint8_t* stream, uint32_t length, uint16_t* pixels,
                  int32_t width, int32_t height, int32_t pitch);

uint16_t mix_rgb555(uint16_t a, uint16_t b, int wa, int wb);

#endif
