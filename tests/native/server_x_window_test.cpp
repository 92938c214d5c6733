// The X capture of one window on a private Xvfb, followed while it moves
// and until it closes. (Screens and typing are tested through the whole
// server, in server_real_check.py.)
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "server/x_capture.h"

namespace {

// Xvfb on a display number of its own choosing (-displayfd).
struct PrivateX {
    pid_t pid = -1;
    std::string name;
    PrivateX() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-noreset", "-screen", "0",
                   "640x480x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char c;
        name = ":";
        while (read(fds[0], &c, 1) == 1 && c != '\n') name += c;
        close(fds[0]);
    }
    ~PrivateX() {
        if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
    }
};

// Grabs until `done` holds for the picture, for at most two seconds.
template <class Check>
bool watch(qvs::XCapture& cap, std::vector<uint16_t>& pic, int w, int h, Check done) {
    for (int i = 0; i < 100; i++) {
        cap.grab(pic, w, h, false);
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(ServerX, WindowIsFollowedUntilItCloses) {
    PrivateX x;
    Display* d = XOpenDisplay(x.name.c_str());
    ASSERT_TRUE(d);
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 10, 20, 100, 80, 0, 0, 0x00F800);
    XStoreName(d, w, "qv probe window");
    XMapWindow(d, w);
    XSync(d, False);
    std::string error;
    auto cap = qvs::XCapture::open(x.name, "probe", &error);
    ASSERT_TRUE(cap) << error;
    std::vector<uint16_t> pic;
    ASSERT_TRUE(cap->grab(pic, 100, 80, true));
    EXPECT_EQ(std::count(pic.begin(), pic.end(), uint16_t(0x03E0)), 100 * 80);
    XMoveResizeWindow(d, w, 300, 300, 250, 150);  // away from the pointer in the middle; shown 100x60
    XSync(d, False);
    int sx = 0, sy = 0;
    EXPECT_TRUE(watch(*cap, pic, 100, 80, [&] {
        cap->picture_to_screen(0, 0, &sx, &sy);  // on the bar above: the window's first row
        return sx == 301 && std::count(pic.begin(), pic.end(), uint16_t(0x03E0)) == 100 * 60;
    })) << sx << "," << sy;
    EXPECT_EQ(sy, 301);  // the centre of picture pixel 0 is screen pixel 1
    // A change inside: the picture mended piece by piece equals one made afresh.
    GC gc = XCreateGC(d, w, 0, nullptr);
    XSetForeground(d, gc, 0xF80000);
    XFillRectangle(d, w, gc, 37, 21, 155, 107);  // up to the last pixel of a 64x32 tile
    XSync(d, False);
    std::vector<uint16_t> fresh;
    ASSERT_TRUE(qvs::XCapture::open(x.name, "probe", &error)->grab(fresh, 100, 80, true));
    EXPECT_TRUE(watch(*cap, pic, 100, 80, [&] { return pic == fresh; }));
    EXPECT_EQ(cap->gone(), "");
    XDestroyWindow(d, w);
    XSync(d, False);
    EXPECT_TRUE(watch(*cap, pic, 100, 80, [&] { return !cap->gone().empty(); }));
    XCloseDisplay(d);
}

}  // namespace
