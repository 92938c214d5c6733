// One client connection: greeting, menu, streams and pacing, on one thread
// with poll() so that Pings are answered while frames go out.
//
//   client                      server
//   Hello (QV98, size, fps,  -> AppList, ServerText welcome
//          sound, name, key)    (wrong key: ServerText, then close)
//   LaunchApp id             -> ServerText "Startar ...", then StreamSetup,
//                               texts, StreamState 1, VideoFrames (at most
//                               `window` unacknowledged) and AudioData
//   FrameAck n               (covers every frame up to n)
//   MenuRequest              -> StreamState 0, status (programs keep running)
//   Ping t                   -> Pong t, ahead of everything not yet begun
//   Key, Char, Mouse*,       -> the running entry's source
//   Gamepad, WebAddress
//
// Pacing: a picture is grabbed only when the client has room for a frame,
// so changes that come while frames are in flight merge into the next one
// and the newest picture always wins.
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

#include "server/net/frame_pacer.h"
#include "server/net/key_gate.h"
#include "server/protocol.h"
#include "server/net/server.h"
#include "server/sessions/open_source.h"
#include "server/sessions/workspace.h"

#include "server/log.h"

namespace qvs {

namespace {

int64_t now_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

enum OutKind { OUT_CONTROL, OUT_VIDEO, OUT_AUDIO };

// Bytes waiting for the socket beyond which the client is taken to be
// gone: far more than one frame of the largest picture.
const size_t OUTPUT_BACKLOG_LIMIT = 16u << 20;
// Bytes read per wake-up, so that a flood of input cannot starve the stream.
const size_t READ_PER_WAKE = 256u << 10;
// A source with a wake descriptor is still looked at this often: its slow
// full comparison catches what change events missed.
const int64_t SWEEP_MS = 250;
// Sound pieces: 20 ms, and at most this much waiting for the socket. With
// the recorder's own 80 ms at most, sound older than 150 ms is dropped
// rather than sent.
const int AUDIO_PIECE_MS = 20;
const int AUDIO_BACKLOG_MS = 60;

struct Outgoing {
    Bytes data;
    size_t sent;
    OutKind kind;
    uint32_t frame;  // OUT_VIDEO: its frame number
};

class Connection {
public:
    Connection(int fd, const ServerConfig& config, int number, const std::string& host, const std::string& peer,
               const std::atomic<bool>* stop)
        : fd_(fd), config_(config), number_(number), host_(host), peer_(peer), stop_(stop),
          encoder_(config.encoder) {}
    ~Connection() {
        end_stream();
        if (workspace_) Workspaces::instance().release(workspace_);
    }

    void run();

private:
    enum Phase { AWAIT_HELLO, MENU, STREAMING, CLOSING };

    // --- I/O ---------------------------------------------------------
    bool read_input();       // false: the client left or the link failed
    bool handle_buffered();  // false: the connection ends
    bool flush_output();
    void queue(Bytes message, OutKind kind, uint32_t frame = 0);
    void queue_urgent(Bytes message);
    void end(const std::string& why) {
        if (!ended_) end_reason_ = why;
        ended_ = true;
    }

    // --- Messages ----------------------------------------------------
    void handle(uint8_t type, const uint8_t* payload, uint32_t length);
    void on_hello();
    void on_launch(uint16_t id);
    void on_frame_ack(uint32_t id);
    void back_to_menu(const std::string& status);
    void end_stream();

    // --- Stream ------------------------------------------------------
    void produce(int64_t now);
    void send_frame(int64_t now);
    void send_audio();
    uint32_t in_flight() const { return last_sent_ - last_acked_; }
    bool room_for_frame() const { return in_flight() < uint32_t(config_.window) && queued_video_ == 0; }
    int64_t next_grab_ms() const;
    int64_t interval_ms() const { return std::max<int64_t>(1, pacer_->interval_us() / 1000); }

    int fd_;
    const ServerConfig& config_;
    int number_;
    std::string host_, peer_;
    const std::atomic<bool>* stop_;

    Phase phase_ = AWAIT_HELLO;
    bool ended_ = false;
    std::string end_reason_;
    int64_t started_ = 0, last_input_ = 0, phase_deadline_ = 0;
    bool close_when_flushed_ = false;
    bool hello_waiting_ = false;  // a Hello whose key is read once the address may try again
    int64_t hello_retry_ = 0;

    Bytes in_;
    std::deque<Outgoing> out_;
    int queued_video_ = 0;
    size_t queued_audio_bytes_ = 0, queued_bytes_ = 0;

    // From the Hello.
    Hello hello_;
    StreamFormat format_;
    int fps_ = 30;
    std::shared_ptr<Workspace> workspace_;

    // The running entry.
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

    // Pacing: frame numbers run on through the whole connection.
    uint32_t last_sent_ = 0, last_acked_ = 0;

    // Totals for the closing log line.
    uint64_t frames_total_ = 0, video_bytes_ = 0, bytes_out_ = 0, audio_dropped_ = 0;
    uint32_t pings_ = 0;
};

void Connection::queue(Bytes message, OutKind kind, uint32_t frame) {
    if (kind == OUT_VIDEO) queued_video_++;
    if (kind == OUT_AUDIO) queued_audio_bytes_ += message.size();
    queued_bytes_ += message.size();
    out_.push_back(Outgoing{std::move(message), 0, kind, frame});
    // Frames wait for acknowledgements and sound is skipped when it piles
    // up, so only a client that sends without ever reading gets here.
    if (queued_bytes_ > OUTPUT_BACKLOG_LIMIT) end("the client does not read what it is sent");
}

void Connection::queue_urgent(Bytes message) {
    // Ahead of everything not yet begun; a message half on the wire first.
    auto at = out_.begin();
    if (!out_.empty() && out_.front().sent > 0) ++at;
    queued_bytes_ += message.size();
    out_.insert(at, Outgoing{std::move(message), 0, OUT_CONTROL, 0});
    if (queued_bytes_ > OUTPUT_BACKLOG_LIMIT) end("the client does not read what it is sent");
}

bool Connection::flush_output() {
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
        if (o.kind == OUT_VIDEO) {
            queued_video_--;
            if (pacer_) pacer_->sent(o.frame, now_us());
        }
        if (o.kind == OUT_AUDIO) queued_audio_bytes_ -= o.data.size();
        queued_bytes_ -= o.data.size();
        out_.pop_front();
    }
    return true;
}

bool Connection::read_input() {
    uint8_t buf[16384];
    for (size_t total = 0; total < READ_PER_WAKE && !hello_waiting_;) {
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
        if (!handle_buffered()) return false;
    }
    return true;
}

bool Connection::handle_buffered() {
    // Every whole message; a partial one stays. A Hello waiting for its key
    // check holds back what follows it (and reading stops meanwhile).
    size_t at = 0;
    while (!ended_ && !hello_waiting_ && in_.size() - at >= WIRE_HEADER_SIZE) {
        uint32_t length = read_u32(&in_[at]);
        uint8_t type = in_[at + 4];
        if (length > CLIENT_PAYLOAD_LIMIT) {
            char why[96];
            std::snprintf(why, sizeof why, "message of type %u announces %u bytes, more than a client sends", type,
                          length);
            end(why);
            return false;
        }
        if (in_.size() - at < WIRE_HEADER_SIZE + length) break;
        handle(type, &in_[at + WIRE_HEADER_SIZE], length);
        at += WIRE_HEADER_SIZE + length;
    }
    in_.erase(in_.begin(), in_.begin() + long(at));
    return !ended_;
}

void Connection::handle(uint8_t type, const uint8_t* p, uint32_t length) {
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
        if (type != MSG_HELLO) return;  // input that overtook the Hello is of no use yet
        if (!parse_hello(p, length, &hello_)) {
            end("the first message is not a Hello of this protocol");
            return;
        }
        std::string sound = hello_.sample_rate ? std::to_string(hello_.sample_rate) + " Hz x " +
                                                     std::to_string(hello_.channels)
                                               : std::string("off");
        log_line("#%d: Hello from \"%s\": %ux%u at %u fps, sound %s", number_, loggable(hello_.name).c_str(),
                 hello_.width, hello_.height, hello_.fps, sound.c_str());
        on_hello();
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
        if (phase_ == STREAMING)
            back_to_menu(entry_->kind == AppKind::Program || entry_->kind == AppKind::Web
                             ? "Tillbaka i menyn. " + entry_->name + " väntar på dig."
                             : std::string("Tillbaka i menyn."));
        else queue(make_stream_state(0, 1, 0), OUT_CONTROL);
        return;
    case MSG_FRAME_ACK:
        if (length >= 4) on_frame_ack(read_u32(p));
        return;
    default:
        break;
    }
    if ((type >= MSG_KEY && type <= MSG_GAMEPAD) || type == MSG_WEB_ADDRESS) {
        // Input counts only while an entry runs.
        if (phase_ != STREAMING) return;
        if (config_.verbose) log_line("#%d: input type %u, %u bytes", number_, type, length);
        source_->input(type, p, length);
        // Look again at once, so that typing shows without waiting a frame.
        dirty_ = true;
        next_frame_ms_ = std::min(next_frame_ms_, now_ms());
        return;
    }
    if (config_.verbose) log_line("#%d: unknown message type %u (%u bytes) ignored", number_, type, length);
}

void Connection::on_hello() {
    if (config_.require_key) {
        int64_t retry = 0;
        bool right = KeyGate::instance().check(host_, hello_.key, config_.key, config_.wrong_key_wait_ms, now_ms(),
                                               &retry);
        hello_waiting_ = retry > 0;
        if (hello_waiting_) {
            hello_retry_ = now_ms() + retry;
            return;
        }
        if (!right) {
            log_line("#%d: wrong key, refused", number_);
            queue(make_server_text(0, "Fel nyckel: servern släpper inte in dig. Ändra nyckeln med F10."),
                  OUT_CONTROL);
            phase_ = CLOSING;
            phase_deadline_ = now_ms() + config_.refuse_linger_ms;
            return;
        }
    }
    format_.width = clamp(config_.width ? config_.width : hello_.width ? hello_.width : 640, MIN_WIDTH, MAX_WIDTH);
    format_.height =
        clamp(config_.height ? config_.height : hello_.height ? hello_.height : 480, MIN_HEIGHT, MAX_HEIGHT);
    fps_ = clamp(config_.fps ? config_.fps : hello_.fps ? hello_.fps : 30, 1, MAX_FPS);
    format_.rate = config_.audio && hello_.sample_rate
                       ? clamp(int(std::min<uint32_t>(hello_.sample_rate, 1000000)), MIN_SAMPLE_RATE, MAX_SAMPLE_RATE)
                       : 0;
    format_.channels = hello_.channels == 1 ? 1 : 2;
    workspace_ = Workspaces::instance().attach(hello_.name, hello_.key);
    phase_ = MENU;
    std::vector<MenuItem> items;
    for (const AppEntry& e : config_.apps) items.push_back({e.id, menu_kind(e.kind), e.name});
    queue(make_app_list(items), OUT_CONTROL);
    std::string name = hello_.name.empty() ? std::string("du") : utf8_cut(hello_.name, 31);
    queue(make_server_text(0, "Välkommen, " + name + "! Välj med pilarna och Enter."), OUT_CONTROL);
}

void Connection::on_launch(uint16_t id) {
    const AppEntry* entry = nullptr;
    for (const AppEntry& e : config_.apps)
        if (e.id == id) entry = &e;
    if (!entry) {
        log_line("#%d: launch of unknown id %u", number_, id);
        queue(make_server_text(0, "Det finns inget program med nummer " + std::to_string(id) + "."), OUT_CONTROL);
        return;
    }
    if (phase_ == STREAMING) end_stream();
    log_line("#%d: launch %u \"%s\"", number_, id, loggable(entry->name).c_str());
    // Starting a program takes a moment: say so first.
    queue(make_server_text(0, "Startar " + entry->name + " ..."), OUT_CONTROL);
    flush_output();
    std::string error;
    source_ = open_source(*entry, *workspace_, format_, config_.noise, &error);
    if (!source_) {
        log_line("#%d: \"%s\" could not start", number_, loggable(entry->name).c_str());
        phase_ = MENU;
        queue(make_stream_state(0, 1, 0), OUT_CONTROL);
        queue(make_server_text(0, error), OUT_CONTROL);
        return;
    }
    entry_ = entry;
    uint8_t kind = menu_kind(entry->kind);
    queue(make_stream_setup(uint16_t(format_.width), uint16_t(format_.height), format_.rate,
                            uint8_t(format_.channels), entry->name),
          OUT_CONTROL);
    queue(make_server_text(0, entry->name + " körs. F9 = tillbaka till menyn."), OUT_CONTROL);
    queue(make_server_text(TEXT_SLOT_TITLE, entry->name), OUT_CONTROL);
    queue(make_stream_state(1, source_->pointer_mode(), kind), OUT_CONTROL);
    // The client keeps its old picture when the size stays: repaint all.
    encoder_.force_full();
    pacer_ = std::make_unique<FramePacer>(fps_, config_.auto_quality ? QUALITY_AUTO : config_.encoder.quality);
    force_ = dirty_ = true;
    next_frame_ms_ = last_grab_ms_ = now_ms();
    phase_ = STREAMING;
    log_line("#%d: streaming \"%s\" %dx%d at %d fps, sound %s", number_, loggable(entry->name).c_str(),
             format_.width, format_.height, fps_,
             format_.rate ? (std::to_string(format_.rate) + " Hz x " + std::to_string(format_.channels)).c_str()
                          : "off");
}

void Connection::end_stream() {
    if (source_) source_->release_input();
    source_.reset();
}

void Connection::back_to_menu(const std::string& status) {
    log_line("#%d: back to the menu", number_);
    end_stream();
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
    phase_ = MENU;
    queue(make_stream_state(0, 1, 0), OUT_CONTROL);
    queue(make_server_text(0, status), OUT_CONTROL);
}

void Connection::on_frame_ack(uint32_t id) {
    // Acknowledgements come in order; one for frame n covers all before it.
    uint32_t ahead = id - last_acked_;
    if (ahead != 0 && ahead <= in_flight()) {
        last_acked_ = id;
        if (pacer_) pacer_->acked(id, now_us());
    }
}

int64_t Connection::next_grab_ms() const {
    // Without a wake descriptor the picture is looked at every frame; with
    // one, when it fired (or input came), and every SWEEP_MS in any case.
    if (source_->wake_fd() < 0 || dirty_) return next_frame_ms_;
    return std::max(next_frame_ms_, last_grab_ms_ + SWEEP_MS);
}

void Connection::send_frame(int64_t now) {
    if (source_->wake_fd() >= 0) source_->drain_wake();
    last_grab_ms_ = now;
    dirty_ = false;
    bool changed = source_->grab(picture_, format_.width, format_.height, force_);
    if (!changed) return;
    force_ = false;
    uint32_t id = last_sent_ + 1;
    if (pacer_->quality() != encoder_.options().quality) {
        EncoderOptions options = encoder_.options();
        options.quality = pacer_->quality();
        encoder_.set_options(options);
        log_line("#%d: quality %d: the client decodes a frame in %.1f ms", number_, options.quality,
                 pacer_->decode_us() / 1000.0);
    }
    encoder_.encode(id, picture_.data(), format_.width, format_.height, body_);
    if (body_.size() > WIRE_MAX_PAYLOAD) {
        end("a frame grew beyond the largest message");
        return;
    }
    last_sent_ = id;
    frames_total_++;
    video_bytes_ += body_.size();
    queue(frame_message(MSG_VIDEO_FRAME, body_), OUT_VIDEO, id);
    const int64_t interval = interval_ms();
    next_frame_ms_ = std::max(next_frame_ms_ + interval, now - interval);
    if (config_.frame_limit && frames_total_ >= config_.frame_limit) {
        log_line("#%d: %u frames sent, closing", number_, unsigned(frames_total_));
        end_stream();
        phase_ = CLOSING;
        close_when_flushed_ = true;
        phase_deadline_ = now + 5000;
    }
}

void Connection::send_audio() {
    size_t piece = size_t(format_.rate * AUDIO_PIECE_MS / 1000);
    samples_.resize(piece * size_t(format_.channels));
    size_t backlog = size_t(format_.rate) * AUDIO_BACKLOG_MS / 1000 * 2 * size_t(format_.channels);
    for (int pieces = 0; pieces < 16; pieces++) {
        size_t n = source_->read_audio(samples_.data(), piece);
        if (n == 0) return;
        // A link too slow for the sound: skip rather than pile up.
        if (queued_audio_bytes_ > backlog) {
            audio_dropped_++;
            continue;
        }
        queue(make_audio(samples_.data(), n * size_t(format_.channels)), OUT_AUDIO);
    }
}

void Connection::produce(int64_t now) {
    if (phase_ != STREAMING) return;
    std::string gone = source_->ended();
    if (!gone.empty()) {
        log_line("#%d: \"%s\" ended: %s", number_, loggable(entry_->name).c_str(), loggable(gone).c_str());
        if (entry_->kind == AppKind::Program || entry_->kind == AppKind::Web) workspace_->forget(entry_->id);
        back_to_menu(gone);
        return;
    }
    uint8_t slot = 0;
    std::string text;
    while (source_->next_text(&slot, &text)) queue(make_server_text(slot, text), OUT_CONTROL);
    if (format_.rate) send_audio();
    if (room_for_frame() && now >= next_grab_ms()) {
        send_frame(now);
        // A source without change events shows the next picture a frame later.
        if (source_ && source_->wake_fd() < 0 && now >= next_frame_ms_) next_frame_ms_ = now + interval_ms();
    }
}

void Connection::run() {
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
        if (hello_waiting_ && now >= hello_retry_) {
            hello_waiting_ = false;
            on_hello();
            if (!handle_buffered()) break;  // what came after the Hello
        }
        if (phase_ == AWAIT_HELLO && !hello_waiting_ && now >= phase_deadline_) {
            end("no Hello in time");
            break;
        }
        if (phase_ == CLOSING && (now >= phase_deadline_ || (close_when_flushed_ && out_.empty()))) {
            end(close_when_flushed_ ? "frame limit reached" : "refused");
            break;
        }
        if (now - last_input_ >= config_.idle_timeout_ms && !hello_waiting_) {
            end("the client went silent");
            break;
        }
        produce(now);
        if (ended_ || !flush_output()) break;

        // Sleep until the next thing to do, or at most 200 ms (to notice a
        // stop request and a program that ended).
        int64_t wake = now + 200;
        if (phase_ == AWAIT_HELLO || phase_ == CLOSING) wake = std::min(wake, phase_deadline_);
        if (hello_waiting_) wake = std::min(wake, hello_retry_);
        wake = std::min(wake, last_input_ + config_.idle_timeout_ms);
        pollfd p[2] = {{fd_, short((hello_waiting_ ? 0 : POLLIN) | (out_.empty() ? 0 : POLLOUT)), 0},
                       {-1, POLLIN, 0}};
        if (phase_ == STREAMING) {
            if (room_for_frame()) wake = std::min(wake, next_grab_ms());
            if (format_.rate) wake = std::min(wake, now + AUDIO_PIECE_MS);
            // Change events matter only when they could lead to a frame.
            if (!dirty_ && source_->wake_fd() >= 0) p[1].fd = source_->wake_fd();
        }
        int timeout = int(std::max<int64_t>(0, wake - now_ms()));
        int r = ::poll(p, 2, timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            end(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (p[1].revents) dirty_ = true;
        if (hello_waiting_ && (p[0].revents & (POLLHUP | POLLERR))) {
            end("the link failed");
            break;
        }
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!read_input()) break;
        }
        if (!flush_output()) break;
    }
    if (source_) source_->release_input();
    double seconds = double(now_ms() - started_) / 1000.0;
    log_line("#%d: closed after %.1f s (%s): %llu frames, %llu kB video, %llu kB in all, %u pings%s", number_,
             seconds, end_reason_.c_str(), (unsigned long long)frames_total_,
             (unsigned long long)(video_bytes_ / 1024), (unsigned long long)(bytes_out_ / 1024), pings_,
             audio_dropped_ ? (", " + std::to_string(audio_dropped_) + " sound pieces skipped").c_str() : "");
    ::close(fd_);
}

}  // namespace

void serve_connection(int fd, const ServerConfig& config, int number, const std::string& host,
                      const std::string& peer, const std::atomic<bool>* stop) {
    Connection connection(fd, config, number, host, peer, stop);
    connection.run();
}

}  // namespace qvs
