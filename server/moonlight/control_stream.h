// The client's end of a GameStream control stream: an ENet connection to
// the host, every message sealed with the session key. Its thread sends the
// start-up messages, a ping every 100 ms, IDR requests and input, and
// watches for the host ending the stream or falling silent.
#ifndef QV_SERVER_MOONLIGHT_CONTROL_STREAM_H
#define QV_SERVER_MOONLIGHT_CONTROL_STREAM_H

#include <enet/enet.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/moonlight/control_message.h"

namespace qvs {

class ControlStream {
public:
    enum End { RUNNING, HOST_QUIT, HOST_SILENT, HOST_DISCONNECTED };

    ControlStream() = default;
    // Leaves gracefully: an ENet disconnect the host acknowledges, unless it
    // already went away.
    ~ControlStream();

    // Connects to host:port with the connect data of the RTSP SETUP reply
    // and starts the thread; false with an English reason.
    bool start(const std::string& host, int port, uint32_t connect_data, const uint8_t key[16], std::string* why);

    // Queued for the thread; no effect once the stream ended.
    void send_input(const std::vector<uint8_t>& packet, uint8_t channel);
    void request_idr();

    End end() const { return end_.load(); }

    ControlStream(const ControlStream&) = delete;
    ControlStream& operator=(const ControlStream&) = delete;

private:
    struct Outgoing {
        ControlMessage message;
        uint8_t channel;
    };
    void run();
    void send_now(const Outgoing& out);
    void receive(const ENetPacket* packet);
    void queue(uint16_t type, std::vector<uint8_t> payload, uint8_t channel);

    uint8_t key_[16] = {};
    ENetHost* host_ = nullptr;
    ENetPeer* peer_ = nullptr;
    uint32_t sequence_ = 0;   // next sequence number we seal with (thread only)
    std::mutex lock_;
    std::deque<Outgoing> queue_;  // under lock_
    std::atomic<End> end_{RUNNING};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The channels of the kinds of message (the host does not look at them).
enum : uint8_t { CHANNEL_GENERIC = 0, CHANNEL_URGENT = 1, CHANNEL_KEYBOARD = 2, CHANNEL_MOUSE = 3,
                 CHANNEL_TEXT = 6, CHANNEL_PAD = 0x10, CHANNEL_COUNT = 0x30 };

}  // namespace qvs

#endif
