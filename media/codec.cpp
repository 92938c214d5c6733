// The block decoder and its colour mixing.
//
// Block stream (the inflated VideoFrame body) for a W x H picture, cut into
// BX = (W + 7) / 8 columns and BY = (H + 7) / 8 rows of 8 x 8 blocks,
// N = BX * BY blocks numbered row by row from the top-left:
//
//   byte 0 .. N-1     one type byte per block, in block order
//   byte N ..         the payloads, in block order, back to back; the size of
//                     a payload depends on its type only (block_payload_size)
//   (anything after the last payload is ignored)
//
//   type 0 SKIP         0 bytes  the block keeps its pixels
//   type 1 FILL         2 bytes  colour
//   type 2 TWO_COLOR   12 bytes  C0, C1, then 8 mask bytes (row r at 4 + r;
//                                bit k set: column k is C1; bit 0 = left)
//   type 3 FOUR_COLOR  24 bytes  P0..P3, then 16 bytes of 2-bit indices,
//                                pixel j = 8r + k in byte 8 + j/4 at bits
//                                2(j%4), lowest pair first
//   type 4 RAW        128 bytes  64 colours, row by row
//   type 5 QUAD        32 bytes  four quadrants (top-left, top-right,
//                                bottom-left, bottom-right) of E0, E1 and a
//                                32-bit index word; palette E0, E1,
//                                mix(E0,E1,2,1), mix(E0,E1,1,2); quadrant
//                                pixel s (row by row) has index (M >> 2s) & 3
//   type 6..255                  invalid: decoding stops
//
// Colours are 16-bit little-endian RGB555 (bits 14-10 red, 9-5 green, 4-0
// blue) and are written as they come, bit 15 included.
//
// Every payload is bounds-checked against the stream length before a byte
// of it is read, and blocks at the right and bottom edge of pictures whose
// sides are not multiples of 8 are decoded into a scratch block and only
// their visible part copied; so no read or write leaves its buffer.
#include "media/codec.h"

#include <cstddef>
#include <cstring>

const uint8_t block_payload_size[6] = {0, 2, 12, 24, 128, 32};

enum { BLOCK_SIDE = 8, BLOCK_TYPE_LAST = BLOCK_QUAD, PICTURE_SIDE_MAX = 65535 };

static inline uint16_t read_u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

static inline uint32_t read_u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t mix_rgb555(uint16_t a, uint16_t b, int wa, int wb) {
    int red = (wa * ((a >> 10) & 31) + wb * ((b >> 10) & 31) + 1) / 3;
    int green = (wa * ((a >> 5) & 31) + wb * ((b >> 5) & 31) + 1) / 3;
    int blue = (wa * (a & 31) + wb * (b & 31) + 1) / 3;
    return static_cast<uint16_t>(((red & 31) << 10) | ((green & 31) << 5) | (blue & 31));
}

// The drawing of one whole 8 x 8 block at `out` (rows `pitch` pixels
// apart). The payload has already been checked to be complete.

static inline void draw_fill(const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
    uint32_t pair = read_u16(p) * 0x00010001u;
    uint32_t row[4] = {pair, pair, pair, pair};
    for (int r = 0; r < BLOCK_SIDE; r++) std::memcpy(out + r * pitch, row, sizeof row);
}

static inline void draw_two_color(const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
    uint16_t colour[2] = {read_u16(p), read_u16(p + 2)};
    for (int r = 0; r < BLOCK_SIDE; r++) {
        unsigned mask = p[4 + r];
        uint16_t row[BLOCK_SIDE];
        for (int k = 0; k < BLOCK_SIDE; k++) row[k] = colour[(mask >> k) & 1];
        std::memcpy(out + r * pitch, row, sizeof row);
    }
}

static inline void draw_four_color(const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
    uint16_t palette[4] = {read_u16(p), read_u16(p + 2), read_u16(p + 4), read_u16(p + 6)};
    const uint8_t* index = p + 8;
    for (int r = 0; r < BLOCK_SIDE; r++) {
        unsigned bits = index[2 * r] | (index[2 * r + 1] << 8);
        uint16_t row[BLOCK_SIDE];
        for (int k = 0; k < BLOCK_SIDE; k++) row[k] = palette[(bits >> (2 * k)) & 3];
        std::memcpy(out + r * pitch, row, sizeof row);
    }
}

static inline void draw_raw(const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
    // The stream is little-endian like the pixel memory of both targets.
    for (int r = 0; r < BLOCK_SIDE; r++) std::memcpy(out + r * pitch, p + 16 * r, 16);
}

static inline void draw_quad(const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
    for (int q = 0; q < 4; q++) {
        const uint8_t* quadrant = p + 8 * q;
        uint16_t e0 = read_u16(quadrant);
        uint16_t e1 = read_u16(quadrant + 2);
        uint16_t palette[4] = {e0, e1, mix_rgb555(e0, e1, 2, 1), mix_rgb555(e0, e1, 1, 2)};
        uint32_t m = read_u32(quadrant + 4);
        uint16_t* corner = out + (q >> 1) * 4 * pitch + (q & 1) * 4;
        for (int r = 0; r < 4; r++) {
            uint16_t row[4];
            for (int k = 0; k < 4; k++) row[k] = palette[(m >> (2 * (4 * r + k))) & 3];
            std::memcpy(corner + r * pitch, row, sizeof row);
        }
    }
}

static inline void draw_block(int type, const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
    switch (type) {
    case BLOCK_FILL: draw_fill(p, out, pitch); break;
    case BLOCK_TWO_COLOR: draw_two_color(p, out, pitch); break;
    case BLOCK_FOUR_COLOR: draw_four_color(p, out, pitch); break;
    case BLOCK_RAW: draw_raw(p, out, pitch); break;
    case BLOCK_QUAD: draw_quad(p, out, pitch); break;
    default: break;
    }
}

int decode_blocks(const uint8_t* stream, uint32_t length, uint16_t* pixels,
                  int32_t width, int32_t height, int32_t pitch) {
    if (width <= 0 || height <= 0) return 0;  // no blocks at all
    if (width > PICTURE_SIDE_MAX || height > PICTURE_SIDE_MAX || pitch < width) return -1;

    uint32_t columns = (static_cast<uint32_t>(width) + 7) / 8;
    uint32_t rows = (static_cast<uint32_t>(height) + 7) / 8;
    uint32_t blocks = columns * rows;  // at most 8192 * 8192: no overflow
    if (length < blocks) return -1;

    // Columns of full width; the last column is narrower when the width is
    // not a multiple of 8.
    uint32_t full_columns = static_cast<uint32_t>(width) / 8;
    int32_t edge_width = width - static_cast<int32_t>(full_columns) * 8;

    const uint8_t* type_of = stream;
    uint32_t cursor = blocks;
    uint32_t block = 0;
    for (uint32_t by = 0; by < rows; by++) {
        int32_t y0 = static_cast<int32_t>(by) * 8;
        int32_t visible_rows = height - y0 < 8 ? height - y0 : 8;
        uint16_t* row_start = pixels + static_cast<ptrdiff_t>(y0) * pitch;
        for (uint32_t bx = 0; bx < columns; bx++, block++) {
            unsigned type = type_of[block];
            if (type == BLOCK_SKIP) continue;
            if (type > BLOCK_TYPE_LAST) return -1;
            uint32_t size = block_payload_size[type];
            if (size > length - cursor) return -1;
            const uint8_t* payload = stream + cursor;
            cursor += size;

            uint16_t* out = row_start + bx * 8;
            int32_t visible_columns = bx < full_columns ? 8 : edge_width;
            if (visible_columns == 8 && visible_rows == 8) {
                draw_block(static_cast<int>(type), payload, out, pitch);
            } else {
                uint16_t scratch[64];
                draw_block(static_cast<int>(type), payload, scratch, 8);
                for (int32_t r = 0; r < visible_rows; r++)
                    std::memcpy(out + static_cast<ptrdiff_t>(r) * pitch, scratch + 8 * r,
                                static_cast<size_t>(visible_columns) * 2);
            }
        }
    }
    return 0;
}
