// XInput on XTest and XKB: the keyboard here, typing characters with the
// keymap's help (XKeymap), the mouse in XMouse.
//
// A Windows key press arrives as Key(press), then Char when the key made a
// character, then Key(release). Keys that never make a character (Enter,
// arrows, F-keys, modifiers) are pressed at once, by scan code. A key that
// may make one waits for what follows:
//  - its Char: when that key already makes this character under the X
//    server's modifiers (the usual case) it is pressed and held like a real
//    key, so games see it held; otherwise the character alone is typed
//    with just the modifiers it needs, on a key of the X keymap or on a
//    spare keycode bound to it for the moment;
//  - no Char: with Ctrl or Alt held it was a shortcut (Ctrl+C), pressed
//    by its letter; without, a dead key, which types nothing by itself.
// AltGr on Windows is a left Ctrl press followed at once by a right Alt
// press. The left Ctrl press is therefore held back until the next message
// shows it is not AltGr, and with AltGr neither key reaches X: the
// characters it makes then arrive as themselves, not as Ctrl+Alt+key.
// A key held in X repeats as the X server's own settings say.
#include "server/sources/x_input.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <map>
#include <vector>

#include "link/wire.h"
#include "server/sources/uinput_pad.h"
#include "server/sources/x_display.h"
#include "server/sources/x_keymap.h"
#include "server/sources/x_mouse.h"

namespace qvs {

namespace {

const uint16_t SCAN_LCTRL = 0x1D, SCAN_RCTRL = 0x11D, SCAN_LALT = 0x38, SCAN_RALT = 0x138;
const uint8_t VK_CONTROL = 0x11, VK_PAUSE = 0x13, VK_NUMLOCK = 0x90;

// Virtual keys that never make a character.
bool is_command_key(uint8_t vk) {
    return vk == 0x08 || vk == 0x09 || vk == 0x0C || vk == 0x0D || (vk >= 0x10 && vk <= 0x14) || vk == 0x1B ||
           (vk >= 0x21 && vk <= 0x2F) || (vk >= 0x5B && vk <= 0x5D) || (vk >= 0x70 && vk <= 0x87) || vk == 0x90 ||
           vk == 0x91 || (vk >= 0xA0 && vk <= 0xA5);
}

// The X keycode of a set-1 scan code (bit 8: extended) on an evdev keymap,
// where keycodes are the Linux key numbers plus 8; 0 when unknown.
unsigned scan_to_keycode(uint8_t vk, uint16_t scan) {
    static const uint16_t EXTENDED[][2] = {
        {0x1C, 96},  {0x1D, 97},  {0x35, 98},  {0x37, 99},  {0x38, 100}, {0x45, 69},  {0x46, 119},
        {0x47, 102}, {0x48, 103}, {0x49, 104}, {0x4B, 105}, {0x4D, 106}, {0x4F, 107}, {0x50, 108},
        {0x51, 109}, {0x52, 110}, {0x53, 111}, {0x5B, 125}, {0x5C, 126}, {0x5D, 127}};
    if (vk == VK_PAUSE) return 119 + 8;
    if (vk == VK_NUMLOCK) return 69 + 8;
    unsigned code = scan & 0xFF;
    if (!(scan & 0x100)) return code >= 1 && code <= 0x58 ? code + 8 : 0;
    for (const auto& e : EXTENDED)
        if (e[0] == code) return e[1] + 8u;
    return 0;
}

class XTestInput : public XInput {
public:
    XTestInput(const std::string& display, PointMap map, std::string* error)
        : conn_(display, error), d_(conn_.display()), mouse_(std::move(map)) {}
    ~XTestInput() override;
    bool start(std::string* error);

    void handle(uint8_t type, const uint8_t* payload, uint32_t length) override;
    void release_all() override;

private:
    bool usable() const { return d_ && !conn_.lost(); }
    void read_events();
    void key(uint8_t vk, uint16_t scan, bool down);
    void character(uint16_t code);
    void flush_ctrl();
    void settle_pending();
    void press(unsigned keycode, bool down) { XTestFakeKeyEvent(d_, keycode, down ? True : False, 0); }
    void type_keysyms(const std::vector<KeySym>& syms);
    void tap_with_mods(unsigned keycode, unsigned mods);
    bool x_repeats(unsigned keycode) const;

    XConnection conn_;
    Display* d_;
    XKeymap keymap_;
    bool keymap_stale_ = false;
    int xkb_event_ = 0;
    XKeyboardState keyboard_{};  // the display's key repeat settings

    // Keys: what each key the client holds (by scan code) holds in X: a
    // keycode, or 0 when it holds nothing there (typed, dead, AltGr).
    std::map<uint16_t, unsigned> held_;
    bool ctrl_waiting_ = false;   // left Ctrl down, not yet sent: AltGr may follow
    bool altgr_ = false;
    bool pending_ = false;        // a key that may still make a character
    uint8_t pending_vk_ = 0;
    uint16_t pending_scan_ = 0;

    XMouse mouse_;
    UinputPad pad_;
};

bool XTestInput::start(std::string* error) {
    if (!d_) return false;
    int event_base, error_base, major, minor;
    if (!XTestQueryExtension(d_, &event_base, &error_base, &major, &minor)) {
        *error = "the X display has no XTest";
        return false;
    }
    int opcode, xkb_error;
    major = XkbMajorVersion;
    minor = XkbMinorVersion;
    if (!XkbQueryExtension(d_, &opcode, &xkb_event_, &xkb_error, &major, &minor)) {
        *error = "the X display has no XKB";
        return false;
    }
    XTestGrabControl(d_, True);  // input goes on while another client grabs the server
    XGetKeyboardControl(d_, &keyboard_);
    XkbSelectEvents(d_, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                    XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
    if (!keymap_.start(d_)) {
        *error = "cannot read the X keymap";
        return false;
    }
    return true;
}

XTestInput::~XTestInput() {
    if (usable()) {
        release_all();
        XSync(d_, False);
    }
}

void XTestInput::read_events() {
    while (usable() && XPending(d_)) {
        XEvent ev;
        XNextEvent(d_, &ev);
        if (ev.type == xkb_event_) keymap_stale_ = true;
    }
}

// Presses `keycode` once with exactly the modifiers `mods` of the held
// ones: held modifier keys outside `mods` are let go for the moment, and
// missing ones pressed for it.
void XTestInput::tap_with_mods(unsigned keycode, unsigned mods) {
    std::vector<unsigned> lifted, added;
    unsigned still = 0;
    for (const auto& h : held_) {
        unsigned bits = h.second ? keymap_.modifiers_of(h.second) : 0;
        if (bits & ~mods) {
            press(h.second, false);
            lifted.push_back(h.second);
        } else {
            still |= bits;
        }
    }
    for (int bit = 0; bit < 8; bit++) {
        unsigned kc = (mods & ~still & (1u << bit)) ? keymap_.modifier_key(bit) : 0;
        if (kc) {
            press(kc, true);
            added.push_back(kc);
        }
    }
    press(keycode, true);
    press(keycode, false);
    for (auto it = added.rbegin(); it != added.rend(); ++it) press(*it, false);
    for (unsigned kc : lifted) press(kc, true);
}

// Types one character: from a key of the keymap, else from a spare
// keycode.
void XTestInput::type_keysyms(const std::vector<KeySym>& syms) {
    XkbStateRec state;
    XkbGetState(d_, XkbUseCoreKbd, &state);
    unsigned kc = 0, mods = 0;
    if (keymap_.find(syms, state, &kc, &mods)) {
        tap_with_mods(kc, mods);
        return;
    }
    unsigned spare = keymap_.spare_for(d_, syms.back());
    if (spare) tap_with_mods(spare, 0);
}

// Whether the X server repeats `keycode` by itself while it is held; the
// client's repeated presses of such a key are then dropped, or every held
// key would repeat twice as fast.
bool XTestInput::x_repeats(unsigned keycode) const {
    return keyboard_.global_auto_repeat == AutoRepeatModeOn && keycode < 256 &&
           (keyboard_.auto_repeats[keycode / 8] >> (keycode % 8) & 1);
}

// The held-back left Ctrl turned out to be a Ctrl of its own.
void XTestInput::flush_ctrl() {
    if (!ctrl_waiting_) return;
    ctrl_waiting_ = false;
    unsigned kc = scan_to_keycode(VK_CONTROL, SCAN_LCTRL);
    press(kc, true);
    held_[SCAN_LCTRL] = kc;
}

// The pending key made no character.
void XTestInput::settle_pending() {
    if (!pending_) return;
    pending_ = false;
    auto holds = [this](uint16_t scan) {
        auto it = held_.find(scan);
        return it != held_.end() && it->second != 0;
    };
    bool shortcut = !altgr_ && (holds(SCAN_LCTRL) || holds(SCAN_RCTRL) || holds(SCAN_LALT) || holds(SCAN_RALT));
    unsigned kc = 0;
    if (shortcut) {
        // By its letter or digit, so that Ctrl+C is Ctrl+C on any layout.
        uint8_t vk = pending_vk_;
        if (vk >= 'A' && vk <= 'Z') kc = XKeysymToKeycode(d_, XK_a + (vk - 'A'));
        if (vk >= '0' && vk <= '9') kc = XKeysymToKeycode(d_, XK_0 + (vk - '0'));
        if (!kc) kc = scan_to_keycode(vk, pending_scan_);
        if (kc) press(kc, true);
    }
    held_[pending_scan_] = kc;
}

void XTestInput::key(uint8_t vk, uint16_t scan, bool down) {
    if (down) {
        if (scan == SCAN_RALT && (ctrl_waiting_ || held_.count(SCAN_LCTRL))) {
            // AltGr: the left Ctrl it brought does not reach X either.
            auto ctrl = held_.find(SCAN_LCTRL);
            if (ctrl != held_.end() && ctrl->second) press(ctrl->second, false);
            if (ctrl_waiting_ || ctrl != held_.end()) held_[SCAN_LCTRL] = 0;
            ctrl_waiting_ = false;
            altgr_ = true;
            held_[SCAN_RALT] = 0;
            return;
        }
        flush_ctrl();
        settle_pending();
        if (scan == SCAN_LCTRL && vk == VK_CONTROL && !held_.count(SCAN_LCTRL)) {
            ctrl_waiting_ = true;
            return;
        }
        if (is_command_key(vk)) {
            auto it = held_.find(scan);
            bool modifier = (vk >= 0x10 && vk <= 0x12) || (vk >= 0xA0 && vk <= 0xA5) || vk == 0x5B || vk == 0x5C;
            if (it != held_.end() && (modifier || it->second == 0 || x_repeats(it->second))) return;
            unsigned kc = scan_to_keycode(vk, scan);
            if (kc) press(kc, true);  // again while held: a repeat
            held_[scan] = kc;
            return;
        }
        pending_ = true;
        pending_vk_ = vk;
        pending_scan_ = scan;
        return;
    }
    if (pending_ && pending_scan_ == scan) settle_pending();
    if (scan == SCAN_LCTRL && ctrl_waiting_) {  // Ctrl pressed and let go alone
        flush_ctrl();
        press(held_[SCAN_LCTRL], false);
        held_.erase(SCAN_LCTRL);
        return;
    }
    if (scan == SCAN_RALT) altgr_ = false;
    auto it = held_.find(scan);
    if (it == held_.end()) return;
    if (it->second) press(it->second, false);
    held_.erase(it);
}

void XTestInput::character(uint16_t code) {
    std::vector<KeySym> syms = keysyms_for(code);
    if (syms.empty()) return;
    flush_ctrl();
    if (keymap_stale_) {
        keymap_.load(d_);
        keymap_stale_ = false;
    }
    if (!keymap_.loaded()) return;
    if (pending_) {
        pending_ = false;
        auto it = held_.find(pending_scan_);
        if (it != held_.end() && it->second) {  // the client repeats a key held in X
            if (!x_repeats(it->second)) press(it->second, true);
            return;
        }
        unsigned kc = scan_to_keycode(pending_vk_, pending_scan_);
        XkbStateRec state;
        XkbGetState(d_, XkbUseCoreKbd, &state);
        if (kc && !altgr_ && keymap_.makes(kc, syms, state.mods, state.group)) {
            press(kc, true);
            held_[pending_scan_] = kc;
            return;
        }
        held_[pending_scan_] = 0;
    }
    type_keysyms(syms);
}

void XTestInput::handle(uint8_t type, const uint8_t* p, uint32_t length) {
    if (!usable()) return;
    read_events();
    if (type != MSG_CHAR && type != MSG_KEY) flush_ctrl();
    switch (type) {
    case MSG_KEY:
        if (length >= 4) key(p[0], uint16_t(p[1] | p[2] << 8), p[3] != 0);
        break;
    case MSG_CHAR:
        if (length >= 2) character(uint16_t(p[0] | p[1] << 8));
        break;
    case MSG_MOUSE_POS:
    case MSG_MOUSE_DELTA:
    case MSG_MOUSE_BUTTON:
    case MSG_MOUSE_WHEEL:
        mouse_.handle(d_, type, p, length);
        break;
    case MSG_GAMEPAD:
        if (length >= 18) pad_.update(p);
        break;
    default:
        break;
    }
    keymap_.restore_spares(d_, false);
    XFlush(d_);
}

void XTestInput::release_all() {
    pad_.neutral();
    if (!usable()) return;
    ctrl_waiting_ = pending_ = altgr_ = false;
    for (auto it = held_.rbegin(); it != held_.rend(); ++it)
        if (it->second) press(it->second, false);
    held_.clear();
    mouse_.release(d_);
    keymap_.restore_spares(d_, true);
    XFlush(d_);
}

}  // namespace

std::unique_ptr<XInput> XInput::open(const std::string& display, PointMap map, std::string* error) {
    std::unique_ptr<XTestInput> input(new XTestInput(display, std::move(map), error));
    if (!input->start(error)) return nullptr;
    return input;
}

}  // namespace qvs
