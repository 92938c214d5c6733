#include "server/moonlight/input_packet.h"

#include <cstring>

#include "server/moonlight/byte_order.h"

namespace qvs {

namespace {

InputPacket header(uint32_t magic, size_t body) {
    InputPacket p(8 + body, 0);
    put_be32(p.data(), uint32_t(4 + body));
    put_le32(p.data() + 4, magic);
    return p;
}

}  // namespace

InputPacket key_packet(bool down, uint8_t vk, uint8_t modifiers, uint8_t flags) {
    InputPacket p = header(down ? INPUT_KEY_DOWN : INPUT_KEY_UP, 6);
    p[8] = flags;
    put_le16(&p[9], uint16_t(0x8000 | vk));
    p[11] = modifiers;
    return p;
}

InputPacket text_packet(const std::string& utf8) {
    size_t n = utf8.size() < 32 ? utf8.size() : 32;
    InputPacket p = header(INPUT_TEXT, n);
    if (n) std::memcpy(&p[8], utf8.data(), n);
    return p;
}

InputPacket mouse_rel_packet(int16_t dx, int16_t dy) {
    InputPacket p = header(INPUT_MOUSE_REL, 4);
    put_be16(&p[8], uint16_t(dx));
    put_be16(&p[10], uint16_t(dy));
    return p;
}

InputPacket mouse_abs_packet(int16_t x, int16_t y, int16_t ref_width, int16_t ref_height) {
    InputPacket p = header(INPUT_MOUSE_ABS, 10);
    put_be16(&p[8], uint16_t(x));
    put_be16(&p[10], uint16_t(y));
    put_be16(&p[14], uint16_t(ref_width));
    put_be16(&p[16], uint16_t(ref_height));
    return p;
}

InputPacket button_packet(bool down, uint8_t button) {
    InputPacket p = header(down ? INPUT_BUTTON_DOWN : INPUT_BUTTON_UP, 1);
    p[8] = button;
    return p;
}

InputPacket scroll_packet(int16_t amount) {
    InputPacket p = header(INPUT_SCROLL, 6);
    put_be16(&p[8], uint16_t(amount));
    put_be16(&p[10], uint16_t(amount));
    return p;
}

InputPacket controller_packet(const PadState& pad) {
    InputPacket p = header(INPUT_CONTROLLER, 26);
    const uint16_t words[] = {0x1A, pad.number, pad.mask, 0x14, uint16_t(pad.buttons)};
    for (int i = 0; i < 5; i++) put_le16(&p[8 + 2 * i], words[i]);
    p[18] = pad.left_trigger;
    p[19] = pad.right_trigger;
    const int16_t sticks[] = {pad.lx, pad.ly, pad.rx, pad.ry};
    for (int i = 0; i < 4; i++) put_le16(&p[20 + 2 * i], uint16_t(sticks[i]));
    put_le16(&p[28], 0x9C);
    put_le16(&p[30], uint16_t(pad.buttons >> 16));
    put_le16(&p[32], 0x55);
    return p;
}

}  // namespace qvs
