#include "server/moonlight/control_stream.h"

#include <cstring>
#include <mutex>

#include "server/log.h"
#include "server/moonlight/byte_order.h"

namespace qvs {

namespace {

const int CONNECT_WAIT_MS = 5000;
const uint32_t PING_EVERY_MS = 100;
// A host that has not answered for this long (not even acknowledged a
// ping) is gone: with the connection's next look the client learns it
// within 5 s.
const uint32_t SILENCE_MS = 4500;
const int LEAVE_WAIT_MS = 1000;
// The loop's pace: how long queued input may wait for the thread.
const uint32_t SERVICE_MS = 2;
// Input queued while the host does not take it is dropped past this.
const size_t QUEUE_LIMIT = 1024;

void enet_once() {
    static std::once_flag once;
    std::call_once(once, [] { enet_initialize(); });
}

}  // namespace

bool ControlStream::start(const std::string& host, int port, uint32_t connect_data, const uint8_t key[16],
                          std::string* why) {
    enet_once();
    std::memcpy(key_, key, 16);
    ENetAddress address;
    if (enet_address_set_host(&address, host.c_str()) != 0) {
        *why = "control: cannot resolve " + loggable(host);
        return false;
    }
    address.port = uint16_t(port);
    host_ = enet_host_create(nullptr, 1, CHANNEL_COUNT, 0, 0);
    peer_ = host_ ? enet_host_connect(host_, &address, CHANNEL_COUNT, connect_data) : nullptr;
    ENetEvent event;
    bool connected = false;
    for (int64_t end = now_ms() + CONNECT_WAIT_MS; peer_ && !connected && now_ms() < end;)
        connected = enet_host_service(host_, &event, 50) > 0 && event.type == ENET_EVENT_TYPE_CONNECT;
    if (!connected) {
        *why = "control: no ENet connection to port " + std::to_string(port);
        peer_ = nullptr;  // nothing to say goodbye to
        return false;
    }
    // ENet's own timeout stays above ours, so that silence is ours to judge.
    enet_peer_timeout(peer_, 2, 10000, 10000);
    queue(CONTROL_REQUEST_IDR, {0, 0}, CHANNEL_URGENT);
    queue(CONTROL_START_B, {0}, CHANNEL_GENERIC);
    thread_ = std::thread(&ControlStream::run, this);
    return true;
}

ControlStream::~ControlStream() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (peer_ && end_ == RUNNING) {
        // What is still queued (the releases of held keys) goes first.
        for (const Outgoing& out : queue_) send_now(out);
        enet_peer_disconnect_later(peer_, 0);
        ENetEvent event;
        for (int64_t end = now_ms() + LEAVE_WAIT_MS; now_ms() < end;) {
            int got = enet_host_service(host_, &event, 20);
            if (got < 0 || (got > 0 && event.type == ENET_EVENT_TYPE_DISCONNECT)) break;
            if (got > 0 && event.type == ENET_EVENT_TYPE_RECEIVE) enet_packet_destroy(event.packet);
        }
    }
    if (host_) enet_host_destroy(host_);
}

void ControlStream::queue(uint16_t type, std::vector<uint8_t> payload, uint8_t channel) {
    std::lock_guard<std::mutex> hold(lock_);
    if (queue_.size() >= QUEUE_LIMIT) return;
    Outgoing out;
    out.message.type = type;
    out.message.payload = std::move(payload);
    out.channel = channel;
    queue_.push_back(std::move(out));
}

void ControlStream::send_input(const std::vector<uint8_t>& packet, uint8_t channel) {
    if (end_ == RUNNING) queue(CONTROL_INPUT, packet, channel);
}

void ControlStream::request_idr() {
    if (end_ == RUNNING) queue(CONTROL_REQUEST_IDR, {0, 0}, CHANNEL_URGENT);
}

void ControlStream::send_now(const Outgoing& out) {
    std::vector<uint8_t> sealed = seal_control(key_, sequence_++, 'C', out.message);
    ENetPacket* packet = enet_packet_create(sealed.data(), sealed.size(), ENET_PACKET_FLAG_RELIABLE);
    if (packet && enet_peer_send(peer_, out.channel, packet) != 0) enet_packet_destroy(packet);
}

void ControlStream::receive(const ENetPacket* packet) {
    ControlMessage m;
    if (!open_control(key_, 'H', packet->data, packet->dataLength, &m)) return;  // not for us, or forged
    if (m.type == CONTROL_TERMINATION || m.type == CONTROL_TERMINATION_SHORT) {
        uint32_t reason = m.payload.size() >= 4 ? get_be32(m.payload.data()) : 0;
        log_line("game stream: the host ended the stream (0x%08x)", reason);
        end_ = HOST_QUIT;
    }
}

void ControlStream::run() {
    uint32_t last_ping = enet_time_get(), heard = last_ping;
    while (!stop_ && end_ == RUNNING) {
        std::deque<Outgoing> pending;
        {
            std::lock_guard<std::mutex> hold(lock_);
            pending.swap(queue_);
        }
        for (const Outgoing& out : pending) send_now(out);
        uint32_t now = enet_time_get();
        if (now - last_ping >= PING_EVERY_MS) {
            last_ping = now;
            // The ping's payload: LE16 4, LE32 0, two bytes of no meaning.
            send_now({{CONTROL_PING, {4, 0, 0, 0, 0, 0, 0, 0}}, CHANNEL_GENERIC});
        }
        ENetEvent event;
        int got = enet_host_service(host_, &event, SERVICE_MS);
        while (got > 0) {
            if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                heard = enet_time_get();
                receive(event.packet);
                enet_packet_destroy(event.packet);
            } else if (event.type == ENET_EVENT_TYPE_DISCONNECT && end_ == RUNNING) {
                // A termination message that came with it tells more.
                log_line("game stream: the host closed the control stream");
                end_ = HOST_DISCONNECTED;
            }
            got = enet_host_check_events(host_, &event);
        }
        // ENet notes when the host last acknowledged anything (0: not yet).
        if (peer_->lastReceiveTime != 0 && int32_t(peer_->lastReceiveTime - heard) > 0) heard = peer_->lastReceiveTime;
        if (end_ == RUNNING && int32_t(enet_time_get() - heard) > int32_t(SILENCE_MS)) {
            log_line("game stream: the host has not answered for %u ms", unsigned(SILENCE_MS));
            end_ = HOST_SILENT;
        }
    }
}

}  // namespace qvs
