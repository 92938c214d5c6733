// A scripted client for measuring quorvane-server from outside: it greets
// at 640 x 480 and 30 fps, starts one menu entry, decodes every frame with
// the client's own decoder and acknowledges it at once, like the client.
//
//   stream_probe PORT APP latency DISPLAY [N]   colour changes on DISPLAY (its
//        top-left quarter) -> the FrameAck of the first frame that shows
//        them; median and 95th percentile over N (default 60)
//   stream_probe PORT APP char [N]              a Char sent -> the first frame
//        that differs (the glyph); the entry should be a terminal
//   stream_probe PORT APP watch SECONDS         prints "start" after 5 s of
//        streaming, then the bytes and frames of the next SECONDS
//   stream_probe PORT APP link SECONDS [WARMUP]  after WARMUP s (5) of streaming: frames
//        per second, kB/s and kB per frame of the next SECONDS, and the round
//        trip of a Ping sent every 250 ms (as a user's input would wait)
//   stream_probe PORT APP changes SECONDS        for SECONDS: "change RGB555 US" when
//        the last byte of a VideoFrame arrives whose picture centre has a new
//        colour (US: steady clock, microseconds), then frames per second
//
// scripts/perf/xcap_compare.py, link_rate.sh and moonlight_perf.py run it;
// docs/performance.md has the figures.
#include <X11/Xlib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/wire.h"
#include "media/codec.h"

namespace {

typedef std::chrono::steady_clock Clock;
const int W = 640, H = 480;

double ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

class Probe {
public:
    int fd = -1;
    std::vector<uint16_t> pixels = std::vector<uint16_t>(size_t(W) * H, 0);
    uint64_t bytes = 0, frames = 0;
    int mode = -1;
    std::vector<double> pings;  // round trips in ms, of the Pongs received
    Clock::time_point ping_sent[256];
    uint32_t next_ping = 0;
    bool print_changes = false;

    // Pings go out on their own clock, also while a frame is being read:
    // they sample the link at any moment, not only when it is idle.
    bool pinging = false;
    Clock::time_point ping_due;
    void maybe_ping() {
        if (!pinging || Clock::now() < ping_due) return;
        ping();
        ping_due += std::chrono::milliseconds(250);
    }

    void ping() {
        ping_sent[next_ping % 256] = Clock::now();
        send(MSG_PING, {uint8_t(next_ping), uint8_t(next_ping >> 8), uint8_t(next_ping >> 16), uint8_t(next_ping >> 24)});
        next_ping++;
    }

    bool connect_to(int port) {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
        std::vector<uint8_t> hello(80, 0);
        std::memcpy(hello.data(), "QV98\x01\x00", 6);
        hello[6] = W & 0xFF, hello[7] = W >> 8, hello[8] = H & 0xFF, hello[9] = H >> 8, hello[10] = 30;
        hello[15] = 2;
        std::memcpy(&hello[16], "PROBE", 5);
        send(MSG_HELLO, hello);
        return true;
    }
    void send(uint8_t type, const std::vector<uint8_t>& p) {
        std::vector<uint8_t> m(5 + p.size());
        uint32_t n = uint32_t(p.size());
        std::memcpy(m.data(), &n, 4);
        m[4] = type;
        std::copy(p.begin(), p.end(), m.begin() + 5);
        if (write(fd, m.data(), m.size()) != ssize_t(m.size())) std::exit(1);
    }
    void key(uint8_t vk, uint16_t scan, bool down) {
        send(MSG_KEY, {vk, uint8_t(scan), uint8_t(scan >> 8), uint8_t(down)});
    }
    // Reads one message (waiting up to `wait_ms`); frames are decoded and
    // acknowledged. Returns the message type, or -1.
    int read_one(int wait_ms) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, wait_ms) <= 0) return -1;
        uint8_t head[5];
        if (!read_all(head, 5)) std::exit(1);
        uint32_t n;
        std::memcpy(&n, head, 4);
        std::vector<uint8_t> body(n);
        if (!read_all(body.data(), n)) std::exit(1);
        const long long arrived =
            (long long)std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
        bytes += 5 + n;
        if (head[4] == MSG_STREAM_STATE && n >= 1) mode = body[0];
        if (head[4] == MSG_PONG && n >= 4) {
            uint32_t id = body[0] | body[1] << 8 | body[2] << 16 | uint32_t(body[3]) << 24;
            if (next_ping - id <= 256) pings.push_back(ms(ping_sent[id % 256], Clock::now()));
        }
        if (head[4] == MSG_VIDEO_FRAME && n >= 17) {
            const uint16_t centre = pixels[size_t(H / 2) * W + W / 2];
            decode(body);
            if (print_changes && pixels[size_t(H / 2) * W + W / 2] != centre)
                std::printf("change %04x %lld\n", pixels[size_t(H / 2) * W + W / 2], arrived);
            send(MSG_FRAME_ACK, std::vector<uint8_t>(body.begin(), body.begin() + 4));
            frames++;
        }
        return head[4];
    }
    void pump(int for_ms) {
        Clock::time_point end = Clock::now() + std::chrono::milliseconds(for_ms);
        while (Clock::now() < end) {
            maybe_ping();
            read_one(int(std::min(20.0, std::max(1.0, ms(Clock::now(), end)))));
        }
    }
    void launch(int app) {
        while (read_one(10000) != MSG_APP_LIST) {
        }
        send(MSG_LAUNCH_APP, {uint8_t(app), uint8_t(app >> 8)});
        while (mode != 1 || frames == 0) read_one(10000);
    }

private:
    bool read_all(uint8_t* p, size_t n) {
        while (n > 0) {
            maybe_ping();
            pollfd q{fd, POLLIN, 0};
            if (poll(&q, 1, 20) == 0) continue;
            ssize_t got = read(fd, p, n);
            if (got <= 0) return false;
            p += got, n -= size_t(got);
        }
        return true;
    }
    void decode(const std::vector<uint8_t>& body) {
        int w = body[4] | body[5] << 8, h = body[6] | body[7] << 8;
        uint32_t raw = body[9] | body[10] << 8 | body[11] << 16 | uint32_t(body[12]) << 24;
        if (w != W || h != H) return;
        std::vector<uint8_t> stream(raw);
        uLongf got = raw;
        if (uncompress(stream.data(), &got, body.data() + 17, uLong(body.size() - 17)) == Z_OK)
            decode_blocks(stream.data(), uint32_t(got), pixels.data(), W, H, W);
    }
};

void report(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (v.empty()) return;
    std::printf("%s: median %.1f ms, p95 %.1f ms, min %.1f, max %.1f (n=%zu)\n", what, v[v.size() / 2],
                v[std::min(v.size() - 1, v.size() * 95 / 100)], v.front(), v.back(), v.size());
}

// Colour changes of the display's top-left quarter, seen at its centre.
void latency(Probe& p, const char* display, int n) {
    Display* d = XOpenDisplay(display);
    if (!d) std::exit(1);
    int sw = DisplayWidth(d, 0), sh = DisplayHeight(d, 0);
    double s = std::min(double(W) / sw, double(H) / sh);
    int px = int((W - sw * s) / 2 + sw / 8 * s), py = int((H - sh * s) / 2 + sh / 8 * s);
    GC gc = XCreateGC(d, DefaultRootWindow(d), 0, nullptr);
    XSetSubwindowMode(d, gc, IncludeInferiors);
    const unsigned long colours[2] = {0xF80000, 0x0000F8};
    const uint16_t seen[2] = {0x7C00, 0x001F};
    std::vector<double> times;
    for (int i = 0; i < n; i++) {
        p.pump(90 + (i * 7) % 40);  // not in step with the frame clock
        Clock::time_point t0 = Clock::now();  // before the request: the X server's share counts too
        XSetForeground(d, gc, colours[i % 2]);
        XFillRectangle(d, DefaultRootWindow(d), gc, 0, 0, unsigned(sw / 4), unsigned(sh / 4));
        XSync(d, False);
        while (p.pixels[size_t(py) * W + px] != seen[i % 2] && ms(t0, Clock::now()) < 2000) p.read_one(2000);
        times.push_back(ms(t0, Clock::now()));
    }
    report("display change -> FrameAck", times);
}

void typing(Probe& p, int n) {
    p.pump(2000);
    std::vector<double> times;
    for (int i = 0; i < n; i++) {
        p.pump(150);
        std::vector<uint16_t> before = p.pixels;
        Clock::time_point t0 = Clock::now();
        p.key('X', 0x2D, true);
        p.send(MSG_CHAR, {'x', 0});
        p.key('X', 0x2D, false);
        while (p.pixels == before && ms(t0, Clock::now()) < 2000) p.read_one(2000);
        times.push_back(ms(t0, Clock::now()));
    }
    report("Char -> first frame with the glyph", times);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: stream_probe PORT APP latency DISPLAY [N] | char [N] | watch SECONDS\n");
        return 2;
    }
    Probe p;
    if (!p.connect_to(std::atoi(argv[1]))) return 1;
    p.launch(std::atoi(argv[2]));
    std::string what = argv[3];
    if (what == "latency" && argc > 4) latency(p, argv[4], argc > 5 ? std::atoi(argv[5]) : 60);
    if (what == "char") typing(p, argc > 4 ? std::atoi(argv[4]) : 30);
    if (what == "watch" && argc > 4) {
        p.pump(5000);
        std::printf("start\n");
        std::fflush(stdout);
        uint64_t bytes = p.bytes, frames = p.frames;
        p.pump(std::atoi(argv[4]) * 1000);
        std::printf("bytes %llu frames %llu\n", (unsigned long long)(p.bytes - bytes),
                    (unsigned long long)(p.frames - frames));
    }
    if (what == "link" && argc > 4) {
        p.pinging = true;
        p.ping_due = Clock::now();
        p.pump((argc > 5 ? std::atoi(argv[5]) : 5) * 1000);
        uint64_t bytes = p.bytes, frames = p.frames;
        p.pings.clear();
        // A frame is read whole, so the time may run a little over.
        Clock::time_point start = Clock::now();
        p.pump(std::atoi(argv[4]) * 1000);
        double seconds = ms(start, Clock::now()) / 1000, kb = double(p.bytes - bytes) / 1000;
        std::printf("fps %.1f  kB/s %.0f  kB/frame %.1f\n", double(p.frames - frames) / seconds, kb / seconds,
                    kb / double(std::max<uint64_t>(1, p.frames - frames)));
        report("Ping round trip", p.pings);
    }
    if (what == "changes" && argc > 4) {
        p.print_changes = true;
        uint64_t frames = p.frames;
        Clock::time_point start = Clock::now();
        p.pump(std::atoi(argv[4]) * 1000);
        std::printf("fps %.1f\n", double(p.frames - frames) / (ms(start, Clock::now()) / 1000));
    }
    close(p.fd);
    return 0;
}
