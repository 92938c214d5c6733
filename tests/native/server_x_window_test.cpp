// The X capture of one window on a private Xvfb, followed while it moves
// and until it closes.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "server/sessions/child_process.h"
#include "server/sources/x_capture.h"

namespace {

TEST(ServerX, WindowIsFollowedUntilItCloses) {
    int fds[2];  // Xvfb on a display number of its own choosing
    ASSERT_EQ(pipe(fds), 0);
    qvs::ChildProcess xvfb;
    std::string error, name = ":";
    xvfb.start({"Xvfb", "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp", "-noreset", "-screen", "0", "640x480x24"},
               {}, {{fds[1], fds[1]}}, false, &error);
    close(fds[1]);
    for (char c; read(fds[0], &c, 1) == 1 && c != '\n';) name += c;
    close(fds[0]);
    Display* d = XOpenDisplay(name.c_str());
    ASSERT_TRUE(d);
    std::shared_ptr<Display> close_d(d, XCloseDisplay);
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 10, 20, 100, 80, 0, 0, 0x00F800);
    XStoreName(d, w, "qv probe window");
    XMapWindow(d, w);
    XSync(d, False);
    auto cap = qvs::XCapture::open(name, "probe", &error);
    ASSERT_TRUE(cap) << error;
    std::vector<uint16_t> pic;
    auto watch = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 100; i++, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            if (cap->grab(pic, 100, 80, false), done()) return true;
        return false;
    };
    ASSERT_TRUE(cap->grab(pic, 100, 80, true));
    XMoveResizeWindow(d, w, 300, 300, 250, 150);  // away from the pointer in the middle; shown 100x60
    XSync(d, False);
    int sx = 0, sy = 0;
    EXPECT_TRUE(watch([&] {
        cap->picture_to_screen(0, 0, &sx, &sy);  // on the bar above: the window's first row
        return sx == 301 && std::count(pic.begin(), pic.end(), uint16_t(0x03E0)) == 100 * 60;
    })) << sx << "," << sy;
    EXPECT_EQ(sy, 301);  // the centre of picture pixel 0 is screen pixel 1
    // A change inside: the picture mended piece by piece equals one made afresh.
    GC gc = XCreateGC(d, w, 0, nullptr);
    XSetForeground(d, gc, 0xF80000);
    XFillRectangle(d, w, gc, 37, 21, 155, 107);  // up to the last pixel of a 64x32 tile
    XFreeGC(d, gc);
    XSync(d, False);
    std::vector<uint16_t> fresh;
    ASSERT_TRUE(qvs::XCapture::open(name, "probe", &error)->grab(fresh, 100, 80, true));
    EXPECT_TRUE(watch([&] { return pic == fresh; }));
    EXPECT_EQ(cap->gone(), "");
    XDestroyWindow(d, w);
    XSync(d, False);
    EXPECT_TRUE(watch([&] { return !cap->gone().empty(); }));
}

}  // namespace
