// The video half of a game stream: a thread that receives the host's video
// datagrams, completes frames, decodes them and keeps the newest picture
// for the connection to take. Frames after a loss are skipped until the IDR
// frame it asked for arrives, so no picture shows a damaged frame.
#ifndef QV_SERVER_MOONLIGHT_VIDEO_RECEIVER_H
#define QV_SERVER_MOONLIGHT_VIDEO_RECEIVER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/moonlight/udp_link.h"
#include "server/moonlight/video_decoder.h"

struct AVFrame;

namespace qvs {

// The steady clock in microseconds, for measuring delays.
int64_t steady_us();

class VideoReceiver {
public:
    // request_idr: called from the thread when the stream needs an IDR frame.
    explicit VideoReceiver(std::function<void()> request_idr) : request_idr_(std::move(request_idr)) {}
    ~VideoReceiver();
    // Opens the socket (pinging host:port) and starts the thread; false
    // with an English reason.
    bool start(const std::string& host, int port, const std::string& ping_payload, int packet_size,
               std::string* why);

    // The newest picture as RGB555 at width x height; false when there is
    // no new one since the last call (unless force).
    bool grab(std::vector<uint16_t>& out, int width, int height, bool force);
    int wake_fd() const { return wake_fd_; }
    void drain_wake();

    // For measuring: when the datagram that completed the newest picture
    // arrived (steady clock, microseconds).
    int64_t picture_arrival_us() const { return arrival_us_.load(); }

    VideoReceiver(const VideoReceiver&) = delete;
    VideoReceiver& operator=(const VideoReceiver&) = delete;

private:
    void run(size_t datagram_size);
    void ask_idr();

    std::function<void()> request_idr_;
    UdpLink link_;
    VideoDecoder decoder_;
    PictureConverter converter_;    // grab's
    std::mutex lock_;
    AVFrame* newest_ = nullptr;     // under lock_
    bool fresh_ = false;            // under lock_: newest_ not yet grabbed
    int wake_fd_ = -1;
    int64_t last_idr_request_ = 0;  // thread only
    std::atomic<int64_t> arrival_us_{0};
    std::atomic<int> decoded_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace qvs

#endif
