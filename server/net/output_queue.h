// A connection's messages waiting for its socket. Pings are answered ahead of
// what is not yet begun; sound not yet begun can be dropped; a client that
// never reads is noticed by the size of its backlog.
#ifndef QV_SERVER_OUTPUT_QUEUE_H
#define QV_SERVER_OUTPUT_QUEUE_H

#include <cstdint>
#include <deque>
#include <string>

#include "server/protocol.h"

namespace qvs {

enum OutKind { OUT_CONTROL, OUT_VIDEO, OUT_AUDIO };

class OutputQueue {
public:
    // A message's share of the backlog is its bytes and this, what its record
    // and heap block take besides, so that a flood of small ones (Pongs to a
    // client that pings and never reads) is held to about as much memory as
    // large ones.
    static constexpr size_t MESSAGE_COST = 64;

    void push(Bytes message, OutKind kind);
    // Ahead of everything not yet begun; a message half on the wire first.
    void push_urgent(Bytes message);
    // The backlog passed its limit at some time: the client does not read
    // what it is sent.
    bool overflowed() const { return overflowed_; }
    // Sends what the socket takes without waiting. False with `error`
    // filled when sending failed.
    bool flush(int fd, std::string* error);
    // Sound not yet begun on the wire.
    void drop_unsent_audio();

    bool empty() const { return out_.empty(); }
    int video_frames() const { return video_frames_; }
    size_t audio_bytes() const { return audio_bytes_; }
    uint64_t bytes_sent() const { return bytes_sent_; }

private:
    struct Outgoing {
        Bytes data;
        size_t sent;
        OutKind kind;
    };

    std::deque<Outgoing> out_;
    int video_frames_ = 0;
    size_t audio_bytes_ = 0;
    size_t backlog_ = 0;  // bytes waiting, and MESSAGE_COST for each message
    uint64_t bytes_sent_ = 0;
    bool overflowed_ = false;
};

}  // namespace qvs

#endif
