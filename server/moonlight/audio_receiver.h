// The sound half of a game stream: a thread that receives the host's Opus
// packets (RTP payload type 97), decodes them (48 kHz stereo, one coupled
// stream), converts them to the client's rate and channels and keeps at
// most 150 ms of it: when the connection falls behind, the oldest sound is
// dropped rather than played late. Lost packets are concealed by the
// decoder; FEC packets (type 127) are not used.
//
//   0  u8      0x80
//   1  u8      payload type: 97 sound, 127 FEC
//   2  u16 BE  sequence number
//   4  u32 BE  timestamp (ms)
//   8  u32 BE  SSRC
//  12  ...     Opus packet
#ifndef QV_SERVER_MOONLIGHT_AUDIO_RECEIVER_H
#define QV_SERVER_MOONLIGHT_AUDIO_RECEIVER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "server/moonlight/udp_link.h"

struct OpusMSDecoder;
struct SwrContext;

namespace qvs {

class AudioReceiver {
public:
    AudioReceiver() = default;
    ~AudioReceiver();
    // rate 0: the socket still pings (the host waits for it), nothing is decoded.
    bool start(const std::string& host, int port, const std::string& ping_payload, int rate, int channels,
               std::string* why);
    // Up to max_frames frames of 16-bit PCM in the client's format.
    size_t read(int16_t* out, size_t max_frames);

    AudioReceiver(const AudioReceiver&) = delete;
    AudioReceiver& operator=(const AudioReceiver&) = delete;

private:
    void run();
    void decoded(const int16_t* pcm, int frames);

    UdpLink link_;
    int rate_ = 0, channels_ = 2;
    OpusMSDecoder* opus_ = nullptr;
    SwrContext* swr_ = nullptr;
    std::mutex lock_;
    std::deque<int16_t> samples_;  // under lock_: interleaved, at most 150 ms
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace qvs

#endif
