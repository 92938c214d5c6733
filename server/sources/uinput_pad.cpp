// The virtual gamepad on /dev/uinput.
#include "server/sources/uinput_pad.h"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "server/log.h"

namespace qvs {

namespace {

// The client's axes in wire order: X, Y, Z, R (rudder), U, V.
const int AXES[6] = {ABS_X, ABS_Y, ABS_Z, ABS_RZ, ABS_RX, ABS_RY};

// Button n+1 of the client: the first 16 are the joystick buttons, the
// rest the kernel's extra trigger buttons.
int button_code(int n) { return n < 16 ? BTN_JOYSTICK + n : BTN_TRIGGER_HAPPY1 + (n - 16); }

}  // namespace

UinputPad::~UinputPad() {
    if (fd_ < 0) return;
    ioctl(fd_, UI_DEV_DESTROY);
    close(fd_);
}

bool UinputPad::open_device() {
    tried_ = true;
    fd_ = ::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        // Once for the whole server: every client's pad would say the same.
        static std::atomic<bool> told(false);
        if (!told.exchange(true)) log_line("gamepad input is ignored: /dev/uinput: %s", std::strerror(errno));
        return false;
    }
    uinput_user_dev dev;
    std::memset(&dev, 0, sizeof dev);
    std::strncpy(dev.name, "Quorvane gamepad", sizeof dev.name - 1);
    dev.id.bustype = BUS_VIRTUAL;
    dev.id.vendor = 0x5156;  // "QV"
    dev.id.product = 0x0098;
    dev.id.version = 1;
    bool ok = ioctl(fd_, UI_SET_EVBIT, EV_KEY) == 0 && ioctl(fd_, UI_SET_EVBIT, EV_ABS) == 0 &&
              ioctl(fd_, UI_SET_EVBIT, EV_SYN) == 0;
    for (int n = 0; n < 32 && ok; n++) ok = ioctl(fd_, UI_SET_KEYBIT, button_code(n)) == 0;
    for (int axis : AXES) {
        ok = ok && ioctl(fd_, UI_SET_ABSBIT, axis) == 0;
        dev.absmin[axis] = -32768;
        dev.absmax[axis] = 32767;
    }
    for (int axis : {ABS_HAT0X, ABS_HAT0Y}) {
        ok = ok && ioctl(fd_, UI_SET_ABSBIT, axis) == 0;
        dev.absmin[axis] = -1;
        dev.absmax[axis] = 1;
    }
    ok = ok && write(fd_, &dev, sizeof dev) == ssize_t(sizeof dev) && ioctl(fd_, UI_DEV_CREATE) == 0;
    if (!ok) {
        log_line("gamepad input is ignored: the uinput device could not be made: %s", std::strerror(errno));
        close(fd_);
        fd_ = -1;
    }
    return ok;
}

void UinputPad::emit(int type, int code, int value) {
    input_event ev;
    std::memset(&ev, 0, sizeof ev);
    ev.type = uint16_t(type);
    ev.code = uint16_t(code);
    ev.value = value;
    if (write(fd_, &ev, sizeof ev) < 0) return;  // a full queue drops the event; the next state mends it
}

void UinputPad::apply(const int16_t* axes, uint32_t buttons, uint16_t hat) {
    for (int i = 0; i < 6; i++) {
        if (axes[i] != axes_[i]) emit(EV_ABS, AXES[i], axes[i]);
        axes_[i] = axes[i];
    }
    for (int n = 0; n < 32; n++) {
        uint32_t bit = 1u << n;
        if ((buttons ^ buttons_) & bit) emit(EV_KEY, button_code(n), (buttons & bit) ? 1 : 0);
    }
    buttons_ = buttons;
    // The hat in hundredths of a degree clockwise from forward, to one of
    // eight directions; above 36000 it rests.
    static const int DX[8] = {0, 1, 1, 1, 0, -1, -1, -1}, DY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};
    int hx = 0, hy = 0;
    if (hat <= 36000) {
        int octant = ((hat + 2250) / 4500) % 8;
        hx = DX[octant];
        hy = DY[octant];
    }
    if (hx != hat_x_) emit(EV_ABS, ABS_HAT0X, hx);
    if (hy != hat_y_) emit(EV_ABS, ABS_HAT0Y, hy);
    hat_x_ = hx;
    hat_y_ = hy;
    emit(EV_SYN, SYN_REPORT, 0);
}

void UinputPad::update(const uint8_t* p) {
    if (fd_ < 0 && (tried_ || !open_device())) return;
    int16_t axes[6];
    for (int i = 0; i < 6; i++) axes[i] = int16_t(p[2 * i] | p[2 * i + 1] << 8);
    uint32_t buttons = uint32_t(p[12]) | uint32_t(p[13]) << 8 | uint32_t(p[14]) << 16 | uint32_t(p[15]) << 24;
    apply(axes, buttons, uint16_t(p[16] | p[17] << 8));
}

void UinputPad::neutral() {
    if (fd_ < 0) return;
    const int16_t centre[6] = {0, 0, 0, 0, 0, 0};
    apply(centre, 0, 0xFFFF);
}

}  // namespace qvs
