// Synthetic pictures for the encoder's measurements (record_streams,
// encoder_bench): each function draws frame `frame` of a stream at 30
// frames a second into a canvas already sized.
#ifndef QV_BENCH_PICTURES_H
#define QV_BENCH_PICTURES_H

#include <random>

#include "server/encode/canvas.h"

namespace qvb {

// A desktop: a text window that scrolls one line per frame and a ticking
// clock, about 10 % of the blocks changing per frame, at most four colours
// in every block.
void draw_desktop(qvs::Canvas& c, int frame);

// Full motion as a camera gives it: smooth colour fields that move every
// frame, with a little sensor grain, so that every pixel changes.
void draw_motion(qvs::Canvas& c, int frame, std::mt19937* random);

// A web page scrolling down two pixels per frame: headings with smoothed
// (anti-aliased) letters, paragraphs of plain text and links, coloured
// bars and photographs (detailed, many-coloured pictures).
void draw_web(qvs::Canvas& c, int frame);

}  // namespace qvb

#endif
