// Starting Xvfb and matchbox-window-manager for one client.
#include "server/sessions/private_display.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "server/sources/x_display.h"

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

void put16(std::string& out, size_t n) {
    out += char(n >> 8 & 0xFF);
    out += char(n & 0xFF);
}

// One entry of an X authority file: any host (FamilyWild), display
// `number` (empty: any), the cookie.
std::string authority_entry(const std::string& number, const std::string& cookie) {
    std::string entry;
    put16(entry, 0xFFFF);
    for (const std::string& field : {std::string(), number, std::string(X_COOKIE_NAME), cookie}) {
        put16(entry, field.size());
        entry += field;
    }
    return entry;
}

}  // namespace

PrivateDisplay::~PrivateDisplay() {
    window_manager_.stop();
    xserver_.stop();
    if (!name_.empty()) set_display_cookie(name_, cookie_, false);
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

// Written anew and renamed into place: whoever reads it sees a whole file.
bool PrivateDisplay::write_authority(const std::string& number) {
    std::string path = folder_ + "/Xauthority", part = path + ".new", entry = authority_entry(number, cookie_);
    int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    bool ok = ::write(fd, entry.data(), entry.size()) == ssize_t(entry.size());
    ok = ::close(fd) == 0 && ok;
    return ok && ::rename(part.c_str(), path.c_str()) == 0;
}

bool PrivateDisplay::start(int width, int height, std::string* error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/quorvane-x-XXXXXX";
    cookie_.assign(16, '\0');
    if (!::mkdtemp(&pattern[0]) || ::getrandom(&cookie_[0], cookie_.size(), 0) != ssize_t(cookie_.size())) {
        *error = "cannot make a folder and a cookie for Xvfb: " + std::string(std::strerror(errno));
        return false;
    }
    folder_ = pattern;
    // Xvfb reads every cookie of the file whatever its display number.
    if (!write_authority("")) {
        *error = "cannot write Xvfb's authority file in " + folder_;
        return false;
    }
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        *error = "cannot make a pipe for Xvfb";
        return false;
    }
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    bool started = xserver_.start({"Xvfb", "-displayfd", std::to_string(pipe_fds[1]), "-nolisten", "tcp", "-screen",
                                   "0", screen, "-noreset", "-auth", folder_ + "/Xauthority"},
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
    set_display_cookie(name_, cookie_, true);
    // Programs look for the cookie of their display's number.
    if (!write_authority(std::to_string(number))) {
        *error = "cannot write the authority file in " + folder_;
        xserver_.stop();
        return false;
    }
    // No key bindings of its own: every key belongs to the program.
    if (!window_manager_.start({"matchbox-window-manager", "-use_titlebar", "no", "-use_cursor", "no", "-kbdconfig",
                                "/dev/null"},
                               {"DISPLAY=" + name_, authority()}, {}, false, error)) {
        xserver_.stop();
        return false;
    }
    return true;
}

}  // namespace qvs
