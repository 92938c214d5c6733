#include "server/sources/tile_copy.h"

#include <algorithm>
#include <cstring>

namespace qvs {

namespace {

const int TILE_W = 64, TILE_H = 32;

}  // namespace

void TileCopy::reset(int w, int h) {
    w_ = w;
    h_ = h;
    frame_.assign(size_t(w) * size_t(h), 0);
    tiles_x_ = (w + TILE_W - 1) / TILE_W;
    tiles_y_ = (h + TILE_H - 1) / TILE_H;
    marked_.assign(size_t(tiles_x_) * size_t(tiles_y_), 1);
}

void TileCopy::mark(const Rect& r) {
    Rect c = intersect(r, Rect{0, 0, w_, h_});
    if (c.empty()) return;
    for (int ty = c.y / TILE_H; ty <= (c.y + c.h - 1) / TILE_H; ty++)
        for (int tx = c.x / TILE_W; tx <= (c.x + c.w - 1) / TILE_W; tx++) marked_[size_t(ty) * tiles_x_ + tx] = 1;
}

void TileCopy::mark_all() { std::fill(marked_.begin(), marked_.end(), 1); }

std::vector<Rect> TileCopy::take_marked() {
    std::vector<Rect> bands;
    int band_start = 0, band_x0 = -1, band_x1 = -1;
    for (int ty = 0; ty <= tiles_y_; ty++) {
        int x0 = -1, x1 = -1;
        for (int tx = 0; ty < tiles_y_ && tx < tiles_x_; tx++) {
            if (!marked_[size_t(ty) * tiles_x_ + tx]) continue;
            if (x0 < 0) x0 = tx;
            x1 = tx;
        }
        if (ty < tiles_y_ && x0 == band_x0 && x1 == band_x1) continue;
        if (band_x0 >= 0) {
            Rect r{band_x0 * TILE_W, band_start * TILE_H, 0, 0};
            r.w = std::min((band_x1 + 1) * TILE_W, w_) - r.x;
            r.h = std::min(ty * TILE_H, h_) - r.y;
            bands.push_back(r);
        }
        band_start = ty;
        band_x0 = x0;
        band_x1 = x1;
    }
    std::fill(marked_.begin(), marked_.end(), 0);
    changed_.assign(marked_.size(), 0);
    return bands;
}

bool TileCopy::take(const Rect& r, const char* pixels, size_t stride) {
    bool any = false;
    for (int ty = r.y / TILE_H; ty * TILE_H < r.y + r.h; ty++) {
        for (int tx = r.x / TILE_W; tx * TILE_W < r.x + r.w; tx++) {
            int x0 = tx * TILE_W, x1 = std::min(x0 + TILE_W, r.x + r.w);
            int y0 = ty * TILE_H, y1 = std::min(y0 + TILE_H, r.y + r.h);
            size_t bytes = size_t(x1 - x0) * 4;
            bool differs = false;
            for (int y = y0; y < y1; y++) {
                const char* src = pixels + size_t(y - r.y) * stride + size_t(x0 - r.x) * 4;
                uint32_t* dst = &frame_[size_t(y) * size_t(w_) + size_t(x0)];
                if (differs || std::memcmp(dst, src, bytes) != 0) {
                    std::memcpy(dst, src, bytes);
                    differs = true;
                }
            }
            if (differs) changed_[size_t(ty) * tiles_x_ + tx] = 1;
            any = any || differs;
        }
    }
    return any;
}

std::vector<Rect> TileCopy::changed_runs() const {
    std::vector<Rect> runs;
    size_t row_start = 0;
    for (int ty = 0; ty < tiles_y_; ty++) {
        size_t above = row_start, above_end = runs.size();
        row_start = runs.size();
        for (int tx = 0; tx < tiles_x_; tx++) {
            if (!changed_[size_t(ty) * tiles_x_ + tx]) continue;
            int end = tx;
            while (end + 1 < tiles_x_ && changed_[size_t(ty) * tiles_x_ + end + 1]) end++;
            Rect r{tx * TILE_W, ty * TILE_H, std::min((end + 1) * TILE_W, w_) - tx * TILE_W,
                   std::min((ty + 1) * TILE_H, h_) - ty * TILE_H};
            while (above < above_end && runs[above].x < r.x) above++;
            if (above < above_end && runs[above].x == r.x && runs[above].w == r.w) {
                runs[above].h += r.h;
                runs.push_back(runs[above]);  // carried on, so the next row can grow it further
                runs[above].w = 0;
            } else {
                runs.push_back(r);
            }
            tx = end;
        }
    }
    return runs;
}

}  // namespace qvs
