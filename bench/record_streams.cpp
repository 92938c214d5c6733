// Records VideoFrame bodies made by the reference server's encoder into
// files, for the per-frame cost measurements (bench/frame_cost.cpp) and the
// end-to-end run under Wine (scripts/perf/e2e_perf.py).
//
//   record_streams FOLDER [frames]      (default 61 frames per stream)
//
// Streams (file FOLDER/NAME.qvs):
//   demo640     the demo entry's animation at 640 x 480, 30 frames a second
//   desktop640  a desktop at 640 x 480 where a text window scrolls and a
//               clock ticks: about 10 % of the blocks change per frame
//   motion320   full motion at 320 x 240: a moving, grainy picture in which
//               every pixel changes every frame
//   motion640   the same at 640 x 480
//   motion800   the same at 800 x 600
//
// File layout: per frame a u32 little-endian body length, then the body.
// The first frame of every stream repaints the whole picture; the later
// ones are encoded against it, as the server sends them. The encoder runs
// with the server's default options (lossless, zlib level 6).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "server/canvas.h"
#include "server/demo.h"
#include "server/encoder.h"

namespace {

using qvs::Canvas;
using qvs::rgb555;

// The static desktop: background, a text window, an icon column, a task bar.
void draw_desktop(Canvas& c, int frame, int width, int height) {
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

// A moving picture as a camera gives it: smooth colour fields that move
// every frame, with a little sensor grain, so that every pixel changes.
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

struct Stream {
    const char* name;
    const char* content;
    int width, height;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: record_streams FOLDER [frames]\n");
        return 2;
    }
    std::string folder = argv[1];
    int frames = argc > 2 ? std::atoi(argv[2]) : 61;
    if (frames < 2) frames = 2;
    const Stream streams[] = {{"demo640", "demo", 640, 480},
                              {"desktop640", "desktop", 640, 480},
                              {"motion320", "motion", 320, 240},
                              {"motion640", "motion", 640, 480},
                              {"motion800", "motion", 800, 600}};
    std::printf("%-11s %9s %6s | %11s %11s | %s\n", "stream", "size", "frames", "body bytes",
                "raw bytes", "changed blocks per later frame (of all)");
    for (const Stream& s : streams) {
        std::string path = folder + "/" + s.name + ".qvs";
        FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr) {
            std::perror(path.c_str());
            return 1;
        }
        qvs::FrameEncoder encoder;
        Canvas canvas;
        canvas.resize(s.width, s.height);
        std::mt19937 random(3);
        qvs::DemoScene scene(*qvs::find_demo_entry(1), s.width, s.height);
        qvs::InputView input;
        input.typed = U"Hej fr\u00E5n m\u00E4tningen";
        input.have_pointer = true;
        std::vector<uint8_t> body;
        double body_bytes = 0, raw_bytes = 0, changed = 0;
        uint32_t blocks = 0;
        for (int i = 0; i < frames; i++) {
            std::string content = s.content;
            if (content == "demo") {
                input.pointer_x = (i * 7) % s.width;
                input.pointer_y = (i * 5) % s.height;
                char clock[16];
                std::snprintf(clock, sizeof clock, "12:%02d:%02d", (i / 1800) % 60, (i / 30) % 60);
                scene.render(i / 30.0, clock, input, canvas);
            } else if (content == "desktop") {
                draw_desktop(canvas, i, s.width, s.height);
            } else {
                draw_motion(canvas, i, &random);
            }
            qvs::EncodeStats stats;
            encoder.encode(uint32_t(i + 1), canvas.pixels.data(), s.width, s.height, body, &stats);
            uint8_t length[4] = {uint8_t(body.size()), uint8_t(body.size() >> 8), uint8_t(body.size() >> 16),
                                 uint8_t(body.size() >> 24)};
            std::fwrite(length, 1, 4, out);
            std::fwrite(body.data(), 1, body.size(), out);
            if (i == 0) continue;
            blocks = 0;
            for (int t = 0; t < 6; t++) blocks += stats.blocks[t];
            changed += blocks - stats.blocks[0];
            body_bytes += double(body.size());
            raw_bytes += stats.raw_size;
        }
        std::fclose(out);
        int later = frames - 1;
        std::printf("%-11s %4dx%-4d %6d | %11.0f %11.0f | %.0f of %u (%.1f %%)\n", s.name, s.width, s.height,
                    frames, body_bytes / later, raw_bytes / later, changed / later, blocks,
                    100.0 * changed / later / blocks);
    }
    return 0;
}
