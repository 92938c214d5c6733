// Shrinks or enlarges a 32-bit XRGB picture (8 bits per colour, blue in the
// low byte) into an RGB555 picture of another size, keeping the aspect
// ratio: the picture is centred and the rest stays black. Each target
// pixel is the average of the source area it covers, weighted by how much
// of each source pixel falls into it, so thin text strokes fade instead of
// vanishing. Equal sizes are a plain copy.
#ifndef QV_SERVER_SCALE_H
#define QV_SERVER_SCALE_H

#include <algorithm>
#include <cstdint>
#include <vector>

namespace qvs {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    bool empty() const { return w <= 0 || h <= 0; }
};

// The part of `a` inside `b`; an empty Rect when none.
inline Rect intersect(const Rect& a, const Rect& b) {
    Rect r;
    r.x = std::max(a.x, b.x);
    r.y = std::max(a.y, b.y);
    r.w = std::min(a.x + a.w, b.x + b.w) - r.x;
    r.h = std::min(a.y + a.h, b.y + b.h) - r.y;
    if (r.empty()) r = Rect();
    return r;
}

inline uint16_t rgb555(uint32_t xrgb) {
    return uint16_t(((xrgb >> 9) & 0x7C00) | ((xrgb >> 6) & 0x03E0) | ((xrgb >> 3) & 0x001F));
}

class AreaScaler {
public:
    // Source src_w x src_h into target dst_w x dst_h; all at least 1.
    void configure(int src_w, int src_h, int dst_w, int dst_h);

    // Where the picture lies in the target (the rest is the black bars).
    const Rect& image() const { return image_; }
    int dst_width() const { return dst_w_; }
    int dst_height() const { return dst_h_; }

    // The target pixels whose value depends on source pixels in `r`.
    Rect target_of(const Rect& r) const;

    // Recomputes the target pixels of `target` (clipped to the image) from
    // the whole source (rows `src_stride` pixels apart) into `dst` (rows
    // dst_width apart). Pixels outside the image are left as they are.
    void scale(const uint32_t* src, int src_stride, Rect target, uint16_t* dst);

    // The source point under the centre of target pixel (x, y), clamped to
    // the source.
    void source_point(int x, int y, int* sx, int* sy) const;

private:
    // One target column or row: the source pixels it covers, with weights
    // that sum to exactly 256 so that a flat area keeps its colour.
    struct Span {
        int first = 0;
        uint32_t offset = 0;  // into weights_
        int count = 0;
    };
    static void build(int src, int dst, std::vector<Span>& spans, std::vector<uint16_t>& weights);

    int src_w_ = 0, src_h_ = 0, dst_w_ = 0, dst_h_ = 0;
    Rect image_;
    std::vector<Span> cols_, rows_;
    std::vector<uint16_t> col_weights_, row_weights_;
    std::vector<uint16_t> sums_;  // one row of column sums: red, green and blue planes
};

}  // namespace qvs

#endif
