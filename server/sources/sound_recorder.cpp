// Recording a sound server's output with the simple API: a blocking read
// of one small fragment at a time on its own thread, into a short ring.
#include "server/sources/sound_recorder.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "server/log.h"

namespace qvs {

namespace {

// One read: 10 ms, so that a sound reaches the ring soon after it plays.
const int FRAGMENT_MS = 10;

}  // namespace

std::unique_ptr<SoundRecorder> SoundRecorder::open(const std::string& server, int rate, int channels,
                                                   std::string* error) {
    pa_sample_spec spec;
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = uint32_t(rate);
    spec.channels = uint8_t(channels);
    if (!pa_sample_spec_valid(&spec)) {
        *error = "unusable sound format " + std::to_string(rate) + " Hz x " + std::to_string(channels);
        return nullptr;
    }
    // A small fragment asks the server to hand over sound every 10 ms
    // instead of in the large blocks it would choose for itself.
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(pa_usec_to_bytes(FRAGMENT_MS * 1000, &spec));
    int code = 0;
    pa_simple* stream = pa_simple_new(server.empty() ? nullptr : server.c_str(), "quorvane-server",
                                      PA_STREAM_RECORD, "@DEFAULT_MONITOR@", "stream sound", &spec, nullptr,
                                      &attr, &code);
    if (!stream) {
        *error = "cannot record from the sound server" + (server.empty() ? std::string() : " " + server) + ": " +
                 pa_strerror(code);
        return nullptr;
    }
    return std::unique_ptr<SoundRecorder>(new SoundRecorder(stream, rate, channels));
}

SoundRecorder::SoundRecorder(pa_simple* stream, int rate, int channels)
    : stream_(stream), rate_(rate), channels_(channels),
      ring_(size_t(rate) * KEEP_MS / 1000 * size_t(channels)) {
    thread_ = std::thread(&SoundRecorder::record, this);
}

SoundRecorder::~SoundRecorder() {
    // The monitor delivers a fragment every 10 ms, silence included, so the
    // thread notices soon; a dead server makes its read fail at once.
    stop_ = true;
    thread_.join();
    pa_simple_free(stream_);
}

void SoundRecorder::record() {
    std::vector<int16_t> fragment(size_t(rate_) * FRAGMENT_MS / 1000 * size_t(channels_));
    while (!stop_) {
        int code = 0;
        if (pa_simple_read(stream_, fragment.data(), fragment.size() * sizeof(int16_t), &code) < 0) {
            alive_ = false;
            return;
        }
        std::lock_guard<std::mutex> hold(lock_);
        for (int16_t sample : fragment) {
            if (held_ == ring_.size()) {
                // Full: the oldest sample frame goes.
                head_ = (head_ + size_t(channels_)) % ring_.size();
                held_ -= size_t(channels_);
                dropped_++;
            }
            ring_[(head_ + held_) % ring_.size()] = sample;
            held_++;
        }
    }
}

size_t SoundRecorder::read(int16_t* out, size_t max_frames) {
    std::lock_guard<std::mutex> hold(lock_);
    size_t frames = held_ / size_t(channels_);
    if (frames < size_t(rate_) * MIN_PIECE_MS / 1000) return 0;
    frames = std::min(frames, max_frames);
    size_t samples = frames * size_t(channels_);
    for (size_t i = 0; i < samples; i++) out[i] = ring_[(head_ + i) % ring_.size()];
    head_ = (head_ + samples) % ring_.size();
    held_ -= samples;
    return frames;
}

std::string sound_server_in(const std::vector<std::string>& environment) {
    const std::string name = "PULSE_SERVER=";
    for (const std::string& e : environment)
        if (e.compare(0, name.size(), name) == 0) return e.substr(name.size());
    return std::string();
}

std::string desktop_sound_server() {
    const char* set = std::getenv("PULSE_SERVER");
    if (set && set[0]) return set;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string socket = runtime && runtime[0] ? std::string(runtime) + "/pulse/native"
                                               : "/run/user/" + std::to_string(::getuid()) + "/pulse/native";
    struct stat st;
    if (::stat(socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:" + socket;
    return std::string();
}

std::unique_ptr<SoundRecorder> record_sound(const std::string& server, int rate, int channels) {
    if (rate <= 0 || server.empty()) return nullptr;
    std::string why;
    std::unique_ptr<SoundRecorder> recorder = SoundRecorder::open(server, rate, channels, &why);
    if (!recorder) log_line("no sound: %s", why.c_str());
    return recorder;
}

}  // namespace qvs
