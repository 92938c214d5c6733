// A 32-bit copy of a captured area, split into tiles: which tiles are to be
// read again (damage, a sweep), which of those really differed when read,
// and the rectangles of the picture that must be scaled anew for them. Only
// what changed is copied and scaled, so a small change costs little however
// large the screen is.
#ifndef QV_SERVER_TILE_COPY_H
#define QV_SERVER_TILE_COPY_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/encode/scale.h"

namespace qvs {

class TileCopy {
public:
    // A new area of w x h, black, every tile to be read.
    void reset(int w, int h);
    // Tiles to read again: those `r` touches (area coordinates), or all.
    void mark(const Rect& r);
    void mark_all();
    // The marked tiles as rectangles to read, a band of tile rows with the
    // same marked columns each; the marks are cleared and a read begins.
    std::vector<Rect> take_marked();
    // Pixels read for `r` (rows `stride` bytes apart): takes over the tiles
    // that differ from the copy. True when any did.
    bool take(const Rect& r, const char* pixels, size_t stride);
    // What changed in this read, as rectangles of the area. Runs of changed
    // tiles; a run that continues one of the row above with the same
    // columns grows that one, so that shared target rows are scaled once.
    std::vector<Rect> changed_runs() const;

    const uint32_t* pixels() const { return frame_.data(); }

private:
    int w_ = 0, h_ = 0, tiles_x_ = 0, tiles_y_ = 0;
    std::vector<uint32_t> frame_;   // w_ x h_
    std::vector<uint8_t> marked_;   // tiles to read again
    std::vector<uint8_t> changed_;  // tiles that differed in this read
};

}  // namespace qvs

#endif
