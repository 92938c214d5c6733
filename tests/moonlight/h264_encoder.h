// H.264 for the test host and the benchmarks, made as a GameStream host
// makes it: libx264 through libavcodec, superfast with zero latency, no
// B-frames, IDR frames only when asked, SPS and PPS in band, SEI dropped.
#ifndef QV_TESTS_MOONLIGHT_H264_ENCODER_H
#define QV_TESTS_MOONLIGHT_H264_ENCODER_H

#include <cstdint>
#include <vector>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace qvs {

class H264Encoder {
public:
    H264Encoder(int width, int height, int fps, int kbps);
    ~H264Encoder();
    // One access unit in Annex-B form: of a picture of one colour
    // (0xRRGGBB), or of what the caller put in picture() (YUV 4:2:0).
    std::vector<uint8_t> encode_solid(uint32_t rgb, bool idr);
    std::vector<uint8_t> encode(bool idr);
    AVFrame* picture() { return picture_; }
    bool was_idr() const { return idr_; }

    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

private:
    AVCodecContext* context_ = nullptr;
    AVFrame* picture_ = nullptr;
    AVPacket* packet_ = nullptr;
    int64_t pts_ = 0;
    bool idr_ = false;
};

}  // namespace qvs

#endif
