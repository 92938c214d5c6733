// Synthetic pictures for the encoder's measurements.
#include "bench/pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace qvb {

using qvs::Canvas;
using qvs::rgb555;

namespace {

// A deterministic pseudo-random value 0..255 for a pixel of a photograph.
int hash_noise(int x, int y, int seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return int((h ^ (h >> 16)) & 255);
}

// A landscape photograph: sky, hills, foliage with fine detail.
void draw_photo(Canvas& c, int x0, int y0, int w, int h, int seed) {
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            double u = double(x) / w, v = double(y) / h;
            double hill = 0.45 + 0.12 * std::sin(7.0 * u + seed) + 0.05 * std::sin(23.0 * u + 2 * seed);
            int n = hash_noise(x, y, seed) - 128, fine = hash_noise(x / 2, y / 2, seed + 7) - 128;
            int r, g, b;
            if (v < hill) {  // sky with clouds
                double cloud = 0.5 + 0.5 * std::sin(11.0 * u + 3.0 * v + seed) * std::sin(5.0 * v + seed);
                r = int(90 + 120 * v + 60 * cloud) + n / 32;
                g = int(140 + 80 * v + 50 * cloud) + n / 32;
                b = int(230 - 40 * v + 20 * cloud) + n / 32;
            } else {  // foliage and grass
                double shade = 0.5 + 0.5 * std::sin(40.0 * u + 9.0 * v + seed);
                r = int(40 + 60 * shade) + fine / 4 + n / 8;
                g = int(90 + 80 * shade) + fine / 3 + n / 8;
                b = int(30 + 30 * shade) + fine / 6 + n / 8;
            }
            if (x0 + x >= 0 && x0 + x < c.width && y0 + y >= 0 && y0 + y < c.height)
                c.pixels[size_t(y0 + y) * size_t(c.width) + size_t(x0 + x)] =
                    rgb555(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
}

// Text at `scale` with smoothed edges: drawn twice as large, then each 2 x 2
// square averaged, as a browser's font smoothing gives grey edge pixels.
void draw_smooth_text(Canvas& c, int x0, int y0, const std::string& text, int scale) {
    Canvas big;
    big.resize(qvs::text_width(text, 2 * scale), qvs::GLYPH_HEIGHT * 2 * scale);
    big.draw_text(0, 0, text, 0x7FFF, 2 * scale);
    for (int y = 0; y < big.height / 2; y++) {
        for (int x = 0; x < big.width / 2; x++) {
            int ink = 0;
            for (int d = 0; d < 4; d++) ink += big.pixels[size_t(2 * y + d / 2) * big.width + 2 * x + d % 2] ? 1 : 0;
            if (ink == 0) continue;
            int level = 255 - ink * 255 / 4;  // black ink on white
            int px = x0 + x, py = y0 + y;
            if (px >= 0 && px < c.width && py >= 0 && py < c.height)
                c.pixels[size_t(py) * c.width + px] = rgb555(level, level, std::min(255, level + 20));
        }
    }
}

// The whole page, drawn once per width: sections of 420 pixels.
const Canvas& web_page(int width) {
    static Canvas page;
    if (page.width == width) return page;
    const int sections = 8, section = 420;
    page.resize(width, 60 + sections * section);
    page.fill_rect(0, 0, width, page.height, rgb555(255, 255, 255));
    page.fill_rect(0, 0, width, 40, rgb555(20, 40, 110));
    page.draw_text(16, 16, "Hem   Nyheter   Sport   Kultur   V\xc3\xa4" "der", rgb555(255, 255, 255));
    static const char* const words[] = {"lorem", "ipsum", "dolor", "sit", "amet", "consectetur", "adipiscing",
                                        "elit", "sed", "do", "eiusmod", "tempor", "incididunt", "ut"};
    for (int s = 0; s < sections; s++) {
        int y = 60 + s * section;
        draw_smooth_text(page, 16, y, "Rubrik nummer " + std::to_string(s + 1), 2);
        bool left = s % 2 == 0;
        int px = left ? 16 : width - 16 - 300, tx = left ? 332 : 16;
        draw_photo(page, px, y + 40, 300, 200, s + 1);
        for (int line = 0; line < 30; line++) {
            int ly = y + 40 + line * 12;
            int x = line < 17 ? tx : 16, right = line < 17 ? tx + width - 348 : width - 16;
            for (int w = 0; x < right - 60; w++) {
                std::string word = words[(s * 7 + line * 3 + w) % 14];
                bool link = (line + w) % 11 == 0;
                x = page.draw_text(x, ly, word, link ? rgb555(0, 0, 200) : rgb555(0, 0, 0)) + 6;
            }
        }
        page.fill_rect(16, y + section - 14, width - 32, 2, rgb555(200, 200, 200));
    }
    return page;
}

}  // namespace

void draw_desktop(Canvas& c, int frame) {
    const int width = c.width, height = c.height;
    c.fill_rect(0, 0, width, height, rgb555(0, 128, 128));
    for (int i = 0; i < 6; i++) {  // icons
        c.fill_rect(16, 16 + i * 64, 32, 32, rgb555(255, 255, 0));
        c.frame_rect(16, 16 + i * 64, 32, 32, rgb555(0, 0, 0));
        c.draw_text(8, 52 + i * 64, "Ikon " + std::to_string(i), rgb555(255, 255, 255));
    }
    // A window with a title bar; the text area scrolls one line per frame.
    const int wx = 96, wy = 40, ww = 440, wh = 330;
    c.fill_rect(wx, wy, ww, wh, rgb555(192, 192, 192));
    c.fill_rect(wx + 3, wy + 3, ww - 6, 18, rgb555(0, 0, 128));
    c.draw_text(wx + 8, wy + 8, "Anteckningar - logg.txt", rgb555(255, 255, 255));
    // Text area 336 x 280 pixels (1470 of 4800 blocks at 640 x 480; about
    // a third of them change when it scrolls, as lines differ), plus the clock.
    const int tx = wx + 16, ty = wy + 40, tw = 336, th = 280;
    c.fill_rect(tx, ty, tw, th, rgb555(255, 255, 255));
    const int line = 10;
    for (int row = 0; row < th / line; row++) {
        int n = row + frame;
        std::string text = "Rad " + std::to_string(n) + ": " + std::string("lorem ipsum dolor ").substr(n % 7);
        c.draw_text(tx + 4, ty + 2 + row * line, text, rgb555(0, 0, 0));
    }
    // The rest of the window is a static form.
    for (int i = 0; i < 6; i++) {
        c.fill_rect(wx + 364, wy + 48 + i * 40, 64, 24, rgb555(255, 255, 255));
        c.frame_rect(wx + 364, wy + 48 + i * 40, 64, 24, rgb555(64, 64, 64));
    }
    // Task bar with a clock that changes every frame (seconds and tenths).
    c.fill_rect(0, height - 28, width, 28, rgb555(192, 192, 192));
    c.fill_rect(4, height - 24, 60, 20, rgb555(160, 160, 160));
    c.draw_text(12, height - 18, "Start", rgb555(0, 0, 0));
    char clock[32];
    std::snprintf(clock, sizeof clock, "12:%02d:%02d.%d", (frame / 30) / 60 % 60, (frame / 30) % 60,
                  (frame % 30) / 3);
    c.fill_rect(width - 90, height - 24, 86, 20, rgb555(160, 160, 160));
    c.draw_text(width - 84, height - 18, clock, rgb555(0, 0, 0));
}

void draw_motion(Canvas& c, int frame, std::mt19937* random) {
    const double t = frame / 30.0;
    for (int y = 0; y < c.height; y++) {
        for (int x = 0; x < c.width; x++) {
            double u = double(x) / c.width, v = double(y) / c.height;
            double a = std::sin(6.0 * u + 2.0 * t) + std::sin(5.0 * v - 1.3 * t);
            double b = std::sin(4.0 * (u + v) + 1.7 * t);
            int grain = int((*random)() % 9) - 4;
            int r = std::clamp(int(128 + 60 * a) + grain, 0, 255);
            int g = std::clamp(int(128 + 90 * b) + grain, 0, 255);
            int bl = std::clamp(int(128 + 50 * (a - b)) + grain, 0, 255);
            c.pixels[size_t(y) * c.width + x] = rgb555(r, g, bl);
        }
    }
}

void draw_web(Canvas& c, int frame) {
    const Canvas& page = web_page(c.width);
    int top = (2 * frame) % (page.height - c.height);
    std::copy(page.pixels.begin() + long(top) * page.width, page.pixels.begin() + long(top + c.height) * page.width,
              c.pixels.begin());
}

}  // namespace qvb
