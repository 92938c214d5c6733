// The stream half of a GameStream test host, on 127.0.0.1: RTSP (plain,
// one request per connection), the encrypted ENet control stream, RTP video
// of solid colours encoded as H.264, an Opus 440 Hz tone, and a log of the
// input it decoded, one line per packet ("key down vk=0x41 mods=0x01",
// "text é", "mouse rel 5 -3", "mouse abs X Y REFW REFH", "button up 1",
// "scroll 120", "pad 0 mask=... buttons=... lt= rt= lx= ly= rx= ry="). The
// HTTP(S) half (pairing, app list, /launch) calls launch() and quit() on it.
#ifndef QV_TESTS_MOONLIGHT_FAKE_STREAM_HOST_H
#define QV_TESTS_MOONLIGHT_FAKE_STREAM_HOST_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvs {

struct FakeLaunch {
    uint8_t rikey[16];
    int32_t rikeyid;
    int width, height, fps;
};

struct FakeStreamOptions {
    int drop_every = 0;        // drop one video data packet in every N (FEC recovers it); 0: none
    int lose_frame_every = 0;  // send nothing of one frame in every N (an IDR mends it); 0: none
    std::string input_log;     // file: one line per input event the host decoded ("" : none)
    std::string frame_log;     // file: "RRGGBB US" when a new colour's last datagram went out (steady clock)
};

// A socket bound to a free port of 127.0.0.1 (-1 when none), its port into *port.
int loopback_socket(int type, int* port);

class FakeStreamHost {
public:
    explicit FakeStreamHost(const FakeStreamOptions& options);  // binds its ports on 127.0.0.1
    ~FakeStreamHost();
    int rtsp_port() const;     // for sessionUrl0 = rtsp://127.0.0.1:PORT
    void launch(const FakeLaunch& launch);  // after /launch or /resume: the next RTSP session uses this
    void quit();               // the host ends the app: termination message, stream stops
    void vanish();             // the host stops answering anything, with no goodbye

    std::vector<std::string> input_events() const;  // the input log's lines so far
    int idr_requests() const;  // IDR requests the client sent (0x0302)

    FakeStreamHost(const FakeStreamHost&) = delete;
    FakeStreamHost& operator=(const FakeStreamHost&) = delete;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace qvs

#endif
