// Frame pacing from acknowledgements; see frame_pacer.h.
#include "server/net/frame_pacer.h"

#include <algorithm>

#include "server/encode/encoder.h"

namespace qvs {

namespace {

// A fixed quality: frames go out this much slower than they get through,
// so that a little jitter does not start a queue.
const double HEADROOM = 1.15;
// Automatic quality: the share of the time frames may keep the link and
// the client busy. The quality falls while a frame costs more than this
// share of the asked interval, and rises while it costs less than the
// second share.
const double BUSY = 0.6, ROOM = 0.35;
// The encoder's time queues nothing on the link; it only has to leave the
// server time for the rest (capture, sending, other clients). It never
// takes the quality below the default, whose encoder time fits a frame
// interval on any machine fit to be a server: below it, a slow encoder
// means a busy server for a while, not a slow link.
const double ENCODER_BUSY = 0.8, ENCODER_ROOM = 0.5;
const int STEP_UP = 5;
// Frame costs to learn at a quality before judging it (about half a second
// at 30 frames a second); fewer when frames are far too costly, so that a
// slow link is found within seconds. They are learnt afresh after a change,
// and after four times as many samples without one, to follow a client
// whose speed drifts.
const int SAMPLES_PER_JUDGEMENT = 15, SAMPLES_WHEN_FAR_OFF = 4;
// Frames remembered while unacknowledged; a client never has more in flight.
const size_t PENDING_LIMIT = 64;

// The lower median: a single slow frame (the machine busy for a moment)
// moves it by no more than one place.
double median(std::vector<double> v) {
    if (v.empty()) return 0;
    auto middle = v.begin() + long((v.size() - 1) / 2);
    std::nth_element(v.begin(), middle, v.end());
    return *middle;
}

}  // namespace

FramePacer::FramePacer(int fps, int quality)
    : asked_us_(1000000 / std::clamp(fps, 1, 60)),
      auto_quality_(quality == QUALITY_AUTO),
      interval_us_(asked_us_),
      quality_(quality == QUALITY_AUTO ? DEFAULT_LOSSY_QUALITY : std::clamp(quality, 1, LOSSLESS_QUALITY)) {}

void FramePacer::sent(uint32_t id, int64_t now_us, int64_t encode_us) {
    if (pending_.size() >= PENDING_LIMIT) pending_.pop_front();
    pending_.push_back({id, now_us});
    if (auto_quality_ && encodes_.size() < 4 * SAMPLES_PER_JUDGEMENT) encodes_.push_back(double(encode_us));
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
    // turn began after both.
    const double sample = double(now_us - std::max(sent_us, last_ack_us_));
    last_ack_us_ = now_us;
    if (sample < 0) return;
    decode_us_ = decode_us_ == 0 ? sample : 0.75 * decode_us_ + 0.25 * sample;
    const double spacing = auto_quality_ ? 1 / BUSY : HEADROOM;
    interval_us_ = std::max(asked_us_, int64_t(decode_us_ * spacing));
    if (!auto_quality_) return;
    costs_.push_back(sample);
    judge_quality();
}

void FramePacer::judge_quality() {
    // Judged on the typical cost at this quality, so that a single slow
    // frame does not change it. The encoder's time counts as well: a frame
    // rate the server cannot encode is no better than one the link cannot
    // carry.
    const double cost = median(costs_), encode = median(encodes_), asked = double(asked_us_);
    const double over = cost / (BUSY * asked);
    const size_t samples = costs_.size();
    if (samples < size_t(over > 2 ? SAMPLES_WHEN_FAR_OFF : SAMPLES_PER_JUDGEMENT)) return;
    int next = quality_;
    // Far over: larger steps, as the cost falls steeply only at low
    // qualities; just over: a step as small as the one up, so that a
    // machine busy for a while moves the quality little.
    if (over > 1) next = std::max(LOWEST_QUALITY, quality_ - (over > 3 ? 30 : over > 1.5 ? 20 : over > 1.2 ? 10 : 5));
    else if (encode > ENCODER_BUSY * asked && quality_ > DEFAULT_LOSSY_QUALITY)
        next = std::max(DEFAULT_LOSSY_QUALITY, quality_ - 10);
    else if (cost < ROOM * asked && encode < ENCODER_ROOM * asked) next = std::min(HIGHEST_QUALITY, quality_ + STEP_UP);
    if (next != quality_ || samples >= 4 * SAMPLES_PER_JUDGEMENT) {
        quality_ = next;
        costs_.clear();
        encodes_.clear();
    }
}

}  // namespace qvs
