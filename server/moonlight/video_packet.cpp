#include "server/moonlight/video_packet.h"

#include <cstring>

#include "server/moonlight/byte_order.h"

namespace qvs {

bool read_video_header(const uint8_t* p, size_t length, VideoPacketHeader* h) {
    if (length < VIDEO_HEADER_SIZE || (p[0] & 0xD0) != 0x90) return false;
    h->sequence = get_be16(p + 2);
    h->timestamp = get_be32(p + 4);
    h->packet_index = get_le32(p + 16) >> 8;
    h->frame = get_le32(p + 20);
    h->flags = p[24];
    h->block = (p[27] >> 4) & 3;
    h->last_block = (p[27] >> 6) & 3;
    uint32_t fec = get_le32(p + 28);
    h->data_shards = int(fec >> 22);
    h->shard = int((fec >> 12) & 0x3FF);
    h->fec_percent = int((fec >> 4) & 0xFF);
    return true;
}

void write_video_header(const VideoPacketHeader& h, uint8_t* p) {
    std::memset(p, 0, VIDEO_HEADER_SIZE);
    p[0] = 0x90;
    put_be16(p + 2, h.sequence);
    put_be32(p + 4, h.timestamp);
    put_le32(p + 16, h.packet_index << 8);
    put_le32(p + 20, h.frame);
    p[24] = h.flags;
    p[26] = 0x10;
    p[27] = uint8_t((h.block & 3) << 4 | (h.last_block & 3) << 6);
    put_le32(p + 28, uint32_t(h.data_shards) << 22 | uint32_t(h.shard & 0x3FF) << 12 | uint32_t(h.fec_percent & 0xFF) << 4);
}

int parity_shards(int data, int percent, int minimum) {
    int parity = (data * percent + 99) / 100;
    return parity < minimum ? minimum : parity;
}

}  // namespace qvs
