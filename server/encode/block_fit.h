// Lossy fits of one 8 x 8 block to the block types that cost the client
// less than RAW: FILL, TWO_COLOR, FOUR_COLOR and QUAD, within an error
// budget.
#ifndef QV_SERVER_BLOCK_FIT_H
#define QV_SERVER_BLOCK_FIT_H

#include <climits>
#include <cstdint>

namespace qvs {

// The colour the client mixes for a BLOCK_QUAD palette entry: per 5-bit
// channel (wa * a + wb * b + 1) / 3, bit 15 clear.
uint16_t quad_mix(uint16_t a, uint16_t b, int wa, int wb);

// Squared error of `shown` against `pixels` over the visible bw x bh part,
// summed over the three 5-bit channels; counting may stop once it is over
// `limit`.
long block_error(const uint16_t pixels[64], const uint16_t shown[64], int bw, int bh, long limit = LONG_MAX);

// Finds the cheapest of FILL, TWO_COLOR and FOUR_COLOR that shows the
// visible bw x bh part of `pixels` with a squared error (block_error) of at
// most `max_error`. On success writes the payload (128 bytes of room, zero
// beyond the payload) and the pixels the client will show (64), and
// returns the type; returns -1 when none fits.
int fit_palette_block(const uint16_t pixels[64], int bw, int bh, long max_error, uint8_t payload[128],
                      uint16_t shown[64]);

// The same for BLOCK_QUAD: four quadrants of four colours on a line each.
int fit_quad_block(const uint16_t pixels[64], int bw, int bh, long max_error, uint8_t payload[128],
                   uint16_t shown[64]);

}  // namespace qvs

#endif
