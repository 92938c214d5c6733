// A connection's loop: reading and dispatching the client's messages,
// the phase's deadlines, and sleeping until the next thing to do.
#include "server/net/connection.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "server/log.h"

namespace qvs {

namespace {

// Bytes read per wake-up, so that a flood of input cannot starve the stream.
const size_t READ_PER_WAKE = 256u << 10;
const char NOT_READING[] = "the client does not read what it is sent";

}  // namespace

Connection::~Connection() {
    stream_.close();
    if (workspace_) Workspaces::instance().release(workspace_);
}

void Connection::queue(Bytes message, OutKind kind) {
    out_.push(std::move(message), kind);
    if (out_.overflowed()) end(NOT_READING);
}

bool Connection::flush_output() {
    std::string error;
    if (out_.flush(fd_, &error)) return true;
    end(error);
    return false;
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
            out_.push_urgent(make_pong(p));
            if (out_.overflowed()) end(NOT_READING);
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
        if (phase_ == STARTING) {
            back_to_menu("Tillbaka i menyn.");
        } else if (phase_ == STREAMING) {
            const AppEntry& entry = stream_.entry();
            back_to_menu(entry.kind == AppKind::Program || entry.kind == AppKind::Web
                             ? "Tillbaka i menyn. " + entry.name + " väntar på dig."
                             : std::string("Tillbaka i menyn."));
        } else {
            queue(make_stream_state(0, 1, 0));
        }
        return;
    case MSG_FRAME_ACK:
        if (length >= 4) stream_.acked(read_u32(p));
        return;
    default:
        break;
    }
    if ((type >= MSG_KEY && type <= MSG_GAMEPAD) || type == MSG_WEB_ADDRESS) {
        // Input counts only while an entry runs.
        if (phase_ != STREAMING) return;
        if (config_.verbose) log_line("#%d: input type %u, %u bytes", number_, type, length);
        stream_.input(type, p, length);
        return;
    }
    if (config_.verbose) log_line("#%d: unknown message type %u (%u bytes) ignored", number_, type, length);
}

void Connection::produce(int64_t now) {
    if (phase_ == STARTING) {
        stream_.pass_texts();
        if (stream_.source().ready()) begin_streaming();
    }
    if (phase_ != STREAMING && phase_ != STARTING) return;
    std::string gone = stream_.source().ended();
    if (!gone.empty()) {
        const AppEntry& entry = stream_.entry();
        log_line("#%d: \"%s\" ended: %s", number_, loggable(entry.name).c_str(), loggable(gone).c_str());
        if (entry.kind == AppKind::Program || entry.kind == AppKind::Web) workspace_->forget(entry.id);
        back_to_menu(gone);
        return;
    }
    if (phase_ == STARTING) return;
    Stream::Result result = stream_.produce(now);
    if (out_.overflowed()) end(NOT_READING);
    if (result == Stream::FRAME_TOO_BIG) end("a frame grew beyond the largest message");
    if (result == Stream::FRAME_LIMIT) {
        phase_ = CLOSING;
        close_when_flushed_ = true;
        phase_deadline_ = now + 5000;
    }
}

bool Connection::wait(int64_t now) {
    // Until the next thing to do, or at most 200 ms (to notice a stop
    // request and a program that ended).
    int64_t wake = now + 200;
    if (phase_ == AWAIT_HELLO || phase_ == CLOSING) wake = std::min(wake, phase_deadline_);
    if (hello_waiting_) wake = std::min(wake, hello_retry_);
    if (phase_ == STARTING) wake = std::min(wake, now + 50);  // its texts, soon after they come
    wake = std::min(wake, last_input_ + config_.idle_timeout_ms);
    pollfd p[2] = {{fd_, short((hello_waiting_ ? 0 : POLLIN) | (out_.empty() ? 0 : POLLOUT)), 0}, {-1, POLLIN, 0}};
    if (phase_ == STREAMING) {
        wake = stream_.wake_at(now, wake);
        p[1].fd = stream_.wake_fd();
    }
    int timeout = int(std::max<int64_t>(0, wake - now_ms()));
    int r = ::poll(p, 2, timeout);
    if (r < 0) {
        if (errno == EINTR) return true;
        end(std::string("poll failed: ") + std::strerror(errno));
        return false;
    }
    if (p[1].revents) stream_.woken();
    if (hello_waiting_ && (p[0].revents & (POLLHUP | POLLERR))) {
        end("the link failed");
        return false;
    }
    if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        if (!read_input()) return false;
    }
    return flush_output();
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
        if (ended_ || !flush_output() || !wait(now)) break;
    }
    stream_.release_input();
    if (admission_->evicted()) end_reason_ = "it had not shown the right key and made way for another client";
    log_close();
    admission_->close();
}

void Connection::log_close() {
    double seconds = double(now_ms() - started_) / 1000.0;
    uint64_t dropped = stream_.audio_dropped();
    log_line("#%d: closed after %.1f s (%s): %llu frames, %llu kB video, %llu kB in all, %u pings%s", number_,
             seconds, end_reason_.c_str(), (unsigned long long)stream_.frames(),
             (unsigned long long)(stream_.video_bytes() / 1024), (unsigned long long)(out_.bytes_sent() / 1024),
             pings_, dropped ? (", " + std::to_string(dropped) + " sound pieces skipped").c_str() : "");
}

void serve_connection(const std::shared_ptr<Admission>& admission, const ServerConfig& config, int number,
                      const std::string& peer, const std::atomic<bool>* stop) {
    Connection connection(admission, config, number, peer, stop);
    connection.run();
}

}  // namespace qvs
