// The stream half of the GameStream test host. One thread does everything:
// answers RTSP, services ENet, and sends an H.264 frame every 1/fps s and an
// Opus packet every 5 ms to wherever the pings came from. Packet layouts,
// sealing and parity come from the product's own code.
#include "tests/moonlight/fake_stream_host.h"

#include <arpa/inet.h>
#include <enet/enet.h>
#include <opus/opus_multistream.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "server/log.h"
#include "server/moonlight/byte_order.h"
#include "server/moonlight/control_message.h"
#include "server/moonlight/input_packet.h"
#include "server/moonlight/reed_solomon.h"
#include "server/moonlight/video_packet.h"
#include "server/moonlight/video_receiver.h"
#include "tests/moonlight/h264_encoder.h"

namespace qvs {

namespace {

const char PING_PAYLOAD[] = "0123456789ABCDEF";
const uint32_t CONNECT_DATA = 0x1234567;

// Where a stream's pings came from: the host sends there.
struct Peer {
    sockaddr_in address{};
    bool known = false;
    void take_ping(int fd) {
        uint8_t b[64];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(fd, b, sizeof b, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if ((n == 20 && std::memcmp(b, PING_PAYLOAD, 16) == 0) || (n == 4 && std::memcmp(b, "PING", 4) == 0)) {
            if (!known) address = from;
            known = true;
        }
    }
    void send(int fd, const uint8_t* data, size_t n) const {
        sendto(fd, data, n, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
};

// The input log's line for one input packet, "" for a malformed one.
std::string describe_input(const std::vector<uint8_t>& p) {
    if (p.size() < 8 || get_be32(p.data()) != p.size() - 4) return "";
    uint32_t magic = get_le32(&p[4]);
    const uint8_t* b = &p[8];
    size_t n = p.size() - 8;
    auto s16 = [&](size_t at) { return int(int16_t(get_be16(b + at))); };
    auto l16 = [&](size_t at) { return int(int16_t(get_le16(b + at))); };
    char line[160];
    if ((magic == INPUT_KEY_DOWN || magic == INPUT_KEY_UP) && n == 6)
        snprintf(line, sizeof line, "key %s vk=0x%02X mods=0x%02X", magic == INPUT_KEY_DOWN ? "down" : "up", b[1],
                 b[3]);
    else if (magic == INPUT_TEXT && n <= 32)
        return "text " + std::string(reinterpret_cast<const char*>(b), n);
    else if (magic == INPUT_MOUSE_REL && n == 4)
        snprintf(line, sizeof line, "mouse rel %d %d", s16(0), s16(2));
    else if (magic == INPUT_MOUSE_ABS && n == 10)
        snprintf(line, sizeof line, "mouse abs %d %d %d %d", s16(0), s16(2), s16(6), s16(8));
    else if ((magic == INPUT_BUTTON_DOWN || magic == INPUT_BUTTON_UP) && n == 1)
        snprintf(line, sizeof line, "button %s %d", magic == INPUT_BUTTON_DOWN ? "down" : "up", b[0]);
    else if (magic == INPUT_SCROLL && n == 6)
        snprintf(line, sizeof line, "scroll %d", s16(0));
    else if (magic == INPUT_CONTROLLER && n == 26)
        snprintf(line, sizeof line, "pad %d mask=0x%X buttons=0x%X lt=%d rt=%d lx=%d ly=%d rx=%d ry=%d", l16(2),
                 get_le16(b + 4), get_le16(b + 8) | get_le16(b + 22) << 16, b[10], b[11], l16(12), l16(14), l16(16),
                 l16(18));
    else
        return "";
    return line;
}

// The picture of frame `frame` (from 1): saturated colours, changing every 15 frames.
uint32_t frame_colour(uint32_t frame) {
    static const uint32_t COLOURS[] = {0xFF0000, 0xFFFF00, 0x00FF00, 0x0000FF, 0xFFFFFF};
    return COLOURS[(frame / 15) % 5];
}

}  // namespace

int loopback_socket(int type, int* port) {
    int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;  // the test host cannot start: it ends soon after
    *port = ntohs(a.sin_port);
    return fd;
}

struct FakeStreamHost::Parts {
    FakeStreamOptions options;
    int rtsp_fd = -1, video_fd = -1, audio_fd = -1, rtsp_port = 0, video_port = 0, audio_port = 0;
    ENetHost* enet = nullptr;
    std::atomic<bool> stop{false}, quitting{false}, vanished{false}, has_launch{false};
    std::mutex lock;
    FakeLaunch next{};                // under lock: the launch the next RTSP session takes
    std::vector<std::string> events;  // under lock
    std::atomic<int> idr_requests{0};
    std::thread thread;

    // The session (host thread only).
    FakeLaunch session{};
    int packet_size = 1392;
    ENetPeer* peer = nullptr;
    uint32_t control_sequence = 0;
    Peer video, audio;
    std::unique_ptr<H264Encoder> encoder;
    OpusMSEncoder* opus = nullptr;
    uint32_t frame = 0, data_sent = 0;
    uint16_t video_seq = 0, audio_seq = 0;
    bool idr_next = true;
    int64_t next_frame_ms = 0, next_audio_ms = 0;
    double phase = 0;

    void run();
    void rtsp(int fd);
    void start_session();
    void end_session();
    void control(const ENetEvent& event);
    void send_frame();
    void send_audio();
};

// One request per connection: headers to the blank line, then
// Content-length bytes; the reply, then close. Without a pending launch the
// connection is closed unanswered.
void FakeStreamHost::Parts::rtsp(int listen_fd) {
    int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::string in;
    char buffer[2048];
    for (ssize_t n = 0; in.size() <= 2048; in.append(buffer, size_t(n))) {
        size_t head = in.find("\r\n\r\n"), length = in.find("Content-length: ");
        if (head != std::string::npos &&
            in.size() >= head + 4 + (length < head ? size_t(std::atoi(in.c_str() + length + 16)) : 0))
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 2000) != 1 || (n = recv(fd, buffer, sizeof buffer, 0)) <= 0) break;
    }
    std::string reply, method = in.substr(0, in.find(' '));
    size_t cseq_at = in.find("CSeq: ");
    std::string cseq = cseq_at == std::string::npos ? "0" : std::to_string(std::atoi(in.c_str() + cseq_at + 6));
    if (has_launch) {
        reply = "RTSP/1.0 200 OK\r\nCSeq: " + cseq + "\r\n";
        if (method == "DESCRIBE") {
            reply += "\r\na=x-ss-general.featureFlags:0\na=x-ss-general.encryptionSupported:1\n"
                     "a=x-ss-general.encryptionRequested:1\na=fmtp:97 surround-params=21101\n";
        } else if (method == "SETUP") {
            reply += "Session: DEADBEEFCAFE;timeout = 90\r\n";
            if (in.find("streamid=control") != std::string::npos)
                reply += "Transport: server_port=" + std::to_string(enet->address.port) +
                         "\r\nX-SS-Connect-Data: " + std::to_string(CONNECT_DATA) + "\r\n\r\n";
            else
                reply += "Transport: server_port=" +
                         std::to_string(in.find("streamid=audio") != std::string::npos ? audio_port : video_port) +
                         "\r\nX-SS-Ping-Payload: " + PING_PAYLOAD + "\r\n\r\n";
        } else {
            if (method == "ANNOUNCE") {
                size_t at = in.find("x-nv-video[0].packetSize:");
                // Like a host configured for smaller packets than asked for: an
                // IDR frame then takes several.
                if (at != std::string::npos) packet_size = std::min(std::atoi(in.c_str() + at + 25), 256);
                start_session();
            }
            reply += "\r\n";
        }
    }
    if (!reply.empty()) send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
    close(fd);
}

void FakeStreamHost::Parts::start_session() {
    std::lock_guard<std::mutex> hold(lock);
    session = next;
    frame = 0;
    video_seq = audio_seq = 0;
    idr_next = true;
    video = audio = Peer();
    encoder.reset(new H264Encoder(session.width, session.height, session.fps, 2000));
}

void FakeStreamHost::Parts::end_session() {
    if (peer) enet_peer_disconnect_now(peer, 0);
    peer = nullptr;
    video.known = audio.known = false;
}

void FakeStreamHost::Parts::control(const ENetEvent& e) {
    if (e.type == ENET_EVENT_TYPE_CONNECT) {
        if (e.data != CONNECT_DATA || peer) return enet_peer_reset(e.peer);
        peer = e.peer;
        control_sequence = 0;
        has_launch = false;  // the launch is used up once its session is connected
    } else if (e.type == ENET_EVENT_TYPE_DISCONNECT && e.peer == peer) {
        peer = nullptr;  // the client left; the app keeps running
        end_session();
    } else if (e.type == ENET_EVENT_TYPE_RECEIVE) {
        ControlMessage m;
        if (open_control(session.rikey, 'C', e.packet->data, e.packet->dataLength, &m)) {
            if (m.type == CONTROL_REQUEST_IDR) {
                idr_next = true;
                idr_requests++;
            }
            std::string line = m.type == CONTROL_INPUT ? describe_input(m.payload) : "";
            std::lock_guard<std::mutex> hold(lock);
            if (!line.empty()) events.push_back(line);
            if (!line.empty() && !options.input_log.empty())
                std::ofstream(options.input_log, std::ios::app) << line << "\n";
        }
        enet_packet_destroy(e.packet);
    }
}

// Sunshine's way: frame header + access unit cut into shards of
// packetSize - 16 payload bytes, Reed-Solomon parity over whole datagrams
// (20 %, at least 2), then the RTP fields, FEC info and frame number.
void FakeStreamHost::Parts::send_frame() {
    frame++;
    std::vector<uint8_t> stream = {1, 0, 0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> unit = encoder->encode_solid(frame_colour(frame), idr_next);
    idr_next = false;
    stream[3] = encoder->was_idr() ? FRAME_TYPE_IDR : FRAME_TYPE_P;
    stream.insert(stream.end(), unit.begin(), unit.end());
    size_t chunk = size_t(packet_size) - 16, shard_size = size_t(packet_size) + 16;
    // FEC blocks of at most two data shards, up to four, so that frames of
    // several blocks occur (a real host has them only past 200 packets).
    int total = int((stream.size() + chunk - 1) / chunk), per_block = std::max(2, (total + 3) / 4);
    int blocks = (total + per_block - 1) / per_block;
    bool lose = options.lose_frame_every > 0 && frame % unsigned(options.lose_frame_every) == 0;
    for (int block = 0; block < blocks; block++) {
        int first = block * per_block, data = std::min(per_block, total - first);
        int parity = parity_shards(data, 20, 2), percent = parity > parity_shards(data, 20, 0) ? 100 * parity / data : 20;
        std::vector<uint8_t> shards(size_t(data + parity) * shard_size, 0);
        std::vector<uint8_t*> rows;
        for (int i = 0; i < data + parity; i++) rows.push_back(&shards[size_t(i) * shard_size]);
        // Data shards carry their flags and packet index under the parity;
        // the rest of the header is filled in after it, on parity shards too.
        for (int i = 0; i < data; i++) {
            VideoPacketHeader h;
            h.packet_index = uint16_t(video_seq + i);
            h.flags = uint8_t(VIDEO_PIC_DATA | (i == 0 ? VIDEO_SOF : 0) | (i == data - 1 ? VIDEO_EOF : 0));
            write_video_header(h, rows[size_t(i)]);
            size_t at = size_t(first + i) * chunk;
            std::memcpy(rows[size_t(i)] + VIDEO_HEADER_SIZE, &stream[at], std::min(chunk, stream.size() - at));
        }
        ReedSolomon(data, parity).encode(rows.data(), shard_size);
        for (int i = 0; i < data + parity; i++) {
            uint8_t* s = rows[size_t(i)];
            s[0] = 0x90;
            put_be16(s + 2, video_seq++);
            put_be32(s + 4, frame * 90000u / unsigned(session.fps));
            put_le32(s + 20, frame);
            s[27] = uint8_t(block << 4 | (blocks - 1) << 6);
            put_le32(s + 28, uint32_t(data) << 22 | uint32_t(i) << 12 | uint32_t(percent) << 4);
            bool drop = i < data && options.drop_every > 0 && ++data_sent % unsigned(options.drop_every) == 0;
            if (!drop && !lose) video.send(video_fd, s, shard_size);
        }
    }
    if (!options.frame_log.empty() && frame_colour(frame) != frame_colour(frame - 1))
        std::ofstream(options.frame_log, std::ios::app) << std::hex << frame_colour(frame) << std::dec << " " << steady_us() << "\n";
}

// 5 ms of a 440 Hz tone, Opus in RTP.
void FakeStreamHost::Parts::send_audio() {
    int16_t pcm[240 * 2];
    for (int i = 0; i < 240; i++, phase += 2 * M_PI * 440 / 48000)
        pcm[2 * i] = pcm[2 * i + 1] = int16_t(8000 * std::sin(phase));
    uint8_t out[12 + 400] = {0x80, 97};
    int n = opus_multistream_encode(opus, pcm, 240, out + 12, 400);
    put_be16(out + 2, audio_seq);
    put_be32(out + 4, uint32_t(audio_seq) * 5);
    audio_seq++;
    if (n > 0) audio.send(audio_fd, out, size_t(12 + n));
}

void FakeStreamHost::Parts::run() {
    while (!stop) {
        if (vanished) {
            usleep(10000);
            continue;
        }
        pollfd fds[3] = {{rtsp_fd, POLLIN, 0}, {video_fd, POLLIN, 0}, {audio_fd, POLLIN, 0}};
        poll(fds, 3, 1);
        if (fds[0].revents) rtsp(rtsp_fd);
        if (fds[1].revents) video.take_ping(video_fd);
        if (fds[2].revents) audio.take_ping(audio_fd);
        ENetEvent event;
        while (enet_host_service(enet, &event, 0) > 0) control(event);
        if (quitting.exchange(false)) {
            if (peer) {
                ControlMessage m{CONTROL_TERMINATION, {0x80, 0x03, 0x00, 0x23}};
                std::vector<uint8_t> sealed = seal_control(session.rikey, control_sequence++, 'H', m);
                enet_peer_send(peer, 0, enet_packet_create(sealed.data(), sealed.size(), ENET_PACKET_FLAG_RELIABLE));
                enet_peer_disconnect_later(peer, 0);  // after the message is through
                peer = nullptr;
            }
            end_session();
        }
        int64_t now = now_ms();
        if (peer && video.known && now >= next_frame_ms) {
            send_frame();
            next_frame_ms = now + 1000 / session.fps;
        }
        for (; peer && audio.known && now >= next_audio_ms; next_audio_ms += 5) {
            if (next_audio_ms < now - 50) next_audio_ms = now;
            send_audio();
        }
    }
}

FakeStreamHost::FakeStreamHost(const FakeStreamOptions& options) : parts_(new Parts) {
    Parts& p = *parts_;
    p.options = options;
    static std::once_flag once;
    std::call_once(once, [] { enet_initialize(); });
    p.rtsp_fd = loopback_socket(SOCK_STREAM, &p.rtsp_port);
    listen(p.rtsp_fd, 8);
    p.video_fd = loopback_socket(SOCK_DGRAM, &p.video_port);
    p.audio_fd = loopback_socket(SOCK_DGRAM, &p.audio_port);
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    p.enet = enet_host_create(&address, 4, 0, 0, 0);
    enet_socket_get_address(p.enet->socket, &p.enet->address);
    const unsigned char mapping[2] = {0, 1};
    int error = 0;
    p.opus = opus_multistream_encoder_create(48000, 2, 1, 1, mapping, OPUS_APPLICATION_RESTRICTED_LOWDELAY, &error);
    opus_multistream_encoder_ctl(p.opus, OPUS_SET_BITRATE(96000));
    opus_multistream_encoder_ctl(p.opus, OPUS_SET_VBR(0));
    p.thread = std::thread(&Parts::run, parts_.get());
}

FakeStreamHost::~FakeStreamHost() {
    parts_->stop = true;
    parts_->thread.join();
    enet_host_destroy(parts_->enet);
    for (int fd : {parts_->rtsp_fd, parts_->video_fd, parts_->audio_fd}) close(fd);
    opus_multistream_encoder_destroy(parts_->opus);
}

int FakeStreamHost::rtsp_port() const { return parts_->rtsp_port; }

void FakeStreamHost::launch(const FakeLaunch& launch) {
    std::lock_guard<std::mutex> hold(parts_->lock);
    parts_->next = launch;
    parts_->has_launch = true;
}

void FakeStreamHost::quit() { parts_->quitting = true; }
void FakeStreamHost::vanish() { parts_->vanished = true; }

std::vector<std::string> FakeStreamHost::input_events() const {
    std::lock_guard<std::mutex> hold(parts_->lock);
    return parts_->events;
}

int FakeStreamHost::idr_requests() const { return parts_->idr_requests; }

}  // namespace qvs
