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

static inline uint64_t read_u64(const uint8_t* p) {
    uint64_t value;
    std::memcpy(&value, p, 8);
    return value;
}

uint16_t mix_rgb555(uint16_t a, uint16_t b, int wa, int wb) {
    unsigned ua = static_cast<unsigned>(wa), ub = static_cast<unsigned>(wb);
    unsigned red = (ua * ((a >> 10) & 31u) + ub * ((b >> 10) & 31u) + 1) / 3;
    unsigned green = (ua * ((a >> 5) & 31u) + ub * ((b >> 5) & 31u) + 1) / 3;
    unsigned blue = (ua * (a & 31u) + ub * (b & 31u) + 1) / 3;
    return static_cast<uint16_t>(((red & 31) << 10) | ((green & 31) << 5) | (blue & 31));
}

// The drawing of one whole 8 x 8 block at `out` (rows `pitch` pixels
// apart). The payload has already been checked to be complete. Rows are
// put together in registers, four pixels to a 64-bit word, and stored
// whole; on the 32-bit target each word is two 32-bit stores.

static inline void store4(uint16_t* out, uint64_t four_pixels) {
    std::memcpy(out, &four_pixels, 8);
}

static inline uint64_t spread4(uint16_t colour) { return colour * 0x0001000100010001ull; }

static inline void draw_fill(const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
    uint64_t four = spread4(read_u16(p));
#pragma GCC unroll 8
    for (int r = 0; r < BLOCK_SIDE; r++) {
        store4(out + r * pitch, four);
        store4(out + r * pitch + 4, four);
    }
}

// A row's mask byte (bit 0 = leftmost pixel) as eight 16-bit lanes of all
// ones or all zeros, four pixels to a word. Made by the compiler.
struct MaskLanes {
    uint64_t row[256][2];
};

static constexpr MaskLanes make_mask_lanes() {
    MaskLanes lanes{};
    for (int mask = 0; mask < 256; mask++)
        for (int k = 0; k < 8; k++)
            if ((mask >> k) & 1) lanes.row[mask][k >> 2] |= 0xFFFFull << (16 * (k & 3));
    return lanes;
}

static constexpr MaskLanes mask_lanes = make_mask_lanes();

static inline void draw_two_color(const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
    uint64_t c0 = spread4(read_u16(p));
    uint64_t flip = c0 ^ spread4(read_u16(p + 2));  // C0 xor C1: turns C0 into C1
#pragma GCC unroll 8
    for (int r = 0; r < BLOCK_SIDE; r++) {
        const uint64_t* lanes = mask_lanes.row[p[4 + r]];
        store4(out + r * pitch, c0 ^ (flip & lanes[0]));
        store4(out + r * pitch + 4, c0 ^ (flip & lanes[1]));
    }
}

// Four 2-bit indices (one byte, the leftmost pixel in the lowest pair) as
// lane masks: `low` has the 16-bit lane of a pixel all ones when bit 0 of
// its index is set, `high` when bit 1 is. Made by the compiler.
struct IndexLanes {
    uint64_t low[256];
    uint64_t high[256];
};

static constexpr IndexLanes make_index_lanes() {
    IndexLanes lanes{};
    for (int byte = 0; byte < 256; byte++)
        for (int k = 0; k < 4; k++) {
            if ((byte >> (2 * k)) & 1) lanes.low[byte] |= 0xFFFFull << (16 * k);
            if ((byte >> (2 * k + 1)) & 1) lanes.high[byte] |= 0xFFFFull << (16 * k);
        }
    return lanes;
}

static constexpr IndexLanes index_lanes = make_index_lanes();

// A four-colour palette prepared for picking four pixels at once: with
// P0..P3 each spread over four lanes, a pixel is
// P0 ^ (bit0 ? P0^P1) ^ (bit1 ? P0^P2) ^ (bit0 & bit1 ? P0^P1^P2^P3).
struct Palette4 {
    uint64_t p0, d1, d2, d3;
};

static inline Palette4 palette4(uint32_t c0, uint32_t c1, uint32_t c2, uint32_t c3) {
    Palette4 p;
    p.p0 = spread4(static_cast<uint16_t>(c0));
    p.d1 = spread4(static_cast<uint16_t>(c0 ^ c1));
    p.d2 = spread4(static_cast<uint16_t>(c0 ^ c2));
    p.d3 = spread4(static_cast<uint16_t>(c0 ^ c1 ^ c2 ^ c3));
    return p;
}

static inline uint64_t pick4(const Palette4& p, unsigned indices) {
    uint64_t low = index_lanes.low[indices], high = index_lanes.high[indices];
    return p.p0 ^ (low & p.d1) ^ (high & p.d2) ^ (low & high & p.d3);
}

static inline void draw_four_color(const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
    Palette4 palette = palette4(read_u16(p), read_u16(p + 2), read_u16(p + 4), read_u16(p + 6));
    const uint8_t* index = p + 8;
#pragma GCC unroll 8
    for (int r = 0; r < BLOCK_SIDE; r++) {
        store4(out + r * pitch, pick4(palette, index[2 * r]));
        store4(out + r * pitch + 4, pick4(palette, index[2 * r + 1]));
    }
}

static inline void draw_raw(const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
    // The stream is little-endian like the pixel memory of both targets.
#pragma GCC unroll 8
    for (int r = 0; r < BLOCK_SIDE; r++) std::memcpy(out + r * pitch, p + 16 * r, 16);
}

// The two mixed colours of a quadrant per pair of 5-bit channel values
// (a of E0, b of E1): (2a + b + 1) / 3 in the low byte, (a + 2b + 1) / 3 in
// the high byte, indexed by a * 32 + b. Made by the compiler.
struct ChannelMixes {
    uint16_t pair[1024];
};

static constexpr ChannelMixes make_channel_mixes() {
    ChannelMixes mixes{};
    for (int a = 0; a < 32; a++)
        for (int b = 0; b < 32; b++)
            mixes.pair[a * 32 + b] =
                static_cast<uint16_t>((2 * a + b + 1) / 3 | ((a + 2 * b + 1) / 3) << 8);
    return mixes;
}

static constexpr ChannelMixes channel_mixes = make_channel_mixes();

static inline void draw_quad(const uint8_t* p, uint16_t* out, ptrdiff_t pitch) {
#pragma GCC unroll 4
    for (int q = 0; q < 4; q++) {
        const uint8_t* quadrant = p + 8 * q;
        uint32_t e0 = read_u16(quadrant);
        uint32_t e1 = read_u16(quadrant + 2);
        uint32_t red = channel_mixes.pair[((e0 >> 5) & 0x3E0u) | ((e1 >> 10) & 31u)];
        uint32_t green = channel_mixes.pair[(e0 & 0x3E0u) | ((e1 >> 5) & 31u)];
        uint32_t blue = channel_mixes.pair[((e0 << 5) & 0x3E0u) | (e1 & 31u)];
        uint32_t mix21 = ((red & 0xFFu) << 10) | ((green & 0xFFu) << 5) | (blue & 0xFFu);
        uint32_t mix12 = ((red >> 8) << 10) | ((green >> 8) << 5) | (blue >> 8);
        // Two neighbouring pixels from their 4 index bits: lo[] gives the
        // left one, hi[] the right one in the upper half of the word.
        uint32_t lo[4] = {e0, e1, mix21, mix12};
        uint32_t hi[4] = {e0 << 16, e1 << 16, mix21 << 16, mix12 << 16};
        uint16_t* corner = out + (q >> 1) * 4 * pitch + (q & 1) * 4;
        // Byte r of the index word holds the indices of quadrant row r.
#pragma GCC unroll 4
        for (int r = 0; r < 4; r++) {
            unsigned row = quadrant[4 + r];
            uint32_t left = lo[row & 3] | hi[(row >> 2) & 3];
            uint32_t right = lo[(row >> 4) & 3] | hi[row >> 6];
            store4(corner + r * pitch, left | (static_cast<uint64_t>(right) << 32));
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

// Draws the block at *types and the blocks after it while they have the
// same type, leaving *types at the last one drawn; every payload is checked
// to lie before `end` first. 1, or 0 at a short payload.
template <int SIZE, void DRAW(const uint8_t*, uint16_t*, ptrdiff_t)>
static inline int draw_run(const uint8_t** types_at, const uint8_t* types_end,
                           const uint8_t** payload_at, const uint8_t* end, uint16_t** out_at,
                           ptrdiff_t pitch) {
    const uint8_t* types = *types_at;
    const uint8_t* payload = *payload_at;
    uint16_t* out = *out_at;
    unsigned type = *types;
    int whole = 1;
    for (;;) {
        if (end - payload < SIZE) {
            whole = 0;
            break;
        }
        DRAW(payload, out, pitch);
        payload += SIZE;
        if (types + 1 == types_end || types[1] != type) break;
        types++;
        out += 8;
    }
    *types_at = types;
    *payload_at = payload;
    *out_at = out;
    return whole;
}

// Draws `count` whole blocks of one block row, left to right from `out`,
// with their types at `types` and their payloads from *payload on, which
// it advances. Each payload is checked to lie before `end` before a byte
// of it is read. 0, or -1 at a short payload or an invalid type. Kept apart
// from decode_blocks, and not inlined into it, so that its few variables
// stay in registers instead of going to the stack.
__attribute__((noinline)) static int decode_whole_blocks(const uint8_t* types, uint32_t count,
                                                         const uint8_t** payload_at,
                                                         const uint8_t* end, uint16_t* out,
                                                         ptrdiff_t pitch) {
    const uint8_t* payload = *payload_at;
    const uint8_t* types_end = types + count;
    for (; types < types_end; types++, out += 8) {
        unsigned type = *types;
        if (type == BLOCK_SKIP) {
            // Unchanged areas come in runs: pass the next eight blocks at
            // once while they are SKIP too.
            while (types_end - types > 8 && read_u64(types + 1) == 0) {
                types += 8;
                out += 64;
            }
            continue;
        }
        // Blocks of one type come in runs (flat areas, text, pictures): each
        // case draws the whole run before the next dispatch.
        switch (type) {
        case BLOCK_FILL:
            if (!draw_run<2, draw_fill>(&types, types_end, &payload, end, &out, pitch)) return -1;
            break;
        case BLOCK_TWO_COLOR:
            if (!draw_run<12, draw_two_color>(&types, types_end, &payload, end, &out, pitch))
                return -1;
            break;
        case BLOCK_FOUR_COLOR:
            if (!draw_run<24, draw_four_color>(&types, types_end, &payload, end, &out, pitch))
                return -1;
            break;
        case BLOCK_RAW:
            if (!draw_run<128, draw_raw>(&types, types_end, &payload, end, &out, pitch)) return -1;
            break;
        case BLOCK_QUAD:
            if (!draw_run<32, draw_quad>(&types, types_end, &payload, end, &out, pitch)) return -1;
            break;
        default: return -1;
        }
    }
    *payload_at = payload;
    return 0;
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
        uint32_t bx = 0;

        // Whole blocks: straight into the picture.
        if (visible_rows == 8) {
            const uint8_t* payload = stream + cursor;
            if (decode_whole_blocks(type_of + block, full_columns, &payload, stream + length,
                                    row_start, pitch) != 0)
                return -1;
            cursor = static_cast<uint32_t>(payload - stream);
            bx = full_columns;
            block += full_columns;
        }

        // Blocks cut by the right or bottom edge: drawn whole into a scratch
        // block, of which the visible part is copied.
        for (; bx < columns; bx++, block++) {
            unsigned type = type_of[block];
            if (type == BLOCK_SKIP) continue;
            if (type > BLOCK_TYPE_LAST) return -1;
            uint32_t size = block_payload_size[type];
            if (size > length - cursor) return -1;
            uint16_t scratch[64];
            draw_block(static_cast<int>(type), stream + cursor, scratch, 8);
            cursor += size;
            int32_t visible_columns = bx < full_columns ? 8 : edge_width;
            uint16_t* out = row_start + bx * 8;
            for (int32_t r = 0; r < visible_rows; r++)
                std::memcpy(out + static_cast<ptrdiff_t>(r) * pitch, scratch + 8 * r,
                            static_cast<size_t>(visible_columns) * 2);
        }
    }
    return 0;
}
