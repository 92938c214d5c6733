// Records what a sound server plays: the monitor of its default output,
// as 16-bit PCM in the client's rate and channel count, on a thread of its
// own. Only a little is kept: when the client falls behind, the oldest
// sound is dropped, so what it hears stays close to what is played.
#ifndef QV_SERVER_SOUND_RECORDER_H
#define QV_SERVER_SOUND_RECORDER_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct pa_simple;

namespace qvs {

class SoundRecorder {
public:
    // Pieces handed out are at least this long, and the recording keeps at
    // most KEEP_MS: older sound is dropped.
    static constexpr int MIN_PIECE_MS = 20;
    static constexpr int KEEP_MS = 80;

    // Connects to `server` (a PULSE_SERVER value; "" for the user's
    // default server) and starts recording. Null with `error` filled when
    // the server cannot be reached.
    static std::unique_ptr<SoundRecorder> open(const std::string& server, int rate, int channels,
                                               std::string* error);
    ~SoundRecorder();
    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;

    // Up to max_frames sample frames of what was recorded, oldest first;
    // 0 while less than MIN_PIECE_MS waits. Any thread.
    size_t read(int16_t* out, size_t max_frames);

    // False once the sound server has gone away.
    bool alive() const { return alive_; }
    // Sample frames dropped because nobody took them in time.
    uint64_t dropped_frames() const { return dropped_; }

    int rate() const { return rate_; }
    int channels() const { return channels_; }

private:
    SoundRecorder(pa_simple* stream, int rate, int channels);
    void record();

    pa_simple* stream_;
    const int rate_, channels_;
    std::atomic<bool> stop_{false}, alive_{true};
    std::atomic<uint64_t> dropped_{0};

    std::mutex lock_;
    std::vector<int16_t> ring_;  // KEEP_MS of samples, guarded by lock_
    size_t head_ = 0, held_ = 0; // first sample and samples held, guarded by lock_
    std::thread thread_;
};

// The PULSE_SERVER value in `environment` ("NAME=value" texts), or "".
std::string sound_server_in(const std::vector<std::string>& environment);

// The sound server of the desktop this server runs in: $PULSE_SERVER, or
// the user's own socket when it exists; "" when there is none. Named
// explicitly so that recording never starts a sound server of its own.
std::string desktop_sound_server();

// A recorder for `server` in the client's format, or null (logged) when
// there is no sound to record: rate 0, no server, or it does not answer.
std::unique_ptr<SoundRecorder> record_sound(const std::string& server, int rate, int channels);

}  // namespace qvs

#endif
