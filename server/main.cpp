// quorvane-server: the command line.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "server/server.h"

namespace {

std::atomic<bool> stop_requested{false};

void on_signal(int) { stop_requested = true; }

const char* const HELP =
    "Usage: quorvane-server [options]\n"
    "\n"
    "The reference server for the Quorvane client. It serves one client at a\n"
    "time and takes the next when it leaves. Its picture and sound come from a\n"
    "built-in demo: a menu with one entry of every kind, an animation that\n"
    "shows the client's input, and a melody.\n"
    "\n"
    "Options:\n"
    "  --listen ADDRESS:PORT  where to listen (default 0.0.0.0:3300, every\n"
    "                         interface, so that a machine on the local\n"
    "                         network can connect). Port 0 picks a free port\n"
    "                         and prints it, alone on a line, on standard\n"
    "                         output.\n"
    "  --port PORT            the same with the default address.\n"
    "  --print-port           print the port on standard output in any case.\n"
    "  --key KEY              admit only clients whose key (nyckel) is KEY\n"
    "                         (at most 29 characters, best plain ASCII);\n"
    "                         others see a status text and are disconnected.\n"
    "  --fps N                frames per second (1..60) instead of the rate\n"
    "                         the client asks for.\n"
    "  --size WxH             picture size instead of the size the client asks\n"
    "                         for (16x16 .. 1600x1200).\n"
    "  --lossy                allow four-quadrant blocks that only approximate\n"
    "                         the picture (smaller frames, small colour errors).\n"
    "  --quad-tolerance N     in lossy mode, the largest error per 5-bit colour\n"
    "                         channel a block may show (1..31, default 2).\n"
    "  --zlib-level N         compression level 0..9 (default 6).\n"
    "  --window N             video frames sent ahead of the client's\n"
    "                         acknowledgements, at most (1..16, default 2).\n"
    "  --no-audio             send no sound even when the client wants it.\n"
    "  --noise                send random pixels instead of the demo picture\n"
    "                         (a worst case for the encoder and the link).\n"
    "  --pin-seconds N        how long the game-stream entry shows its PIN\n"
    "                         before it streams (default 5).\n"
    "  --idle-timeout N       drop a client that sends nothing for N seconds\n"
    "                         (default 15; the client pings every second).\n"
    "  --once                 serve one connection, then exit.\n"
    "  --frames N             end each connection after N video frames.\n"
    "  --verbose              log every input message.\n"
    "  --help                 show this text.\n"
    "\n"
    "Every connection and notable event is logged on standard error.\n";

bool parse_int(const char* text, int lo, int hi, int* out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < lo || v > hi) return false;
    *out = int(v);
    return true;
}

// The part of a key that reaches the server: the client begins a character
// of its key only while fewer than 29 bytes are written.
size_t key_bytes_sent(const std::string& key) {
    size_t written = 0;
    while (written < key.size() && written < 29) {
        size_t n = 1;
        while (written + n < key.size() && (uint8_t(key[written + n]) & 0xC0) == 0x80) n++;
        written += n;
    }
    return written;
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "quorvane-server: %s (see --help)\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    qvs::ServerConfig config;
    std::string address = "0.0.0.0";
    int port = 3300;
    bool print_port = false, once = false;

    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        int n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(HELP, stdout);
            return 0;
        } else if (a == "--listen") {
            if (!value(&v)) return usage_error("--listen needs ADDRESS:PORT");
            std::string s = v;
            size_t colon = s.rfind(':');
            if (colon == std::string::npos || !parse_int(s.c_str() + colon + 1, 0, 65535, &port))
                return usage_error("--listen needs ADDRESS:PORT, got " + s);
            address = s.substr(0, colon);
        } else if (a == "--port") {
            if (!value(&v) || !parse_int(v, 0, 65535, &port)) return usage_error("--port needs 0..65535");
        } else if (a == "--print-port") {
            print_port = true;
        } else if (a == "--key") {
            if (!value(&v)) return usage_error("--key needs a key");
            if (key_bytes_sent(v) < std::strlen(v))
                return usage_error("--key: a client sends only the first 29 bytes of its key");
            config.require_key = true;
            config.key = v;
        } else if (a == "--fps") {
            if (!value(&v) || !parse_int(v, 1, qvs::MAX_FPS, &config.fps)) return usage_error("--fps needs 1..60");
        } else if (a == "--size") {
            if (!value(&v)) return usage_error("--size needs WxH");
            std::string s = v;
            size_t x = s.find('x');
            if (x == std::string::npos ||
                !parse_int(s.substr(0, x).c_str(), qvs::MIN_WIDTH, qvs::MAX_WIDTH, &config.width) ||
                !parse_int(s.c_str() + x + 1, qvs::MIN_HEIGHT, qvs::MAX_HEIGHT, &config.height))
                return usage_error("--size needs WxH within 16x16 .. 1600x1200");
        } else if (a == "--lossy") {
            config.encoder.lossy = true;
        } else if (a == "--quad-tolerance") {
            if (!value(&v) || !parse_int(v, 1, 31, &config.encoder.quad_tolerance))
                return usage_error("--quad-tolerance needs 1..31");
        } else if (a == "--zlib-level") {
            if (!value(&v) || !parse_int(v, 0, 9, &config.encoder.zlib_level))
                return usage_error("--zlib-level needs 0..9");
        } else if (a == "--window") {
            if (!value(&v) || !parse_int(v, 1, 16, &config.window)) return usage_error("--window needs 1..16");
        } else if (a == "--no-audio") {
            config.audio = false;
        } else if (a == "--noise") {
            config.noise = true;
        } else if (a == "--pin-seconds") {
            if (!value(&v) || !parse_int(v, 0, 3600, &n)) return usage_error("--pin-seconds needs 0..3600");
            config.pin_ms = n * 1000;
        } else if (a == "--idle-timeout") {
            if (!value(&v) || !parse_int(v, 1, 86400, &n)) return usage_error("--idle-timeout needs 1..86400");
            config.idle_timeout_ms = n * 1000;
        } else if (a == "--once") {
            once = true;
        } else if (a == "--frames") {
            if (!value(&v) || !parse_int(v, 1, 2000000000, &n)) return usage_error("--frames needs a count");
            config.frame_limit = uint32_t(n);
        } else if (a == "--verbose") {
            config.verbose = true;
        } else {
            return usage_error("unknown option " + a);
        }
    }

    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    std::string error;
    int bound = 0;
    int fd = qvs::open_listener(address, port, &bound, &error);
    if (fd < 0) {
        std::fprintf(stderr, "quorvane-server: %s\n", error.c_str());
        return 1;
    }
    qvs::log_line("listening on %s:%d%s%s", address.c_str(), bound, config.require_key ? ", key required" : "",
                  config.encoder.lossy ? ", lossy" : "");
    if (print_port || port == 0) {
        std::printf("%d\n", bound);
        std::fflush(stdout);
    }
    qvs::serve(fd, config, &stop_requested, once ? 1 : 0);
    close(fd);
    qvs::log_line("stopped");
    return 0;
}
