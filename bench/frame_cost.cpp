// Cost of handle_video_frame per frame on a recorded stream (a file written
// by record_streams): the whole VideoFrame path as the network thread runs
// it, with zlib's uncompress and decode_blocks inside it.
//
//   frame_cost STREAM.qvs [repeat]
//
// The first frame (which repaints the whole picture and sizes the buffers)
// is handled before the measurement starts; then every later frame is
// handled `repeat` times over (default 1), in order. Natively it prints the
// processor time per frame. Under valgrind --tool=callgrind it also zeroes
// the counters after the first frame and dumps them at the end, so that
// the dump holds exactly the later frames (scripts/perf/frame_cost.sh reads
// the instruction counts of handle_video_frame, uncompress and
// decode_blocks from it).
#include <time.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/client_state.h"
#include "link/messages.h"
#include "media/codec.h"

namespace {

double cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

struct Frame {
    std::vector<uint8_t> body;
};

bool read_stream(const char* path, std::vector<Frame>* frames) {
    FILE* in = std::fopen(path, "rb");
    if (in == nullptr) return false;
    uint8_t length[4];
    while (std::fread(length, 1, 4, in) == 4) {
        uint32_t n = uint32_t(length[0]) | uint32_t(length[1]) << 8 | uint32_t(length[2]) << 16 |
                     uint32_t(length[3]) << 24;
        if (n > (64u << 20)) break;
        Frame f;
        f.body.resize(n);
        if (std::fread(f.body.data(), 1, n, in) != n) break;
        frames->push_back(std::move(f));
    }
    std::fclose(in);
    return !frames->empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: frame_cost STREAM.qvs [repeat]\n");
        return 2;
    }
    std::vector<Frame> frames;
    if (!read_stream(argv[1], &frames) || frames.size() < 2) {
        std::fprintf(stderr, "frame_cost: %s holds fewer than two frames\n", argv[1]);
        return 1;
    }
    int repeat = argc > 2 ? std::atoi(argv[2]) : 1;
    if (repeat < 1) repeat = 1;

    // No link: the FrameAck is built and send_message returns at once.
    state.connected.store(0);
    handle_video_frame(frames[0].body.data(), uint32_t(frames[0].body.size()));

    CALLGRIND_ZERO_STATS;
    double start = cpu_ms();
    size_t handled = 0;
    for (int r = 0; r < repeat; r++) {
        for (size_t i = 1; i < frames.size(); i++, handled++)
            handle_video_frame(frames[i].body.data(), uint32_t(frames[i].body.size()));
    }
    double spent = cpu_ms() - start;
    CALLGRIND_DUMP_STATS_AT("later frames");

    std::printf("%s: %zu frames handled, %.3f ms processor time per frame\n", argv[1], handled,
                spent / double(handled));
    return state.frame_count.load() == handled + 1 ? 0 : 1;
}
