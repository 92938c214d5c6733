#include "server/moonlight/video_receiver.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>

#include "server/log.h"
#include "server/moonlight/frame_assembler.h"

namespace qvs {

namespace {

// While frames stay lost, the IDR request is repeated this often.
const int64_t IDR_REPEAT_MS = 500;

// An IDR access unit carries its parameter sets in front: after any access
// unit delimiter (9) and SEI (6) units, the first NAL unit is an SPS (7).
bool starts_with_sps(const std::vector<uint8_t>& unit) {
    for (size_t i = 0; i + 3 < unit.size(); i++) {
        if (unit[i] != 0 || unit[i + 1] != 0 || unit[i + 2] != 1) continue;
        int type = unit[i + 3] & 0x1F;
        if (type != 9 && type != 6) return type == 7;
        i += 2;
    }
    return false;
}

}  // namespace

int64_t steady_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

VideoReceiver::~VideoReceiver() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    free_picture(&newest_);
    if (wake_fd_ >= 0) close(wake_fd_);
}

bool VideoReceiver::start(const std::string& host, int port, const std::string& ping_payload, int packet_size,
                          std::string* why) {
    if (!decoder_.ok()) {
        *why = "no H.264 decoder";
        return false;
    }
    wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0 || !link_.open(host, port, ping_payload, why)) return false;
    thread_ = std::thread(&VideoReceiver::run, this, size_t(packet_size) + 16);
    return true;
}

void VideoReceiver::ask_idr() {
    int64_t now = now_ms();
    if (now - last_idr_request_ < IDR_REPEAT_MS) return;
    last_idr_request_ = now;
    request_idr_();
}

void VideoReceiver::run(size_t datagram_size) {
    FrameAssembler assembler(datagram_size);
    std::vector<uint8_t> datagram(datagram_size);
    bool need_idr = true;  // nothing decodes before the first IDR frame
    while (!stop_) {
        size_t n = link_.receive(datagram.data(), datagram.size(), 50);
        if (n == 0) {
            if (need_idr && decoded_ > 0) ask_idr();
            continue;
        }
        int64_t arrived = steady_us();
        FrameAssembler::Outcome got = assembler.add(datagram.data(), n);
        if (got.lost) need_idr = true;
        if (!got.frame) {
            if (need_idr) ask_idr();
            continue;
        }
        bool idr = assembler.frame_type() == FRAME_TYPE_IDR || starts_with_sps(assembler.frame());
        if (need_idr && !idr) {
            ask_idr();
            continue;
        }
        if (!decoder_.decode(assembler.frame().data(), assembler.frame().size())) {
            need_idr = true;
            ask_idr();
            continue;
        }
        need_idr = false;
        AVFrame* shared = share_picture(decoder_.picture());
        if (!shared) continue;
        {
            std::lock_guard<std::mutex> hold(lock_);
            free_picture(&newest_);
            newest_ = shared;
            fresh_ = true;
        }
        arrival_us_ = arrived;
        decoded_++;
        uint64_t one = 1;
        if (write(wake_fd_, &one, sizeof one) < 0) {
            // The counter is full: the connection has wakes enough pending.
        }
    }
}

bool VideoReceiver::grab(std::vector<uint16_t>& out, int width, int height, bool force) {
    AVFrame* picture = nullptr;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!fresh_ && !force) return false;
        fresh_ = false;
        if (newest_) picture = share_picture(newest_);
    }
    if (picture) {
        converter_.convert(picture, out, width, height);
        free_picture(&picture);
    } else {
        out.assign(size_t(width) * size_t(height), 0);
    }
    return true;
}

void VideoReceiver::drain_wake() {
    uint64_t count;
    if (read(wake_fd_, &count, sizeof count) < 0) {
        // Nothing was pending.
    }
}

}  // namespace qvs
