// Reading and writing integers of either byte order: GameStream mixes them
// within one packet.
#ifndef QV_SERVER_MOONLIGHT_BYTE_ORDER_H
#define QV_SERVER_MOONLIGHT_BYTE_ORDER_H

#include <cstdint>

namespace qvs {

inline uint16_t get_be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t get_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t get_le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t get_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void put_be16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void put_be32(uint8_t* p, uint32_t v) {
    put_be16(p, uint16_t(v >> 16));
    put_be16(p + 2, uint16_t(v));
}
inline void put_le16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put_le32(uint8_t* p, uint32_t v) {
    put_le16(p, uint16_t(v));
    put_le16(p + 2, uint16_t(v >> 16));
}

}  // namespace qvs

#endif
