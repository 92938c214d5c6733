// Paces one client's video by how fast it decodes: the time from a frame's
// last byte sent to its FrameAck (or from the previous FrameAck, when the
// client was still busy with that frame) is its decoding time. A client
// slower than the rate it asked for gets frames at the rate it manages, so
// that pictures never queue up in front of it; with automatic quality the
// encoder's quality also falls until the client keeps up at the asked rate,
// and rises again while it has room.
#ifndef QV_SERVER_FRAME_PACER_H
#define QV_SERVER_FRAME_PACER_H

#include <cstdint>
#include <deque>

namespace qvs {

// EncoderOptions-style quality value meaning "chosen by the pacer".
const int QUALITY_AUTO = 0;

class FramePacer {
public:
    // fps: the rate asked for (1..60). quality: the encoder's quality 1..100,
    // or QUALITY_AUTO to start at the default lossy quality and adapt.
    FramePacer(int fps, int quality);

    // The last byte of frame `id` left for the client at `now_us`.
    void sent(uint32_t id, int64_t now_us);
    // FrameAck `id` arrived at `now_us`; it covers every frame before it.
    void acked(uint32_t id, int64_t now_us);

    // Time between two frames now, at least that of the asked rate.
    int64_t interval_us() const { return interval_us_; }
    // The quality to encode the next frame with.
    int quality() const { return quality_; }
    // The client's decoding time per frame as learnt so far; 0 before any.
    double decode_us() const { return decode_us_; }

    // Automatic quality stays within these.
    static constexpr int LOWEST_QUALITY = 10, HIGHEST_QUALITY = 100;

private:
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
    int samples_since_change_ = 0;  // decoding times learnt at this quality
    double sum_since_change_ = 0;   // and their sum
};

}  // namespace qvs

#endif
