// The X capture and the XTest input on a private Xvfb: the colour a viewer
// sees and its change, a window followed while it moves and until it
// closes, and what a shell in a real xterm receives when a Swedish Windows
// keyboard types.
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "link/wire.h"
#include "server/x_capture.h"
#include "server/x_input.h"
#include "tests/support/temp_files.h"

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
    int run(const std::string& command) const { return system(("DISPLAY=" + name + " " + command).c_str()); }
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

TEST(ServerX, ScreenShowsItsColourAndFollowsAChange) {
    PrivateX x;
    ASSERT_EQ(x.run("xsetroot -solid '#2050f0'"), 0);
    std::string error;
    auto cap = qvs::XCapture::open(x.name, "", &error);
    ASSERT_TRUE(cap) << error;
    std::vector<uint16_t> pic;
    ASSERT_TRUE(cap->grab(pic, 320, 320, true));  // 4:3 in a square: bars of 40 rows
    EXPECT_EQ(pic[0], 0);
    EXPECT_EQ(pic[size_t(50) * 320 + 10], uint16_t(4 << 10 | 10 << 5 | 30));
    ASSERT_EQ(x.run("xsetroot -solid '#f8f800'"), 0);
    EXPECT_TRUE(watch(*cap, pic, 320, 320, [&] { return pic[size_t(50) * 320 + 10] == 0x7FE0; }));
    int sx = 0, sy = 0;
    cap->picture_to_screen(160, 200, &sx, &sy);  // the picture's 160x240 image starts at row 40
    EXPECT_EQ(sx, 321);
    EXPECT_EQ(sy, 321);
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
    XMoveResizeWindow(d, w, 400, 300, 200, 160);  // away from the pointer in the middle
    XSync(d, False);
    int sx = 0, sy = 0;
    EXPECT_TRUE(watch(*cap, pic, 100, 80, [&] {
        cap->picture_to_screen(0, 0, &sx, &sy);
        return sx == 401 && std::count(pic.begin(), pic.end(), uint16_t(0x03E0)) == 100 * 80;
    })) << sx << "," << sy;
    EXPECT_EQ(sy, 301);  // the centre of picture pixel 0 is screen pixel 1
    EXPECT_EQ(cap->gone(), "");
    XDestroyWindow(d, w);
    XSync(d, False);
    EXPECT_TRUE(watch(*cap, pic, 100, 80, [&] { return !cap->gone().empty(); }));
    XCloseDisplay(d);
}

// What a Swedish Windows 98 keyboard sends: the key (virtual key, scan
// code), the character it makes, and whether AltGr (left Ctrl + right Alt)
// is held. A dead key (scan 0x1B with AltGr: ~) sends no character; the
// space after it does.
struct Stroke { uint8_t vk; uint16_t scan; uint16_t ch; bool altgr; };

TEST(ServerX, SwedishTypingReachesAShellInXterm) {
    PrivateX x;
    TempFolder dir;
    std::string file = dir.path("typed");
    x.run("LC_ALL=C.UTF-8 xterm -geometry 80x10+0+0 -e sh -c \"trap 'printf INT >> " + file + "' INT; cat > " +
          file + "\" &");
    ASSERT_EQ(x.run("timeout 10 sh -c 'xdotool search --sync --onlyvisible --class xterm && until [ -e " + file +
                    " ]; do sleep 0.05; done' >/dev/null"), 0);
    std::string error;
    auto in = qvs::XInput::open(x.name, [](int px, int py, int* sx, int* sy) { *sx = px, *sy = py; }, &error);
    ASSERT_TRUE(in) << error;
    auto send = [&](uint8_t type, std::vector<uint8_t> p) { in->handle(type, p.data(), uint32_t(p.size())); };
    auto key = [&](uint8_t vk, uint16_t s, bool down) { send(MSG_KEY, {vk, uint8_t(s), uint8_t(s >> 8), down}); };
    send(MSG_MOUSE_POS, {100, 0, 50, 0});  // focus follows the pointer without a window manager
    const Stroke strokes[] = {
        {0xDD, 0x1A, 0xE5, false}, {0xDE, 0x28, 0xE4, false}, {0xC0, 0x27, 0xF6, false}, {'E', 0x12, 0x20AC, true},
        {'2', 0x03, '@', true},    {'7', 0x08, '{', true},    {'0', 0x0B, '}', true},    {'8', 0x09, '[', true},
        {'9', 0x0A, ']', true},    {0xBB, 0x0C, '\\', true},  {0xBA, 0x1B, 0, true},     {' ', 0x39, '~', false},
        {0xE2, 0x56, '|', true},   {'3', 0x04, 0xA3, true},   {'4', 0x05, '$', true},    {'A', 0x1E, 'A', false},
        {0x0D, 0x1C, 0, false},
    };
    for (const Stroke& s : strokes) {
        if (s.altgr) key(0x11, 0x1D, true), key(0x12, 0x138, true);
        if (s.ch == 'A') key(0x10, 0x2A, true);
        key(s.vk, s.scan, true);
        if (s.ch) send(MSG_CHAR, {uint8_t(s.ch), uint8_t(s.ch >> 8)});
        key(s.vk, s.scan, false);
        if (s.ch == 'A') key(0x10, 0x2A, false);
        if (s.altgr) key(0x12, 0x138, false), key(0x11, 0x1D, false);
    }
    auto wait_for = [&](const std::string& want) {
        std::string got;
        for (int i = 0; i < 250 && got != want; i++, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
            got = read_bytes(file);
        return got;
    };
    const std::string line = "åäö€@{}[]\\~|£$A\n";
    ASSERT_EQ(wait_for(line), line);
    // Ctrl+C once the line is read: an interrupt throws away unread input.
    key(0x11, 0x1D, true), key('C', 0x2E, true), key('C', 0x2E, false), key(0x11, 0x1D, false);
    EXPECT_EQ(wait_for(line + "INT"), line + "INT");
}

}  // namespace
