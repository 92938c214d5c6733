// Frame pacing from acknowledgements; see frame_pacer.h.
#include "server/net/frame_pacer.h"

#include <algorithm>

#include "server/encode/encoder.h"

namespace qvs {

namespace {

// Frames go out this much slower than the client decodes, so that a little
// jitter does not start a queue.
const double HEADROOM = 1.15;
// Automatic quality: lower it while decoding takes more than this share of
// the asked interval, raise it while less than the second.
const double TOO_SLOW = 0.9, ROOM = 0.5;
const int STEP_DOWN = 10, STEP_UP = 5;
// Decoding times to learn at a quality before judging it (about half a
// second at 30 frames a second); the mean starts afresh after a change, and
// after four times as many samples without one, to follow a client whose
// speed drifts.
const int SAMPLES_PER_JUDGEMENT = 15;
// Frames remembered while unacknowledged; a client never has more in flight.
const size_t PENDING_LIMIT = 64;

}  // namespace

FramePacer::FramePacer(int fps, int quality)
    : asked_us_(1000000 / std::clamp(fps, 1, 60)),
      auto_quality_(quality == QUALITY_AUTO),
      interval_us_(asked_us_),
      quality_(quality == QUALITY_AUTO ? DEFAULT_LOSSY_QUALITY : std::clamp(quality, 1, LOSSLESS_QUALITY)) {}

void FramePacer::sent(uint32_t id, int64_t now_us) {
    if (pending_.size() >= PENDING_LIMIT) pending_.pop_front();
    pending_.push_back({id, now_us});
}

void FramePacer::acked(uint32_t id, int64_t now_us) {
    // The newest frame the acknowledgement covers; none (a repeated or
    // unknown number) teaches nothing.
    bool found = false;
    int64_t sent_us = 0;
    while (!pending_.empty() && int32_t(pending_.front().id - id) <= 0) {
        found = pending_.front().id == id || found;
        sent_us = pending_.front().sent_us;
        pending_.pop_front();
    }
    if (!found) return;
    // Busy with the previous frame until its acknowledgement: this one's
    // decoding began after both.
    const double sample = double(now_us - std::max(sent_us, last_ack_us_));
    last_ack_us_ = now_us;
    if (sample < 0) return;
    decode_us_ = decode_us_ == 0 ? sample : 0.75 * decode_us_ + 0.25 * sample;
    interval_us_ = std::max(asked_us_, int64_t(decode_us_ * HEADROOM));

    // The quality is judged on the mean decoding time at that quality, so
    // that a single slow frame (the client's machine busy for a moment)
    // does not change it.
    if (!auto_quality_) return;
    sum_since_change_ += sample;
    if (++samples_since_change_ < SAMPLES_PER_JUDGEMENT) return;
    const double mean = sum_since_change_ / samples_since_change_;
    int next = quality_;
    if (mean > TOO_SLOW * double(asked_us_)) next = std::max(LOWEST_QUALITY, quality_ - STEP_DOWN);
    else if (mean < ROOM * double(asked_us_)) next = std::min(HIGHEST_QUALITY, quality_ + STEP_UP);
    if (next != quality_ || samples_since_change_ >= 4 * SAMPLES_PER_JUDGEMENT) {
        quality_ = next;
        samples_since_change_ = 0;
        sum_since_change_ = 0;
    }
}

}  // namespace qvs
