#include "server/moonlight/frame_assembler.h"

#include <cstring>

#include "server/moonlight/reed_solomon.h"

namespace qvs {

void FrameAssembler::start_block(const VideoPacketHeader& h, int parity, size_t length) {
    block_size_ = length;
    block_ = h.block;
    last_block_ = h.last_block;
    data_ = h.data_shards;
    parity_ = parity;
    percent_ = h.fec_percent;
    block_done_ = false;
    shards_.assign(size_t(data_ + parity_) * block_size_, 0);
    present_.assign(size_t(data_ + parity_), 0);
    data_seen_ = parity_seen_ = 0;
}

bool FrameAssembler::complete_block() {
    if (data_seen_ < data_) {
        if (data_seen_ + parity_seen_ < data_) return false;
        std::vector<uint8_t*> rows(size_t(data_ + parity_));
        for (size_t i = 0; i < rows.size(); i++) rows[i] = &shards_[i * block_size_];
        if (!ReedSolomon(data_, parity_).recover(rows.data(), present_.data(), block_size_)) return false;
        recovered_ += data_ - data_seen_;
    }
    block_done_ = true;
    for (int i = 0; i < data_; i++) {
        const uint8_t* shard = &shards_[size_t(i) * block_size_];
        payload_.insert(payload_.end(), shard + VIDEO_HEADER_SIZE, shard + block_size_);
    }
    return true;
}

// The frame header: type 0x01 is 8 bytes with the frame type in byte 3.
bool FrameAssembler::finish_frame() {
    done_frame_ = frame_;
    frame_ = 0;
    if (payload_.size() < VIDEO_FRAME_HEADER_SIZE || payload_[0] != 0x01) return false;
    type_ = payload_[3];
    unit_.assign(payload_.begin() + VIDEO_FRAME_HEADER_SIZE, payload_.end());
    return true;
}

FrameAssembler::Outcome FrameAssembler::add(const uint8_t* datagram, size_t length) {
    Outcome out;
    VideoPacketHeader h;
    if (length > shard_size_ || !read_video_header(datagram, length, &h) || h.frame <= done_frame_) return out;
    int parity = parity_shards(h.data_shards, h.fec_percent, 0);
    if (h.data_shards < 1 || h.data_shards + parity > 255 || h.shard >= h.data_shards + parity) return out;
    if (h.frame != frame_) {
        // Frames in between never came, or the one we had stayed incomplete.
        out.lost = frame_ != 0 || h.frame != done_frame_ + 1;
        frame_ = h.frame;
        broken_ = false;
        block_ = -1;
        payload_.clear();
    }
    if (broken_ || h.block < block_) return out;
    if (h.block != block_) {
        if ((block_ >= 0 && !block_done_) || h.block != block_ + 1) {
            broken_ = out.lost = true;
            return out;
        }
        start_block(h, parity, length);
    }
    if (block_done_ || h.data_shards != data_ || parity != parity_ || h.last_block != last_block_ ||
        length > block_size_ || present_[size_t(h.shard)])
        return out;
    std::memcpy(&shards_[size_t(h.shard) * block_size_], datagram, length);
    present_[size_t(h.shard)] = 1;
    (h.shard < data_ ? data_seen_ : parity_seen_)++;
    if (!complete_block() || block_ != last_block_) return out;
    out.frame = finish_frame();
    out.lost = out.lost || !out.frame;
    return out;
}

}  // namespace qvs
