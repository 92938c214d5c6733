// Paces one client's video by how fast frames get through: the time from a
// frame's hand-over to the socket to its FrameAck (or from the previous
// FrameAck, when link and client were still busy with that frame) is the
// frame's cost, its transfer and decoding together. A client or link slower
// than the rate asked for gets frames at the rate it manages, so that
// pictures never queue up in front of it.
//
// With automatic quality, frames may keep link and client busy only half of
// the time, so that a Ping or the echo of a key finds no queue of pictures
// in front of it: the quality falls until the frames' cost (and the
// encoder's own time) fits that share of the asked interval, and rises
// again while there is room. Where even the lowest quality does not fit,
// fewer frames go out.
#ifndef QV_SERVER_FRAME_PACER_H
#define QV_SERVER_FRAME_PACER_H

#include <cstdint>
#include <deque>
#include <vector>

namespace qvs {

// EncoderOptions-style quality value meaning "chosen by the pacer".
const int QUALITY_AUTO = 0;

class FramePacer {
public:
    // fps: the rate asked for (1..60). quality: the encoder's quality 1..100,
    // or QUALITY_AUTO to start at the default lossy quality and adapt.
    FramePacer(int fps, int quality);

    // Frame `id` was handed to the socket at `now_us`, after the encoder
    // spent `encode_us` on it.
    void sent(uint32_t id, int64_t now_us, int64_t encode_us = 0);
    // FrameAck `id` arrived at `now_us`; it covers every frame before it.
    void acked(uint32_t id, int64_t now_us);

    // Time between two frames now, at least that of the asked rate.
    int64_t interval_us() const { return interval_us_; }
    // The quality to encode the next frame with.
    int quality() const { return quality_; }
    // A frame's cost (transfer and decoding) as learnt so far; 0 before any.
    double decode_us() const { return decode_us_; }

    // Automatic quality stays within these.
    static constexpr int LOWEST_QUALITY = 1, HIGHEST_QUALITY = 100;

private:
    void judge_quality();

    struct Pending {
        uint32_t id;
        int64_t sent_us;
    };
    std::deque<Pending> pending_;  // sent, not yet acknowledged; oldest first
    const int64_t asked_us_;       // interval of the asked rate
    const bool auto_quality_;
    int64_t interval_us_;
    int quality_;
    int64_t last_ack_us_ = 0;
    double decode_us_ = 0;
    // Learnt at this quality: frame costs, and the encoder's times.
    std::vector<double> costs_, encodes_;
};

}  // namespace qvs

#endif
