// The datagrams of a GameStream video stream, host to client. Each is
// packetSize + 16 bytes (the last data shard of a frame zero-padded):
//
//   0  u8      0x90 (RTP v2 with the extension bit)
//   1  u8      payload type (0)
//   2  u16 BE  sequence number, data and parity alike
//   4  u32 BE  timestamp, 90 kHz
//   8  u32 BE  SSRC (0)
//  12  4       extension placeholder (zeros)
//  16  u32 LE  stream packet index << 8
//  20  u32 LE  frame number, from 1
//  24  u8      flags: 0x01 picture data, 0x02 last data shard of the FEC
//              block, 0x04 first data shard of the FEC block
//  25  u8      extra flags (0)
//  26  u8      multi-FEC flags (0x10)
//  27  u8      FEC block: bits 4-5 its index in the frame, bits 6-7 the last index
//  28  u32 LE  FEC info: bits 22-31 data shards of the block, 12-21 this
//              shard's index (data first, then parity), 4-11 FEC percentage
//  32  ...     payload: a slice of the frame (an 8-byte frame header, then
//              the H.264 access unit in Annex-B form)
//
// Reed-Solomon parity covers whole datagrams, but a host fills in the RTP
// fields, the frame number, the FEC block byte and FEC info after computing
// it, so only flags, packet index and payload of a rebuilt shard are sound.
#ifndef QV_SERVER_MOONLIGHT_VIDEO_PACKET_H
#define QV_SERVER_MOONLIGHT_VIDEO_PACKET_H

#include <cstddef>
#include <cstdint>

namespace qvs {

const size_t VIDEO_HEADER_SIZE = 32;
const size_t VIDEO_FRAME_HEADER_SIZE = 8;
enum : uint8_t { VIDEO_PIC_DATA = 0x01, VIDEO_EOF = 0x02, VIDEO_SOF = 0x04 };
enum : uint8_t { FRAME_TYPE_P = 1, FRAME_TYPE_IDR = 2 };

struct VideoPacketHeader {
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t packet_index = 0;  // stream packet index (without the << 8)
    uint32_t frame = 0;
    uint8_t flags = 0;
    int block = 0, last_block = 0;
    int data_shards = 0, shard = 0, fec_percent = 0;
};

// False when the datagram is too short or not RTP version 2 with the extension bit.
bool read_video_header(const uint8_t* packet, size_t length, VideoPacketHeader* out);
// Writes all 32 header bytes.
void write_video_header(const VideoPacketHeader& h, uint8_t* packet);

// Parity shards for a block of `data` shards at `percent` with at least
// `minimum`: ceil(data * percent / 100), raised to the minimum.
int parity_shards(int data, int percent, int minimum);

}  // namespace qvs

#endif
