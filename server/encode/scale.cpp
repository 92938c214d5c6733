// Area-averaging scaler: separable, in 8-bit fixed point.
#include "server/encode/scale.h"

#include <algorithm>

namespace qvs {

namespace {

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

}  // namespace

void AreaScaler::configure(int src_w, int src_h, int dst_w, int dst_h) {
    src_w_ = std::max(src_w, 1);
    src_h_ = std::max(src_h, 1);
    dst_w_ = std::max(dst_w, 1);
    dst_h_ = std::max(dst_h, 1);
    int64_t sw = src_w_, sh = src_h_, dw = dst_w_, dh = dst_h_;
    if (dw * sh <= dh * sw) {  // the width limits: bars above and below
        image_.w = dst_w_;
        image_.h = int(std::clamp<int64_t>((sh * dw * 2 + sw) / (sw * 2), 1, dh));
    } else {
        image_.h = dst_h_;
        image_.w = int(std::clamp<int64_t>((sw * dh * 2 + sh) / (sh * 2), 1, dw));
    }
    image_.x = (dst_w_ - image_.w) / 2;
    image_.y = (dst_h_ - image_.h) / 2;
    build(src_w_, image_.w, cols_, col_weights_);
    build(src_h_, image_.h, rows_, row_weights_);
}

// Target pixel i covers the source interval [i*n/m, (i+1)*n/m); in units of
// 1/m that is [i*n, (i+1)*n), and source pixel j is [j*m, (j+1)*m).
void AreaScaler::build(int n, int m, std::vector<Span>& spans, std::vector<uint16_t>& weights) {
    spans.assign(size_t(m), Span());
    weights.clear();
    for (int i = 0; i < m; i++) {
        int64_t lo = int64_t(i) * n, hi = int64_t(i + 1) * n;
        int first = int(lo / m), last = int((hi - 1) / m);
        Span& s = spans[size_t(i)];
        s.first = first;
        s.offset = uint32_t(weights.size());
        s.count = last - first + 1;
        int total = 0, biggest = 0;
        for (int j = first; j <= last; j++) {
            int64_t overlap = std::min(hi, int64_t(j + 1) * m) - std::max(lo, int64_t(j) * m);
            uint16_t w = uint16_t(overlap * 256 / n);
            weights.push_back(w);
            total += w;
            if (w > weights[s.offset + uint32_t(biggest)]) biggest = j - first;
        }
        weights[s.offset + uint32_t(biggest)] = uint16_t(weights[s.offset + uint32_t(biggest)] + 256 - total);
    }
}

Rect AreaScaler::target_of(const Rect& r) const {
    Rect t;
    if (r.empty()) return t;
    int64_t x0 = int64_t(r.x) * image_.w / src_w_, x1 = ceil_div(int64_t(r.x + r.w) * image_.w, src_w_);
    int64_t y0 = int64_t(r.y) * image_.h / src_h_, y1 = ceil_div(int64_t(r.y + r.h) * image_.h, src_h_);
    x0 = std::max<int64_t>(x0, 0), y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, image_.w), y1 = std::min<int64_t>(y1, image_.h);
    t.x = image_.x + int(x0);
    t.y = image_.y + int(y0);
    t.w = int(x1 - x0);
    t.h = int(y1 - y0);
    return t;
}

void AreaScaler::scale(const uint32_t* src, int src_stride, Rect t, uint16_t* dst) {
    int x0 = std::max(t.x, image_.x), y0 = std::max(t.y, image_.y);
    int x1 = std::min(t.x + t.w, image_.x + image_.w), y1 = std::min(t.y + t.h, image_.y + image_.h);
    if (x0 >= x1 || y0 >= y1) return;
    if (image_.w == src_w_ && image_.h == src_h_) {  // same size: a plain copy
        for (int y = y0; y < y1; y++) {
            const uint32_t* s = src + size_t(y - image_.y) * size_t(src_stride) + (x0 - image_.x);
            uint16_t* d = dst + size_t(y) * size_t(dst_w_);
            for (int x = x0; x < x1; x++) d[x] = rgb555(*s++);
        }
        return;
    }
    const Span& first_col = cols_[size_t(x0 - image_.x)];
    const Span& last_col = cols_[size_t(x1 - 1 - image_.x)];
    int sx0 = first_col.first, sx1 = last_col.first + last_col.count;
    size_t n = size_t(sx1 - sx0);
    // One plane per colour: a weight (at most 256) times a colour (at most
    // 255) summed over weights that add up to 256 stays below 65536, so the
    // column sums fit 16 bits and the loop below runs on many at once.
    sums_.resize(n * 3);
    uint16_t* red = sums_.data();
    uint16_t* green = red + n;
    uint16_t* blue = green + n;
    for (int y = y0; y < y1; y++) {
        // Down the column: the weighted sum of the source rows this target
        // row covers, for every source column needed.
        const Span& row = rows_[size_t(y - image_.y)];
        std::fill(sums_.begin(), sums_.end(), uint16_t(0));
        for (int k = 0; k < row.count; k++) {
            uint16_t w = row_weights_[row.offset + uint32_t(k)];
            if (w == 0) continue;
            const uint32_t* s = src + size_t(row.first + k) * size_t(src_stride) + sx0;
            for (size_t x = 0; x < n; x++) {
                uint32_t p = s[x];
                red[x] = uint16_t(red[x] + w * ((p >> 16) & 0xFF));
                green[x] = uint16_t(green[x] + w * ((p >> 8) & 0xFF));
                blue[x] = uint16_t(blue[x] + w * (p & 0xFF));
            }
        }
        // Across: the weighted sum of those column sums.
        uint16_t* d = dst + size_t(y) * size_t(dst_w_);
        for (int x = x0; x < x1; x++) {
            const Span& col = cols_[size_t(x - image_.x)];
            const uint16_t* w = &col_weights_[col.offset];
            size_t at = size_t(col.first - sx0);
            uint32_t r = 0, g = 0, b = 0;
            for (int k = 0; k < col.count; k++) {
                r += uint32_t(w[k]) * red[at + size_t(k)];
                g += uint32_t(w[k]) * green[at + size_t(k)];
                b += uint32_t(w[k]) * blue[at + size_t(k)];
            }
            d[x] = uint16_t(((r >> 19) << 10) | ((g >> 19) << 5) | (b >> 19));
        }
    }
}

void AreaScaler::source_point(int x, int y, int* sx, int* sy) const {
    int64_t px = std::clamp(x - image_.x, 0, image_.w - 1), py = std::clamp(y - image_.y, 0, image_.h - 1);
    *sx = int(std::min<int64_t>((px * 2 + 1) * src_w_ / (int64_t(image_.w) * 2), src_w_ - 1));
    *sy = int(std::min<int64_t>((py * 2 + 1) * src_h_ / (int64_t(image_.h) * 2), src_h_ - 1));
}

}  // namespace qvs
