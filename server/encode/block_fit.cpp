// Lossy block fitting. Colours are fitted in 5-bit channel units from the
// block's (or quadrant's) principal colour axis: a few rounds of k-means
// for the free palettes of TWO_COLOR and FOUR_COLOR, a few rounds of least
// squares on the two end colours of each QUAD quadrant. Every error is
// measured on the colours the client will really show: rounded to 5 bits,
// and for QUAD mixed exactly as the client mixes them.
#include "server/encode/block_fit.h"

#include <cmath>
#include <cstring>

#include "media/codec.h"

namespace qvs {

namespace {

// The visible pixels of a block or a quadrant, split into channels, one
// array per channel so that the loops over them vectorise.
struct Points {
    int n = 0;
    int16_t c[3][64];  // 16 bits: squared distances (at most 3 * 31 * 31) still fit
    uint8_t at[64];    // position in the 8 x 8 block, row * 8 + column
};

struct Axis {
    float mean[3];
    float dir[3];   // unit vector of the largest spread
    float scatter;  // sum of squared distances from the mean
    float along;    // the part of the scatter along dir
};

inline void unpack(uint16_t v, int* c) {
    c[0] = (v >> 10) & 31;
    c[1] = (v >> 5) & 31;
    c[2] = v & 31;
}

inline uint16_t pack(const int* c) { return uint16_t((c[0] << 10) | (c[1] << 5) | c[2]); }

inline int to5(float v) {
    int i = int(v + 0.5f);
    if (v < 0) i = 0;
    return i > 31 ? 31 : i;
}

inline int dist2(const int* a, const int* b) {
    int d0 = a[0] - b[0], d1 = a[1] - b[1], d2 = a[2] - b[2];
    return d0 * d0 + d1 * d1 + d2 * d2;
}

inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

// Sums of the channels and of their products, in integers: the mean, the
// covariance and the error of a single colour follow from them alone.
struct Moments {
    int sum[3] = {0, 0, 0};
    int prod[6] = {0, 0, 0, 0, 0, 0};  // rr rg rb gg gb bb
};

Moments moments(const Points& p) {
    Moments m;
    const int16_t *r = p.c[0], *g = p.c[1], *b = p.c[2];
    int s0 = 0, s1 = 0, s2 = 0, rr = 0, rg = 0, rb = 0, gg = 0, gb = 0, bb = 0;
    for (int i = 0; i < p.n; i++) {
        s0 += r[i], s1 += g[i], s2 += b[i];
        rr += r[i] * r[i], rg += r[i] * g[i], rb += r[i] * b[i];
        gg += g[i] * g[i], gb += g[i] * b[i], bb += b[i] * b[i];
    }
    m.sum[0] = s0, m.sum[1] = s1, m.sum[2] = s2;
    m.prod[0] = rr, m.prod[1] = rg, m.prod[2] = rb, m.prod[3] = gg, m.prod[4] = gb, m.prod[5] = bb;
    return m;
}

// The principal colour axis from the moments (power iteration on the
// covariance, started from the channel of the largest spread).
Axis principal_axis(const Moments& m, int n) {
    Axis a;
    const float inv = 1.0f / float(n);
    for (int j = 0; j < 3; j++) a.mean[j] = float(m.sum[j]) * inv;
    static const int I[6] = {0, 0, 0, 1, 1, 2}, J[6] = {0, 1, 2, 1, 2, 2};
    float cov[6];
    for (int k = 0; k < 6; k++) cov[k] = float(m.prod[k]) - float(m.sum[I[k]]) * float(m.sum[J[k]]) * inv;
    a.scatter = cov[0] + cov[3] + cov[5];
    float v[3] = {cov[0], cov[1], cov[2]};
    if (cov[3] > cov[0] && cov[3] >= cov[5]) v[0] = cov[1], v[1] = cov[3], v[2] = cov[4];
    else if (cov[5] > cov[0] && cov[5] > cov[3]) v[0] = cov[2], v[1] = cov[4], v[2] = cov[5];
    for (int round = 0; round < 4; round++) {
        float w0 = cov[0] * v[0] + cov[1] * v[1] + cov[2] * v[2];
        float w1 = cov[1] * v[0] + cov[3] * v[1] + cov[4] * v[2];
        float w2 = cov[2] * v[0] + cov[4] * v[1] + cov[5] * v[2];
        float len = std::sqrt(w0 * w0 + w1 * w1 + w2 * w2);
        if (len < 1e-6f) break;
        v[0] = w0 / len, v[1] = w1 / len, v[2] = w2 / len;
    }
    float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len < 1e-6f) v[0] = v[1] = v[2] = 0.57735f, len = 1;
    for (int j = 0; j < 3; j++) a.dir[j] = v[j] / len;
    const float* d = a.dir;
    a.along = cov[0] * d[0] * d[0] + cov[3] * d[1] * d[1] + cov[5] * d[2] * d[2] +
              2 * (cov[1] * d[0] * d[1] + cov[2] * d[0] * d[2] + cov[4] * d[1] * d[2]);
    return a;
}

// The extreme projections of the points onto the axis, relative to the mean.
void extent(const Points& p, const Axis& a, float* lo, float* hi) {
    const float base = a.mean[0] * a.dir[0] + a.mean[1] * a.dir[1] + a.mean[2] * a.dir[2];
    float l = 0, h = 0;
    for (int i = 0; i < p.n; i++) {
        float t = float(p.c[0][i]) * a.dir[0] + float(p.c[1][i]) * a.dir[1] + float(p.c[2][i]) * a.dir[2] - base;
        l = t < l ? t : l;
        h = t > h ? t : h;
    }
    *lo = l;
    *hi = h;
}

// Gives every point its nearest palette colour; returns the squared error.
template <int K>
long assign(const Points& p, const int (*palette)[3], uint8_t* index) {
    // Written out per palette entry, in 16 bits, so that the loop vectorises.
    auto d = [&](int i, int j) {
        int16_t d0 = int16_t(p.c[0][i] - palette[j][0]), d1 = int16_t(p.c[1][i] - palette[j][1]),
                d2 = int16_t(p.c[2][i] - palette[j][2]);
        return int16_t(d0 * d0 + d1 * d1 + d2 * d2);
    };
    int total = 0;
    const int n = p.n;  // a local: the index bytes written below might alias p.n
    for (int i = 0; i < n; i++) {
        int16_t best_d = d(i, 0), best = 0;
        int16_t d1 = d(i, 1);
        best = d1 < best_d ? int16_t(1) : best;
        best_d = d1 < best_d ? d1 : best_d;
        if (K == 4) {
            int16_t d2 = d(i, 2), d3 = d(i, 3);
            best = d2 < best_d ? int16_t(2) : best;
            best_d = d2 < best_d ? d2 : best_d;
            best = d3 < best_d ? int16_t(3) : best;
            best_d = d3 < best_d ? d3 : best_d;
        }
        index[i] = uint8_t(best);
        total += best_d;
    }
    return total;
}

// Adds up the points of each palette colour, for the next round of k-means.
template <int K>
void add_up(const Points& p, const uint8_t* index, int (*sum)[3], int* count) {
    for (int j = 0; j < K; j++) {
        int n = 0, s0 = 0, s1 = 0, s2 = 0;
        for (int i = 0; i < p.n; i++) {
            int in = index[i] == j;
            n += in;
            s0 += in * p.c[0][i], s1 += in * p.c[1][i], s2 += in * p.c[2][i];
        }
        count[j] += n;
        sum[j][0] += s0, sum[j][1] += s1, sum[j][2] += s2;
    }
}

// k-means with k colours (2 or 4), seeded along the principal axis where
// k clusters of points spread evenly along it would have their centres: at
// about 1 standard deviation either side of the mean for two, at 0.45 and
// 1.35 for four. Stops as soon as the error is within max_error.
long fit_palette(const Points& p, const Axis& a, int k, long max_error, int (*palette)[3], uint8_t* index) {
    static const float SEED2[2] = {-1.0f, 1.0f}, SEED4[4] = {-1.35f, -0.45f, 0.45f, 1.35f};
    const float* seed = k == 2 ? SEED2 : SEED4;
    const float sigma = std::sqrt(a.along > 0 ? a.along / float(p.n) : 0.0f);
    int trial[4][3];
    uint8_t trial_index[64];
    int sum[4][3] = {}, count[4] = {};
    for (int j = 0; j < k; j++)
        for (int c = 0; c < 3; c++) trial[j][c] = to5(a.mean[c] + seed[j] * sigma * a.dir[c]);
    long best = -1;
    const int rounds = 3;
    for (int round = 0; round < rounds; round++) {
        long error = k == 2 ? assign<2>(p, trial, trial_index) : assign<4>(p, trial, trial_index);
        if (best < 0 || error < best) {
            best = error;
            std::memcpy(palette, trial, sizeof(int) * 3 * size_t(k));
            std::memcpy(index, trial_index, size_t(p.n));
        }
        if (best <= max_error || round == rounds - 1) break;
        std::memset(sum, 0, sizeof sum);
        std::memset(count, 0, sizeof count);
        if (k == 2) add_up<2>(p, trial_index, sum, count);
        else add_up<4>(p, trial_index, sum, count);
        bool moved = false;
        for (int j = 0; j < k; j++) {
            if (count[j] == 0) continue;  // an empty cluster keeps its colour
            for (int c = 0; c < 3; c++) {
                int m = (2 * sum[j][c] + count[j]) / (2 * count[j]);
                if (m != trial[j][c]) moved = true;
                trial[j][c] = m;
            }
        }
        if (!moved) break;
    }
    return best;
}

void quad_palette(const int* e0, const int* e1, int (*palette)[3]) {
    for (int c = 0; c < 3; c++) {
        palette[0][c] = e0[c];
        palette[1][c] = e1[c];
        palette[2][c] = (2 * e0[c] + e1[c] + 1) / 3;
        palette[3][c] = (e0[c] + 2 * e1[c] + 1) / 3;
    }
}

// One QUAD quadrant: end colours from the extremes along the principal
// axis, then least squares on both ends given the chosen indices.
long fit_quadrant(const Points& p, const Axis& a, int (*ends)[3], uint8_t* index) {
    std::memset(ends, 0, sizeof(int) * 6);
    if (p.n == 0) return 0;
    int e[2][3], palette[4][3];
    uint8_t trial_index[16];
    float lo, hi;
    extent(p, a, &lo, &hi);
    for (int c = 0; c < 3; c++) {
        e[0][c] = to5(a.mean[c] + lo * a.dir[c]);
        e[1][c] = to5(a.mean[c] + hi * a.dir[c]);
    }
    // Weights of E0 and E1 in thirds, by index.
    static const int W0[4] = {3, 0, 2, 1}, W1[4] = {0, 3, 1, 2};
    long best = -1;
    for (int round = 0; round < 3; round++) {
        quad_palette(e[0], e[1], palette);
        long error = assign<4>(p, palette, trial_index);
        if (best < 0 || error < best) {
            best = error;
            std::memcpy(ends, e, sizeof e);
            std::memcpy(index, trial_index, size_t(p.n));
        }
        if (error == 0 || round == 2) break;
        long aa = 0, ab = 0, bb = 0, ax[3] = {0, 0, 0}, bx[3] = {0, 0, 0};
        for (int i = 0; i < p.n; i++) {
            int w0 = W0[trial_index[i]], w1 = W1[trial_index[i]];
            aa += w0 * w0;
            ab += w0 * w1;
            bb += w1 * w1;
            for (int c = 0; c < 3; c++) {
                ax[c] += w0 * p.c[c][i];
                bx[c] += w1 * p.c[c][i];
            }
        }
        long det = aa * bb - ab * ab;
        if (det == 0) break;  // every pixel on one index: nothing to solve
        bool moved = false;
        for (int c = 0; c < 3; c++) {
            int n0 = to5(3.0f * float(bb * ax[c] - ab * bx[c]) / float(det));
            int n1 = to5(3.0f * float(aa * bx[c] - ab * ax[c]) / float(det));
            if (n0 != e[0][c] || n1 != e[1][c]) moved = true;
            e[0][c] = n0;
            e[1][c] = n1;
        }
        if (!moved) break;
    }
    return best;
}

void gather(const uint16_t pixels[64], int bw, int bh, int x0, int y0, int size, Points* p) {
    if (size == 8 && bw == 8 && bh == 8) {  // a whole block: one straight loop
        for (int i = 0; i < 64; i++) {
            uint16_t v = pixels[i];
            p->c[0][i] = int16_t((v >> 10) & 31);
            p->c[1][i] = int16_t((v >> 5) & 31);
            p->c[2][i] = int16_t(v & 31);
            p->at[i] = uint8_t(i);
        }
        p->n = 64;
        return;
    }
    int n = 0;
    for (int r = y0; r < y0 + size && r < bh; r++) {
        for (int k = x0; k < x0 + size && k < bw; k++, n++) {
            uint16_t v = pixels[r * 8 + k];
            p->c[0][n] = int16_t((v >> 10) & 31);
            p->c[1][n] = int16_t((v >> 5) & 31);
            p->c[2][n] = int16_t(v & 31);
            p->at[n] = uint8_t(r * 8 + k);
        }
    }
    p->n = n;
}

int write_fill(const Points& p, const Moments& m, long max_error, uint8_t* payload, uint16_t* shown) {
    int mean[3];
    long error = 0;
    for (int c = 0; c < 3; c++) {
        mean[c] = (2 * m.sum[c] + p.n) / (2 * p.n);
        error += m.prod[c == 0 ? 0 : c == 1 ? 3 : 5] - 2L * mean[c] * m.sum[c] + long(p.n) * mean[c] * mean[c];
    }
    if (error > max_error) return -1;
    uint16_t color = pack(mean);
    put16(payload, color);
    for (int i = 0; i < p.n; i++) shown[p.at[i]] = color;
    return BLOCK_FILL;
}

void write_palette_block(const Points& p, int k, const int (*palette)[3], const uint8_t* index,
                         uint8_t* payload, uint16_t* shown) {
    uint16_t colors[4];
    for (int j = 0; j < k; j++) {
        colors[j] = pack(palette[j]);
        put16(payload + 2 * j, colors[j]);
    }
    if (p.n == 64) {  // a whole block: positions are the point numbers
        for (int i = 0; i < 64; i++) shown[i] = colors[index[i]];
        if (k == 2) {
            for (int r = 0; r < 8; r++) {
                const uint8_t* x = index + 8 * r;
                payload[4 + r] = uint8_t(x[0] | x[1] << 1 | x[2] << 2 | x[3] << 3 | x[4] << 4 | x[5] << 5 |
                                         x[6] << 6 | x[7] << 7);
            }
        } else {
            for (int b = 0; b < 16; b++) {
                const uint8_t* x = index + 4 * b;
                payload[8 + b] = uint8_t(x[0] | x[1] << 2 | x[2] << 4 | x[3] << 6);
            }
        }
        return;
    }
    for (int i = 0; i < p.n; i++) {
        int at = p.at[i];
        shown[at] = colors[index[i]];
        if (k == 2) payload[4 + at / 8] |= uint8_t(index[i] << (at % 8));
        else payload[8 + at / 4] |= uint8_t(index[i] << (2 * (at % 4)));
    }
}

// QUAD within max_error, or -1; stops as soon as the error is over it.
int write_quad(const uint16_t pixels[64], int bw, int bh, long max_error, uint8_t* payload, uint16_t* shown) {
    Points q[4];
    Axis axes[4];
    int ends[4][2][3];
    uint8_t index[4][16];
    // Four colours on a line leave at least each quadrant's scatter off
    // its principal axis.
    float bound = 0;
    for (int n = 0; n < 4; n++) {
        gather(pixels, bw, bh, 4 * (n & 1), 4 * (n >> 1), 4, &q[n]);
        if (q[n].n == 0) continue;
        axes[n] = principal_axis(moments(q[n]), q[n].n);
        bound += axes[n].scatter - axes[n].along;
    }
    if (bound > float(max_error) + 0.5f) return -1;
    long total = 0;
    for (int n = 0; n < 4; n++) {
        total += fit_quadrant(q[n], axes[n], ends[n], index[n]);
        if (total > max_error) return -1;
    }
    for (int n = 0; n < 4; n++) {
        int palette[4][3];
        quad_palette(ends[n][0], ends[n][1], palette);
        uint8_t* out = payload + 8 * n;
        put16(out, pack(ends[n][0]));
        put16(out + 2, pack(ends[n][1]));
        uint32_t word = 0;
        for (int i = 0; i < q[n].n; i++) {
            int at = q[n].at[i];
            int s = (at / 8 % 4) * 4 + at % 4;  // pixel within the quadrant
            word |= uint32_t(index[n][i]) << (2 * s);
            shown[at] = pack(palette[index[n][i]]);
        }
        for (int b = 0; b < 4; b++) out[4 + b] = uint8_t(word >> (8 * b));
    }
    return BLOCK_QUAD;
}

}  // namespace

uint16_t quad_mix(uint16_t a, uint16_t b, int wa, int wb) {
    int ca[3], cb[3], m[3];
    unpack(a, ca);
    unpack(b, cb);
    for (int c = 0; c < 3; c++) m[c] = (wa * ca[c] + wb * cb[c] + 1) / 3;
    return pack(m);
}

long block_error(const uint16_t pixels[64], const uint16_t shown[64], int bw, int bh, long limit) {
    long total = 0;
    for (int r = 0; r < bh && total <= limit; r++) {
        for (int k = 0; k < bw; k++) {
            int a[3], b[3];
            unpack(pixels[r * 8 + k], a);
            unpack(shown[r * 8 + k], b);
            total += dist2(a, b);
        }
    }
    return total;
}

int fit_palette_block(const uint16_t pixels[64], int bw, int bh, long max_error, uint8_t payload[128],
                      uint16_t shown[64]) {
    std::memset(payload, 0, 128);
    Points p;
    gather(pixels, bw, bh, 0, 0, 8, &p);
    if (p.n == 0) return -1;
    Moments m = moments(p);
    if (write_fill(p, m, max_error, payload, shown) == BLOCK_FILL) return BLOCK_FILL;
    Axis a = principal_axis(m, p.n);
    int palette[4][3];
    uint8_t index[64];
    // Two colours leave at least the scatter off the principal axis.
    if (a.scatter - a.along <= float(max_error) + 0.5f && fit_palette(p, a, 2, max_error, palette, index) <= max_error) {
        write_palette_block(p, 2, palette, index, payload, shown);
        return BLOCK_TWO_COLOR;
    }
    if (fit_palette(p, a, 4, max_error, palette, index) <= max_error) {
        write_palette_block(p, 4, palette, index, payload, shown);
        return BLOCK_FOUR_COLOR;
    }
    return -1;
}

int fit_quad_block(const uint16_t pixels[64], int bw, int bh, long max_error, uint8_t payload[128],
                   uint16_t shown[64]) {
    std::memset(payload, 0, 128);
    if (write_quad(pixels, bw, bh, max_error, payload, shown) == BLOCK_QUAD) return BLOCK_QUAD;
    std::memset(payload, 0, 128);
    return -1;
}

}  // namespace qvs
