// X capture benchmark: the server's processor time per frame for a screen
// entry, from the X display's change to the encoded VideoFrame body:
// reading the damage, the changed pixels through shared memory, scaling to
// the client's size and encoding. A private Xvfb (1920 x 1080 unless told
// otherwise) shows desktop-like text; each frame then changes 10 % of it
// (a 640 x 324 text area) or all of it.
//
//   xcap_bench [frames [WxH [client WxH [quality [zlib level]]]]]
//        defaults: 100 1920x1080 640x480 70 6 (the server's defaults)
//
// Times are processor time of the measuring thread (the X server's own
// work for the copies is not in them, as it is not the server's).
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/encode/encoder.h"
#include "server/sources/x_capture.h"

namespace {

double cpu_ms() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

pid_t start_xvfb(int w, int h, std::string* name) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string fd = std::to_string(fds[1]), size = std::to_string(w) + "x" + std::to_string(h) + "x24";
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-noreset", "-screen", "0", size.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    char c;
    *name = ":";
    while (read(fds[0], &c, 1) == 1 && c != '\n') *name += c;
    close(fds[0]);
    return pid;
}

// A desktop-like picture: lines of coloured text on white, shifted by
// `shift` pixels so that two of them differ everywhere there is text.
Pixmap text_page(Display* d, int w, int h, int shift) {
    Window root = DefaultRootWindow(d);
    Pixmap p = XCreatePixmap(d, root, unsigned(w), unsigned(h), unsigned(DefaultDepth(d, DefaultScreen(d))));
    GC gc = XCreateGC(d, p, 0, nullptr);
    XSetForeground(d, gc, 0xF4F4F0);
    XFillRectangle(d, p, gc, 0, 0, unsigned(w), unsigned(h));
    const unsigned long colours[] = {0x202020, 0x1040A0, 0xA02020, 0x207020};
    const char* words = "int main(void) { return quorvane_stream(640, 480, 30); } // lorem ipsum dolor sit amet ";
    for (int y = 12 + shift, line = 0; y < h; y += 14, line++) {
        XSetForeground(d, gc, colours[line % 4]);
        for (int x = 4 + shift * 3; x < w; x += 560) XDrawString(d, p, gc, x, y, words + line % 9, 80);
    }
    XFreeGC(d, gc);
    return p;
}

struct Result {
    std::vector<double> ms;
    double bytes = 0, encode_ms = 0;
};

// One frame: waits for the capture to see the change, then grabs and
// encodes; the processor time of all of it.
double frame(qvs::XCapture& cap, qvs::FrameEncoder& enc, uint32_t id, int cw, int ch, std::vector<uint16_t>& pic,
             std::vector<uint8_t>& body, Result* r) {
    double cpu = 0;
    for (int tries = 0; tries < 40; tries++) {
        pollfd p{cap.fd(), POLLIN, 0};
        poll(&p, 1, 50);
        double t0 = cpu_ms();
        cap.drain();
        bool changed = cap.grab(pic, cw, ch, false);
        double t1 = cpu_ms();
        if (changed) enc.encode(id, pic.data(), cw, ch, body);
        r->encode_ms += cpu_ms() - t1;
        cpu += cpu_ms() - t0;
        if (changed) break;
    }
    r->bytes += double(body.size());
    return cpu;
}

void report(const char* what, Result& r) {
    std::sort(r.ms.begin(), r.ms.end());
    double sum = 0;
    for (double v : r.ms) sum += v;
    size_t n = r.ms.size();
    std::printf("%-28s  median %6.2f ms  mean %6.2f ms (encoding %5.2f)  p95 %6.2f ms  %6.0f bytes/frame\n", what,
                r.ms[n / 2], sum / n, r.encode_ms / n, r.ms[std::min(n - 1, n * 95 / 100)], r.bytes / n);
}

}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::atoi(argv[1]) : 100;
    int w = 1920, h = 1080, cw = 640, ch = 480;
    if (argc > 2) std::sscanf(argv[2], "%dx%d", &w, &h);
    if (argc > 3) std::sscanf(argv[3], "%dx%d", &cw, &ch);
    qvs::EncoderOptions options;
    options.quality = argc > 4 ? std::atoi(argv[4]) : qvs::DEFAULT_LOSSY_QUALITY;
    if (argc > 5) options.zlib_level = std::atoi(argv[5]);
    std::string name;
    pid_t xvfb = start_xvfb(w, h, &name);
    Display* d = xvfb > 0 ? XOpenDisplay(name.c_str()) : nullptr;
    if (!d) {
        std::fprintf(stderr, "xcap_bench: no Xvfb\n");
        return 1;
    }
    Window root = DefaultRootWindow(d);
    GC gc = XCreateGC(d, root, 0, nullptr);
    XSetSubwindowMode(d, gc, IncludeInferiors);
    Pixmap pages[2] = {text_page(d, w, h, 0), text_page(d, w, h, 5)};
    XCopyArea(d, pages[0], root, gc, 0, 0, unsigned(w), unsigned(h), 0, 0);
    XSync(d, False);

    std::string error;
    auto cap = qvs::XCapture::open(name, "", &error);
    if (!cap) {
        std::fprintf(stderr, "xcap_bench: %s\n", error.c_str());
        return 1;
    }
    qvs::FrameEncoder enc(options);
    std::vector<uint16_t> pic;
    std::vector<uint8_t> body;
    cap->grab(pic, cw, ch, true);
    enc.encode(0, pic.data(), cw, ch, body);
    std::printf("display %dx%d -> client %dx%d, quality %d, zlib level %d, %d frames per case\n", w, h, cw, ch,
                options.quality, options.zlib_level, frames);

    // 10 %: a 640 x 324 area (for 1920 x 1080) in the middle of the screen.
    int aw = w / 3, ah = int(int64_t(w) * h / 10 / aw);
    Result part, whole;
    uint32_t id = 1;
    for (int i = 0; i < frames; i++, id++) {
        XCopyArea(d, pages[(i + 1) % 2], root, gc, aw, h / 3, unsigned(aw), unsigned(ah), aw, h / 3);
        XSync(d, False);
        part.ms.push_back(frame(*cap, enc, id, cw, ch, pic, body, &part));
    }
    for (int i = 0; i < frames; i++, id++) {
        XCopyArea(d, pages[i % 2], root, gc, 0, 0, unsigned(w), unsigned(h), 0, 0);
        XSync(d, False);
        whole.ms.push_back(frame(*cap, enc, id, cw, ch, pic, body, &whole));
    }
    report("10 % of the screen changes", part);
    report("all of the screen changes", whole);
    cap.reset();
    XCloseDisplay(d);
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    return 0;
}
