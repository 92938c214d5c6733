#include "server/net/stream.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "server/log.h"
#include "server/sessions/open_source.h"

namespace qvs {

namespace {

int64_t now_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A source with a wake descriptor is still looked at this often: its slow
// full comparison catches what change events missed.
const int64_t SWEEP_MS = 250;
// Sound pieces: AUDIO_PIECE_MS, and at most this much waiting for the
// socket. With the recorder's own 80 ms at most, sound older than 150 ms is
// dropped rather than sent.
const int AUDIO_BACKLOG_MS = 60;

}  // namespace

bool Stream::open(const AppEntry& entry, Workspace& workspace, const StreamFormat& format, int fps,
                  std::string* error) {
    source_ = open_source(entry, workspace, format, config_.noise, error);
    if (!source_) return false;
    entry_ = &entry;
    format_ = format;
    // The client keeps its old picture when the size stays: repaint all.
    encoder_.force_full();
    pacer_ = std::make_unique<FramePacer>(fps, config_.auto_quality ? QUALITY_AUTO : config_.encoder.quality);
    force_ = dirty_ = true;
    next_frame_ms_ = last_grab_ms_ = now_ms();
    psnr_sum_ = 0;
    lossy_frames_ = entry_frames_ = 0;
    return true;
}

void Stream::close() {
    if (!source_) return;
    source_->release_input();
    source_.reset();
    if (lossy_frames_)
        log_line("#%d: %llu frames, mean PSNR %.1f dB over %llu lossy ones", number_,
                 (unsigned long long)entry_frames_, psnr_sum_ / double(lossy_frames_), (unsigned long long)lossy_frames_);
    else if (entry_frames_)
        log_line("#%d: %llu frames, PSNR exact", number_, (unsigned long long)entry_frames_);
}

void Stream::input(uint8_t type, const uint8_t* payload, uint32_t length) {
    source_->input(type, payload, length);
    // Look again at once, so that typing shows without waiting a frame.
    dirty_ = true;
    next_frame_ms_ = std::min(next_frame_ms_, now_ms());
}

void Stream::acked(uint32_t id) {
    // Acknowledgements come in order; one for frame n covers all before it.
    uint32_t ahead = id - last_acked_;
    if (ahead != 0 && ahead <= in_flight()) {
        last_acked_ = id;
        if (pacer_) pacer_->acked(id, now_us());
    }
}

int64_t Stream::next_grab_ms() const {
    // Without a wake descriptor the picture is looked at every frame; with
    // one, when it fired (or input came), and every SWEEP_MS in any case.
    if (source_->wake_fd() < 0 || dirty_) return next_frame_ms_;
    return std::max(next_frame_ms_, last_grab_ms_ + SWEEP_MS);
}

int64_t Stream::wake_at(int64_t now, int64_t wake) const {
    if (room_for_frame()) wake = std::min(wake, next_grab_ms());
    if (format_.rate) wake = std::min(wake, now + AUDIO_PIECE_MS);
    return wake;
}

Stream::Result Stream::send_frame(int64_t now) {
    source_->drain_wake();
    last_grab_ms_ = now;
    dirty_ = false;
    bool changed = source_->grab(picture_, format_.width, format_.height, force_);
    if (!changed) return GOING;
    force_ = false;
    uint32_t id = last_sent_ + 1;
    if (pacer_->quality() != encoder_.options().quality) {
        EncoderOptions options = encoder_.options();
        options.quality = pacer_->quality();
        encoder_.set_options(options);
        log_line("#%d: quality %d: a frame gets through in %.1f ms", number_, options.quality,
                 pacer_->decode_us() / 1000.0);
    }
    const int64_t encode_start = now_us();
    EncodeStats stats;
    encoder_.encode(id, picture_.data(), format_.width, format_.height, body_, &stats);
    if (body_.size() > WIRE_MAX_PAYLOAD) return FRAME_TOO_BIG;
    last_sent_ = id;
    frames_total_++;
    entry_frames_++;
    video_bytes_ += body_.size();
    if (stats.squared_error > 0) {
        // 5-bit channels: the peak is 31.
        const double mse = double(stats.squared_error) / (3.0 * format_.width * format_.height);
        psnr_sum_ += 10 * std::log10(31.0 * 31.0 / mse);
        lossy_frames_++;
    }
    out_.push(frame_message(MSG_VIDEO_FRAME, body_), OUT_VIDEO);
    const int64_t handed_over = now_us();
    pacer_->sent(id, handed_over, handed_over - encode_start);
    const int64_t interval = interval_ms();
    next_frame_ms_ = std::max(next_frame_ms_ + interval, now - interval);
    if (config_.frame_limit && frames_total_ >= config_.frame_limit) {
        log_line("#%d: %u frames sent, closing", number_, unsigned(frames_total_));
        close();
        return FRAME_LIMIT;
    }
    return GOING;
}

void Stream::send_audio() {
    size_t piece = size_t(format_.rate * AUDIO_PIECE_MS / 1000);
    samples_.resize(piece * size_t(format_.channels));
    size_t backlog = size_t(format_.rate) * AUDIO_BACKLOG_MS / 1000 * 2 * size_t(format_.channels);
    for (int pieces = 0; pieces < 16; pieces++) {
        size_t n = source_->read_audio(samples_.data(), piece);
        if (n == 0) return;
        // A link too slow for the sound: skip rather than pile up.
        if (out_.audio_bytes() > backlog) {
            audio_dropped_++;
            continue;
        }
        out_.push(make_audio(samples_.data(), n * size_t(format_.channels)), OUT_AUDIO);
    }
}

void Stream::pass_texts() {
    uint8_t slot = 0;
    std::string text;
    while (source_->next_text(&slot, &text)) out_.push(make_server_text(slot, text), OUT_CONTROL);
}

Stream::Result Stream::produce(int64_t now) {
    pass_texts();
    if (format_.rate) send_audio();
    if (!room_for_frame() || now < next_grab_ms()) return GOING;
    Result result = send_frame(now);
    // A source without change events shows the next picture a frame later.
    if (result == GOING && source_->wake_fd() < 0 && now >= next_frame_ms_) next_frame_ms_ = now + interval_ms();
    return result;
}

}  // namespace qvs
