// An X connection that a server thread can lose without taking the process
// with it: Xlib ends the program on a broken connection and prints protocol
// errors unless told otherwise. Each XCapture and XInput owns one.
#ifndef QV_SERVER_X_DISPLAY_H
#define QV_SERVER_X_DISPLAY_H

#include <X11/Xlib.h>

#include <string>

namespace qvs {

// The kind of cookie the server's private X servers ask for.
const char* const X_COOKIE_NAME = "MIT-MAGIC-COOKIE-1";

// The cookie of an X server this process started (`known`), presented by
// every XConnection to `name` from now on; or forgets it (not `known`)
// when it is still that cookie.
void set_display_cookie(const std::string& name, const std::string& cookie, bool known);

class XConnection {
public:
    // Opens `name`; null display() with `error` filled when it cannot.
    XConnection(const std::string& name, std::string* error);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    Display* display() const { return display_; }
    // True once the connection broke (the X server ended or the socket
    // failed); the display must not be used any more.
    bool lost() const { return lost_; }

private:
    static void on_lost(Display* display, void* self);
    Display* display_ = nullptr;
    bool lost_ = false;
};

// Catches the protocol errors of the requests made while it lives, on this
// thread (a window that vanished between two requests is normal).
class XErrorTrap {
public:
    explicit XErrorTrap(Display* display);
    ~XErrorTrap();
    // Waits for the server to answer everything sent so far; true when one
    // of the requests failed.
    bool failed();

private:
    Display* display_;
    int saved_;
};

}  // namespace qvs

#endif
