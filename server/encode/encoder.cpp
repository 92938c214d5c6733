// The block encoder: for every 8 x 8 block the smallest form that shows it
// exactly (or, below quality 100, closely enough), zlib over the whole
// stream. The client's cost of a frame is about proportional to its block
// stream's size, so a block's size is what the lossy choice saves.
#include "server/encode/encoder.h"

#include <libdeflate.h>
#include <zlib.h>

#include <array>
#include <cmath>
#include <cstring>

#include "media/codec.h"

namespace qvs {

namespace {

const int PAYLOAD_SIZE[6] = {0, 2, 12, 24, 128, 32};


inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// One row of a block: a whole row as a fixed-size copy, which the compiler
// inlines, rather than a library call for every row of every block.
inline void copy_row(uint16_t* to, const uint16_t* from, int bw) {
    if (bw == 8) std::memcpy(to, from, 8 * sizeof(uint16_t));
    else std::memcpy(to, from, size_t(bw) * sizeof(uint16_t));
}

// Distinct colours of the visible pixels, in order of first appearance,
// counting stops at `limit` + 1.
int distinct_colors(const uint16_t pixels[64], int bw, int bh, uint16_t* colors, int limit) {
    int n = 0;
    for (int r = 0; r < bh; r++) {
        for (int k = 0; k < bw; k++) {
            uint16_t c = pixels[r * 8 + k];
            int j = 0;
            while (j < n && colors[j] != c) j++;
            if (j == n) {
                colors[n++] = c;
                if (n > limit) return n;
            }
        }
    }
    return n;
}

// One 4 x 4 quadrant of a BLOCK_QUAD: its end colours and index word.
struct Quadrant {
    uint16_t e0 = 0, e1 = 0;
    uint32_t indices = 0;
};

// Shows every visible pixel of the quadrant with a palette entry of the
// pair (e0, e1) that is the very same 16-bit value; 0 when one has none.
int fit_pair(const uint16_t* px, const bool* visible, uint16_t e0, uint16_t e1, uint32_t* indices,
             uint16_t* shown) {
    const uint16_t palette[4] = {e0, e1, quad_mix(e0, e1, 2, 1), quad_mix(e0, e1, 1, 2)};
    uint32_t m = 0;
    for (int s = 0; s < 16; s++) {
        if (!visible[s]) continue;
        int j = 0;
        while (j < 4 && palette[j] != px[s]) j++;
        if (j == 4) return 0;
        m |= uint32_t(j) << (2 * s);
        shown[s] = palette[j];
    }
    *indices = m;
    return 1;
}

// Finds end colours that show one quadrant exactly: every pair of its (at
// most four) colours is tried. Returns 1 on success.
int fit_quadrant(const uint16_t* px, const bool* visible, Quadrant* out, uint16_t* shown) {
    uint16_t colors[16];
    int n = 0;
    for (int s = 0; s < 16; s++) {
        if (!visible[s]) continue;
        int j = 0;
        while (j < n && colors[j] != px[s]) j++;
        if (j == n) colors[n++] = px[s];
    }
    if (n == 0) {  // wholly outside the picture
        *out = Quadrant();
        return 1;
    }
    if (n > 4) return 0;  // a quadrant shows at most four colours
    uint16_t trial[16];
    for (int a = 0; a < n; a++) {
        for (int b = a + 1 < n ? a + 1 : a; b < n; b++) {
            uint32_t m;
            if (fit_pair(px, visible, colors[a], colors[b], &m, trial)) {
                out->e0 = colors[a];
                out->e1 = colors[b];
                out->indices = m;
                std::memcpy(shown, trial, sizeof trial);
                return 1;
            }
        }
    }
    return 0;
}

// Tries to show the block exactly as four quadrants; 1 on success with the
// payload and the shown pixels written.
int encode_quad(const uint16_t pixels[64], int bw, int bh, uint8_t* payload, uint16_t shown[64]) {
    Quadrant quads[4];
    uint16_t quad_shown[4][16];
    for (int q = 0; q < 4; q++) {
        int qx = 4 * (q & 1), qy = 4 * (q >> 1);
        uint16_t px[16];
        bool visible[16];
        for (int s = 0; s < 16; s++) {
            int r = qy + s / 4, k = qx + s % 4;
            px[s] = pixels[r * 8 + k];
            visible[s] = r < bh && k < bw;
            quad_shown[q][s] = 0;
        }
        if (!fit_quadrant(px, visible, &quads[q], quad_shown[q])) return 0;
    }
    for (int q = 0; q < 4; q++) {
        uint8_t* p = payload + 8 * q;
        put16(p, quads[q].e0);
        put16(p + 2, quads[q].e1);
        put32(p + 4, quads[q].indices);
        int qx = 4 * (q & 1), qy = 4 * (q >> 1);
        for (int s = 0; s < 16; s++) shown[(qy + s / 4) * 8 + qx + s % 4] = quad_shown[q][s];
    }
    return 1;
}

}  // namespace

long block_error_budget(int quality, int pixels) {
    // Mean squared error per 5-bit channel sample allowed in a block: a
    // block's PSNR (peak 31) stays above 22 dB at quality 1, rising by a
    // fifth of a decibel per step up to 41.8 dB at 99. A table: this is
    // asked for every changed block.
    static const std::array<double, LOSSLESS_QUALITY + 1> MSE = [] {
        std::array<double, LOSSLESS_QUALITY + 1> t{};
        for (int q = 1; q < LOSSLESS_QUALITY; q++) t[size_t(q)] = 31.0 * 31.0 / std::pow(10.0, (22.0 + 0.2 * q) / 10.0);
        return t;
    }();
    if (quality >= LOSSLESS_QUALITY) return 0;
    return long(MSE[size_t(quality < 1 ? 1 : quality)] * 3 * pixels);
}

namespace {

// encode_block for a block whose first distinct colours are known: `n` of
// them in `colors`, 5 meaning more than four.
int encode_known_block(const uint16_t pixels[64], int bw, int bh, const EncoderOptions& options,
                       const uint16_t* colors, int n, uint8_t payload[128], uint16_t shown[64]) {
    std::memset(payload, 0, 128);
    std::memcpy(shown, pixels, 64 * sizeof(uint16_t));

    if (n == 1) {
        put16(payload, colors[0]);
        return BLOCK_FILL;
    }
    if (n == 2) {
        put16(payload, colors[0]);
        put16(payload + 2, colors[1]);
        for (int r = 0; r < bh; r++) {
            uint8_t mask = 0;
            for (int k = 0; k < bw; k++)
                if (pixels[r * 8 + k] == colors[1]) mask |= uint8_t(1 << k);
            payload[4 + r] = mask;
        }
        return BLOCK_TWO_COLOR;
    }
    if (n <= 4) {
        for (int j = 0; j < n; j++) put16(payload + 2 * j, colors[j]);
        for (int r = 0; r < bh; r++) {
            for (int k = 0; k < bw; k++) {
                int index = 0;
                while (colors[index] != pixels[r * 8 + k]) index++;
                int j = 8 * r + k;
                payload[8 + j / 4] |= uint8_t(index << (2 * (j % 4)));
            }
        }
        return BLOCK_FOUR_COLOR;
    }
    // More than four colours: in the cheapest form that shows the block
    // closely enough, four quadrants when they show it exactly (32 bytes
    // instead of 128), else four approximate quadrants, else RAW.
    uint16_t fitted[64];
    std::memcpy(fitted, pixels, sizeof fitted);
    const long budget = block_error_budget(options.quality, bw * bh);
    int type = budget > 0 ? fit_palette_block(pixels, bw, bh, budget, payload, fitted) : -1;
    if (type < 0 && encode_quad(pixels, bw, bh, payload, fitted)) type = BLOCK_QUAD;
    if (type < 0 && budget > 0) type = fit_quad_block(pixels, bw, bh, budget, payload, fitted);
    if (type > 0) {
        std::memcpy(shown, fitted, sizeof fitted);
        return type;
    }
    std::memset(payload, 0, 128);
    for (int r = 0; r < bh; r++)
        for (int k = 0; k < bw; k++) put16(payload + 16 * r + 2 * k, pixels[r * 8 + k]);
    return BLOCK_RAW;
}

}  // namespace

int encode_block(const uint16_t pixels[64], int bw, int bh, const EncoderOptions& options,
                 uint8_t payload[128], uint16_t shown[64]) {
    uint16_t colors[5];
    int n = distinct_colors(pixels, bw, bh, colors, 4);
    return encode_known_block(pixels, bw, bh, options, colors, n, payload, shown);
}

struct BlockStreamPacker::Compressor {
    libdeflate_compressor* c;
    explicit Compressor(int level) : c(libdeflate_alloc_compressor(level)) {}
    ~Compressor() { libdeflate_free_compressor(c); }
};

BlockStreamPacker::BlockStreamPacker() = default;
BlockStreamPacker::~BlockStreamPacker() = default;

void BlockStreamPacker::pack(const std::vector<uint8_t>& raw, int level, std::vector<uint8_t>& out) {
    // On the benchmark streams: below this zlib packs smaller at little
    // cost; above it libdeflate is both smaller and faster.
    const size_t LARGE = 32 * 1024;
    const size_t start = out.size();
    if (raw.size() >= LARGE) {
        if (!large_ || large_level_ != level) {
            large_ = std::make_unique<Compressor>(level);
            large_level_ = level;
        }
        if (large_->c) {
            size_t bound = libdeflate_zlib_compress_bound(large_->c, raw.size());
            out.resize(start + bound);
            size_t packed = libdeflate_zlib_compress(large_->c, raw.data(), raw.size(), out.data() + start, bound);
            out.resize(start + packed);
            if (packed > 0) return;
        }
    }
    uLongf packed = compressBound(uLong(raw.size()));
    out.resize(start + packed);
    if (compress2(out.data() + start, &packed, raw.data(), uLong(raw.size()), level) != Z_OK) {
        packed = 0;  // cannot happen with a compressBound-sized buffer
    }
    out.resize(start + packed);
}

FrameEncoder::FrameEncoder(const EncoderOptions& options) : options_(options) {}

void FrameEncoder::encode(uint32_t frame_id, const uint16_t* picture, int width, int height,
                          std::vector<uint8_t>& body, EncodeStats* stats) {
    if (width != width_ || height != height_) {
        // The client re-creates its picture black for a new size, so black
        // blocks of this frame need not be sent.
        width_ = width;
        height_ = height;
        reference_.assign(size_t(width) * size_t(height), 0);
    }
    const int bx_count = (width + 7) / 8, by_count = (height + 7) / 8;
    const size_t n = size_t(bx_count) * size_t(by_count);
    stream_.assign(n, BLOCK_SKIP);
    const bool lossy = options_.quality < LOSSLESS_QUALITY && !force_full_;
    EncodeStats local;

    uint16_t block[64], shown[64], before[64];
    uint8_t payload[128];
    for (int by = 0; by < by_count; by++) {
        const int y0 = by * 8, bh = height - y0 < 8 ? height - y0 : 8;
        for (int bx = 0; bx < bx_count; bx++) {
            const int x0 = bx * 8, bw = width - x0 < 8 ? width - x0 : 8;
            if (bw < 8 || bh < 8) {  // pixels beyond the picture's edge count as 0
                std::memset(block, 0, sizeof block);
                std::memset(before, 0, sizeof before);
            }
            for (int r = 0; r < bh; r++) {
                const size_t row = size_t(y0 + r) * size_t(width) + size_t(x0);
                copy_row(&block[r * 8], &picture[row], bw);
                copy_row(&before[r * 8], &reference_[row], bw);
            }
            const bool changed_at_all = std::memcmp(block, before, sizeof block) != 0;
            bool changed = force_full_ || changed_at_all;
            // Lossy: what the client shows stays while it is within the
            // budget (a still picture, camera grain), unless the block now
            // has so few colours that it is sent exactly.
            uint16_t colors[5];
            int count = changed ? distinct_colors(block, bw, bh, colors, 4) : 0;
            if (changed && lossy && count > 4) {
                long budget = block_error_budget(options_.quality, bw * bh);
                long error = block_error(block, before, bw, bh, budget);
                if (error <= budget) {
                    changed = false;
                    local.squared_error += uint64_t(error);
                }
            }
            const size_t index = size_t(by) * size_t(bx_count) + size_t(bx);
            if (!changed) {
                local.blocks[BLOCK_SKIP]++;
                continue;
            }
            int type = encode_known_block(block, bw, bh, options_, colors, count, payload, shown);
            // Only a block of more than four colours may have been fitted.
            if (stats && options_.quality < LOSSLESS_QUALITY && count > 4)
                local.squared_error += uint64_t(block_error(block, shown, bw, bh));
            stream_[index] = uint8_t(type);
            stream_.insert(stream_.end(), payload, payload + PAYLOAD_SIZE[type]);
            local.blocks[type]++;
            for (int r = 0; r < bh; r++) copy_row(&reference_[size_t(y0 + r) * size_t(width) + size_t(x0)], &shown[r * 8], bw);
        }
    }
    force_full_ = false;

    const size_t raw = stream_.size();
    int level = options_.zlib_level < 0 ? 0 : options_.zlib_level > 9 ? 9 : options_.zlib_level;
    body.resize(VIDEO_HEADER_SIZE);
    packer_.pack(stream_, level, body);
    const size_t packed = body.size() - VIDEO_HEADER_SIZE;
    uint8_t* h = body.data();
    put32(h, frame_id);
    put16(h + 4, uint16_t(width));
    put16(h + 6, uint16_t(height));
    h[8] = 0;
    put32(h + 9, uint32_t(raw));
    put32(h + 13, uint32_t(packed));
    local.raw_size = uint32_t(raw);
    local.body_size = uint32_t(body.size());
    if (stats) *stats = local;
}

}  // namespace qvs
