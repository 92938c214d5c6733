#include "server/moonlight/rtsp_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

#include "server/log.h"
#include "server/moonlight/game_stream.h"

namespace qvs {

namespace {

const int CONNECT_TRY_MS = 10000, REPLY_WAIT_MS = 10000;
const size_t REPLY_LIMIT = 65536;
// Hosts read a request into a 2 KB buffer.
const size_t REQUEST_LIMIT = 2048;

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A TCP connection to host:port, retried while refused (a host may answer
// /launch before its RTSP port listens); -1 on failure.
int connect_tcp(const std::string& host, int port) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
    int fd = -1;
    for (int64_t end = now_ms() + CONNECT_TRY_MS; fd < 0 && now_ms() < end;) {
        fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && connect(fd, found->ai_addr, found->ai_addrlen) != 0) {
            close(fd);
            fd = -1;
            if (errno != ECONNREFUSED) break;
            usleep(500 * 1000);
        }
    }
    freeaddrinfo(found);
    return fd;
}

// Sends one request on a connection of its own and reads the reply until
// the host closes it.
bool transact(const std::string& host, int port, const std::string& request, std::string* reply) {
    if (request.size() > REQUEST_LIMIT) return false;
    int fd = connect_tcp(host, port);
    if (fd < 0) return false;
    bool ok = send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size());
    reply->clear();
    char buffer[4096];
    while (ok) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, REPLY_WAIT_MS) != 1) {
            ok = false;
            break;
        }
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply->append(buffer, size_t(n));
        ok = reply->size() <= REPLY_LIMIT;
    }
    close(fd);
    return ok && !reply->empty();
}

std::string header(const RtspReply& r, const char* name) {
    auto it = r.headers.find(name);
    return it == r.headers.end() ? std::string() : it->second;
}

// "server_port=47998" or "server_port=47998-47999" inside a Transport header.
int server_port(const RtspReply& r, int fallback) {
    std::string t = header(r, "transport");
    size_t at = t.find("server_port=");
    if (at == std::string::npos) return fallback;
    int port = std::atoi(t.c_str() + at + 12);
    return port > 0 && port < 65536 ? port : fallback;
}

uint32_t sdp_value(const std::string& body, const std::string& name) {
    size_t at = body.find("a=" + name + ":");
    return at == std::string::npos ? 0 : uint32_t(std::strtoul(body.c_str() + at + name.size() + 3, nullptr, 10));
}

}  // namespace

bool parse_rtsp_reply(const std::string& text, RtspReply* out) {
    if (text.compare(0, 9, "RTSP/1.0 ") != 0) return false;
    out->status = std::atoi(text.c_str() + 9);
    size_t end = text.find("\r\n\r\n");
    size_t line = text.find("\r\n");
    out->body = end == std::string::npos ? std::string() : text.substr(end + 4);
    std::string head = text.substr(0, end);
    while (line != std::string::npos && line < head.size()) {
        size_t next = head.find("\r\n", line + 2);
        std::string l = head.substr(line + 2, next == std::string::npos ? std::string::npos : next - line - 2);
        size_t colon = l.find(':');
        if (colon != std::string::npos) {
            size_t v = l.find_first_not_of(' ', colon + 1);
            out->headers[lower(l.substr(0, colon))] = v == std::string::npos ? "" : l.substr(v);
        }
        line = next;
    }
    return out->status > 0;
}

int rtsp_port_of(const std::string& url) {
    if (url.compare(0, 7, "rtsp://") != 0) return -1;
    size_t colon = url.rfind(':'), bracket = url.rfind(']');
    if (colon < 7 || (bracket != std::string::npos && colon < bracket)) return 48010;
    int port = std::atoi(url.c_str() + colon + 1);
    return port > 0 && port < 65536 ? port : -1;
}

std::string announce_sdp(const GameStreamLaunch& l, const std::string& address, int packet_size, uint32_t encryption) {
    int kbps = l.bitrate_kbps;
    const std::pair<const char*, int> attributes[] = {
        {"x-ml-general.featureFlags", 2},  // understands ping payloads and connect data
        {"x-ss-general.encryptionEnabled", int(encryption)},
        {"x-nv-video[0].clientViewportWd", l.width},
        {"x-nv-video[0].clientViewportHt", l.height},
        {"x-nv-video[0].maxFPS", l.fps},
        {"x-nv-video[0].packetSize", packet_size},
        {"x-nv-video[0].rateControlMode", 4},
        {"x-nv-video[0].timeoutLengthMs", 7000},
        {"x-nv-video[0].framesWithInvalidRefThreshold", 0},
        {"x-nv-video[0].initialBitrateKbps", kbps},
        {"x-nv-video[0].initialPeakBitrateKbps", kbps},
        {"x-nv-vqos[0].bw.minimumBitrateKbps", kbps},
        {"x-nv-vqos[0].bw.maximumBitrateKbps", kbps},
        {"x-ml-video.configuredBitrateKbps", kbps},
        {"x-nv-vqos[0].fec.enable", 1},
        {"x-nv-vqos[0].videoQualityScoreUpdateTime", 5000},
        {"x-nv-vqos[0].qosTrafficType", 5},
        {"x-nv-aqos.qosTrafficType", 4},
        {"x-nv-general.featureFlags", 135},
        {"x-nv-general.useReliableUdp", 13},
        {"x-nv-vqos[0].fec.minRequiredFecPackets", 2},
        {"x-nv-vqos[0].bllFec.enable", 0},
        {"x-nv-vqos[0].drc.enable", 0},
        {"x-nv-general.enableRecoveryMode", 0},
        {"x-nv-video[0].videoEncoderSlicesPerFrame", 1},
        {"x-nv-clientSupportHevc", 0},
        {"x-nv-vqos[0].bitStreamFormat", 0},  // H.264
        {"x-nv-video[0].dynamicRangeMode", 0},
        // One reference frame: a lost frame is mended by an IDR, not by
        // invalidating references.
        {"x-nv-video[0].maxNumReferenceFrames", 1},
        {"x-nv-video[0].clientRefreshRateX100", l.fps * 100},
        {"x-nv-audio.surround.numChannels", 2},
        {"x-nv-audio.surround.channelMask", 3},
        {"x-nv-audio.surround.enable", 0},
        {"x-nv-audio.surround.AudioQuality", 0},
        {"x-nv-aqos.packetDuration", 5},
        {"x-nv-video[0].encoderCscMode", 0},  // Rec. 601, limited range: what swscale assumes
    };
    std::ostringstream s;
    s << "v=0\r\no=android 0 14 IN IPv4 " << address << "\r\ns=NVIDIA Streaming Client\r\n";
    for (const auto& a : attributes) s << "a=" << a.first << ":" << a.second << " \r\n";
    s << "t=0 0\r\nm=video 47998  \r\n";
    return s.str();
}

bool rtsp_handshake(const GameStreamLaunch& launch, RtspSession* out, std::string* why) {
    int port = rtsp_port_of(launch.session_url);
    if (port < 0) {
        *why = "unsupported session URL " + loggable(launch.session_url);
        return false;
    }
    // Asking with 0.0.0.0 chooses the host's ordinary stereo sound, plenty
    // for our client.
    const std::string address = "0.0.0.0", base = "rtsp://0.0.0.0:" + std::to_string(port);
    const std::string since = "If-Modified-Since: Thu, 01 Jan 1970 00:00:00 GMT\r\n";
    const std::string transport = "Transport: unicast;X-GS-ClientPort=50000-50001\r\n";
    std::string session;
    int cseq = 0;
    auto request = [&](const std::string& method, const std::string& target, const std::string& extra,
                       const std::string& body, RtspReply* reply) {
        std::ostringstream r;
        r << method << " " << target << " RTSP/1.0\r\nCSeq: " << ++cseq << "\r\nX-GS-ClientVersion: 14\r\nHost: "
          << address << "\r\n";
        if (!session.empty()) r << "Session: " << session << "\r\n";
        r << extra << "\r\n" << body;
        std::string text;
        if (!transact(launch.host, port, r.str(), &text) || !parse_rtsp_reply(text, reply)) {
            *why = method + " " + target + ": no reply";
            return false;
        }
        if (reply->status != 200) {
            *why = method + " " + target + ": status " + std::to_string(reply->status);
            return false;
        }
        return true;
    };
    RtspReply r;
    if (!request("OPTIONS", base, "", "", &r)) return false;
    if (!request("DESCRIBE", base, "Accept: application/sdp\r\n" + since, "", &r)) return false;
    out->encryption_supported = sdp_value(r.body, "x-ss-general.encryptionSupported");
    out->encryption_requested = sdp_value(r.body, "x-ss-general.encryptionRequested");
    if (!(out->encryption_supported & 1u) || (out->encryption_requested & ~1u)) {
        *why = "the host's encryption cannot be met (supported " + std::to_string(out->encryption_supported) +
               ", requested " + std::to_string(out->encryption_requested) + ")";
        return false;
    }
    if (!request("SETUP", "streamid=audio/0/0", transport + since, "", &r)) return false;
    session = header(r, "session").substr(0, header(r, "session").find(';'));
    if (session.empty()) {
        *why = "SETUP audio: no session";
        return false;
    }
    out->audio_port = server_port(r, 48000);
    out->ping_payload = header(r, "x-ss-ping-payload");
    if (out->ping_payload.size() != 16) out->ping_payload.clear();
    if (!request("SETUP", "streamid=video/0/0", transport + since, "", &r)) return false;
    out->video_port = server_port(r, 47998);
    if (!request("SETUP", "streamid=control/13/0", transport + since, "", &r)) return false;
    out->control_port = server_port(r, 47999);
    out->connect_data = uint32_t(std::strtoul(header(r, "x-ss-connect-data").c_str(), nullptr, 10));
    std::string sdp = announce_sdp(launch, launch.host, out->packet_size, 1);
    std::string extra = "Content-type: application/sdp\r\nContent-length: " + std::to_string(sdp.size()) + "\r\n";
    if (!request("ANNOUNCE", "streamid=control/13/0", extra, sdp, &r)) return false;
    return request("PLAY", "/", "", "", &r);
}

}  // namespace qvs
