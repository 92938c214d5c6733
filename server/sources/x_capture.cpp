// XCapture on Xlib: XShm for the pixels, XDamage for where to look, XFixes
// for the pointer, and a slow sweep over everything for what damage missed.
//
// The captured area (the screen, or the window's rectangle on it) is kept
// as a 32-bit copy, `frame_`, split into tiles. Damage marks tiles to read
// again; a read tile that really differs from the copy is taken over and
// only its part of the scaled picture is computed anew, so a small change
// costs little however large the screen is.
#include "server/sources/x_capture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <sys/epoll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "server/encode/scale.h"
#include "server/sources/x_display.h"

namespace qvs {

namespace {

const int TILE_W = 64, TILE_H = 32;
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

Rect intersect(const Rect& a, const Rect& b) {
    Rect r;
    r.x = std::max(a.x, b.x);
    r.y = std::max(a.y, b.y);
    r.w = std::min(a.x + a.w, b.x + b.w) - r.x;
    r.h = std::min(a.y + a.h, b.y + b.h) - r.y;
    if (r.empty()) r = Rect();
    return r;
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
    void mark_damage();
    void mark(const Rect& r, std::vector<uint8_t>& tiles);
    bool read_tiles();
    bool read_rect(const Rect& r, std::vector<uint8_t>& changed);
    void update_pointer();
    void draw_pointer(std::vector<uint16_t>& out) const;

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
    std::vector<uint32_t> frame_;      // area_.w x area_.h
    std::vector<uint8_t> dirty_;       // tiles to read again
    int tiles_x_ = 0, tiles_y_ = 0;
    Clock::time_point next_sweep_;

    // Damage and pointer events.
    int damage_base_ = 0, fixes_base_ = 0;
    Damage damage_ = 0;
    XserverRegion region_ = 0;
    bool damage_waits_ = false, cursor_changed_ = true;
    int timer_fd_ = -1, epoll_fd_ = -1;

    // The picture at the client's size, without the pointer.
    AreaScaler scaler_;
    std::vector<uint16_t> picture_;
    int out_w_ = 0, out_h_ = 0;
    bool rescale_all_ = true;

    // The pointer: its image (premultiplied ARGB) and where it was drawn.
    std::vector<uint32_t> cursor_;
    int cursor_w_ = 0, cursor_h_ = 0, hot_x_ = 0, hot_y_ = 0;
    int pointer_x_ = -1, pointer_y_ = -1;  // root coordinates; -1: not shown
    bool pointer_moved_ = true;
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
    if (XDamageQueryExtension(d_, &damage_base_, &error_base)) {
        damage_ = XDamageCreate(d_, root_, XDamageReportNonEmpty);
        region_ = XFixesCreateRegion(d_, nullptr, 0);
    }
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
        if (damage_) XDamageDestroy(d_, damage_);
        if (region_) XFixesDestroyRegion(d_, region_);
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
        if (damage_ && ev.type == damage_base_ + XDamageNotify) {
            damage_waits_ = true;
        } else if (ev.type == fixes_base_ + XFixesCursorNotify) {
            cursor_changed_ = true;
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
    frame_.assign(size_t(area_.w) * size_t(area_.h), 0);
    tiles_x_ = (area_.w + TILE_W - 1) / TILE_W;
    tiles_y_ = (area_.h + TILE_H - 1) / TILE_H;
    dirty_.assign(size_t(tiles_x_) * size_t(tiles_y_), 1);
    rescale_all_ = true;
    return true;
}

void XShmCapture::mark(const Rect& r, std::vector<uint8_t>& tiles) {
    Rect c = intersect(r, Rect{0, 0, area_.w, area_.h});
    if (c.empty()) return;
    for (int ty = c.y / TILE_H; ty <= (c.y + c.h - 1) / TILE_H; ty++)
        for (int tx = c.x / TILE_W; tx <= (c.x + c.w - 1) / TILE_W; tx++) tiles[size_t(ty) * tiles_x_ + tx] = 1;
}

void XShmCapture::mark_damage() {
    if (!damage_ || !damage_waits_) return;
    damage_waits_ = false;
    XDamageSubtract(d_, damage_, None, region_);
    int count = 0;
    XRectangle* rects = XFixesFetchRegion(d_, region_, &count);
    for (int i = 0; i < count; i++)
        mark(Rect{rects[i].x - area_.x, rects[i].y - area_.y, rects[i].width, rects[i].height}, dirty_);
    if (rects) XFree(rects);
}

// Reads one rectangle of the area and takes over the tiles that differ;
// `changed` gets those tiles.
bool XShmCapture::read_rect(const Rect& r, std::vector<uint8_t>& changed) {
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
    bool any = false;
    for (int ty = r.y / TILE_H; ok && ty * TILE_H < r.y + r.h; ty++) {
        for (int tx = r.x / TILE_W; tx * TILE_W < r.x + r.w; tx++) {
            int x0 = tx * TILE_W, x1 = std::min(x0 + TILE_W, r.x + r.w);
            int y0 = ty * TILE_H, y1 = std::min(y0 + TILE_H, r.y + r.h);
            size_t bytes = size_t(x1 - x0) * 4;
            bool differs = false;
            for (int y = y0; y < y1; y++) {
                const char* src = image->data + size_t(y - r.y) * size_t(image->bytes_per_line) + size_t(x0 - r.x) * 4;
                uint32_t* dst = &frame_[size_t(y) * size_t(area_.w) + size_t(x0)];
                if (differs || std::memcmp(dst, src, bytes) != 0) {
                    std::memcpy(dst, src, bytes);
                    differs = true;
                }
            }
            if (differs) changed[size_t(ty) * tiles_x_ + tx] = 1;
            any = any || differs;
        }
    }
    if (use_shm_) image->data = nullptr;
    XDestroyImage(image);
    return any;
}

// Reads every dirty tile, a band of tile rows with the same dirty columns
// at a time, and re-scales what changed.
bool XShmCapture::read_tiles() {
    bool sweep = Clock::now() >= next_sweep_;
    if (sweep) std::fill(dirty_.begin(), dirty_.end(), 1);
    std::vector<uint8_t> changed(dirty_.size(), 0);
    bool any = false;
    int band_start = 0, band_x0 = -1, band_x1 = -1;
    for (int ty = 0; ty <= tiles_y_; ty++) {
        int x0 = -1, x1 = -1;
        for (int tx = 0; ty < tiles_y_ && tx < tiles_x_; tx++) {
            if (!dirty_[size_t(ty) * tiles_x_ + tx]) continue;
            if (x0 < 0) x0 = tx;
            x1 = tx;
        }
        if (ty < tiles_y_ && x0 == band_x0 && x1 == band_x1) continue;
        if (band_x0 >= 0) {
            Rect r{band_x0 * TILE_W, band_start * TILE_H, 0, 0};
            r.w = std::min((band_x1 + 1) * TILE_W, area_.w) - r.x;
            r.h = std::min(ty * TILE_H, area_.h) - r.y;
            any = read_rect(r, changed) || any;
        }
        band_start = ty;
        band_x0 = x0;
        band_x1 = x1;
    }
    std::fill(dirty_.begin(), dirty_.end(), 0);
    if (sweep) next_sweep_ = Clock::now() + (any && !rescale_all_ ? SWEEP_FAST : SWEEP_SLOW);
    if (rescale_all_ || !any) return any;
    // Runs of changed tiles; a run that continues one of the row above with
    // the same columns grows that one, so that shared target rows are
    // scaled once.
    std::vector<Rect> runs;
    size_t row_start = 0;
    for (int ty = 0; ty < tiles_y_; ty++) {
        size_t above = row_start, above_end = runs.size();
        row_start = runs.size();
        for (int tx = 0; tx < tiles_x_; tx++) {
            if (!changed[size_t(ty) * tiles_x_ + tx]) continue;
            int end = tx;
            while (end + 1 < tiles_x_ && changed[size_t(ty) * tiles_x_ + end + 1]) end++;
            Rect r{tx * TILE_W, ty * TILE_H, std::min((end + 1) * TILE_W, area_.w) - tx * TILE_W,
                   std::min((ty + 1) * TILE_H, area_.h) - ty * TILE_H};
            while (above < above_end && runs[above].x < r.x) above++;
            if (above < above_end && runs[above].x == r.x && runs[above].w == r.w) {
                runs[above].h += r.h;
                runs.push_back(runs[above]);  // carried on, so the next row can grow it further
                runs[above].w = 0;
            } else {
                runs.push_back(r);
            }
            tx = end;
        }
    }
    for (const Rect& r : runs)
        if (!r.empty()) scaler_.scale(frame_.data(), area_.w, scaler_.target_of(r), picture_.data());
    return true;
}

void XShmCapture::update_pointer() {
    if (cursor_changed_) {
        cursor_changed_ = false;
        pointer_moved_ = true;
        XFixesCursorImage* image = XFixesGetCursorImage(d_);
        cursor_w_ = cursor_h_ = 0;
        if (image) {
            cursor_w_ = std::min<int>(image->width, 256);
            cursor_h_ = std::min<int>(image->height, 256);
            hot_x_ = image->xhot;
            hot_y_ = image->yhot;
            cursor_.resize(size_t(cursor_w_) * size_t(cursor_h_));
            for (int y = 0; y < cursor_h_; y++)
                for (int x = 0; x < cursor_w_; x++)
                    cursor_[size_t(y) * cursor_w_ + x] = uint32_t(image->pixels[size_t(y) * image->width + x]);
            XFree(image);
        }
    }
    Window root_return, child;
    int x = -1, y = -1, wx, wy;
    unsigned int mask;
    if (!XQueryPointer(d_, root_, &root_return, &child, &x, &y, &wx, &wy, &mask) || x < area_.x || y < area_.y ||
        x >= area_.x + area_.w || y >= area_.y + area_.h)
        x = y = -1;
    if (x != pointer_x_ || y != pointer_y_) pointer_moved_ = true;
    pointer_x_ = x;
    pointer_y_ = y;
}

// The pointer at its own size (a shrunk pointer is hard to see), its hot
// spot where the pointer is in the scaled picture, kept off the bars.
void XShmCapture::draw_pointer(std::vector<uint16_t>& out) const {
    if (pointer_x_ < 0 || cursor_w_ == 0) return;
    const Rect& im = scaler_.image();
    int px = im.x + int(int64_t(pointer_x_ - area_.x) * im.w / area_.w) - hot_x_;
    int py = im.y + int(int64_t(pointer_y_ - area_.y) * im.h / area_.h) - hot_y_;
    for (int y = std::max(0, im.y - py); y < cursor_h_ && py + y < im.y + im.h; y++) {
        for (int x = std::max(0, im.x - px); x < cursor_w_ && px + x < im.x + im.w; x++) {
            uint32_t c = cursor_[size_t(y) * cursor_w_ + x];
            uint32_t a = c >> 24;
            if (a == 0) continue;
            uint16_t& d = out[size_t(py + y) * size_t(out_w_) + size_t(px + x)];
            // Premultiplied: the pointer's colour plus what shows through.
            uint32_t dr = (d >> 10 & 31) << 3, dg = (d >> 5 & 31) << 3, db = (d & 31) << 3;
            uint32_t r = std::min<uint32_t>(255, (c >> 16 & 255) + dr * (255 - a) / 255);
            uint32_t g = std::min<uint32_t>(255, (c >> 8 & 255) + dg * (255 - a) / 255);
            uint32_t b = std::min<uint32_t>(255, (c & 255) + db * (255 - a) / 255);
            d = uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
        }
    }
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
            mark_damage();
            changed = read_tiles();
            if (rescale_all_) {
                out_w_ = width;
                out_h_ = height;
                scaler_.configure(area_.w, area_.h, width, height);
                picture_.assign(size_t(width) * size_t(height), 0);
                scaler_.scale(frame_.data(), area_.w, scaler_.image(), picture_.data());
                rescale_all_ = false;
                changed = true;
            }
            update_pointer();
            changed = changed || pointer_moved_;
            pointer_moved_ = false;
        }
    }
    if (!changed && !force) return false;
    if (picture_.size() == size_t(width) * size_t(height)) {
        out = picture_;
        draw_pointer(out);
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
