// One streaming session with a GameStream host (Sunshine, Apollo), started
// after its /launch or /resume succeeded: the RTSP handshake, the encrypted
// control stream, the video and audio sockets and their threads. It looks to
// the connection like any other picture source.
#ifndef QV_SERVER_MOONLIGHT_GAME_STREAM_H
#define QV_SERVER_MOONLIGHT_GAME_STREAM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvs {

struct GameStreamLaunch {
    std::string host;          // the host's address as configured
    std::string session_url;   // sessionUrl0 of the /launch or /resume reply
    uint8_t rikey[16] = {};    // as sent in /launch (rikey)
    int32_t rikeyid = 0;       // as sent in /launch (rikeyid)
    std::string app_version;   // serverinfo appversion, e.g. "7.1.431.-1"
    int width = 640, height = 480, fps = 30;  // the mode asked for in /launch
    int bitrate_kbps = 4000;   // asked in ANNOUNCE
    int audio_rate = 0, audio_channels = 2;   // the client's sound format; rate 0: no sound wanted
    bool relative_mouse = false;              // pointer = "locked"
};

class GameStream {
public:
    // RTSP handshake, control stream, video and audio sockets and threads.
    // Null with a Swedish `error` for the client (details logged).
    static std::unique_ptr<GameStream> start(const GameStreamLaunch& launch, std::string* error);
    // Disconnects gracefully; the app keeps running on the host.
    virtual ~GameStream();

    // The same meaning as Source::grab / wake_fd / drain_wake / read_audio /
    // input / release_input / ended (server/sources/source.h).
    bool grab(std::vector<uint16_t>& out, int width, int height, bool force);
    int wake_fd();
    void drain_wake();
    size_t read_audio(int16_t* out, size_t max_frames);
    void input(uint8_t type, const uint8_t* payload, uint32_t length);
    void release_input();
    // "" while streaming; a Swedish text once the host quit, vanished (5 s)
    // or failed.
    std::string ended();

    // For measuring the delay through the server: when the datagram that
    // completed the newest picture arrived (steady clock, microseconds).
    int64_t picture_arrival_us() const;

    GameStream(const GameStream&) = delete;
    GameStream& operator=(const GameStream&) = delete;

private:
    struct Parts;
    explicit GameStream(std::unique_ptr<Parts> parts);
    std::unique_ptr<Parts> parts_;
};

}  // namespace qvs

#endif
