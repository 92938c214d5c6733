// Starting Xvfb and matchbox-window-manager for one client.
#include "server/sessions/private_display.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

namespace qvs {

namespace {

// Reads the display number Xvfb writes (digits and a newline) within
// `limit_ms`; -1 when it does not.
int read_display_number(int fd, int limit_ms) {
    std::string text;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (text.find('\n') == std::string::npos && text.size() < 16) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now())
                           .count());
        pollfd p = {fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0) return -1;
        char buf[16];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return -1;
        text.append(buf, size_t(n));
    }
    int number = 0;
    size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        number = number * 10 + (text[digits++] - '0');
    return digits > 0 && digits < 6 ? number : -1;
}

}  // namespace

bool PrivateDisplay::start(int width, int height, std::string* error) {
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        *error = "cannot make a pipe for Xvfb";
        return false;
    }
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    bool started = xserver_.start({"Xvfb", "-displayfd", std::to_string(pipe_fds[1]), "-nolisten", "tcp", "-screen",
                                   "0", screen, "-noreset"},
                                  {}, {{pipe_fds[1], pipe_fds[1]}}, false, error);
    ::close(pipe_fds[1]);
    int number = started ? read_display_number(pipe_fds[0], 10000) : -1;
    ::close(pipe_fds[0]);
    if (number < 0) {
        if (started) *error = "Xvfb did not start (is it installed?)";
        xserver_.stop();
        return false;
    }
    name_ = ":" + std::to_string(number);
    width_ = width;
    height_ = height;
    // No key bindings of its own: every key belongs to the program.
    if (!window_manager_.start({"matchbox-window-manager", "-use_titlebar", "no", "-use_cursor", "no", "-kbdconfig",
                                "/dev/null"},
                               {"DISPLAY=" + name_}, {}, false, error)) {
        xserver_.stop();
        return false;
    }
    return true;
}

}  // namespace qvs
