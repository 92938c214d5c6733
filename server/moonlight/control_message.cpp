#include "server/moonlight/control_message.h"

#include <cstring>

#include "server/moonlight/byte_order.h"
#include "server/moonlight/stream_cipher.h"

namespace qvs {

namespace {

void control_iv(uint32_t sequence, char direction, uint8_t iv[12]) {
    std::memset(iv, 0, 12);
    put_le32(iv, sequence);
    iv[10] = uint8_t(direction);
    iv[11] = 'C';
}

}  // namespace

std::vector<uint8_t> seal_control(const uint8_t key[16], uint32_t sequence, char direction,
                                  const ControlMessage& message) {
    size_t n = 4 + message.payload.size();
    std::vector<uint8_t> plain(n), out(24 + n);
    put_le16(plain.data(), message.type);
    put_le16(plain.data() + 2, uint16_t(message.payload.size()));
    if (!message.payload.empty()) std::memcpy(plain.data() + 4, message.payload.data(), message.payload.size());
    put_le16(out.data(), CONTROL_ENCRYPTED);
    put_le16(out.data() + 2, uint16_t(20 + n));
    put_le32(out.data() + 4, sequence);
    uint8_t iv[12];
    control_iv(sequence, direction, iv);
    if (!gcm_seal(key, iv, plain.data(), n, out.data() + 24, out.data() + 8)) out.clear();
    return out;
}

bool open_control(const uint8_t key[16], char direction, const uint8_t* data, size_t length, ControlMessage* out) {
    if (length < 28 || length > 24 + CONTROL_MAX_MESSAGE || get_le16(data) != CONTROL_ENCRYPTED ||
        get_le16(data + 2) != length - 4)
        return false;
    size_t n = length - 24;
    uint8_t iv[12], plain[CONTROL_MAX_MESSAGE];
    control_iv(get_le32(data + 4), direction, iv);
    if (!gcm_open(key, iv, data + 24, n, data + 8, plain)) return false;
    uint16_t type = get_le16(plain), size = get_le16(plain + 2);
    if (type == CONTROL_ENCRYPTED || size != n - 4) return false;
    out->type = type;
    out->payload.assign(plain + 4, plain + n);
    return true;
}

}  // namespace qvs
