// One client connection: greeting, menu, streams, pacing, all on one
// thread with poll() so that Pings are answered while frames go out.
//
//   client                      server
//   Hello (QV98, size, fps,  -> AppList, ServerText welcome
//          sound, name, key)    (wrong key: ServerText, then close)
//   LaunchApp id             -> game stream: title, PIN, text; the PIN
//                               shows for pin_ms, then as below
//                            -> StreamSetup, status, title, [web address],
//                               StreamState 1, then VideoFrames (at most
//                               `window` unacknowledged) and AudioData
//   FrameAck n               (covers every frame up to n)
//   MenuRequest              -> StreamState 0, status
//   Ping t                   -> Pong t, ahead of everything not yet begun
//   Key, Char, Mouse*,       (shown in the picture while an entry runs)
//   Gamepad, WebAddress
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <random>

#include "core/client_state.h"
#include "server/demo.h"
#include "server/protocol.h"
#include "server/server.h"

namespace qvs {

void log_line(const char* format, ...) {
    char when[32];
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    std::strftime(when, sizeof when, "%H:%M:%S", &local);
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "%s quorvane-server: %s\n", when, text);
}

namespace {

int64_t now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string clock_text() {
    std::time_t now = std::time(nullptr);
    std::tm local;
    localtime_r(&now, &local);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &local);
    return buf;
}

// Printable form of a client-supplied text for the log.
std::string loggable(const std::string& text) {
    std::string out;
    for (char ch : utf8_cut(text, 200)) out += (uint8_t(ch) < 0x20 || ch == 0x7F) ? '?' : ch;
    return out;
}

int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

enum OutKind { OUT_CONTROL, OUT_VIDEO, OUT_AUDIO };

// Bytes waiting for the socket beyond which the client is taken to be
// gone: far more than one frame of the largest picture.
const size_t OUTPUT_BACKLOG_LIMIT = 16u << 20;
// Bytes read per wake-up, so that a flood of input cannot starve the
// stream.
const size_t READ_PER_WAKE = 256u << 10;

struct Outgoing {
    Bytes data;
    size_t sent;
    OutKind kind;
};

class Session {
public:
    Session(int fd, const ServerConfig& config, int number, const std::string& peer,
            const std::atomic<bool>* stop)
        : fd_(fd), config_(config), number_(number), peer_(peer), stop_(stop),
          encoder_(config.encoder), random_(uint32_t(now_ms()) ^ uint32_t(number * 2654435761u)) {}

    void run();

private:
    enum Phase { AWAIT_HELLO, MENU, PAIRING, STREAMING, CLOSING };

    // --- I/O ---------------------------------------------------------
    bool read_input();       // false: the client left or the link failed
    bool flush_output();     // false: the link failed
    void queue(Bytes message, OutKind kind);
    void queue_urgent(Bytes message);
    void check_backlog();
    void end(const std::string& why) {
        if (!ended_) end_reason_ = why;
        ended_ = true;
    }

    // --- Messages ----------------------------------------------------
    void handle(uint8_t type, const uint8_t* payload, uint32_t length);
    void on_hello(const uint8_t* payload, uint32_t length);
    void on_launch(uint16_t id);
    void on_frame_ack(uint32_t id);
    void start_pairing();
    void start_stream();
    void back_to_menu();

    // --- Stream ------------------------------------------------------
    void produce(int64_t now);
    void send_frame(int64_t now);
    void send_audio(int64_t now);
    uint32_t in_flight() const { return last_sent_ - last_acked_; }

    int fd_;
    const ServerConfig& config_;
    int number_;
    std::string peer_;
    const std::atomic<bool>* stop_;

    Phase phase_ = AWAIT_HELLO;
    bool ended_ = false;
    std::string end_reason_;
    int64_t started_ = 0, last_input_ = 0, phase_deadline_ = 0;
    bool close_when_flushed_ = false;

    Bytes in_;                       // bytes received and not yet handled
    std::deque<Outgoing> out_;       // messages waiting for the socket
    int queued_video_ = 0;
    size_t queued_audio_bytes_ = 0;
    size_t queued_bytes_ = 0;

    // From the Hello.
    Hello hello_;
    int width_ = 640, height_ = 480, fps_ = 30, rate_ = 0, channels_ = 2;

    // The running entry.
    const DemoEntry* entry_ = nullptr;
    std::unique_ptr<DemoScene> scene_;
    std::unique_ptr<Melody> melody_;
    InputView input_;
    Canvas canvas_;
    FrameEncoder encoder_;
    Bytes body_;
    std::mt19937 random_;
    int64_t stream_started_ = 0, audio_started_ = 0;
    int64_t next_frame_us_ = 0;  // when the next frame is due, in microseconds of now_ms()
    uint64_t audio_frames_sent_ = 0;

    // Pacing: frame numbers run on through the whole connection.
    uint32_t last_sent_ = 0, last_acked_ = 0;

    // Totals for the closing log line.
    uint64_t frames_total_ = 0, video_bytes_ = 0, bytes_out_ = 0, audio_dropped_ = 0;
    uint32_t pings_ = 0;
};

void Session::queue(Bytes message, OutKind kind) {
    if (kind == OUT_VIDEO) queued_video_++;
    if (kind == OUT_AUDIO) queued_audio_bytes_ += message.size();
    queued_bytes_ += message.size();
    out_.push_back(Outgoing{std::move(message), 0, kind});
    check_backlog();
}

void Session::check_backlog() {
    // Frames wait for acknowledgements and sound is skipped when it piles
    // up, so only a client that sends (Pings) without ever reading can
    // make the queue grow: it is dropped.
    if (queued_bytes_ > OUTPUT_BACKLOG_LIMIT) end("the client does not read what it is sent");
}

void Session::queue_urgent(Bytes message) {
    // Ahead of everything not yet begun: a message half on the wire must
    // be finished first.
    auto at = out_.begin();
    if (!out_.empty() && out_.front().sent > 0) ++at;
    queued_bytes_ += message.size();
    out_.insert(at, Outgoing{std::move(message), 0, OUT_CONTROL});
    check_backlog();
}

bool Session::flush_output() {
    while (!out_.empty()) {
        Outgoing& o = out_.front();
        ssize_t n = ::send(fd_, o.data.data() + o.sent, o.data.size() - o.sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
            if (errno == EINTR) continue;
            end(std::string("sending failed: ") + std::strerror(errno));
            return false;
        }
        o.sent += size_t(n);
        bytes_out_ += uint64_t(n);
        if (o.sent < o.data.size()) continue;
        if (o.kind == OUT_VIDEO) queued_video_--;
        if (o.kind == OUT_AUDIO) queued_audio_bytes_ -= o.data.size();
        queued_bytes_ -= o.data.size();
        out_.pop_front();
    }
    return true;
}

bool Session::read_input() {
    uint8_t buf[16384];
    for (size_t total = 0; total < READ_PER_WAKE;) {
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        if (n == 0) {
            end("the client closed the connection");
            return false;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            if (errno == EINTR) continue;
            end(std::string("receiving failed: ") + std::strerror(errno));
            return false;
        }
        total += size_t(n);
        in_.insert(in_.end(), buf, buf + n);
        last_input_ = now_ms();
        // Handle every whole message; keep a partial one.
        size_t at = 0;
        while (!ended_ && in_.size() - at >= WIRE_HEADER_SIZE) {
            uint32_t length = read_u32(&in_[at]);
            uint8_t type = in_[at + 4];
            if (length > CLIENT_PAYLOAD_LIMIT) {
                char why[96];
                std::snprintf(why, sizeof why, "message of type %u announces %u bytes, more than a client sends",
                              type, length);
                end(why);
                return false;
            }
            if (in_.size() - at < WIRE_HEADER_SIZE + length) break;
            handle(type, &in_[at + WIRE_HEADER_SIZE], length);
            at += WIRE_HEADER_SIZE + length;
        }
        in_.erase(in_.begin(), in_.begin() + long(at));
        if (ended_) return false;
    }
    return true;
}

void Session::handle(uint8_t type, const uint8_t* p, uint32_t length) {
    if (type == MSG_PING) {
        // Answered at once in every phase, before anything still queued.
        if (length >= 4) {
            queue_urgent(make_pong(p));
            pings_++;
        }
        return;
    }
    if (phase_ == CLOSING) return;
    if (phase_ == AWAIT_HELLO) {
        if (type == MSG_HELLO) on_hello(p, length);
        // Input that overtook the Hello is of no use yet.
        return;
    }
    switch (type) {
    case MSG_HELLO:
        log_line("#%d: a second Hello, ignored", number_);
        return;
    case MSG_LAUNCH_APP:
        if (length >= 2) on_launch(read_u16(p));
        return;
    case MSG_MENU_REQUEST:
        back_to_menu();
        return;
    case MSG_FRAME_ACK:
        if (length >= 4) on_frame_ack(read_u32(p));
        return;
    case MSG_WEB_ADDRESS:
        if (length >= 1) {
            input_.apply(type, p, length);
            log_line("#%d: web address \"%s\"", number_, loggable(input_.web_address).c_str());
        }
        return;
    default:
        break;
    }
    if (type >= MSG_KEY && type <= MSG_GAMEPAD) {
        // Input counts only while an entry runs: the picture shows it.
        if (phase_ == STREAMING && input_.apply(type, p, length) && config_.verbose) {
            log_line("#%d: input type %u, %u bytes", number_, type, length);
        }
        return;
    }
    if (config_.verbose) log_line("#%d: unknown message type %u (%u bytes) ignored", number_, type, length);
}

void Session::on_hello(const uint8_t* p, uint32_t length) {
    if (!parse_hello(p, length, &hello_)) {
        end("the first message is not a Hello of this protocol");
        return;
    }
    std::string sound = hello_.sample_rate ? std::to_string(hello_.sample_rate) + " Hz x " + std::to_string(hello_.channels)
                                           : std::string("off");
    log_line("#%d: Hello from \"%s\": %ux%u at %u fps, sound %s", number_, loggable(hello_.name).c_str(),
             hello_.width, hello_.height, hello_.fps, sound.c_str());
    if (config_.require_key && hello_.key != config_.key) {
        log_line("#%d: wrong key, refused", number_);
        queue(make_server_text(0, "Fel nyckel: servern släpper inte in dig. Ändra nyckeln med F10."),
              OUT_CONTROL);
        phase_ = CLOSING;
        phase_deadline_ = now_ms() + config_.refuse_linger_ms;
        return;
    }
    width_ = config_.width ? config_.width : hello_.width ? hello_.width : 640;
    height_ = config_.height ? config_.height : hello_.height ? hello_.height : 480;
    width_ = clamp(width_, MIN_WIDTH, MAX_WIDTH);
    height_ = clamp(height_, MIN_HEIGHT, MAX_HEIGHT);
    fps_ = config_.fps ? config_.fps : hello_.fps ? hello_.fps : 30;
    fps_ = clamp(fps_, 1, MAX_FPS);
    rate_ = config_.audio && hello_.sample_rate ? clamp(int(hello_.sample_rate > 1000000 ? 1000000 : hello_.sample_rate),
                                                          MIN_SAMPLE_RATE, MAX_SAMPLE_RATE)
                                                : 0;
    channels_ = hello_.channels == 1 ? 1 : 2;
    phase_ = MENU;
    queue(make_app_list(demo_menu()), OUT_CONTROL);
    std::string name = hello_.name.empty() ? std::string("du") : utf8_cut(hello_.name, 31);
    queue(make_server_text(0, "Välkommen, " + name + "! Välj med pilarna och Enter."), OUT_CONTROL);
}

void Session::on_launch(uint16_t id) {
    const DemoEntry* entry = find_demo_entry(id);
    if (!entry) {
        log_line("#%d: launch of unknown id %u", number_, id);
        queue(make_server_text(0, "Det finns inget program med nummer " + std::to_string(id) + "."), OUT_CONTROL);
        return;
    }
    entry_ = entry;
    log_line("#%d: launch %u \"%s\"", number_, id, entry->name);
    if (entry->kind == APP_KIND_MOONLIGHT) start_pairing();
    else start_stream();
}

void Session::start_pairing() {
    // The game stream pairs first: the PIN shows on the title screen (the
    // client stays in the menu mode) before the stream begins.
    char pin[8];
    std::snprintf(pin, sizeof pin, "%04u", unsigned(random_() % 10000));
    log_line("#%d: pairing, PIN %s", number_, pin);
    if (phase_ == STREAMING) queue(make_stream_state(0, 1, entry_->kind), OUT_CONTROL);
    queue(make_server_text(TEXT_SLOT_TITLE, entry_->title), OUT_CONTROL);
    queue(make_server_text(TEXT_SLOT_PIN, pin), OUT_CONTROL);
    queue(make_server_text(0, "Parar ihop med strömvärden ... strömmen startar strax."), OUT_CONTROL);
    phase_ = PAIRING;
    phase_deadline_ = now_ms() + config_.pin_ms;
}

void Session::start_stream() {
    const DemoEntry& e = *entry_;
    queue(make_stream_setup(uint16_t(width_), uint16_t(height_), rate_, uint8_t(channels_),
                            std::string("Startar ") + e.name + " ..."),
          OUT_CONTROL);
    if (e.kind == APP_KIND_MOONLIGHT) queue(make_server_text(TEXT_SLOT_PIN, ""), OUT_CONTROL);
    queue(make_server_text(0, std::string(e.name) + " körs. F9 = tillbaka till menyn."), OUT_CONTROL);
    queue(make_server_text(TEXT_SLOT_TITLE, e.title), OUT_CONTROL);
    input_ = InputView();
    if (e.kind == APP_KIND_WEB) {
        input_.web_address = "http://quorvane.local/start";
        queue(make_server_text(TEXT_SLOT_WEB_ADDRESS, input_.web_address), OUT_CONTROL);
    }
    queue(make_stream_state(1, e.pointer_mode, e.kind), OUT_CONTROL);

    scene_.reset(new DemoScene(e, width_, height_));
    melody_.reset(rate_ > 0 ? new Melody(rate_, channels_) : nullptr);
    // The client keeps its old picture when the size stays: repaint all.
    encoder_.force_full();
    int64_t now = now_ms();
    stream_started_ = now;
    next_frame_us_ = now * 1000;
    audio_started_ = now;
    audio_frames_sent_ = 0;
    phase_ = STREAMING;
    log_line("#%d: streaming \"%s\" %dx%d at %d fps, sound %s", number_, e.name, width_, height_, fps_,
             rate_ ? (std::to_string(rate_) + " Hz x " + std::to_string(channels_)).c_str() : "off");
}

void Session::back_to_menu() {
    if (phase_ == PAIRING) queue(make_server_text(TEXT_SLOT_PIN, ""), OUT_CONTROL);
    if (phase_ == STREAMING || phase_ == PAIRING) {
        log_line("#%d: back to the menu", number_);
        // Sound not yet begun on the wire is of no use any more.
        for (auto it = out_.begin(); it != out_.end();) {
            if (it->kind == OUT_AUDIO && it->sent == 0) {
                queued_audio_bytes_ -= it->data.size();
                queued_bytes_ -= it->data.size();
                it = out_.erase(it);
            } else {
                ++it;
            }
        }
    }
    phase_ = MENU;
    scene_.reset();
    melody_.reset();
    queue(make_stream_state(0, 1, 0), OUT_CONTROL);
    queue(make_server_text(0, "Tillbaka i menyn."), OUT_CONTROL);
}

void Session::on_frame_ack(uint32_t id) {
    // Acknowledgements come in order; one for frame n covers all before it.
    // Numbers never sent are ignored.
    uint32_t ahead = id - last_acked_;
    if (ahead != 0 && ahead <= in_flight()) last_acked_ = id;
}

void Session::send_frame(int64_t now) {
    double seconds = double(now - stream_started_) / 1000.0;
    if (config_.noise) {
        if (canvas_.width != width_ || canvas_.height != height_) canvas_.resize(width_, height_);
        for (uint16_t& px : canvas_.pixels) px = uint16_t(random_() & 0x7FFF);
    } else {
        scene_->render(seconds, clock_text(), input_, canvas_);
    }
    uint32_t id = last_sent_ + 1;
    encoder_.encode(id, canvas_.pixels.data(), width_, height_, body_);
    if (body_.size() > WIRE_MAX_PAYLOAD) {
        // Cannot happen within the size limits; never send what the client
        // would refuse.
        end("a frame grew beyond the largest message");
        return;
    }
    last_sent_ = id;
    frames_total_++;
    video_bytes_ += body_.size();
    queue(frame_message(MSG_VIDEO_FRAME, body_), OUT_VIDEO);
    if (config_.frame_limit && frames_total_ >= config_.frame_limit) {
        log_line("#%d: %u frames sent, closing", number_, unsigned(frames_total_));
        phase_ = CLOSING;
        close_when_flushed_ = true;
        phase_deadline_ = now + 5000;
    }
}

void Session::send_audio(int64_t now) {
    // Real-time pacing, about 100 ms ahead, in pieces of 50 ms that fit one
    // of the client's 8192-byte sound buffers.
    const int lead_ms = 100;
    int chunk = rate_ / 20;
    if (chunk * 2 * channels_ > 8192) chunk = 8192 / (2 * channels_);
    uint64_t target = uint64_t(now - audio_started_ + lead_ms) * uint64_t(rate_) / 1000;
    std::vector<int16_t> samples(size_t(chunk) * size_t(channels_));
    while (audio_frames_sent_ + uint64_t(chunk) <= target) {
        melody_->generate(samples.data(), chunk);
        audio_frames_sent_ += uint64_t(chunk);
        // A link too slow for the sound: skip rather than pile up.
        if (queued_audio_bytes_ > size_t(4 * chunk * 2 * channels_)) {
            audio_dropped_++;
            continue;
        }
        queue(make_audio(samples.data(), samples.size()), OUT_AUDIO);
    }
}

void Session::produce(int64_t now) {
    if (phase_ == PAIRING && now >= phase_deadline_) start_stream();
    if (phase_ != STREAMING) return;
    if (melody_) send_audio(now);
    if (now * 1000 >= next_frame_us_ && in_flight() < uint32_t(config_.window) && queued_video_ == 0) {
        send_frame(now);
        // Kept in microseconds so that 60 frames a second are 60, not 62.
        int64_t interval = 1000000 / fps_;
        next_frame_us_ += interval;
        if (next_frame_us_ <= now * 1000) next_frame_us_ = now * 1000 + interval;
    }
}

void Session::run() {
    int flags = fcntl(fd_, F_GETFL, 0);
    fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    started_ = last_input_ = now_ms();
    phase_deadline_ = started_ + config_.hello_timeout_ms;
    log_line("#%d: connection from %s", number_, peer_.c_str());

    while (!ended_) {
        int64_t now = now_ms();
        if (stop_ && stop_->load()) {
            end("the server is stopping");
            break;
        }
        if (phase_ == AWAIT_HELLO && now >= phase_deadline_) {
            end("no Hello in time");
            break;
        }
        if (phase_ == CLOSING && (now >= phase_deadline_ || (close_when_flushed_ && out_.empty()))) {
            end(close_when_flushed_ ? "frame limit reached" : "refused");
            break;
        }
        if (now - last_input_ >= config_.idle_timeout_ms) {
            end("the client went silent");
            break;
        }
        produce(now);
        if (ended_) break;
        if (!flush_output()) break;

        // Sleep until the next thing to do: a frame, a piece of sound, a
        // deadline, or at most 200 ms (to notice a stop request).
        int64_t wake = now + 200;
        if (phase_ == AWAIT_HELLO || phase_ == PAIRING || phase_ == CLOSING)
            wake = std::min(wake, phase_deadline_);
        wake = std::min(wake, last_input_ + config_.idle_timeout_ms);
        if (phase_ == STREAMING) {
            if (in_flight() < uint32_t(config_.window) && queued_video_ == 0) wake = std::min(wake, (next_frame_us_ + 999) / 1000);
            if (melody_) {
                int chunk = rate_ / 20;
                if (chunk * 2 * channels_ > 8192) chunk = 8192 / (2 * channels_);
                // One millisecond late rather than early: rounding must not
                // wake the loop before a piece is really due.
                int64_t due = audio_started_ + int64_t((audio_frames_sent_ + uint64_t(chunk)) * 1000 / uint64_t(rate_)) - 100 + 1;
                wake = std::min(wake, due);
            }
        }
        int timeout = int(wake - now_ms());
        if (timeout < 0) timeout = 0;
        pollfd p = {fd_, short(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0};
        int r = ::poll(&p, 1, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            end(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (r == 0) continue;
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!read_input()) break;
        }
        if (!flush_output()) break;
    }
    double seconds = double(now_ms() - started_) / 1000.0;
    log_line("#%d: closed after %.1f s (%s): %llu frames, %llu kB video, %llu kB in all, %u pings%s", number_,
             seconds, end_reason_.c_str(), (unsigned long long)frames_total_,
             (unsigned long long)(video_bytes_ / 1024), (unsigned long long)(bytes_out_ / 1024), pings_,
             audio_dropped_ ? (", " + std::to_string(audio_dropped_) + " sound pieces skipped").c_str() : "");
    ::close(fd_);
}

}  // namespace

void serve_connection(int fd, const ServerConfig& config, int number, const std::string& peer,
                      const std::atomic<bool>* stop) {
    Session session(fd, config, number, peer, stop);
    session.run();
}

int open_listener(const std::string& address, int port, int* bound_port, std::string* error) {
    sockaddr_in sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        *error = "not an IPv4 address: " + address;
        return -1;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 4) != 0) {
        *error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    if (bound_port) *bound_port = ntohs(sa.sin_port);
    return fd;
}

void serve(int listen_fd, const ServerConfig& config, const std::atomic<bool>* stop, int max_connections) {
    int served = 0;
    while (!(stop && stop->load()) && (max_connections <= 0 || served < max_connections)) {
        pollfd p = {listen_fd, POLLIN, 0};
        int r = ::poll(&p, 1, 200);
        if (r <= 0) continue;
        sockaddr_in sa;
        socklen_t len = sizeof sa;
        int fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EINTR && errno != EAGAIN && errno != ECONNABORTED)
                log_line("accept failed: %s", std::strerror(errno));
            continue;
        }
        char host[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &sa.sin_addr, host, sizeof host);
        served++;
        serve_connection(fd, config, served, std::string(host) + ":" + std::to_string(ntohs(sa.sin_port)), stop);
    }
}

}  // namespace qvs
