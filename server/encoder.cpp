// The block encoder: for every 8 x 8 block the smallest form that shows it
// exactly (or, in lossy mode, closely enough), zlib over the whole stream.
#include "server/encoder.h"

#include <zlib.h>

#include <cstring>

#include "media/codec.h"

namespace qvs {

namespace {

const int PAYLOAD_SIZE[6] = {0, 2, 12, 24, 128, 32};

inline int red(uint16_t c) { return (c >> 10) & 31; }
inline int green(uint16_t c) { return (c >> 5) & 31; }
inline int blue(uint16_t c) { return c & 31; }

inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

inline int distance2(uint16_t a, uint16_t b) {
    int dr = red(a) - red(b), dg = green(a) - green(b), db = blue(a) - blue(b);
    return dr * dr + dg * dg + db * db;
}

inline int channel_error(uint16_t a, uint16_t b) {
    int dr = red(a) - red(b), dg = green(a) - green(b), db = blue(a) - blue(b);
    dr = dr < 0 ? -dr : dr;
    dg = dg < 0 ? -dg : dg;
    db = db < 0 ? -db : db;
    int m = dr > dg ? dr : dg;
    return m > db ? m : db;
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
    int max_error = 0;
};

// Assigns every visible pixel of the quadrant its nearest palette colour of
// the pair (e0, e1). Returns the largest channel error; `sse` gets the sum
// of squared distances plus one per pixel that is not shown bit for bit, so
// that 0 means exact.
int fit_pair(const uint16_t* px, const bool* visible, uint16_t e0, uint16_t e1,
             uint32_t* indices, uint16_t* shown, long* sse) {
    const uint16_t palette[4] = {e0, e1, quad_mix(e0, e1, 2, 1), quad_mix(e0, e1, 1, 2)};
    uint32_t m = 0;
    int worst = 0;
    long total = 0;
    for (int s = 0; s < 16; s++) {
        if (!visible[s]) continue;
        int best = 0, best_d = 1 << 30;
        for (int j = 0; j < 4; j++) {
            if (palette[j] == px[s]) {  // exact (also keeps bit 15 of e0/e1)
                best = j;
                best_d = -1;
                break;
            }
            int d = distance2(palette[j], px[s]);
            if (d < best_d) {
                best_d = d;
                best = j;
            }
        }
        m |= uint32_t(best) << (2 * s);
        if (best_d >= 0) {  // not the very same 16-bit value
            total += best_d + 1;
            int e = channel_error(palette[best], px[s]);
            if (e > worst) worst = e;
        }
        shown[s] = palette[best];
    }
    *indices = m;
    *sse = total;
    return worst;
}

// Finds end colours for one quadrant. tolerance 0 asks for an exact fit.
// Returns 1 when the quadrant is shown within the tolerance.
int fit_quadrant(const uint16_t* px, const bool* visible, int tolerance, Quadrant* out,
                 uint16_t* shown) {
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
    if (n <= 2) {
        uint16_t e1 = n == 2 ? colors[1] : colors[0];
        long sse;
        out->e0 = colors[0];
        out->e1 = e1;
        out->max_error = fit_pair(px, visible, colors[0], e1, &out->indices, shown, &sse);
        return 1;
    }
    // Candidate end pairs: every pair when there are few colours; otherwise
    // the two colours farthest apart and the darkest with the brightest.
    int pairs[40][2];
    int count = 0;
    if (n <= 8) {
        for (int a = 0; a < n; a++)
            for (int b = a + 1; b < n; b++) {
                pairs[count][0] = a;
                pairs[count][1] = b;
                count++;
            }
    } else {
        if (tolerance == 0) return 0;  // more than 4 colours never fit exactly
        int fa = 0, fb = 1, fd = -1;
        for (int a = 0; a < n; a++)
            for (int b = a + 1; b < n; b++) {
                int d = distance2(colors[a], colors[b]);
                if (d > fd) {
                    fd = d;
                    fa = a;
                    fb = b;
                }
            }
        pairs[count][0] = fa;
        pairs[count][1] = fb;
        count++;
        int lo = 0, hi = 0;
        for (int a = 1; a < n; a++) {
            int l = red(colors[a]) * 2 + green(colors[a]) * 4 + blue(colors[a]);
            if (l < red(colors[lo]) * 2 + green(colors[lo]) * 4 + blue(colors[lo])) lo = a;
            if (l > red(colors[hi]) * 2 + green(colors[hi]) * 4 + blue(colors[hi])) hi = a;
        }
        if (lo != hi && !((lo == fa && hi == fb) || (lo == fb && hi == fa))) {
            pairs[count][0] = lo;
            pairs[count][1] = hi;
            count++;
        }
    }
    bool found = false;
    int best_error = 0;
    long best_sse = 0;
    uint16_t trial[16];
    for (int i = 0; i < count; i++) {
        uint16_t e0 = colors[pairs[i][0]], e1 = colors[pairs[i][1]];
        uint32_t m;
        long sse;
        int e = fit_pair(px, visible, e0, e1, &m, trial, &sse);
        if (!found || e < best_error || (e == best_error && sse < best_sse)) {
            found = true;
            best_error = e;
            best_sse = sse;
            out->e0 = e0;
            out->e1 = e1;
            out->indices = m;
            out->max_error = e;
            std::memcpy(shown, trial, sizeof trial);
            if (e == 0 && sse == 0) break;
        }
    }
    return best_error <= tolerance && (tolerance > 0 || best_sse == 0);
}

// Tries to show the block as four quadrants; 1 on success with the payload
// and the shown pixels written.
int encode_quad(const uint16_t pixels[64], int bw, int bh, int tolerance, uint8_t* payload,
                uint16_t shown[64]) {
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
        if (!fit_quadrant(px, visible, tolerance, &quads[q], quad_shown[q])) return 0;
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

uint16_t quad_mix(uint16_t a, uint16_t b, int wa, int wb) {
    int r = (wa * red(a) + wb * red(b) + 1) / 3;
    int g = (wa * green(a) + wb * green(b) + 1) / 3;
    int bl = (wa * blue(a) + wb * blue(b) + 1) / 3;
    return uint16_t((r << 10) | (g << 5) | bl);
}

int encode_block(const uint16_t pixels[64], int bw, int bh, const EncoderOptions& options,
                 uint8_t payload[128], uint16_t shown[64]) {
    std::memset(payload, 0, 128);
    std::memcpy(shown, pixels, 64 * sizeof(uint16_t));
    uint16_t colors[5];
    int n = distinct_colors(pixels, bw, bh, colors, 4);

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
    // More than four colours: four quadrants when they show the block
    // exactly (32 bytes instead of 128), or closely enough in lossy mode.
    uint16_t quad_shown[64];
    std::memcpy(quad_shown, pixels, sizeof quad_shown);
    if (encode_quad(pixels, bw, bh, 0, payload, quad_shown) ||
        (options.lossy && options.quad_tolerance > 0 &&
         encode_quad(pixels, bw, bh, options.quad_tolerance, payload, quad_shown))) {
        std::memcpy(shown, quad_shown, sizeof quad_shown);
        return BLOCK_QUAD;
    }
    std::memset(payload, 0, 128);
    for (int r = 0; r < bh; r++)
        for (int k = 0; k < bw; k++) put16(payload + 16 * r + 2 * k, pixels[r * 8 + k]);
    return BLOCK_RAW;
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
        have_source_ = false;
    }
    const int bx_count = (width + 7) / 8, by_count = (height + 7) / 8;
    const size_t n = size_t(bx_count) * size_t(by_count);
    stream_.assign(n, BLOCK_SKIP);
    const bool compare_source = options_.lossy && have_source_ && !force_full_;
    EncodeStats local;

    uint16_t block[64], shown[64];
    uint8_t payload[128];
    for (int by = 0; by < by_count; by++) {
        const int y0 = by * 8, bh = height - y0 < 8 ? height - y0 : 8;
        for (int bx = 0; bx < bx_count; bx++) {
            const int x0 = bx * 8, bw = width - x0 < 8 ? width - x0 : 8;
            bool changed = force_full_, source_changed = false;
            for (int r = 0; r < 8; r++) {
                const size_t row = size_t(y0 + r) * size_t(width) + size_t(x0);
                for (int k = 0; k < 8; k++) {
                    if (r < bh && k < bw) {
                        uint16_t c = picture[row + k];
                        block[r * 8 + k] = c;
                        if (c != reference_[row + k]) changed = true;
                        if (compare_source && c != source_[row + k]) source_changed = true;
                    } else {
                        block[r * 8 + k] = 0;
                    }
                }
            }
            // Lossy: a block whose picture did not change keeps the
            // approximation the client already shows.
            if (changed && compare_source && !source_changed) changed = false;
            const size_t index = size_t(by) * size_t(bx_count) + size_t(bx);
            if (!changed) {
                local.blocks[BLOCK_SKIP]++;
                continue;
            }
            int type = encode_block(block, bw, bh, options_, payload, shown);
            stream_[index] = uint8_t(type);
            stream_.insert(stream_.end(), payload, payload + PAYLOAD_SIZE[type]);
            local.blocks[type]++;
            for (int r = 0; r < bh; r++) {
                std::memcpy(&reference_[size_t(y0 + r) * size_t(width) + size_t(x0)], &shown[r * 8],
                            size_t(bw) * sizeof(uint16_t));
            }
        }
    }
    if (options_.lossy) {
        source_.assign(picture, picture + size_t(width) * size_t(height));
        have_source_ = true;
    }
    force_full_ = false;

    const uLong raw = uLong(stream_.size());
    uLongf packed = compressBound(raw);
    body.resize(VIDEO_HEADER_SIZE + packed);
    int level = options_.zlib_level < 0 ? 0 : options_.zlib_level > 9 ? 9 : options_.zlib_level;
    if (compress2(body.data() + VIDEO_HEADER_SIZE, &packed, stream_.data(), raw, level) != Z_OK) {
        packed = 0;  // cannot happen with a compressBound-sized buffer
    }
    body.resize(VIDEO_HEADER_SIZE + packed);
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
