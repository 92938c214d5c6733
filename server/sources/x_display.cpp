// X connections that report errors instead of ending the process.
#include "server/sources/x_display.h"

#include <map>
#include <mutex>

// Last: it defines min and max as macros. LockDisplay comes from here.
#include <X11/Xlibint.h>
#undef min
#undef max

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

// Xlib takes a cookie for all the displays it opens next: opening goes
// one at a time, each with its own.
std::mutex open_lock;
std::map<std::string, std::string> cookies;  // display name -> cookie

}  // namespace

void set_display_cookie(const std::string& name, const std::string& cookie, bool known) {
    std::lock_guard<std::mutex> hold(open_lock);
    auto it = cookies.find(name);
    if (known) cookies[name] = cookie;
    else if (it != cookies.end() && it->second == cookie) cookies.erase(it);
}

XConnection::XConnection(const std::string& name, std::string* error) {
    install_handlers();
    {
        std::lock_guard<std::mutex> hold(open_lock);
        auto it = cookies.find(name);
        if (it != cookies.end()) {
            std::string kind = X_COOKIE_NAME, cookie = it->second;
            XSetAuthorization(&kind[0], int(kind.size()), &cookie[0], int(cookie.size()));
        }
        display_ = XOpenDisplay(name.c_str());
        if (it != cookies.end()) XSetAuthorization(nullptr, 0, nullptr, 0);
    }
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

void XConnection::on_lost(Display* display, void* self) {
    static_cast<XConnection*>(self)->lost_ = true;
    // Xlib unlocks the display before it calls this handler, and the call
    // that met the broken connection (an XSync, say) unlocks it once more
    // when the handler returns: a second unlock of an unlocked mutex. Taken
    // again here, the two unlocks have a lock each.
    LockDisplay(display);
}

XErrorTrap::XErrorTrap(Display* display) : display_(display), saved_(trapped_errors) {}

XErrorTrap::~XErrorTrap() {}

bool XErrorTrap::failed() {
    XSync(display_, False);
    return trapped_errors != saved_;
}

}  // namespace qvs
