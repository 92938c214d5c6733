#include "server/moonlight/input_translator.h"

#include "link/wire.h"
#include "server/moonlight/byte_order.h"
#include "server/protocol.h"

namespace qvs {

namespace {

const uint8_t VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12;
const uint8_t VK_LSHIFT = 0xA0, VK_LCONTROL = 0xA2, VK_LMENU = 0xA4, VK_LWIN = 0x5B, VK_RWIN = 0x5C;
const uint16_t SCAN_RSHIFT = 0x36, SCAN_EXTENDED = 0x100;

bool is_modifier(uint8_t vk) { return (vk >= 0xA0 && vk <= 0xA5) || vk == VK_LWIN || vk == VK_RWIN; }

// The client's joystick buttons 1-10 as an XInput pad under Windows names
// them: A B X Y, the shoulders, Back, Start, the stick clicks.
const uint32_t PAD_BUTTONS[10] = {0x1000, 0x2000, 0x4000, 0x8000, 0x0100, 0x0200, 0x0020, 0x0010, 0x0040, 0x0080};
// The hat's eight directions, clockwise from up, as D-pad bits.
const uint32_t PAD_HAT[8] = {0x1, 0x1 | 0x8, 0x8, 0x2 | 0x8, 0x2, 0x2 | 0x4, 0x4, 0x1 | 0x4};

int16_t negate(int16_t v) { return v == -32768 ? 32767 : int16_t(-v); }
uint8_t trigger(int v) { return v > 0 ? uint8_t(v >> 7) : 0; }

}  // namespace

uint8_t InputTranslator::modifiers() const {
    uint8_t m = 0;
    for (uint8_t vk : keys_) {
        if (vk == 0xA0 || vk == 0xA1) m |= MOD_SHIFT;
        if (vk == 0xA2 || vk == 0xA3) m |= MOD_CTRL;
        if (vk == 0xA4 || vk == 0xA5) m |= MOD_ALT;
        if (vk == VK_LWIN || vk == VK_RWIN) m |= MOD_META;
    }
    return m;
}

// Hosts want the left or right modifier, which our client names only by
// its scan code.
void InputTranslator::key(uint8_t vk, uint16_t scan, bool down, std::vector<InputPacket>& out) {
    if (vk == VK_SHIFT) vk = uint8_t(VK_LSHIFT + ((scan & 0xFF) == SCAN_RSHIFT));
    if (vk == VK_CONTROL) vk = uint8_t(VK_LCONTROL + ((scan & SCAN_EXTENDED) != 0));
    if (vk == VK_MENU) vk = uint8_t(VK_LMENU + ((scan & SCAN_EXTENDED) != 0));
    if (vk == 0) return;
    if (down) {
        keys_.insert(vk);
    } else if (!keys_.erase(vk)) {
        return;  // a release of a key the host never saw pressed
    }
    out.push_back(key_packet(down, vk, modifiers(), key_flags_));
}

void InputTranslator::gamepad(const uint8_t* p, std::vector<InputPacket>& out) {
    int16_t axes[6];
    for (int i = 0; i < 6; i++) axes[i] = int16_t(get_le16(p + 2 * i));
    uint32_t buttons = get_le32(p + 12);
    uint16_t hat = get_le16(p + 16);
    PadState pad;
    for (int i = 0; i < 10; i++)
        if (buttons & (1u << i)) pad.buttons |= PAD_BUTTONS[i];
    if (hat <= 36000) pad.buttons |= PAD_HAT[((hat + 2250) / 4500) % 8];
    // X Y the left stick, U R the right one (Windows: down positive), Z
    // both triggers on one axis.
    pad.lx = axes[0];
    pad.ly = negate(axes[1]);
    pad.rx = axes[4];
    pad.ry = negate(axes[3]);
    pad.left_trigger = trigger(axes[2]);
    pad.right_trigger = trigger(-int(axes[2]));
    if (pad_used_ && pad == pad_) return;
    pad_ = pad;
    pad_used_ = true;
    out.push_back(controller_packet(pad));
}

std::vector<InputPacket> InputTranslator::translate(uint8_t type, const uint8_t* p, uint32_t length) {
    std::vector<InputPacket> out;
    switch (type) {
    case MSG_KEY:
        if (length >= 4) key(p[0], get_le16(p + 1), p[3] != 0, out);
        break;
    case MSG_CHAR:
        if (length >= 2 && get_le16(p) >= 0x20) {
            for (uint8_t vk : keys_)
                if (!is_modifier(vk)) return out;
            out.push_back(text_packet(utf8_encode(char32_t(get_le16(p)))));
        }
        break;
    case MSG_MOUSE_POS:
        if (length >= 4 && client_w_ > 0 && client_h_ > 0) {
            int x = get_le16(p) * stream_w_ / client_w_, y = get_le16(p + 2) * stream_h_ / client_h_;
            out.push_back(mouse_abs_packet(int16_t(x < stream_w_ ? x : stream_w_ - 1),
                                           int16_t(y < stream_h_ ? y : stream_h_ - 1), int16_t(stream_w_ - 1),
                                           int16_t(stream_h_ - 1)));
        }
        break;
    case MSG_MOUSE_DELTA:
        if (length >= 4) out.push_back(mouse_rel_packet(int16_t(get_le16(p)), int16_t(get_le16(p + 2))));
        break;
    case MSG_MOUSE_BUTTON:
        // Ours: 1 left, 2 right, 3 middle; the host's: 1 left, 2 middle, 3 right.
        if (length >= 2 && p[0] >= 1 && p[0] <= 5) {
            static const uint8_t HOST_BUTTON[6] = {0, 1, 3, 2, 4, 5};
            uint8_t b = HOST_BUTTON[p[0]];
            bool down = p[1] != 0;
            if (down ? buttons_.insert(b).second : buttons_.erase(b) > 0) out.push_back(button_packet(down, b));
        }
        break;
    case MSG_MOUSE_WHEEL:
        if (length >= 2) out.push_back(scroll_packet(int16_t(get_le16(p))));
        break;
    case MSG_GAMEPAD:
        if (length >= 18) gamepad(p, out);
        break;
    default:
        break;
    }
    return out;
}

std::vector<InputPacket> InputTranslator::release_all() {
    std::vector<InputPacket> out;
    for (uint8_t b : buttons_) out.push_back(button_packet(false, b));
    buttons_.clear();
    // Ordinary keys first, so that no modifier combination fires on the way.
    std::vector<uint8_t> order;
    for (uint8_t vk : keys_)
        if (!is_modifier(vk)) order.push_back(vk);
    for (uint8_t vk : keys_)
        if (is_modifier(vk)) order.push_back(vk);
    for (uint8_t vk : order) {
        keys_.erase(vk);
        out.push_back(key_packet(false, vk, modifiers(), key_flags_));
    }
    if (pad_used_ && !(pad_ == PadState())) {
        pad_ = PadState();
        out.push_back(controller_packet(pad_));
    }
    return out;
}

}  // namespace qvs
