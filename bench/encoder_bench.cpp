// Encoder benchmark: time to encode one frame and compressed bytes per
// frame, for the demo's animation, full motion, a scrolling web page and
// full-screen noise, at 640 x 480 and 800 x 600, lossless and at the
// default lossy quality.
//
//   encoder_bench [frames [quality [content]]]
//
// Default 120 frames per case; a quality adds a lossy mode; a content
// (demo, motion, web or noise) runs that one alone.
//
// The demo, motion and web cases encode consecutive frames at 30 frames a
// second (bench/pictures.h); their first frame, which repaints everything,
// is reported on its own. The noise case is a new random picture every
// frame: every block changes and nothing compresses.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/pictures.h"
#include "server/sources/demo.h"
#include "server/encode/encoder.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Processor time of this thread: on a shared machine wall-clock time
// also counts the time other programs had the processor.
double cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

struct Result {
    double encode_ms = 0, encode_cpu_ms = 0, render_ms = 0;
    double bytes = 0;
    double first_ms = 0, first_bytes = 0;
    uint64_t blocks[6] = {};
};

Result run(const char* content, int width, int height, int frames, const qvs::EncoderOptions& options) {
    Result r;
    qvs::FrameEncoder encoder(options);
    std::vector<uint8_t> body;
    qvs::Canvas canvas;
    canvas.resize(width, height);
    qvs::DemoScene scene(*qvs::find_demo_entry(1), width, height);
    qvs::InputView input;
    input.typed = U"Hej fr\u00E5n benchmarken";
    input.have_pointer = true;
    std::mt19937 rng(1);
    const std::string kind = content;
    for (int i = 0; i <= frames; i++) {
        auto t0 = Clock::now();
        if (kind == "noise") {
            for (uint16_t& px : canvas.pixels) px = uint16_t(rng() & 0x7FFF);
        } else if (kind == "motion") {
            qvb::draw_motion(canvas, i, &rng);
        } else if (kind == "web") {
            qvb::draw_web(canvas, i);
        } else {
            input.pointer_x = (i * 7) % width;
            input.pointer_y = (i * 5) % height;
            char clock[16];
            std::snprintf(clock, sizeof clock, "12:%02d:%02d", (i / 1800) % 60, (i / 30) % 60);
            scene.render(i / 30.0, clock, input, canvas);
        }
        double render = ms_since(t0);
        qvs::EncodeStats stats;
        auto t1 = Clock::now();
        double c1 = cpu_ms();
        encoder.encode(uint32_t(i + 1), canvas.pixels.data(), width, height, body, &stats);
        double encode_cpu = cpu_ms() - c1;
        double encode = ms_since(t1);
        if (i == 0) {
            r.first_ms = encode_cpu;
            r.first_bytes = double(body.size());
            continue;
        }
        r.encode_ms += encode;
        r.encode_cpu_ms += encode_cpu;
        r.render_ms += render;
        r.bytes += double(body.size());
        for (int t = 0; t < 6; t++) r.blocks[t] += stats.blocks[t];
    }
    r.encode_ms /= frames;
    r.encode_cpu_ms /= frames;
    r.render_ms /= frames;
    r.bytes /= frames;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::atoi(argv[1]) : 120;
    if (frames < 1) frames = 1;
    std::vector<int> qualities = {qvs::LOSSLESS_QUALITY, qvs::DEFAULT_LOSSY_QUALITY};
    if (argc > 2 && std::atoi(argv[2]) != qvs::LOSSLESS_QUALITY && std::atoi(argv[2]) != qvs::DEFAULT_LOSSY_QUALITY)
        qualities.push_back(std::atoi(argv[2]));
    const std::string only = argc > 3 ? argv[3] : "";
    std::printf("%d frames per case; per frame means. encode cpu: processor time of the encoding\n"
                "thread; encode wall: elapsed time (larger on a busy machine). bytes: VideoFrame\n"
                "bodies. first: the first frame, which repaints everything (cpu ms).\n\n",
                frames);
    std::printf("%-7s %-9s %-7s %4s | %9s %10s %11s %10s | %8s %11s | %s\n", "content", "size", "quality", "zlib",
                "render ms", "encode cpu", "encode wall", "bytes", "first ms", "first bytes",
                "blocks per frame: skip fill two four raw quad");
    const int sizes[2][2] = {{640, 480}, {800, 600}};
    for (const char* content : {"demo", "motion", "web", "noise"}) {
        if (!only.empty() && only != content) continue;
        for (auto& s : sizes) {
            for (int quality : qualities) {
                for (int level : {1, 6}) {
                    qvs::EncoderOptions o;
                    o.quality = quality;
                    o.zlib_level = level;
                    Result r = run(content, s[0], s[1], frames, o);
                    char size[16];
                    std::snprintf(size, sizeof size, "%dx%d", s[0], s[1]);
                    std::printf("%-7s %-9s %7d %4d | %9.2f %10.2f %11.2f %10.0f | %8.2f %11.0f |", content,
                                size, quality, level, r.render_ms, r.encode_cpu_ms, r.encode_ms,
                                r.bytes, r.first_ms, r.first_bytes);
                    for (int t = 0; t < 6; t++) std::printf(" %.0f", double(r.blocks[t]) / frames);
                    std::printf("\n");
                }
            }
        }
    }
    return 0;
}
