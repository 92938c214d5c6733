// GameStream input packets, carried as the payload of control message
// 0x0206. Every packet starts with
//
//   0  u32 BE  size of the rest (magic and body)
//   4  u32 LE  magic: what kind of event
//
// and the body's byte order differs by kind (see each builder).
#ifndef QV_SERVER_MOONLIGHT_INPUT_PACKET_H
#define QV_SERVER_MOONLIGHT_INPUT_PACKET_H

#include <cstdint>
#include <string>
#include <vector>

namespace qvs {

enum : uint32_t {
    INPUT_KEY_DOWN = 0x03,
    INPUT_KEY_UP = 0x04,
    INPUT_MOUSE_ABS = 0x05,
    INPUT_MOUSE_REL = 0x07,
    INPUT_BUTTON_DOWN = 0x08,
    INPUT_BUTTON_UP = 0x09,
    INPUT_SCROLL = 0x0A,
    INPUT_CONTROLLER = 0x0C,
    INPUT_TEXT = 0x17,
};
enum : uint8_t { MOD_SHIFT = 0x01, MOD_CTRL = 0x02, MOD_ALT = 0x04, MOD_META = 0x08 };
// Key flag: the virtual key is the sender's own layout's, not US-QWERTY's.
const uint8_t KEY_AS_IS = 0x01;

typedef std::vector<uint8_t> InputPacket;

struct PadState {
    uint16_t number = 0, mask = 1;
    uint32_t buttons = 0;   // 0x1000 A, 0x2000 B, 0x4000 X, 0x8000 Y, 0x0100 LB ...
    uint8_t left_trigger = 0, right_trigger = 0;
    int16_t lx = 0, ly = 0, rx = 0, ry = 0;  // sticks, up positive
    bool operator==(const PadState& o) const {
        return number == o.number && mask == o.mask && buttons == o.buttons && left_trigger == o.left_trigger &&
               right_trigger == o.right_trigger && lx == o.lx && ly == o.ly && rx == o.rx && ry == o.ry;
    }
};

// Body: u8 flags, u16 LE 0x8000 | vk, u8 modifiers, u16 0.
InputPacket key_packet(bool down, uint8_t vk, uint8_t modifiers, uint8_t flags);
// Body: UTF-8 bytes (at most 32).
InputPacket text_packet(const std::string& utf8);
// Body: s16 BE dx, s16 BE dy.
InputPacket mouse_rel_packet(int16_t dx, int16_t dy);
// Body: s16 BE x, s16 BE y, u16 0, s16 BE reference width, s16 BE reference height.
InputPacket mouse_abs_packet(int16_t x, int16_t y, int16_t ref_width, int16_t ref_height);
// Body: u8 button (1 left, 2 middle, 3 right, 4 X1, 5 X2).
InputPacket button_packet(bool down, uint8_t button);
// Body: s16 BE amount twice, u16 0; 120 a notch, positive away from the user.
InputPacket scroll_packet(int16_t amount);
// Body, all LE: 0x1A, number, mask, 0x14, buttons low 16, LT, RT, LX, LY,
// RX, RY, 0x9C, buttons high 16, 0x55.
InputPacket controller_packet(const PadState& pad);

}  // namespace qvs

#endif
