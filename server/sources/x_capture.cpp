// XCapture on Xlib: XShm for the pixels, XDamage for where to look
// (XDamageWatch), XFixes for the pointer (XPointer), and a slow sweep over
// everything for what damage missed. The captured area (the screen, or the
// window's rectangle on it) is kept as a TileCopy.
#include "server/sources/x_capture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>
#include <sys/epoll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "server/encode/scale.h"
#include "server/sources/tile_copy.h"
#include "server/sources/x_damage.h"
#include "server/sources/x_display.h"
#include "server/sources/x_pointer.h"

namespace qvs {

namespace {

// The wake timer: how often the pointer is looked at and a sweep can start.
const long TICK_NS = 50L * 1000 * 1000;
// A sweep a second; four a second while sweeps keep finding what damage
// did not report.
const std::chrono::milliseconds SWEEP_SLOW(1000), SWEEP_FAST(250);

typedef std::chrono::steady_clock Clock;

std::string window_title(Display* d, Window w) {
    static thread_local Atom net_wm_name = 0, utf8 = 0;
    if (!net_wm_name) {
        net_wm_name = XInternAtom(d, "_NET_WM_NAME", False);
        utf8 = XInternAtom(d, "UTF8_STRING", False);
    }
    std::string title;
    Atom type;
    int format;
    unsigned long count, rest;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, net_wm_name, 0, 1024, False, utf8, &type, &format, &count, &rest, &data) == Success &&
        data) {
        if (type == utf8 && format == 8) title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(d, w, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

// The topmost viewable window, down to frames' children, whose title
// contains `part`.
Window find_window(Display* d, Window parent, const std::string& part, int depth) {
    Window root_return, parent_return, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, parent, &root_return, &parent_return, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = count; i-- > 0 && !found;) {
        XWindowAttributes wa;
        if (!XGetWindowAttributes(d, children[i], &wa) || wa.map_state != IsViewable) continue;
        if (window_title(d, children[i]).find(part) != std::string::npos) found = children[i];
        else if (depth < 3) found = find_window(d, children[i], part, depth + 1);
    }
    if (children) XFree(children);
    return found;
}

bool same(const Rect& a, const Rect& b) { return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h; }

class XShmCapture : public XCapture {
public:
    XShmCapture(const std::string& display, std::string* error) : conn_(display, error), d_(conn_.display()) {}
    ~XShmCapture() override;
    bool start(const std::string& title, std::string* error);

    bool grab(std::vector<uint16_t>& out, int width, int height, bool force) override;
    int fd() const override { return epoll_fd_; }
    void drain() override;
    void picture_to_screen(int px, int py, int* sx, int* sy) const override;
    std::string gone() const override;

private:
    bool usable() const { return d_ && !conn_.lost() && !window_closed_; }
    void read_events();
    bool make_segment();
    void drop_segment();
    bool update_area();
    bool read_tiles();
    bool read_rect(const Rect& r);

    XConnection conn_;
    Display* d_;
    Window root_ = 0, window_ = 0;
    bool window_closed_ = false, window_visible_ = true;
    int root_w_ = 0, root_h_ = 0;
    Rect area_;  // what is captured, in root coordinates

    // Pixels.
    bool use_shm_ = false;
    XShmSegmentInfo shm_{};
    Visual* visual_ = nullptr;
    int depth_ = 0;
    TileCopy tiles_;
    Clock::time_point next_sweep_;

    // Change and pointer events.
    XDamageWatch damage_;
    int fixes_base_ = 0;
    int timer_fd_ = -1, epoll_fd_ = -1;

    // The picture at the client's size, without the pointer.
    AreaScaler scaler_;
    std::vector<uint16_t> picture_;
    int out_w_ = 0, out_h_ = 0;
    bool rescale_all_ = true;

    XPointer pointer_;
};

bool XShmCapture::start(const std::string& title, std::string* error) {
    if (!d_) return false;
    int screen = DefaultScreen(d_);
    root_ = RootWindow(d_, screen);
    visual_ = DefaultVisual(d_, screen);
    depth_ = DefaultDepth(d_, screen);
    if (visual_->c_class != TrueColor || visual_->red_mask != 0xFF0000 || visual_->green_mask != 0xFF00 ||
        visual_->blue_mask != 0xFF || depth_ < 24) {
        *error = "the X display's pixel format is not 24-bit RGB";
        return false;
    }
    int error_base = 0, major = 0, minor = 0;
    if (!XFixesQueryExtension(d_, &fixes_base_, &error_base) || !XFixesQueryVersion(d_, &major, &minor) || major < 2) {
        *error = "the X display has no XFixes 2";
        return false;
    }
    XWindowAttributes wa;
    XGetWindowAttributes(d_, root_, &wa);
    root_w_ = wa.width;
    root_h_ = wa.height;
    XSelectInput(d_, root_, StructureNotifyMask);
    if (!title.empty()) {
        window_ = find_window(d_, root_, title, 0);
        if (!window_) {
            *error = "no window whose title contains \"" + title + "\"";
            return false;
        }
        XSelectInput(d_, window_, StructureNotifyMask);
    }
    damage_.start(d_, root_);
    XFixesSelectCursorInput(d_, root_, XFixesDisplayCursorNotifyMask);
    use_shm_ = XShmQueryExtension(d_) && make_segment();

    timer_fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    itimerspec tick{{0, TICK_NS}, {0, TICK_NS}};
    timerfd_settime(timer_fd_, 0, &tick, nullptr);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = ConnectionNumber(d_);
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, ConnectionNumber(d_), &ev);
    ev.data.fd = timer_fd_;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, timer_fd_, &ev);
    update_area();
    return true;
}

XShmCapture::~XShmCapture() {
    if (d_ && !conn_.lost()) {
        damage_.stop(d_);
        drop_segment();
    }
    if (shm_.shmaddr) shmdt(shm_.shmaddr);
    if (timer_fd_ >= 0) close(timer_fd_);
    if (epoll_fd_ >= 0) close(epoll_fd_);
}

// One segment the size of the whole screen holds any part of it; the
// segment is marked for removal at once, so that it goes away with the
// process whatever happens.
bool XShmCapture::make_segment() {
    size_t bytes = size_t(root_w_) * size_t(root_h_) * 4;
    shm_.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (shm_.shmid < 0) return false;
    shm_.shmaddr = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
    shm_.readOnly = False;
    bool ok = shm_.shmaddr != reinterpret_cast<char*>(-1);
    if (ok) {
        XErrorTrap trap(d_);
        XShmAttach(d_, &shm_);
        ok = !trap.failed();
        if (!ok) shmdt(shm_.shmaddr);
    }
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    if (!ok) shm_ = XShmSegmentInfo();
    return ok;
}

void XShmCapture::drop_segment() {
    if (!shm_.shmaddr) return;
    XShmDetach(d_, &shm_);
    XSync(d_, False);
    shmdt(shm_.shmaddr);
    shm_ = XShmSegmentInfo();
}

void XShmCapture::read_events() {
    while (usable() && XPending(d_)) {
        XEvent ev;
        XNextEvent(d_, &ev);
        if (damage_.take(ev)) continue;
        if (ev.type == fixes_base_ + XFixesCursorNotify) {
            pointer_.image_changed();
        } else if (ev.type == DestroyNotify && window_ && ev.xdestroywindow.window == window_) {
            window_closed_ = true;
        } else if (ev.type == ConfigureNotify && ev.xconfigure.window == root_) {
            if (ev.xconfigure.width != root_w_ || ev.xconfigure.height != root_h_) {
                root_w_ = ev.xconfigure.width;
                root_h_ = ev.xconfigure.height;
                if (use_shm_) {
                    drop_segment();
                    use_shm_ = make_segment();
                }
            }
        }
    }
}

void XShmCapture::drain() {
    uint64_t ticks;
    if (timer_fd_ >= 0 && read(timer_fd_, &ticks, sizeof ticks) < 0) ticks = 0;
    read_events();
}

// Follows the window (or the screen's size); a new area is read in full.
bool XShmCapture::update_area() {
    Rect screen{0, 0, root_w_, root_h_};
    Rect area = screen;
    if (window_) {
        XErrorTrap trap(d_);
        XWindowAttributes wa;
        Window child;
        int x = 0, y = 0;
        if (!XGetWindowAttributes(d_, window_, &wa) ||
            !XTranslateCoordinates(d_, window_, root_, 0, 0, &x, &y, &child) || trap.failed()) {
            window_closed_ = true;
            return false;
        }
        window_visible_ = wa.map_state == IsViewable;
        area = intersect(Rect{x, y, wa.width, wa.height}, screen);
        if (area.empty()) window_visible_ = false;
        if (!window_visible_) return false;
    }
    if (same(area, area_)) return false;
    area_ = area;
    tiles_.reset(area_.w, area_.h);
    rescale_all_ = true;
    return true;
}

// Reads one rectangle of the area into the copy; true when any of its
// tiles differed.
bool XShmCapture::read_rect(const Rect& r) {
    XImage* image;
    XErrorTrap trap(d_);
    if (use_shm_) {
        image = XShmCreateImage(d_, visual_, unsigned(depth_), ZPixmap, shm_.shmaddr, &shm_, unsigned(r.w),
                                unsigned(r.h));
        if (image && !XShmGetImage(d_, root_, image, area_.x + r.x, area_.y + r.y, AllPlanes)) {
            image->data = nullptr;
            XDestroyImage(image);
            image = nullptr;
        }
    } else {
        image = XGetImage(d_, root_, area_.x + r.x, area_.y + r.y, unsigned(r.w), unsigned(r.h), AllPlanes, ZPixmap);
    }
    if (!image) return false;
    bool ok = image->bits_per_pixel == 32 && !trap.failed();
    bool any = ok && tiles_.take(r, image->data, size_t(image->bytes_per_line));
    if (use_shm_) image->data = nullptr;
    XDestroyImage(image);
    return any;
}

// Reads every marked tile (all of them in a sweep) and re-scales what
// changed.
bool XShmCapture::read_tiles() {
    bool sweep = Clock::now() >= next_sweep_;
    if (sweep) tiles_.mark_all();
    bool any = false;
    for (const Rect& r : tiles_.take_marked()) any = read_rect(r) || any;
    if (sweep) next_sweep_ = Clock::now() + (any && !rescale_all_ ? SWEEP_FAST : SWEEP_SLOW);
    if (rescale_all_ || !any) return any;
    for (const Rect& r : tiles_.changed_runs())
        if (!r.empty()) scaler_.scale(tiles_.pixels(), area_.w, scaler_.target_of(r), picture_.data());
    return true;
}

bool XShmCapture::grab(std::vector<uint16_t>& out, int width, int height, bool force) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    read_events();
    bool changed = false;
    if (usable()) {
        update_area();
        if (usable() && window_visible_) {
            if (width != out_w_ || height != out_h_) rescale_all_ = true;
            damage_.mark(d_, area_, tiles_);
            changed = read_tiles();
            if (rescale_all_) {
                out_w_ = width;
                out_h_ = height;
                scaler_.configure(area_.w, area_.h, width, height);
                picture_.assign(size_t(width) * size_t(height), 0);
                scaler_.scale(tiles_.pixels(), area_.w, scaler_.image(), picture_.data());
                rescale_all_ = false;
                changed = true;
            }
            pointer_.update(d_, root_, area_);
            changed = pointer_.take_moved() || changed;
        }
    }
    if (!changed && !force) return false;
    if (picture_.size() == size_t(width) * size_t(height)) {
        out = picture_;
        pointer_.draw(out, out_w_, scaler_.image(), area_);
    } else {
        out.assign(size_t(width) * size_t(height), 0);
    }
    return true;
}

void XShmCapture::picture_to_screen(int px, int py, int* sx, int* sy) const {
    if (out_w_ == 0) {
        *sx = area_.x + std::clamp(px, 0, std::max(area_.w - 1, 0));
        *sy = area_.y + std::clamp(py, 0, std::max(area_.h - 1, 0));
        return;
    }
    scaler_.source_point(px, py, sx, sy);
    *sx += area_.x;
    *sy += area_.y;
}

std::string XShmCapture::gone() const {
    if (d_ && conn_.lost()) return "Skärmen är inte längre tillgänglig.";
    if (window_closed_) return "Fönstret har stängts.";
    return std::string();
}

}  // namespace

std::unique_ptr<XCapture> XCapture::open(const std::string& display, const std::string& window_title,
                                         std::string* error) {
    std::unique_ptr<XShmCapture> capture(new XShmCapture(display, error));
    if (!capture->start(window_title, error)) return nullptr;
    return capture;
}

}  // namespace qvs
