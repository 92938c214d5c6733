// X connections that report errors instead of ending the process.
#include "server/sources/x_display.h"

#include <mutex>

namespace qvs {

namespace {

// Protocol errors land in the thread that reads the reply, which is the
// thread using that connection; each thread counts its own.
thread_local int trapped_errors = 0;

int count_error(Display*, XErrorEvent*) {
    trapped_errors++;
    return 0;
}

// The default handler prints a message and returns; the exit handler below
// decides that the process goes on.
int quiet_io_error(Display*) { return 0; }

void install_handlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(count_error);
        XSetIOErrorHandler(quiet_io_error);
    });
}

}  // namespace

XConnection::XConnection(const std::string& name, std::string* error) {
    install_handlers();
    display_ = XOpenDisplay(name.c_str());
    if (!display_) {
        *error = "cannot open X display " + name;
        return;
    }
    XSetIOErrorExitHandler(display_, on_lost, this);
}

XConnection::~XConnection() {
    // A lost connection is closed as well: Xlib marks it dead, so closing
    // only frees its memory.
    if (display_) XCloseDisplay(display_);
}

void XConnection::on_lost(Display*, void* self) { static_cast<XConnection*>(self)->lost_ = true; }

XErrorTrap::XErrorTrap(Display* display) : display_(display), saved_(trapped_errors) {}

XErrorTrap::~XErrorTrap() {}

bool XErrorTrap::failed() {
    XSync(display_, False);
    return trapped_errors != saved_;
}

}  // namespace qvs
