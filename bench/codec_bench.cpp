// Decoding speed of 640 x 480 block streams, in pixels per second, beside
// memcpy and memset of the same pixel bytes; and the whole VideoFrame path
// (inflate, decode, count, notify) beside zlib's uncompress of the same body.
//
//   cmake --build build/native --target quorvane_bench
//   build/native/bench/quorvane_bench --benchmark_repetitions=10
//       --benchmark_report_aggregates_only=true    (one command line)
//
// Streams (the benchmark argument): 0..5 every block of that type; -1 a
// desktop frame laid out in regions; -2 the same kinds of blocks shuffled;
// -3 and -4 the reference server's demo picture, its first frame and the
// next one. Targets: RAW within 1.5x of memcpy, FILL within 1.5x of memset,
// every other type at least 300 Mpixel/s, handle_video_frame of the desktop
// frame within 1.15x of uncompress alone. The machine is shared: compare the
// CPU times of one run, with repetitions.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

#include "core/client_state.h"
#include "link/messages.h"
#include "media/codec.h"
#include "media/frame_buffer.h"
#include "server/sources/demo.h"
#include "server/encode/encoder.h"
#include "tests/support/video_frames.h"

namespace {

const int WIDTH = 640, HEIGHT = 480;
const int BLOCKS = (WIDTH / 8) * (HEIGHT / 8);
const int PIXELS = WIDTH * HEIGHT;

void put_colour(std::vector<uint8_t>* s, uint16_t c) {
    s->push_back(uint8_t(c));
    s->push_back(uint8_t(c >> 8));
}

// A few colours of a desktop: window face, text, title bars, background.
const uint16_t DESKTOP_COLOURS[] = {0x6318, 0x0000, 0x7FFF, 0x0010, 0x4210, 0x2D7F, 0x0200};

uint16_t desktop_colour(std::mt19937* random) {
    return DESKTOP_COLOURS[(*random)() % (sizeof DESKTOP_COLOURS / sizeof DESKTOP_COLOURS[0])];
}

// The payload of one block of `type`, with desktop-like contents: few
// colours, glyph-like masks, smooth photo-like RAW pixels with some noise.
void append_payload(std::vector<uint8_t>* s, int type, int block, std::mt19937* random) {
    switch (type) {
    case BLOCK_FILL: put_colour(s, desktop_colour(random)); break;
    case BLOCK_TWO_COLOR: {
        put_colour(s, 0x7FFF);
        put_colour(s, 0x0000);
        static const uint8_t glyphs[4][8] = {{0x00, 0x3C, 0x66, 0x66, 0x7E, 0x66, 0x66, 0x00},
                                             {0x00, 0x7C, 0x66, 0x7C, 0x66, 0x66, 0x7C, 0x00},
                                             {0x00, 0x3C, 0x66, 0x60, 0x60, 0x66, 0x3C, 0x00},
                                             {0x00, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x00}};
        const uint8_t* glyph = glyphs[(*random)() % 4];
        s->insert(s->end(), glyph, glyph + 8);
        break;
    }
    case BLOCK_FOUR_COLOR:
        for (int i = 0; i < 4; i++) put_colour(s, desktop_colour(random));
        for (int i = 0; i < 16; i++) s->push_back(uint8_t((*random)() & 0xFF));
        break;
    case BLOCK_RAW: {
        int x0 = (block % (WIDTH / 8)) * 8, y0 = (block / (WIDTH / 8)) * 8;
        for (int r = 0; r < 8; r++)
            for (int k = 0; k < 8; k++) {
                int red = ((x0 + k) * 31 / WIDTH + int((*random)() % 3)) & 31;
                int green = ((y0 + r) * 31 / HEIGHT + int((*random)() % 3)) & 31;
                put_colour(s, uint16_t(red << 10 | green << 5 | 12));
            }
        break;
    }
    case BLOCK_QUAD:
        for (int q = 0; q < 4; q++) {
            put_colour(s, desktop_colour(random));
            put_colour(s, desktop_colour(random));
            uint32_t m = (*random)();
            for (int i = 0; i < 4; i++) s->push_back(uint8_t(m >> (8 * i)));
        }
        break;
    default: break;
    }
}

std::vector<uint8_t> stream_of_types(const std::vector<uint8_t>& types) {
    std::mt19937 random(42);
    std::vector<uint8_t> s(types);
    for (int i = 0; i < BLOCKS; i++) append_payload(&s, types[i], i, &random);
    return s;
}

std::vector<uint8_t> uniform_stream(int type) {
    return stream_of_types(std::vector<uint8_t>(BLOCKS, uint8_t(type)));
}

// A desktop frame after some change, laid out in regions as a screen is:
// most blocks unchanged, a window of text (glyph blocks between flat line
// gaps), a photo, an anti-aliased panel, a column of icons, the task bar.
std::vector<uint8_t> desktop_stream() {
    std::mt19937 random(7);
    const int columns = WIDTH / 8, rows = HEIGHT / 8;
    std::vector<uint8_t> types(BLOCKS, BLOCK_SKIP);
    auto fill_region = [&](int x0, int y0, int x1, int y1, auto choose) {
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++) types[y * columns + x] = choose(x, y);
    };
    fill_region(4, 6, 44, 40, [&](int, int y) {  // text window
        if (y % 3 == 2) return uint8_t(BLOCK_FILL);
        return uint8_t(random() % 5 == 0 ? BLOCK_FILL : BLOCK_TWO_COLOR);
    });
    fill_region(48, 8, 68, 20, [&](int, int) { return uint8_t(BLOCK_RAW); });    // photo
    fill_region(48, 26, 72, 36, [&](int, int) { return uint8_t(BLOCK_QUAD); });  // panel
    fill_region(1, 6, 3, 50, [&](int, int) {                                     // icons
        return uint8_t(random() % 2 ? BLOCK_FOUR_COLOR : BLOCK_FILL);
    });
    fill_region(0, rows - 4, columns, rows, [&](int x, int) {  // task bar with a clock
        return uint8_t(x >= 70 && x < 78 ? BLOCK_TWO_COLOR : BLOCK_FILL);
    });
    return stream_of_types(types);
}

// The same kinds of blocks in no order at all: every block's type drawn at
// random, which no desktop does; the worst case for branch prediction.
std::vector<uint8_t> shuffled_stream() {
    std::mt19937 random(7);
    std::vector<uint8_t> types(BLOCKS);
    for (int i = 0; i < BLOCKS; i++) {
        unsigned roll = random() % 100;
        types[i] = roll < 55   ? BLOCK_SKIP
                   : roll < 75 ? BLOCK_FILL
                   : roll < 85 ? BLOCK_TWO_COLOR
                   : roll < 90 ? BLOCK_FOUR_COLOR
                   : roll < 95 ? BLOCK_QUAD
                               : BLOCK_RAW;
    }
    return stream_of_types(types);
}

// Frames of the reference server's demo picture (animated bands, stripes,
// plasma and balls over a static background) as its encoder makes them:
// the first, which paints every block, and the next, 1/30 s later.
std::vector<uint8_t> demo_body(bool next) {
    qvs::FrameEncoder encoder;
    qvs::Canvas canvas;
    canvas.resize(WIDTH, HEIGHT);
    qvs::DemoScene scene(*qvs::find_demo_entry(1), WIDTH, HEIGHT);
    qvs::InputView input;
    std::vector<uint8_t> body;
    scene.render(1.0, "12:00:00", input, canvas);
    encoder.encode(1, canvas.pixels.data(), WIDTH, HEIGHT, body);
    if (next) {
        scene.render(1.0 + 1.0 / 30, "12:00:00", input, canvas);
        encoder.encode(2, canvas.pixels.data(), WIDTH, HEIGHT, body);
    }
    return body;
}

std::vector<uint8_t> inflated_stream(const std::vector<uint8_t>& body) {
    uint32_t raw_size = body[9] | body[10] << 8 | body[11] << 16 | uint32_t(body[12]) << 24;
    std::vector<uint8_t> stream(raw_size);
    uLongf n = raw_size;
    uncompress(stream.data(), &n, body.data() + 17, uLong(body.size() - 17));
    stream.resize(n);
    return stream;
}

// The streams by benchmark argument: 0..5 every block of that type, -1 the
// desktop frame, -2 the shuffled one, -3 and -4 the demo's first and next.
std::vector<uint8_t> stream_for(int64_t which) {
    switch (which) {
    case -1: return desktop_stream();
    case -2: return shuffled_stream();
    case -3: return inflated_stream(demo_body(false));
    case -4: return inflated_stream(demo_body(true));
    default: return uniform_stream(int(which));
    }
}

std::vector<uint8_t> body_for(int64_t which) {
    if (which == -3 || which == -4) return demo_body(which == -4);
    return video_frame(1, WIDTH, HEIGHT, stream_for(which));
}

void count_pixels(benchmark::State& bench) {
    bench.counters["pixels/s"] =
        benchmark::Counter(double(PIXELS) * double(bench.iterations()), benchmark::Counter::kIsRate);
}

void BM_memcpy_baseline(benchmark::State& bench) {
    std::vector<uint16_t> from(PIXELS, 0x1234), to(PIXELS);
    for (auto _ : bench) {
        std::memcpy(to.data(), from.data(), PIXELS * 2);
        benchmark::ClobberMemory();
    }
    count_pixels(bench);
}

void BM_memset_baseline(benchmark::State& bench) {
    std::vector<uint16_t> to(PIXELS);
    for (auto _ : bench) {
        std::memset(to.data(), 0x42, PIXELS * 2);
        benchmark::ClobberMemory();
    }
    count_pixels(bench);
}

void BM_decode(benchmark::State& bench) {
    std::vector<uint8_t> stream = stream_for(bench.range(0));
    std::vector<uint16_t> pixels(PIXELS);
    for (auto _ : bench) {
        int result = decode_blocks(stream.data(), uint32_t(stream.size()), pixels.data(), WIDTH,
                                   HEIGHT, WIDTH);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    count_pixels(bench);
}

void BM_uncompress(benchmark::State& bench) {
    std::vector<uint8_t> body = body_for(bench.range(0));
    std::vector<uint8_t> stream = inflated_stream(body);
    std::vector<uint8_t> out(stream.size() + 4096);
    for (auto _ : bench) {
        uLongf n = uLongf(stream.size());
        int result = uncompress(out.data(), &n, body.data() + 17, uLong(body.size() - 17));
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
    }
    bench.counters["stream bytes"] = double(stream.size());
    bench.counters["zlib bytes"] = double(body.size() - 17);
    count_pixels(bench);
}

void BM_handle_video_frame(benchmark::State& bench) {
    client_state_init_locks();
    client_state_reset();  // not connected: the FrameAck goes nowhere
    create_frame_buffer(WIDTH, HEIGHT);
    std::vector<uint8_t> body = body_for(bench.range(0));
    for (auto _ : bench) {
        handle_video_frame(body.data(), uint32_t(body.size()));
        benchmark::ClobberMemory();
    }
    count_pixels(bench);
}

}  // namespace

BENCHMARK(BM_memcpy_baseline);
BENCHMARK(BM_memset_baseline);
BENCHMARK(BM_decode)->ArgName("stream")->DenseRange(-4, BLOCK_QUAD);
BENCHMARK(BM_uncompress)->ArgName("stream")->DenseRange(-4, -1);
BENCHMARK(BM_handle_video_frame)->ArgName("stream")->DenseRange(-4, -1);

BENCHMARK_MAIN();
