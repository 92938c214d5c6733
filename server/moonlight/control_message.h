// Messages of the GameStream control stream (ENet). Inside, a message is
//
//   0  u16 LE  type
//   2  u16 LE  payload length
//   4  ...     payload
//
// and on the wire every one travels sealed in the encrypted envelope:
//
//   0  u16 LE  0x0001
//   2  u16 LE  length of what follows = 4 + 16 + ciphertext
//   4  u32 LE  sequence number, per direction from 0
//   8  16      AES-128-GCM tag
//  24  ...     ciphertext of the inner message
//
// The IV is the sequence number as LE u32, six zero bytes, then the
// direction ('C' client to host, 'H' host to client) and 'C'.
#ifndef QV_SERVER_MOONLIGHT_CONTROL_MESSAGE_H
#define QV_SERVER_MOONLIGHT_CONTROL_MESSAGE_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvs {

enum : uint16_t {
    CONTROL_ENCRYPTED = 0x0001,
    CONTROL_TERMINATION = 0x0109,  // u32 BE reason; 0x80030023: the app ended
    CONTROL_TERMINATION_SHORT = 0x0100,
    CONTROL_PING = 0x0200,
    CONTROL_INPUT = 0x0206,
    CONTROL_REQUEST_IDR = 0x0302,
    CONTROL_START_B = 0x0307,
};
const uint32_t TERMINATION_GRACEFUL = 0x80030023;
// Larger messages are refused: the longest real one is a text input packet.
const size_t CONTROL_MAX_MESSAGE = 256;

struct ControlMessage {
    uint16_t type = 0;
    std::vector<uint8_t> payload;
};

// The envelope for one message. direction: 'C' or 'H'.
std::vector<uint8_t> seal_control(const uint8_t key[16], uint32_t sequence, char direction,
                                  const ControlMessage& message);
// Opens an envelope sealed by `direction`; false for anything else (not
// encrypted, a bad length or tag, an inner message that is itself an envelope).
bool open_control(const uint8_t key[16], char direction, const uint8_t* data, size_t length, ControlMessage* out);

}  // namespace qvs

#endif
