// A picture in RGB555 with the few drawing operations the demo needs:
// rectangles, discs and text in a small built-in 5 x 7 bitmap font.
#ifndef QV_SERVER_CANVAS_H
#define QV_SERVER_CANVAS_H

#include <cstdint>
#include <string>
#include <vector>

namespace qvs {

inline uint16_t rgb555(int r, int g, int b) {  // 8-bit channels in
    return uint16_t(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
}

struct Canvas {
    int width = 0, height = 0;
    std::vector<uint16_t> pixels;  // rows `width` apart, top-down

    void resize(int w, int h) {
        width = w;
        height = h;
        pixels.assign(size_t(w) * size_t(h), 0);
    }
    // Every operation clips to the picture.
    void fill_rect(int x, int y, int w, int h, uint16_t color);
    void fill_disc(int cx, int cy, int radius, uint16_t color);
    void frame_rect(int x, int y, int w, int h, uint16_t color);
    // Draws UTF-8 text with the font scaled `scale` times; characters the
    // font lacks show as '?'. Returns the x after the last character.
    int draw_text(int x, int y, const std::string& utf8, uint16_t color, int scale = 1);
    int draw_codes(int x, int y, const std::u32string& codes, uint16_t color, int scale = 1);
};

// Glyph cell size at scale 1, spacing included.
const int GLYPH_ADVANCE = 6;
const int GLYPH_HEIGHT = 7;
int text_width(const std::string& utf8, int scale = 1);
// 1 when the font has a glyph for the code point.
int font_has(char32_t code);

}  // namespace qvs

#endif
