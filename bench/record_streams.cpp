// Records VideoFrame bodies made by the server's encoder into files, for
// the per-frame cost measurements (bench/frame_cost.cpp) and the end-to-end
// run under Wine (scripts/perf/e2e_perf.py), and reports how close the
// pictures the client will show are to the source pictures.
//
//   record_streams FOLDER [frames [quality [STREAM...]]]
//
// frames: per stream (default 61). quality: the encoder's quality 1..100
// (default 100, lossless). Files: FOLDER/NAME.qvs at quality 100,
// FOLDER/NAME-qQUALITY.qvs below it. Streams (default all):
//   demo640     the demo entry's animation at 640 x 480, 30 frames a second
//   desktop640  a desktop at 640 x 480 where a text window scrolls and a
//               clock ticks: about 10 % of the blocks change per frame
//   web640      a web page at 640 x 480 (text, smoothed headings and
//               photographs) scrolling two pixels per frame
//   motion320   full motion at 320 x 240: a moving, grainy picture in which
//               every pixel changes every frame
//   motion640   the same at 640 x 480
//   motion800   the same at 800 x 600
//
// File layout: per frame a u32 little-endian body length, then the body.
// The first frame of every stream repaints the whole picture; the later
// ones are encoded against it, as the server sends them (zlib level 6).
// PSNR: of the client's picture against the source, 5-bit channels (peak
// 31), over every pixel of the later frames together.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/pictures.h"
#include "server/encode/canvas.h"
#include "server/sources/demo.h"
#include "server/encode/encoder.h"

namespace {

struct Stream {
    const char* name;
    const char* content;
    int width, height;
};

const Stream STREAMS[] = {{"demo640", "demo", 640, 480},     {"desktop640", "desktop", 640, 480},
                          {"web640", "web", 640, 480},       {"motion320", "motion", 320, 240},
                          {"motion640", "motion", 640, 480}, {"motion800", "motion", 800, 600}};

// Sum of squared 5-bit channel differences.
double squared_error(const std::vector<uint16_t>& a, const std::vector<uint16_t>& b) {
    double total = 0;
    for (size_t i = 0; i < a.size(); i++)
        for (int shift : {0, 5, 10}) {
            int d = ((a[i] >> shift) & 31) - ((b[i] >> shift) & 31);
            total += d * d;
        }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: record_streams FOLDER [frames [quality [STREAM...]]]\n");
        return 2;
    }
    std::string folder = argv[1];
    int frames = argc > 2 ? std::atoi(argv[2]) : 61;
    if (frames < 2) frames = 2;
    qvs::EncoderOptions options;
    if (argc > 3) options.quality = std::atoi(argv[3]);
    if (options.quality < 1 || options.quality > 100) {
        std::fprintf(stderr, "record_streams: quality must be 1..100\n");
        return 2;
    }
    std::printf("%-11s %9s %7s %6s | %11s %11s | %9s | %s\n", "stream", "size", "quality", "frames", "body bytes",
                "raw bytes", "PSNR dB", "changed blocks per later frame (of all)");
    for (const Stream& s : STREAMS) {
        bool wanted = argc <= 4;
        for (int a = 4; a < argc; a++) wanted |= std::string(argv[a]) == s.name;
        if (!wanted) continue;
        std::string path = folder + "/" + s.name;
        if (options.quality < 100) path += "-q" + std::to_string(options.quality);
        path += ".qvs";
        FILE* out = std::fopen(path.c_str(), "wb");
        if (out == nullptr) {
            std::perror(path.c_str());
            return 1;
        }
        qvs::FrameEncoder encoder(options);
        qvs::Canvas canvas;
        canvas.resize(s.width, s.height);
        std::mt19937 random(3);
        qvs::DemoScene scene(*qvs::find_demo_entry(1), s.width, s.height);
        qvs::InputView input;
        input.typed = U"Hej fr\u00E5n m\u00E4tningen";
        input.have_pointer = true;
        std::vector<uint8_t> body;
        double body_bytes = 0, raw_bytes = 0, changed = 0, error = 0;
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
                qvb::draw_desktop(canvas, i);
            } else if (content == "web") {
                qvb::draw_web(canvas, i);
            } else {
                qvb::draw_motion(canvas, i, &random);
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
            error += squared_error(encoder.reference(), canvas.pixels);
        }
        std::fclose(out);
        int later = frames - 1;
        double mse = error / (3.0 * later * s.width * s.height);
        char psnr[16];
        if (mse == 0) std::snprintf(psnr, sizeof psnr, "exact");
        else std::snprintf(psnr, sizeof psnr, "%.2f", 10 * std::log10(31.0 * 31.0 / mse));
        std::printf("%-11s %4dx%-4d %7d %6d | %11.0f %11.0f | %9s | %.0f of %u (%.1f %%)\n", s.name, s.width,
                    s.height, options.quality, frames, body_bytes / later, raw_bytes / later, psnr, changed / later,
                    blocks, 100.0 * changed / later / blocks);
    }
    return 0;
}
