#include "server/moonlight/audio_receiver.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}
#include <opus/opus_multistream.h>

#include <vector>

#include "server/moonlight/byte_order.h"
#include "server/moonlight/video_decoder.h"

namespace qvs {

namespace {

const int HOST_RATE = 48000, HOST_CHANNELS = 2;
const int MAX_FRAME = 5760;    // 120 ms, Opus's longest frame
const int MAX_BEHIND_MS = 150;
const int MAX_CONCEALED = 4;   // lost packets filled in by the decoder at most, in a row
const int MAX_LATE = 64;       // packets this far behind are late; further, the host counts anew
const uint8_t PT_AUDIO = 97;

}  // namespace

AudioReceiver::~AudioReceiver() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (opus_) opus_multistream_decoder_destroy(opus_);
    swr_free(&swr_);
}

bool AudioReceiver::start(const std::string& host, int port, const std::string& ping_payload, int rate,
                          int channels, std::string* why) {
    quiet_libav();
    rate_ = rate;
    channels_ = channels == 1 ? 1 : 2;
    if (rate_ > 0) {
        const unsigned char mapping[2] = {0, 1};
        int error = 0;
        opus_ = opus_multistream_decoder_create(HOST_RATE, HOST_CHANNELS, 1, 1, mapping, &error);
        AVChannelLayout in = AV_CHANNEL_LAYOUT_STEREO, out = AV_CHANNEL_LAYOUT_STEREO;
        if (channels_ == 1) out = AV_CHANNEL_LAYOUT_MONO;
        if (!opus_ || swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_S16, rate_, &in, AV_SAMPLE_FMT_S16,
                                          HOST_RATE, 0, nullptr) < 0 ||
            swr_init(swr_) < 0) {
            *why = "no Opus decoder or resampler";
            return false;
        }
    }
    if (!link_.open(host, port, ping_payload, why)) return false;
    thread_ = std::thread(&AudioReceiver::run, this);
    return true;
}

void AudioReceiver::decoded(const int16_t* pcm, int frames) {
    int room = swr_get_out_samples(swr_, frames);
    if (room <= 0) return;
    std::vector<int16_t> out(size_t(room) * size_t(channels_));
    uint8_t* out_planes[1] = {reinterpret_cast<uint8_t*>(out.data())};
    const uint8_t* in_planes[1] = {reinterpret_cast<const uint8_t*>(pcm)};
    int got = swr_convert(swr_, out_planes, room, in_planes, frames);
    if (got <= 0) return;
    size_t limit = size_t(rate_) * MAX_BEHIND_MS / 1000 * size_t(channels_);
    std::lock_guard<std::mutex> hold(lock_);
    samples_.insert(samples_.end(), out.begin(), out.begin() + got * channels_);
    if (samples_.size() > limit) samples_.erase(samples_.begin(), samples_.end() - ptrdiff_t(limit));
}

void AudioReceiver::run() {
    std::vector<uint8_t> packet(1500);
    std::vector<int16_t> pcm(size_t(MAX_FRAME) * HOST_CHANNELS);
    bool started = false;
    uint16_t expected = 0;
    int last_frames = 240;
    while (!stop_) {
        size_t n = link_.receive(packet.data(), packet.size(), 50);
        if (n < 12 || !opus_ || (packet[1] & 0x7F) != PT_AUDIO) continue;
        uint16_t sequence = get_be16(&packet[2]);
        int16_t gap = started ? int16_t(sequence - expected) : 0;
        if (gap < 0 && gap > -MAX_LATE) continue;  // late or repeated; far off, the count starts again
        for (int i = 0; i < gap && i < MAX_CONCEALED; i++) {
            int frames = opus_multistream_decode(opus_, nullptr, 0, pcm.data(), last_frames, 0);
            if (frames > 0) decoded(pcm.data(), frames);
        }
        started = true;
        expected = uint16_t(sequence + 1);
        int frames = opus_multistream_decode(opus_, &packet[12], opus_int32(n - 12), pcm.data(), MAX_FRAME, 0);
        if (frames <= 0) continue;
        last_frames = frames;
        decoded(pcm.data(), frames);
    }
}

size_t AudioReceiver::read(int16_t* out, size_t max_frames) {
    std::lock_guard<std::mutex> hold(lock_);
    size_t frames = samples_.size() / size_t(channels_);
    if (frames > max_frames) frames = max_frames;
    size_t n = frames * size_t(channels_);
    std::copy(samples_.begin(), samples_.begin() + ptrdiff_t(n), out);
    samples_.erase(samples_.begin(), samples_.begin() + ptrdiff_t(n));
    return frames;
}

}  // namespace qvs
