// The RTSP handshake that opens a GameStream session: OPTIONS, DESCRIBE,
// SETUP audio, video and control, ANNOUNCE (the stream's parameters as SDP),
// PLAY. Plain text over TCP, one request per connection; the host answers
// and closes, with no Content-Length, so a reply is read to its end.
#ifndef QV_SERVER_MOONLIGHT_RTSP_CLIENT_H
#define QV_SERVER_MOONLIGHT_RTSP_CLIENT_H

#include <cstdint>
#include <map>
#include <string>

namespace qvs {

struct GameStreamLaunch;

// What the host's replies told.
struct RtspSession {
    int audio_port = 48000, video_port = 47998, control_port = 47999;
    std::string ping_payload;    // X-SS-Ping-Payload (16 characters), "" for the old "PING"
    uint32_t connect_data = 0;   // X-SS-Connect-Data: the ENet connect data
    uint32_t encryption_supported = 0, encryption_requested = 0;  // DESCRIBE's flags
    int packet_size = 1392;      // video payload size we announced
};

struct RtspReply {
    int status = 0;
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

// Parses "RTSP/1.0 200 OK\r\nName: value\r\n...\r\n\r\nbody"; false when
// the status line is not RTSP's.
bool parse_rtsp_reply(const std::string& text, RtspReply* out);
// The ANNOUNCE body for this launch; `encryption`: the SS_ENC bits turned on.
std::string announce_sdp(const GameStreamLaunch& launch, const std::string& address, int packet_size,
                         uint32_t encryption);
// The port of sessionUrl0 ("rtsp://ADDR:PORT"), 48010 when it names none,
// -1 when it is not a plain rtsp:// URL.
int rtsp_port_of(const std::string& session_url);

// Runs the whole handshake against launch.host; false with an English
// reason for the log.
bool rtsp_handshake(const GameStreamLaunch& launch, RtspSession* out, std::string* why);

}  // namespace qvs

#endif
