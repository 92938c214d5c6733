// Puts the video datagrams of a GameStream host back together into whole
// frames: each frame is one to four FEC blocks of data shards and parity
// shards; a block is complete when all its data shards came, or when enough
// shards came to rebuild the missing ones. A frame with a block that cannot
// be completed is dropped whole and reported lost, so that the decoder is
// never given part of a frame.
#ifndef QV_SERVER_MOONLIGHT_FRAME_ASSEMBLER_H
#define QV_SERVER_MOONLIGHT_FRAME_ASSEMBLER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/moonlight/video_packet.h"

namespace qvs {

class FrameAssembler {
public:
    // datagram_size: packetSize + 16 as we asked for it, the largest shard
    // taken. A host may choose smaller ones: the first shard of a block that
    // arrives sets the block's size, shorter ones are padded with zeros.
    explicit FrameAssembler(size_t datagram_size) : shard_size_(datagram_size) {}

    struct Outcome {
        bool frame = false;  // a frame was completed: frame(), frame_type()
        bool lost = false;   // a frame was found incomplete or missing
    };
    Outcome add(const uint8_t* datagram, size_t length);

    // The last completed frame: its access unit (without the frame header),
    // its number, its type (FRAME_TYPE_IDR for an IDR frame).
    const std::vector<uint8_t>& frame() const { return unit_; }
    uint32_t frame_number() const { return done_frame_; }
    uint8_t frame_type() const { return type_; }
    int recovered_shards() const { return recovered_; }

private:
    void start_block(const VideoPacketHeader& h, int parity, size_t length);
    bool complete_block();  // true when the block is (now) complete
    bool finish_frame();

    size_t shard_size_;
    size_t block_size_ = 0;  // the current block's shard size
    uint32_t frame_ = 0;       // frame being assembled, 0: none
    uint32_t done_frame_ = 0;  // last frame completed or given up
    bool broken_ = false;      // the current frame cannot be completed
    int block_ = -1, last_block_ = 0, data_ = 0, parity_ = 0, percent_ = 0;
    bool block_done_ = false;
    std::vector<uint8_t> shards_;
    std::vector<uint8_t> present_;  // per shard: 1 when it came
    int data_seen_ = 0, parity_seen_ = 0;
    std::vector<uint8_t> payload_;  // data of the frame's completed blocks
    std::vector<uint8_t> unit_;
    uint8_t type_ = 0;
    int recovered_ = 0;
};

}  // namespace qvs

#endif
