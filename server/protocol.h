// The top of server/ is the ground every room stands on: the log, the configuration and, here, the wire protocol.
//
// The server's side of the framed wire protocol: building the messages the
// client reads and reading the ones it sends.
//
//   header   u32 LE length of the payload, u8 type
//   payload  length bytes, laid out per type; all integers little-endian,
//            all texts UTF-8 without terminator
//
// Message type numbers and sizes come from the client's own link/wire.h, so
// both ends share one definition.
#ifndef QV_SERVER_PROTOCOL_H
#define QV_SERVER_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/wire.h"

namespace qvs {

typedef std::vector<uint8_t> Bytes;

// Largest payload the server accepts from a client. Client messages are
// tiny (the Hello is 80 bytes, a WebAddress at most 510); anything far
// larger is a broken or hostile peer and ends the connection.
const uint32_t CLIENT_PAYLOAD_LIMIT = 4096;

void append_u16(Bytes& out, uint16_t value);
void append_u32(Bytes& out, uint32_t value);
uint16_t read_u16(const uint8_t* p);
uint32_t read_u32(const uint8_t* p);

// A whole framed message: header and payload.
Bytes frame_message(uint8_t type, const uint8_t* payload, size_t length);
inline Bytes frame_message(uint8_t type, const Bytes& payload) {
    return frame_message(type, payload.data(), payload.size());
}

// Cuts a UTF-8 text to at most `limit` bytes without splitting a character.
std::string utf8_cut(const std::string& text, size_t limit);

// One row of the menu.
struct MenuItem {
    uint16_t id;
    uint8_t kind;       // 0 program, 1 whole screen, 2 window, 3 web, 4 game stream
    std::string name;   // UTF-8
};

// StreamSetup: picture size, sound format (rate 0: none) and a status text
// of at most 32 bytes (cut at a character boundary, zero-padded).
Bytes make_stream_setup(uint16_t width, uint16_t height, int32_t sample_rate,
                        uint8_t channels, const std::string& text);
Bytes make_app_list(const std::vector<MenuItem>& items);
Bytes make_stream_state(uint8_t mode, uint8_t pointer_mode, uint8_t kind);
// slot 1 web address, 3 title, 4 PIN, anything else the status line.
Bytes make_server_text(uint8_t slot, const std::string& text);
Bytes make_pong(const uint8_t value[4]);
Bytes make_audio(const int16_t* samples, size_t count);

// The client's greeting.
struct Hello {
    uint16_t width = 0, height = 0;
    uint8_t fps = 0;
    uint32_t sample_rate = 0;   // 0: no sound wanted
    uint8_t channels = 0;
    std::string name, key;      // UTF-8, up to the first zero byte
};
// 1 when the payload is a Hello of this protocol ("QV98", at least 80 bytes).
int parse_hello(const uint8_t* payload, size_t length, Hello* out);

// Decodes UTF-8 into code points; malformed bytes become U+FFFD.
std::u32string utf8_decode(const std::string& text);
std::string utf8_encode(char32_t code);

}  // namespace qvs

#endif
