// A connection's stream phase: the running entry's source, its pictures and
// sound, and the pacing of frames against the client's acknowledgements.
// Frame numbers, the encoder and the totals run on through the connection,
// from one entry to the next.
//
// Pacing: a picture is grabbed only when the client has room for a frame,
// so changes that come while frames are in flight merge into the next one
// and the newest picture always wins.
#ifndef QV_SERVER_STREAM_H
#define QV_SERVER_STREAM_H

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "server/config.h"
#include "server/encode/encoder.h"
#include "server/net/frame_pacer.h"
#include "server/net/output_queue.h"
#include "server/net/server.h"
#include "server/sessions/workspace.h"
#include "server/sources/source.h"

namespace qvs {

// Sound is looked at this often while it is on.
const int AUDIO_PIECE_MS = 20;

class Stream {
public:
    // `number`: the connection's, for the log. Messages go to `out`.
    Stream(const ServerConfig& config, int number, OutputQueue& out)
        : config_(config), number_(number), out_(out), encoder_(config.encoder) {}
    ~Stream() { close(); }

    // Starts `entry`; false with `error` (a text for the client) filled
    // when it could not.
    bool open(const AppEntry& entry, Workspace& workspace, const StreamFormat& format, int fps,
              std::string* error);
    // Ends the running entry's stream; its keys and buttons are let go.
    void close();
    void release_input() {
        if (source_) source_->release_input();
    }
    const AppEntry& entry() const { return *entry_; }
    Source& source() { return *source_; }

    // One input message of the client, for the running entry.
    void input(uint8_t type, const uint8_t* payload, uint32_t length);
    void acked(uint32_t id);

    // The source's texts for the client, passed on.
    void pass_texts();

    enum Result { GOING, FRAME_TOO_BIG, FRAME_LIMIT };
    // Texts, sound and, when it is time and there is room, a frame.
    // FRAME_LIMIT: the configured number of frames went out; the stream is
    // closed.
    Result produce(int64_t now);

    // The earliest of `wake` and the next time produce has work.
    int64_t wake_at(int64_t now, int64_t wake) const;
    // The source's change events, when they could lead to a frame; else -1.
    int wake_fd() const { return dirty_ ? -1 : source_->wake_fd(); }
    void woken() { dirty_ = true; }

    uint64_t frames() const { return frames_total_; }
    uint64_t video_bytes() const { return video_bytes_; }
    uint64_t audio_dropped() const { return audio_dropped_; }

private:
    Result send_frame(int64_t now);
    void send_audio();
    uint32_t in_flight() const { return last_sent_ - last_acked_; }
    bool room_for_frame() const { return in_flight() < uint32_t(config_.window) && out_.video_frames() == 0; }
    int64_t next_grab_ms() const;
    int64_t interval_ms() const { return std::max<int64_t>(1, pacer_->interval_us() / 1000); }

    const ServerConfig& config_;
    int number_;
    OutputQueue& out_;

    StreamFormat format_;
    const AppEntry* entry_ = nullptr;
    std::unique_ptr<Source> source_;
    FrameEncoder encoder_;
    std::vector<uint16_t> picture_;
    Bytes body_;
    bool force_ = false;        // the next grab must give a whole picture
    bool dirty_ = false;        // the picture may have changed since the last grab
    int64_t next_frame_ms_ = 0; // frames no closer than the pacer's interval
    std::unique_ptr<FramePacer> pacer_;  // the frame rate and quality this client keeps up with
    int64_t last_grab_ms_ = 0;
    std::vector<int16_t> samples_;

    // Frame numbers run on through the whole connection.
    uint32_t last_sent_ = 0, last_acked_ = 0;

    // Totals for the connection's closing log line.
    uint64_t frames_total_ = 0, video_bytes_ = 0, audio_dropped_ = 0;
    // How closely this entry's lossy frames showed their pictures, for the
    // log at its end: the sum of their PSNRs, and how many there were.
    double psnr_sum_ = 0;
    uint64_t lossy_frames_ = 0, entry_frames_ = 0;
};

}  // namespace qvs

#endif
