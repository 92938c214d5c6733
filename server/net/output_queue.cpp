#include "server/net/output_queue.h"

#include <errno.h>
#include <sys/socket.h>

#include <cstring>

namespace qvs {

namespace {

// The backlog beyond which the client is taken to be gone: far more than
// one frame of the largest picture.
const size_t BACKLOG_LIMIT = 16u << 20;

size_t backlog_of(const Bytes& message) { return message.size() + OutputQueue::MESSAGE_COST; }

}  // namespace

void OutputQueue::push(Bytes message, OutKind kind) {
    if (kind == OUT_VIDEO) video_frames_++;
    if (kind == OUT_AUDIO) audio_bytes_ += message.size();
    backlog_ += backlog_of(message);
    out_.push_back(Outgoing{std::move(message), 0, kind});
    // Frames wait for acknowledgements and sound is skipped when it piles
    // up, so only a client that sends without ever reading gets here.
    if (backlog_ > BACKLOG_LIMIT) overflowed_ = true;
}

void OutputQueue::push_urgent(Bytes message) {
    auto at = out_.begin();
    if (!out_.empty() && out_.front().sent > 0) ++at;
    backlog_ += backlog_of(message);
    out_.insert(at, Outgoing{std::move(message), 0, OUT_CONTROL});
    if (backlog_ > BACKLOG_LIMIT) overflowed_ = true;
}

bool OutputQueue::flush(int fd, std::string* error) {
    while (!out_.empty()) {
        Outgoing& o = out_.front();
        ssize_t n = ::send(fd, o.data.data() + o.sent, o.data.size() - o.sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
            if (errno == EINTR) continue;
            *error = std::string("sending failed: ") + std::strerror(errno);
            return false;
        }
        o.sent += size_t(n);
        bytes_sent_ += uint64_t(n);
        if (o.sent < o.data.size()) continue;
        if (o.kind == OUT_VIDEO) video_frames_--;
        if (o.kind == OUT_AUDIO) audio_bytes_ -= o.data.size();
        backlog_ -= backlog_of(o.data);
        out_.pop_front();
    }
    return true;
}

void OutputQueue::drop_unsent_audio() {
    for (auto it = out_.begin(); it != out_.end();) {
        if (it->kind == OUT_AUDIO && it->sent == 0) {
            audio_bytes_ -= it->data.size();
            backlog_ -= backlog_of(it->data);
            it = out_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace qvs
